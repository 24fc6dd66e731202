// A picture of the main screen as a PNG file, and printing the page: the
// print dialog, or straight into a PDF file without one.
#include "services/Window.h"

#include "app/AtomicFile.h"
#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "services/FileRecord.h"

#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <deque>
#include <functional>

namespace corvane {
namespace {

void logResult(const nlohmann::json& result, const char* method, int line) {
  log().info("{}{} [Line {}] ", result.dump(), method, line);
}

// A native Wayland display has no readable root window: the desktop
// portal takes the screenshot (without asking, where the desktop allows
// it) and hands back a file, which is read here. The call waits for the
// portal's answer while the main loop keeps running, at most 30 seconds.
GdkPixbuf* screenshotFromPortal() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return nullptr;
  struct Wait {
    bool done = false;
    std::string uri;
  } wait;
  const std::string token = "corvane" + Utils::uniqueStamp();
  std::string sender = g_dbus_connection_get_unique_name(bus) + 1;  // without the ":"
  for (char& c : sender)
    if (c == '.') c = '_';
  const std::string request = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
  const guint subscription = g_dbus_connection_signal_subscribe(
      bus, "org.freedesktop.portal.Desktop", "org.freedesktop.portal.Request", "Response", request.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NO_MATCH_RULE,
      +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params, gpointer data) {
        auto* w = static_cast<Wait*>(data);
        guint32 response = 2;
        GVariant* results = nullptr;
        g_variant_get(params, "(u@a{sv})", &response, &results);
        const gchar* uri = nullptr;
        if (response == 0 && results && g_variant_lookup(results, "uri", "&s", &uri) && uri) w->uri = uri;
        if (results) g_variant_unref(results);
        w->done = true;
      },
      &wait, nullptr);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  g_variant_builder_add(&options, "{sv}", "interactive", g_variant_new_boolean(FALSE));
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                                "org.freedesktop.portal.Screenshot", "Screenshot",
                                                g_variant_new("(sa{sv})", "", &options), nullptr,
                                                G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
  if (reply) {
    g_variant_unref(reply);
    const gint64 deadline = g_get_monotonic_time() + 30 * G_TIME_SPAN_SECOND;
    while (!wait.done && g_get_monotonic_time() < deadline)
      if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(10000);
  } else {
    log().info("no screenshot portal: {}", error ? error->message : "");
    if (error) g_error_free(error);
  }
  g_dbus_connection_signal_unsubscribe(bus, subscription);
  g_object_unref(bus);
  if (wait.uri.empty()) return nullptr;
  gchar* file = g_filename_from_uri(wait.uri.c_str(), nullptr, nullptr);
  GdkPixbuf* shot = file ? gdk_pixbuf_new_from_file(file, nullptr) : nullptr;
  g_free(file);
  return shot;
}

// The main screen: on X11 the root window's area of the primary monitor,
// elsewhere the desktop portal's picture. Empty when neither can be had.
GdkPixbuf* screenshotOfMainScreen() {
  GdkDisplay* display = gdk_display_get_default();
  if (display && !GDK_IS_X11_DISPLAY(display)) return screenshotFromPortal();
  GdkWindow* root = gdk_get_default_root_window();
  const GdkRectangle r = Window::mainScreenRect();
  if (!root || r.width <= 0 || r.height <= 0) return nullptr;
  return gdk_pixbuf_get_from_window(root, r.x, r.y, r.width, r.height);
}

bool savePng(GdkPixbuf* pixbuf, const std::string& path, std::string* why) {
  gchar* buffer = nullptr;
  gsize size = 0;
  GError* error = nullptr;
  if (!gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", &error, nullptr)) {
    if (why) *why = error ? error->message : "cannot encode PNG";
    if (error) g_error_free(error);
    return false;
  }
  const bool ok = writeFileAtomically(path, std::string_view(buffer, size), 0644, why);
  g_free(buffer);
  return ok;
}

// One print at a time: the web process lays out one print job at a time,
// and a second started while the first runs brings it down.
class PrintQueue {
 public:
  static void add(std::function<void()> start) {
    pending().push_back(std::move(start));
    if (!busy()) next();
  }
  static void finished() {
    busy() = false;
    next();
  }

 private:
  static void next() {
    if (pending().empty()) return;
    busy() = true;
    auto start = std::move(pending().front());
    pending().pop_front();
    start();
  }
  static std::deque<std::function<void()>>& pending() {
    static std::deque<std::function<void()>> q;
    return q;
  }
  static bool& busy() {
    static bool b = false;
    return b;
  }
};

}  // namespace

