#include "app/AppDelegate.h"

#include "bridge/GSignal.h"

#include "app/LaunchPlan.h"
#include "app/Log.h"
#include "app/NotificationCenter.h"
#include "app/Relaunch.h"
#include "app/StartupTasks.h"
#include "app/TerminationSignal.h"
#include "app/ThreadName.h"
#include "app/Utils.h"
#include "app/WindowStyle.h"
#include "bridge/MainQueue.h"
#include "server/HttpServer.h"
#include "ui/Alert.h"
#include "ui/FileIcons.h"
#include "ui/MainMenu.h"
#include "ui/Screenshot.h"
#include "ui/WindowController.h"
#include "ui/WindowStyler.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <vector>

namespace corvane {

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
  installTerminationSignalHandler([] { return Utils::sharedInstance().getAppName(); });
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
    const LaunchSettings settings = readLaunchSettings(x, utils);
    if (settings.enableShouldTerminateAfterLastWindowClosed)
      enableShouldTerminateAfterLastWindowClosed = *settings.enableShouldTerminateAfterLastWindowClosed;
    LaunchServerOutcome outcome = runLaunchServerStep(settings, utils);
    if (outcome.alert) runAlert(outcome.alert->title, outcome.alert->message, outcome.alert->button);
    httpServer = std::move(outcome.server);

    buildMainMenu();
    windowController = outcome.load == PageLoad::SpecURL
                           ? WindowController::initWithSpecURL(outcome.page, menu->bar())
                           : WindowController::initWithURL(outcome.page, menu->bar());
    if (windowController->url) WebViewDelegate::setApplicationStartPage(*windowController->url);
    windowController->appDelegate = this;
    newWindowHooks(*windowController);
    gtk_application_add_window(app_, windowController->window());
    windowController->showWindow();
    if (menu->mainWindowMenuItem) gtk_widget_hide(menu->mainWindowMenuItem);
    // Closing the main window keeps it (and its page) for the menu item and
    // re-activation, unless the configuration asks to quit.
    g_signal_connect(windowController->window(), "delete-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer d) -> gboolean {
                       return static_cast<AppDelegate*>(d)->mainWindowWillClose();
                     }),
                     this);

    GtkWindow* window = windowController->window();
    private_process_window_style(x, window);
    private_process_window_size(x, window);
    private_process_window_menu(x, window);

    if (!screenshotPath_.empty()) {
      saveScreenshotAfterLoad(windowController->contentView->webView->view(), screenshotPath_, 1500,
                              [this](bool ok) {
                                if (ok) log().info("screenshot saved to {}", screenshotPath_);
                                if (screenshotQuit_) quit();
                              });
    }
  } catch (const LaunchConfigError& e) {
    // The window cannot be built as configured, and a process without a
    // window is invisible: tell the user which key is wrong, then end.
    configurationFault(e.what());
  } catch (const std::exception& e) {
    log().error("{}", e.what());
    if (!windowController) configurationFault(e.what());
  }
  // The name the program reports for its main thread; the process keeps
  // its executable's name (see ThreadName.h).
  setCurrentThreadName("mainThread");
  log().debug("main thread named {}", currentThreadName());
}

void AppDelegate::configurationFault(const std::string& what) {
  Utils& utils = Utils::sharedInstance();
  const std::string file = utils.findMainConfigFile().file.value_or("the main configuration");
  const std::string message = "\"AppExInfo\" in " + file + ": " + what + ".";
  log().error("configuration error: {}", message);
  runAlert(utils.getAppName() + " cannot start", message, "Quit", AlertKind::Error);
  exitStatus_ = kConfigurationErrorExitStatus;
  quit();
}

// ---- application events ---------------------------------------------------------

