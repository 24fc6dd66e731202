/*
 * Corvane purchase helper interface (plain C, version 1).
 *
 * A purchase helper connects an application's page (`corvane.iap`) to a
 * store: it lists products and prices, takes purchases, restores earlier
 * ones and keeps local use counts. It is a bundle folder inside the
 * application package, built like a plug-in bundle:
 *   <Name>.app/Contents/PlugIns/<Helper>.bundle/Contents/Info.plist
 *   <Name>.app/Contents/PlugIns/<Helper>.bundle/Contents/MacOS/<executable>
 * where "CFBundleExecutable" in Info.plist names the shared library. The
 * library exports one function, corvane_purchase_helper_entry, which
 * receives the host's table and answers the helper's table.
 *
 * The helper runs in a process of its own (the shell's purchase host, one
 * process per helper), never inside the shell: a helper that crashes or
 * hangs ends or stalls that process only, and the page's pending requests
 * are answered with an error. Operations are called one at a time, on the
 * host's main thread, so a helper needs no locks for them; notify and log
 * may be called from any thread. An operation should return promptly (the
 * shell waits a bounded time, 30 seconds unless the page asks otherwise,
 * and then ends the host): long work, such as a payment the user confirms
 * elsewhere, is reported later through notify.
 *
 * Only plain C types cross this line: texts are NUL-terminated UTF-8, JSON
 * values travel as JSON texts. Every table starts with its own size so
 * either side can grow it. The helper's standard output is not the
 * shell's channel: what it prints goes to the shell's log.
 *
 * See docs/purchase-helpers.md for a walk-through.
 */
#ifndef CORVANE_PURCHASE_H
#define CORVANE_PURCHASE_H

#include "corvane/plugin.h" /* corvane_error, corvane_error_set, CORVANE_PLUGIN_EXPORT */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CORVANE_PURCHASE_API_VERSION 1u

/* The symbol every purchase helper library exports. */
#define CORVANE_PURCHASE_ENTRY_SYMBOL "corvane_purchase_helper_entry"

/* The answer of the request being served; opaque, owned by the host. */
typedef struct corvane_purchase_result corvane_purchase_result;

/* What the host offers the helper. The table and its texts stay valid for
 * the life of the process. */
typedef struct corvane_purchase_host {
  uint32_t struct_size; /* sizeof(corvane_purchase_host) of the host */
  uint32_t api_version; /* CORVANE_PURCHASE_API_VERSION of the host */

  /* The helper's bundle folder (resolved), e.g. to find its resources. */
  const char* bundle_path;
  /* A folder of the helper's own for this user and this application, made
   * before the entry point is called: keep purchases and use counts here. */
  const char* data_dir;
  /* The application's bundle identifier. */
  const char* app_identifier;

  /* Sets the result of the request being served: a JSON object text whose
   * members reach the page's result dictionary. Call it before the
   * operation returns (a later call sets the earlier result); an operation
   * that does not call it answers an empty object. Answers 0, or -1 when
   * the text is not a JSON object or the request is over. */
  int (*set_result)(corvane_purchase_result* result, const char* object_json);

  /* A store notification for the page: a JSON object text, by convention
   * with a "type" member ("purchased", "restored", "failed", ...). It
   * reaches the callback the page registered, after everything notified
   * before it and before the answer of the request being served. Any
   * thread, any time. Answers 0, or -1 when the text is not a JSON object. */
  int (*notify)(const char* object_json);

  /* Writes one line to the shell's log. */
  void (*log)(const char* line);
} corvane_purchase_host;

/* One request from the page: `params_json` is the page's parameters as a
 * JSON object text (its "callback" removed). Answer 0 after set_result, or
 * raise: return corvane_error_set(error, "why") — the page gets "success"
 * false and that "error". */
typedef int (*corvane_purchase_operation)(const char* params_json, corvane_purchase_result* result,
                                          corvane_error* error);

/* The helper. A NULL operation is one the helper lacks: the page's request
 * is answered with an error saying so. */
typedef struct corvane_purchase_helper {
  uint32_t struct_size; /* sizeof(corvane_purchase_helper) of the helper */
  uint32_t api_version; /* CORVANE_PURCHASE_API_VERSION it was built for */
  const char* name;     /* shown to the page and in the log */

  /* Whether this user may pay now (1) or not (0). Asked when the helper
   * starts and after every request; the page reads the last answer. */
  int (*can_make_payments)(void);

  /* "startService": connect to the store; pending transactions may be
   * notified from here on. */
  corvane_purchase_operation start_service;
  /* "requestProducts": params "productIds" (array of texts; absent: all).
   * Result "products" (array of objects with at least "productId", "title",
   * "price", "currency") and "invalidProductIds". */
  corvane_purchase_operation request_products;
  /* "buy": params "productId", "quantity" (default 1). Result once the
   * purchase is under way or done; the outcome is notified. */
  corvane_purchase_operation buy;
  /* "restore": notifies each earlier purchase that can be restored. */
  corvane_purchase_operation restore;
  /* "getPrice": params "productId". Result "price", "currency",
   * "formattedPrice". */
  corvane_purchase_operation get_price;
  /* "getUseCount": params "productId". Result "useCount". */
  corvane_purchase_operation get_use_count;
  /* "useProduct": params "productId", "count" (default 1): spends uses. */
  corvane_purchase_operation use_product;

  /* Called once before the process ends normally (the application quits or
   * lets the helper go). Optional. */
  void (*stop_service)(void);
} corvane_purchase_helper;

/* Called once, on the host's main thread, after the library is loaded.
 * Answering NULL refuses the load. */
typedef const corvane_purchase_helper* (*corvane_purchase_entry_fn)(const corvane_purchase_host* host);

CORVANE_PLUGIN_EXPORT const corvane_purchase_helper* corvane_purchase_helper_entry(const corvane_purchase_host* host);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_PURCHASE_H */
