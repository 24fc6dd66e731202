#include "app/AppDelegate.h"

#include "bridge/GSignal.h"

#include "app/Log.h"
#include "app/StartupTasks.h"
#include "app/Utils.h"
#include "bridge/MainQueue.h"
#include "ui/FileIcons.h"
#include "ui/MainMenu.h"
#include "ui/Screenshot.h"
#include "ui/WindowController.h"

#include <gtk/gtk.h>
#include <pthread.h>

#include <cstdlib>
#include <vector>

namespace corvane {

namespace {

bool boolValue(const nlohmann::json& x, const char* key, bool fallback) {
  return x.is_object() && x.contains(key) ? jsonBoolValue(x[key], fallback) : fallback;
}

std::string textValue(const nlohmann::json& x, const char* key) {
  if (!x.is_object() || !x.contains(key) || !x[key].is_string()) return std::string();
  return Utils::sharedInstance().update_env_string(x[key].get<std::string>());
}

}  // namespace

std::string AppDelegate::startPageFor(const std::optional<nlohmann::json>& appExInfo) {
  const nlohmann::json x = appExInfo ? *appExInfo : nlohmann::json();
  const bool e = boolValue(x, "enableSpecPublic", false);
  const std::string u = textValue(x, "userSpecPublic");
  std::string s = textValue(x, "startPage");
  if (s.empty()) s = "public/index.html";
  if (e && !u.empty()) {
    if (Utils::checkPathIsDir(u)) s = u + "/" + s;
    else if (Utils::checkPathIsFile(u)) s = u;
    else if (u.rfind("http://", 0) == 0 || u.rfind("file://", 0) == 0 || u.rfind("https://", 0) == 0) s = u;
  }
  return s;
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::buildMainMenu() {
  MainMenu::Actions a;
  a.quit = [this] { quit(); };
  a.about = [] {
    Utils& u = Utils::sharedInstance();
    gtk_show_about_dialog(nullptr, "program-name", u.getAppName().c_str(), "version", u.getAppVersion().c_str(),
                          nullptr);
  };
  auto view = [this]() -> WebKitWebView* {
    return windowController ? windowController->contentView->webView->view() : nullptr;
  };
  a.closeWindow = [this] {
    if (GtkWindow* w = gtk_application_get_active_window(app_)) gtk_window_close(w);
  };
  a.showMainWindow = [this] {
    if (windowController) windowController->showWindow();
  };
  a.reload = [view] {
    if (auto* v = view()) webkit_web_view_reload(v);
  };
  a.toggleFullScreen = [this] {
    if (!windowController) return;
    GtkWindow* w = windowController->window();
    GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(w));
    if (g && (gdk_window_get_state(g) & GDK_WINDOW_STATE_FULLSCREEN)) gtk_window_unfullscreen(w);
    else gtk_window_fullscreen(w);
  };
  a.minimize = [this] {
    if (windowController) gtk_window_iconify(windowController->window());
  };
  a.zoom = [this] {
    if (!windowController) return;
    GtkWindow* w = windowController->window();
    if (gtk_window_is_maximized(w)) gtk_window_unmaximize(w);
    else gtk_window_maximize(w);
  };
  a.showInspector = [view] {
    if (auto* v = view())
      if (webkit_settings_get_enable_developer_extras(webkit_web_view_get_settings(v)))
        webkit_web_inspector_show(webkit_web_view_get_inspector(v));
  };
  a.print = [view] {
    if (auto* v = view()) {
      WebKitPrintOperation* op = webkit_print_operation_new(v);
      webkit_print_operation_run_dialog(op, nullptr);
      g_object_unref(op);
    }
  };
  a.edit = [view](const char* command) {
    if (auto* v = view()) webkit_web_view_execute_editing_command(v, command);
  };
  menu = std::make_unique<MainMenu>(Utils::sharedInstance().getAppName(), std::move(a));
  g_object_ref_sink(menu->bar());
}

void AppDelegate::quit() {
  if (windowController) windowController->contentView->delegate->flush();
  g_application_quit(G_APPLICATION(app_));
}

void AppDelegate::newWindowHooks(WindowController& controller) {
  WebViewDelegate& d = *controller.contentView->delegate;
  d.createWindowForRequest = [this](WebKitWebView* related) -> WebKitWebView* {
    // The latest page-opened window is kept; earlier ones live on in GTK.
    if (requestedWindow_) {
      requestedWindow_.release();  // NOLINT: its window stays open on its own
    }
    requestedWindow_ = WindowController::initWithRequest(related);
    gtk_application_add_window(app_, requestedWindow_->window());
    newWindowHooks(*requestedWindow_);
    return requestedWindow_->contentView->webView->view();
  };
  d.showRequestedWindow = [this](WebKitWebView*) {
    if (requestedWindow_) requestedWindow_->showWindow();
  };
}

void AppDelegate::applicationWillFinishLaunching() {
  hasAlreadyLanuched = false;
  enableShouldTerminateAfterLastWindowClosed = false;
  // A failing task brings the window up at once; the rest still run.
  Utils& utils = Utils::sharedInstance();
  StartupTasks tasks(utils, utils.userDefaults());
  tasks.process_tasks([this](const std::optional<TaskError>& error) {
    if (error && !hasAlreadyLanuched) private_applicationDidFinishLaunching();
  });
}

void AppDelegate::applicationDidFinishLaunching() {
  if (!hasAlreadyLanuched) private_applicationDidFinishLaunching();
}

void AppDelegate::private_applicationDidFinishLaunching() {
  hasAlreadyLanuched = true;
  try {
    Utils& utils = Utils::sharedInstance();
    std::optional<nlohmann::json> x = utils.getAppExConfigDic();
    if (x && !x->is_object()) x = nlohmann::json::object();
    if (x && x->contains("enableShouldTerminateAfterLastWindowClosed"))
      enableShouldTerminateAfterLastWindowClosed =
          jsonBoolValue((*x)["enableShouldTerminateAfterLastWindowClosed"], false);

    log().info("[0x0003] 不使用HttpServer");
    const std::string start = startPageFor(x);
    buildMainMenu();
    windowController = WindowController::initWithURL(start, menu->bar());
    if (windowController->url) WebViewDelegate::setApplicationStartPage(*windowController->url);
    windowController->appDelegate = this;
    newWindowHooks(*windowController);
    gtk_application_add_window(app_, windowController->window());
    windowController->showWindow();
    if (menu->mainWindowMenuItem) gtk_widget_hide(menu->mainWindowMenuItem);

    if (!screenshotPath_.empty()) {
      saveScreenshotAfterLoad(windowController->contentView->webView->view(), screenshotPath_, 1500,
                              [this](bool ok) {
                                if (ok) log().info("screenshot saved to {}", screenshotPath_);
                                if (screenshotQuit_) quit();
                              });
    }
  } catch (const std::exception& e) {
    log().error("{}", e.what());
  }
  pthread_setname_np(pthread_self(), "mainThread");
}

int AppDelegate::run(int argc, char** argv, const CommandLine&) {
  MainQueue::initOnMainThread();
  // No configuration, no window: this may end the process with 3912.
  Utils::sharedInstance().getMainconfigDic();

  AppDelegate delegate;
  if (const char* shot = std::getenv("CORVANE_SCREENSHOT")) delegate.screenshotPath_ = shot;
  if (const char* q = std::getenv("CORVANE_SCREENSHOT_QUIT")) delegate.screenshotQuit_ = std::string(q) == "1";

  installFileIconWriter();
  delegate.app_ = gtk_application_new(nullptr, G_APPLICATION_NON_UNIQUE);
  g_signal_connect(delegate.app_, "startup", signalHandler([](GApplication*, gpointer d) {
                     static_cast<AppDelegate*>(d)->applicationWillFinishLaunching();
                   }),
                   &delegate);
  g_signal_connect(delegate.app_, "activate", signalHandler([](GApplication*, gpointer d) {
                     static_cast<AppDelegate*>(d)->applicationDidFinishLaunching();
                   }),
                   &delegate);
  // Only the program name reaches GTK: our own options are parsed already.
  int gtkArgc = 1;
  int status = g_application_run(G_APPLICATION(delegate.app_), gtkArgc, argv);
  (void)argc;
  if (delegate.windowController) delegate.windowController->contentView->delegate->flush();
  delegate.requestedWindow_.reset();
  delegate.windowController.reset();
  g_object_unref(delegate.app_);
  return status;
}

}  // namespace corvane
