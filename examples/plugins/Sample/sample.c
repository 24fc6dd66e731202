/*
 * The sample plug-in: one class, "SamplePlugin", written in plain C against
 * corvane/plugin.h only. It shows both ways back to the page:
 *
 *   runWithArgv      starts a thread that posts three progress messages
 *                    (the plug-in message notification, to the page
 *                    function named by the pass-back) and then answers
 *                    through the delegate with a summary.
 *   callMethod "hello"  answers at once through the delegate.
 *
 * Every operation is class-level (self is NULL): the class keeps its
 * settings in statics, which live as long as the process.
 */
#include <corvane/plugin.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const corvane_host_api* host;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static corvane_delegate* delegate;
static char passback[256];
static char bundle_path[4096];
static int configured; /* setter calls so far */

/* Copies `text` into `out` as a JSON string (quotes included). */
static void json_string(char* out, size_t size, const char* text) {
  size_t n = 0;
  if (size < 3) return;
  out[n++] = '"';
  for (; *text && n + 8 < size; ++text) {
    unsigned char c = (unsigned char)*text;
    if (c == '"' || c == '\\') {
      out[n++] = '\\';
      out[n++] = (char)c;
    } else if (c < 0x20) {
      n += (size_t)snprintf(out + n, size - n, "\\u%04x", c);
    } else {
      out[n++] = (char)c;
    }
  }
  out[n++] = '"';
  out[n] = '\0';
}

static int set_delegate(void* self, corvane_delegate* d, corvane_error* error) {
  (void)self; (void)error;
  pthread_mutex_lock(&lock);
  delegate = d;
  ++configured;
  pthread_mutex_unlock(&lock);
  return 0;
}

static int set_passback(void* self, const char* name, corvane_error* error) {
  (void)self; (void)error;
  pthread_mutex_lock(&lock);
  snprintf(passback, sizeof passback, "%s", name ? name : "");
  ++configured;
  pthread_mutex_unlock(&lock);
  return 0;
}

static int set_lifecycle(void* self, const char* token, corvane_error* error) {
  (void)self;
  if (!token || strcmp(token, CORVANE_PLUGIN_LIFECYCLE_TOKEN) != 0)
    return corvane_error_set(error, "SamplePlugin: unknown lifecycle token");
  pthread_mutex_lock(&lock);
  ++configured;
  pthread_mutex_unlock(&lock);
  return 0;
}

static int set_bundle_path(void* self, const char* path, corvane_error* error) {
  (void)self; (void)error;
  pthread_mutex_lock(&lock);
  snprintf(bundle_path, sizeof bundle_path, "%s", path ? path : "");
  pthread_mutex_unlock(&lock);
  return 0;
}

struct job {
  corvane_delegate* delegate;
  char passback[256];
  char summary[8192];
};

static void* work(void* data) {
  struct job* job = data;
  char name[300], message[512];
  json_string(name, sizeof name, job->passback);
  for (int step = 1; step <= 3; ++step) {
    snprintf(message, sizeof message,
             "{\"passback\":%s,\"service\":\"SamplePlugin\",\"data\":{\"progress\":%d,\"of\":3}}", name, step);
    host->post_notification(CORVANE_PLUGIN_MESSAGE_NOTIFICATION, message);
  }
  host->pass_back_info(job->delegate, "SamplePlugin", job->summary, job->passback);
  free(job);
  return NULL;
}

static int run_with_argv(void* self, const char* arguments_json, corvane_error* error) {
  (void)self;
  struct job* job = calloc(1, sizeof *job);
  char path[4200];
  pthread_t thread;
  if (!job) return corvane_error_set(error, "SamplePlugin: out of memory");
  pthread_mutex_lock(&lock);
  job->delegate = delegate;
  snprintf(job->passback, sizeof job->passback, "%s", passback);
  json_string(path, sizeof path, bundle_path);
  snprintf(job->summary, sizeof job->summary,
           "{\"done\":true,\"greeting\":\"Hello from the sample plug-in\",\"bundlePath\":%s,"
           "\"setterCalls\":%d,\"arguments\":%s}",
           path, configured, arguments_json ? arguments_json : "null");
  pthread_mutex_unlock(&lock);
  /* Long work never runs on the caller's thread: the page waits for it. */
  if (pthread_create(&thread, NULL, work, job) != 0) {
    free(job);
    return corvane_error_set(error, "SamplePlugin: no thread for the work");
  }
  pthread_detach(thread);
  return 0;
}

static int call_method(void* self, const char* method, const char* arguments_json, corvane_error* error) {
  char answer[8192];
  (void)self;
  if (!method || strcmp(method, "hello") != 0) return corvane_error_set(error, "SamplePlugin: unknown method");
  snprintf(answer, sizeof answer, "{\"method\":\"hello\",\"arguments\":%s}", arguments_json ? arguments_json : "null");
  pthread_mutex_lock(&lock);
  corvane_delegate* d = delegate;
  char name[256];
  snprintf(name, sizeof name, "%s", passback);
  pthread_mutex_unlock(&lock);
  host->pass_back_info(d, "SamplePlugin", answer, name);
  return 0;
}

static const corvane_task_class sample_class = {
    sizeof(corvane_task_class), "SamplePlugin", set_delegate, set_passback, set_lifecycle, set_bundle_path,
    run_with_argv, call_method, NULL, NULL, NULL};

static const corvane_task_class* const classes[] = {&sample_class, NULL};

static const corvane_plugin_module module = {sizeof(corvane_plugin_module), CORVANE_PLUGIN_API_VERSION, classes};

CORVANE_PLUGIN_EXPORT const corvane_plugin_module* corvane_plugin_entry(const corvane_host_api* api) {
  if (!api || api->struct_size < sizeof(corvane_host_api)) return NULL;
  host = api;
  return &module;
}