void Window::capture(const nlohmann::json& argument) {
  constexpr const char* kMethod = "-[Window capture:]";
  GdkPixbuf* shot = screenshotOfMainScreen();  // taken before the arguments are read
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string callback = UtilTool::callbackName(params);
    const std::string filePath = UtilTool::stringValue(params, "filePath");
    if (!filePath.empty()) {
      nlohmann::json result = UtilTool::resultDictionary();
      const std::string path = Utils::update_spec_fix_string(Utils::sharedInstance().update_env_string(filePath));
      std::string why = "the screen could not be read";
      // The answer says whether the file is there.
      const bool written = shot && savePng(shot, path, &why);
      result["success"] = written;
      if (!written) result["error"] = why;
      logResult(result, kMethod, __LINE__);
      EvalJsWithWebView(page_, callback, result);
    }
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", kMethod, __LINE__, e.what());
  }
  if (shot) g_object_unref(shot);
}

void Window::print(const nlohmann::json& argument) {
  constexpr const char* kMethod = "-[Window print:]";
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    nlohmann::json result = UtilTool::resultDictionary();
    if (webView_) {
      WebKitPrintOperation* op = webkit_print_operation_new(webView_);
      webkit_print_operation_run_dialog(op, hostWindow());
      g_object_unref(op);
      result["success"] = true;
    } else {
      result["error"] = "the page has no view to print";
    }
    EvalJsWithWebView(page_, UtilTool::callbackName(params), result);
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", kMethod, __LINE__, e.what());
  }
}

namespace {

// Prints the page into the PDF file at `path`; calls back when the file is
// complete or the print failed, then lets the next print start.
void startPdfJob(WebKitWebView* view, CallerPage page, std::string callback, std::string path) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  GtkPrintSettings* settings = gtk_print_settings_new();
  gtk_print_settings_set_printer(settings, "Print to File");
  gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
  gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, uri);
  g_free(uri);
  WebKitPrintOperation* op = webkit_print_operation_new(view);
  g_object_unref(view);  // the operation holds the view now
  webkit_print_operation_set_print_settings(op, settings);
  g_object_unref(settings);

  struct Job {
    CallerPage page;
    std::string callback;
    std::string path;
    std::string error;
  };
  auto* job = new Job{std::move(page), std::move(callback), std::move(path), ""};
  g_signal_connect(op, "failed", G_CALLBACK(+[](WebKitPrintOperation*, GError* error, gpointer data) {
                     static_cast<Job*>(data)->error = error ? error->message : "printing failed";
                   }),
                   job);
  g_signal_connect(op, "finished", G_CALLBACK(+[](WebKitPrintOperation* o, gpointer data) {
                     std::unique_ptr<Job> j(static_cast<Job*>(data));
                     nlohmann::json result = UtilTool::resultDictionary();
                     if (j->error.empty() && Utils::checkPathIsFile(j->path)) {
                       result["success"] = true;
                     } else {
                       result["error"] = j->error.empty() ? "the PDF was not written" : j->error;
                     }
                     log().info("{}{} [Line {}] ", result.dump(), "-[Window printToPDF:]", __LINE__);
                     EvalJsWithWebView(j->page, j->callback, result);
                     g_object_unref(o);
                     PrintQueue::finished();
                   }),
                   job);
  webkit_print_operation_print(op);
}

}  // namespace

// The page is laid out by its web process, which waits for this call to
// return: the PDF is written after the call, and the callback runs when
// the file is complete (or the print failed).
void Window::printToPDF(const nlohmann::json& argument) {
  constexpr const char* kMethod = "-[Window printToPDF:]";
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string callback = UtilTool::callbackName(params);
    const std::string path = pathFromPathOrFileUrl(UtilTool::stringValue(params, "filePath"));
    if (path.empty() || path.front() != '/' || !webView_) {
      EvalJsWithWebView(page_, callback,
                        {{"success", false}, {"error", "\"filePath\" must be an absolute path or a file URL"}});
      return;
    }
    // The callback goes to the page that asked, or nowhere once it is gone.
    CallerPage page = page_->caller();
    GObject* view = G_OBJECT(g_object_ref(webView_));
    PrintQueue::add([view, page, callback, path] { startPdfJob(WEBKIT_WEB_VIEW(view), page, callback, path); });
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", kMethod, __LINE__, e.what());
  }
}

}  // namespace corvane
