/*
 * Corvane plug-in interface (plain C, version 1).
 *
 * A plug-in is a bundle folder inside the application package,
 *   <Name>.app/Contents/PlugIns/<Plugin>.bundle/Contents/Info.plist
 *   <Name>.app/Contents/PlugIns/<Plugin>.bundle/Contents/MacOS/<executable>
 * where "CFBundleExecutable" in Info.plist names the shared library. The
 * library exports one function, corvane_plugin_entry, which receives the
 * host's table and answers the module's table of task classes. Nothing else
 * is looked up, and the plug-in never links against the shell: every way
 * back to the page goes through the host table.
 *
 * Only plain C types cross this line: texts are NUL-terminated UTF-8, JSON
 * values travel as JSON texts, the delegate and instances are opaque
 * pointers. Every table starts with its own size so either side can grow it.
 *
 * See docs/plugin-authors.md for a walk-through.
 */
#ifndef CORVANE_PLUGIN_H
#define CORVANE_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CORVANE_PLUGIN_API_VERSION 1u

/* The text every plug-in receives through set_my_lifecycle. */
#define CORVANE_PLUGIN_LIFECYCLE_TOKEN "ZavrelonLAB"
/* The notification a plug-in posts to call a page function. Its object is a
 * JSON object: "passback" (the page function's name), "data" (its argument)
 * and "service" (a label of the sender, for the log). */
#define CORVANE_PLUGIN_MESSAGE_NOTIFICATION "kPluginSendMessageAndInfoNotification"
/* The symbol every plug-in library exports. */
#define CORVANE_PLUGIN_ENTRY_SYMBOL "corvane_plugin_entry"

#if defined(__GNUC__)
#define CORVANE_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define CORVANE_PLUGIN_EXPORT
#endif

/* An operation "raises" by returning non-zero after writing a message into
 * the host's buffer (corvane_error_set does that safely). 0 is success. */
typedef struct corvane_error {
  char* message;   /* buffer owned by the host */
  size_t capacity; /* its size in bytes, terminating NUL included */
} corvane_error;

/* The delegate handed over by set_my_delegate: the page that started the
 * task. It stays valid for the life of the process; once its page is gone,
 * calls through it do nothing. */
typedef struct corvane_delegate corvane_delegate;

/* What the host offers plug-in code. Every function may be called from any
 * thread, at any time after corvane_plugin_entry; the page function itself
 * always runs later on the main thread. */
typedef struct corvane_host_api {
  uint32_t struct_size; /* sizeof(corvane_host_api) of the host */
  uint32_t api_version; /* CORVANE_PLUGIN_API_VERSION of the host */

  /* The delegate call: calls the page function `callback` of the delegate's
   * page with `info_json` (any JSON text; an invalid text arrives as null).
   * `sender` names the calling class, for the log. */
  void (*pass_back_info)(corvane_delegate* delegate, const char* sender, const char* info_json,
                         const char* callback);

  /* Posts a process-wide notification; `object_json` is its object as JSON
   * text. Answers 0, or -1 when the text is not JSON. Posting
   * CORVANE_PLUGIN_MESSAGE_NOTIFICATION reaches every live page. */
  int (*post_notification)(const char* name, const char* object_json);

  /* Writes one line to the shell's log. */
  void (*log)(const char* line);
} corvane_host_api;

/* One task class. `self` is NULL when the operation is called on the class
 * itself (bundle plug-ins: every call is class-level) and an instance from
 * get_share_instance or new_instance otherwise (built-in tasks). A NULL
 * function pointer means the class lacks that operation. */
typedef struct corvane_task_class {
  uint32_t struct_size; /* sizeof(corvane_task_class) of the plug-in */
  const char* name;     /* the class name pages ask for */

  int (*set_my_delegate)(void* self, corvane_delegate* delegate, corvane_error* error);
  int (*set_my_passback)(void* self, const char* passback, corvane_error* error);
  int (*set_my_lifecycle)(void* self, const char* token, corvane_error* error);
  /* Optional: the full path of the plug-in's bundle folder. */
  int (*set_my_self_bundle_path)(void* self, const char* path, corvane_error* error);
  /* `arguments_json` is the page's "arguments" as JSON text ("null" when
   * absent). */
  int (*run_with_argv)(void* self, const char* arguments_json, corvane_error* error);
  int (*call_method_with_argv)(void* self, const char* method, const char* arguments_json,
                               corvane_error* error);

  /* Instances, used when the class runs as a built-in task. The shared
   * instance (NULL: none, or raise); otherwise a fresh one per call from
   * new_instance, handed back to release_instance when the call is done.
   * A class with neither runs its operations with self NULL. */
  void* (*get_share_instance)(corvane_error* error);
  void* (*new_instance)(void);
  void (*release_instance)(void* self);
} corvane_task_class;

/* What corvane_plugin_entry answers. */
typedef struct corvane_plugin_module {
  uint32_t struct_size; /* sizeof(corvane_plugin_module) of the plug-in */
  uint32_t api_version; /* CORVANE_PLUGIN_API_VERSION the plug-in was built for */
  /* The module's classes, ended by a NULL entry. */
  const corvane_task_class* const* classes;
} corvane_plugin_module;

/* Called once, on the main thread, when the bundle is first loaded. The host
 * table stays valid for the life of the process. Answering NULL refuses the
 * load. */
typedef const corvane_plugin_module* (*corvane_plugin_entry_fn)(const corvane_host_api* host);

CORVANE_PLUGIN_EXPORT const corvane_plugin_module* corvane_plugin_entry(const corvane_host_api* host);

/* Fills an error buffer with `message` (cut to fit) and answers -1, so an
 * operation can `return corvane_error_set(error, "...");`. */
static inline int corvane_error_set(corvane_error* error, const char* message) {
  size_t i = 0;
  if (!error || !error->message || error->capacity == 0) return -1;
  if (message)
    for (; message[i] && i + 1 < error->capacity; ++i) error->message[i] = message[i];
  error->message[i] = '\0';
  return -1;
}

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_PLUGIN_H */