void AppDelegate::application_openFiles(const std::vector<std::string>& paths) {
  log().info("-application:openFiles:");
  NotificationCenter::defaultCenter().post(kNoticeApplicationOpenFiles, nlohmann::json(paths));
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
  if (!hasVisibleWindows) openMainWindow();
  return true;
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() {
  log().info("-applicationShouldTerminateAfterLastWindowClosed:");
  return enableShouldTerminateAfterLastWindowClosed;
}

void AppDelegate::applicationWillTerminate() {
  NotificationCenter::defaultCenter().post(kNoticeAppTerminate);
  log().info("App exit");
  Utils& u = Utils::sharedInstance();
  if (u.wantRelaunch) relaunchDetached(currentExecutablePath(), u.bundle().bundlePath());
}

void AppDelegate::openMainWindow() {
  if (menu && menu->mainWindowMenuItem) gtk_widget_hide(menu->mainWindowMenuItem);
  if (!windowController) return;
  windowController->showWindow();
  gtk_window_present(windowController->window());
}

void AppDelegate::setMenuItemShow() {
  if (menu && menu->mainWindowMenuItem) gtk_widget_show(menu->mainWindowMenuItem);
}

bool AppDelegate::mainWindowWillClose() {
  bool otherVisible = false;
  for (GList* l = gtk_application_get_windows(app_); l; l = l->next)
    if (l->data != windowController->window() && gtk_widget_get_visible(GTK_WIDGET(l->data))) otherVisible = true;
  if (!otherVisible && applicationShouldTerminateAfterLastWindowClosed()) {
    quit();
    return TRUE;
  }
  setMenuItemShow();
  gtk_widget_hide(GTK_WIDGET(windowController->window()));
  return TRUE;  // keep the window and its page
}

void AppDelegate::private_process_window_style(const std::optional<nlohmann::json>& x, GtkWindow* window) {
  if (!x) return;
  WindowStyler(window, windowController->headerBar()).applyStyle(windowStylePlan(*x));
}

void AppDelegate::private_process_window_size(const std::optional<nlohmann::json>& x, GtkWindow* window) {
  if (!x) return;
  WindowStyler(window, windowController->headerBar()).applySize(windowSizePlan(*x));
}

void AppDelegate::private_process_window_menu(const std::optional<nlohmann::json>& x, GtkWindow*) {
  if (!x) return;
  Utils& u = Utils::sharedInstance();
  auto expand = [&u](const std::string& t) { return u.update_env_string(t); };
  WindowStyler::applyMenu(menuPlan(*x, expand), [this](int tag) { return menu->itemByTag(tag); }, expand);
  if (menu->mainWindowMenuItem)
    gtk_menu_item_set_label(GTK_MENU_ITEM(menu->mainWindowMenuItem), u.getAppName().c_str());
}

std::string AppDelegate::applicationId() {
  // One running instance per bundle identifier. An identifier that is not
  // a valid application id is mapped onto one, stably.
  const std::string id = Utils::sharedInstance().getAppIdentifier();
  if (g_application_id_is_valid(id.c_str())) return id;
  return "app.corvane.id" + Utils::md5Digest(id).substr(0, 16);
}

int AppDelegate::run(int argc, char** argv, const CommandLine& cli) {
  MainQueue::initOnMainThread();
  // No configuration, no window: this may end the process with 3912.
  Utils::sharedInstance().getMainconfigDic();

  AppDelegate delegate;
  if (const char* shot = std::getenv("CORVANE_SCREENSHOT")) delegate.screenshotPath_ = shot;
  if (const char* q = std::getenv("CORVANE_SCREENSHOT_QUIT")) delegate.screenshotQuit_ = std::string(q) == "1";

  installFileIconWriter();
  // A relaunched instance lets its predecessor finish before it claims
  // the application's name on the session bus.
  waitForPredecessor();
  delegate.app_ = gtk_application_new(applicationId().c_str(), G_APPLICATION_HANDLES_OPEN);
  g_signal_connect(delegate.app_, "startup", signalHandler([](GApplication*, gpointer d) {
                     static_cast<AppDelegate*>(d)->applicationWillFinishLaunching();
                   }),
                   &delegate);
  g_signal_connect(delegate.app_, "activate", signalHandler([](GApplication*, gpointer d) {
                     auto* self = static_cast<AppDelegate*>(d);
                     if (!self->hasAlreadyLanuched) {
                       self->applicationDidFinishLaunching();
                       return;
                     }
                     // A second start without files: re-activation.
                     const bool visible = self->windowController &&
                                          gtk_widget_get_visible(GTK_WIDGET(self->windowController->window()));
                     self->applicationShouldHandleReopen(visible);
                   }),
                   &delegate);
  g_signal_connect(delegate.app_, "open",
                   G_CALLBACK(+[](GApplication*, GFile** files, gint count, gchar*, gpointer d) {
                     auto* self = static_cast<AppDelegate*>(d);
                     if (!self->hasAlreadyLanuched) self->applicationDidFinishLaunching();
                     std::vector<std::string> paths;
                     for (gint i = 0; i < count; ++i) {
                       gchar* p = g_file_get_path(files[i]);
                       if (p) paths.emplace_back(p);
                       g_free(p);
                     }
                     self->application_openFiles(paths);
                   }),
                   &delegate);
  g_signal_connect(delegate.app_, "shutdown", signalHandler([](GApplication*, gpointer d) {
                     static_cast<AppDelegate*>(d)->applicationWillTerminate();
                   }),
                   &delegate);
  // GTK sees the program name and the files to open; our own options are
  // parsed already.
  std::vector<char*> gtkArgv{argv[0]};
  for (const auto& f : cli.files) gtkArgv.push_back(const_cast<char*>(f.c_str()));
  gtkArgv.push_back(nullptr);
  (void)argc;
  int status = g_application_run(G_APPLICATION(delegate.app_), static_cast<int>(gtkArgv.size() - 1),
                                 gtkArgv.data());
  if (delegate.windowController) delegate.windowController->contentView->delegate->flush();
  delegate.requestedWindow_.reset();
  delegate.windowController.reset();
  g_object_unref(delegate.app_);
  return delegate.exitStatus_ != 0 ? delegate.exitStatus_ : status;
}

}  // namespace corvane
