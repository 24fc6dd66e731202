#include "ui/Screenshot.h"

#include "bridge/GSignal.h"

#include "app/Log.h"

#include <cairo.h>

namespace corvane {

namespace {
struct Job {
  WebKitWebView* view;
  std::string path;
  int delayMs;
  std::function<void(bool)> done;
  gulong handler = 0;
};

void snap(Job* job) {
  webkit_web_view_get_snapshot(
      job->view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
      +[](GObject* source, GAsyncResult* res, gpointer p) {
        auto* job = static_cast<Job*>(p);
        GError* error = nullptr;
        cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), res, &error);
        bool ok = false;
        if (surface) {
          ok = cairo_surface_write_to_png(surface, job->path.c_str()) == CAIRO_STATUS_SUCCESS;
          cairo_surface_destroy(surface);
        } else {
          log().error("screenshot failed: {}", error ? error->message : "");
          if (error) g_error_free(error);
        }
        if (job->done) job->done(ok);
        delete job;
      },
      job);
}
}  // namespace

void saveScreenshotAfterLoad(WebKitWebView* view, const std::string& pngPath, int delayMs,
                             std::function<void(bool)> done) {
  auto* job = new Job{view, pngPath, delayMs, std::move(done)};
  job->handler = g_signal_connect(view, "load-changed", signalHandler([](WebKitWebView* v, WebKitLoadEvent e, gpointer p) {
                                    if (e != WEBKIT_LOAD_FINISHED) return;
                                    auto* job = static_cast<Job*>(p);
                                    g_signal_handler_disconnect(v, job->handler);
                                    g_timeout_add(job->delayMs, +[](gpointer p) -> gboolean {
                                      snap(static_cast<Job*>(p));
                                      return G_SOURCE_REMOVE;
                                    }, job);
                                  }),
                                  job);
}

}  // namespace corvane
