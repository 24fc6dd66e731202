#include "app/AppDelegate.h"

#include "bridge/GSignal.h"

#include "app/ConfigKeys.h"
#include "app/LaunchPlan.h"
#include "app/LaunchTrace.h"
#include "app/UserDefaults.h"
#include "app/Log.h"
#include "app/NotificationCenter.h"
#include "app/Relaunch.h"
#include "app/SingleInstance.h"
#include "app/StartupTasks.h"
#include "app/TerminationSignal.h"
#include "app/ThreadName.h"
#include "app/Utils.h"
#include "app/WindowStyle.h"
#include "bridge/MainQueue.h"
#include "bridge/OptionalBuses.h"
#include "bridge/OriginPolicy.h"
#include "rate/RateShell.h"
#include "server/HttpServer.h"
#include "ui/Alert.h"
#include "ui/DesktopIdentity.h"
#include "ui/DevMode.h"
#include "ui/FileIcons.h"
#include "ui/MainMenu.h"
#include "ui/Screenshot.h"
#include "ui/WebContext.h"
#include "ui/WindowController.h"
#include "ui/WindowStyler.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace corvane {

AppDelegate::~AppDelegate() = default;

void AppDelegate::buildMainMenu() {
  MainMenu::Actions a;
  a.quit = [this] { quitAskingPages(); };
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
  a.reload = [this] {
    // Also brings back a page whose process died for good.
    if (windowController) windowController->contentView->reload();
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

void AppDelegate::quitAskingPages() {
  if (askingPagesToQuit_) return;  // a page is being asked already
  askingPagesToQuit_ = true;
  pagesToAsk_ = WindowController::all();
  askNextPageToQuit();
}

void AppDelegate::askNextPageToQuit() {
  // One page at a time, so that one question is up at a time; a page that
  // keeps its work stops the quit and the remaining pages are not asked.
  while (!pagesToAsk_.empty()) {
    WindowController* next = pagesToAsk_.front();
    pagesToAsk_.erase(pagesToAsk_.begin());
    if (!WindowController::isLive(next)) continue;
    next->requestClose([this, next](bool agreed) {
      if (agreed) {
        askNextPageToQuit();
        return;
      }
      const char* uri = WindowController::isLive(next) ? webkit_web_view_get_uri(next->contentView->webView->view())
                                                       : nullptr;
      log().info("quit cancelled: the page {} stays", uri ? uri : "");
      pagesToAsk_.clear();
      askingPagesToQuit_ = false;
    });
    return;
  }
  askingPagesToQuit_ = false;
  quit();
}

void AppDelegate::newWindowHooks(WindowController& controller) {
  if (windowTitleFromPage_) controller.followPageTitle();
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
  launchStep("application name owned (startup)");
  // Before any window: the class that ties windows to the desktop entry.
  applyWindowClass(Utils::sharedInstance().bundle());
  // What GTK, GStreamer and the desktop name the program by (the entries
  // GTK's file chooser adds to the recent list, the sound mixer's client).
  if (!g_get_application_name() || g_strcmp0(g_get_application_name(), g_get_prgname()) == 0)
    g_set_application_name(Utils::sharedInstance().getAppName().c_str());
  installTerminationSignalHandler([] { return Utils::sharedInstance().getAppName(); }, 5,
                                  [this] { giveUpInstance(); });
  // Second starts may ask which bundle runs while the tasks below still run.
  publishRunningBundle(g_application_get_dbus_connection(G_APPLICATION(app_)),
                       Utils::sharedInstance().bundle().bundlePath());
  hasAlreadyLanuched = false;
  enableShouldTerminateAfterLastWindowClosed = false;
  // A failing task brings the window up at once; the rest still run.
  Utils& utils = Utils::sharedInstance();
  launchStep("start-up tasks");
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
  // A termination signal that came during the start-up tasks ends the
  // process; no window is built for the few seconds left.
  if (beginTerminationIfRequested()) return;
  try {
    Utils& utils = Utils::sharedInstance();
    // Keys the shell would read elsewhere are ignored where they are; say so.
    if (auto config = utils.getMainconfigDic())
      for (const auto& line : config::misplacedKeys(*config)) log().warn("{}", line);
    std::optional<nlohmann::json> x = utils.getAppExConfigDic();
    if (x && !x->is_object()) x = nlohmann::json::object();
    const LaunchSettings settings = readLaunchSettings(x, utils);
    launchStep("launch settings read");
    if (settings.enableShouldTerminateAfterLastWindowClosed)
      enableShouldTerminateAfterLastWindowClosed = *settings.enableShouldTerminateAfterLastWindowClosed;
    windowTitleFromPage_ = settings.windowTitleFromPage;
    LaunchServerOutcome outcome = runLaunchServerStep(settings, utils);
    if (outcome.alert) {
      runAlert(outcome.alert->title, outcome.alert->message, outcome.alert->button);
      if (terminationRequested()) return;  // ended while the alert was up
    }
    httpServer = std::move(outcome.server);
    launchStep("server step done");
    // The development server's page instead of the configured one; as the
    // start page, its origin gets the bridge.
    if (!devUrl_.empty()) {
      outcome.load = PageLoad::SpecURL;
      outcome.page = devUrl_;
    }

    buildMainMenu();
    launchStep("menu bar built");
    windowController = outcome.load == PageLoad::SpecURL
                           ? WindowController::initWithSpecURL(outcome.page, menu->bar())
                           : WindowController::initWithURL(outcome.page, menu->bar());
    launchStep("window made");
    if (windowController->url) WebViewDelegate::setApplicationStartPage(*windowController->url);
    // The configured web UI folder holds the application's pages as the bundle does.
    if (settings.usesUserFolder()) WebViewDelegate::addApplicationFolder(settings.userSpecPublic);
    windowController->appDelegate = this;
    newWindowHooks(*windowController);
    gtk_application_add_window(app_, windowController->window());
    windowController->showWindow();
    launchStep("window shown");
    applyWindowIconSoon(utils.bundle());
    // Once the window has shown the bar: hidden items stay hidden from here.
    if (menu->mainWindowMenuItem) gtk_widget_hide(menu->mainWindowMenuItem);
    // The inspector exists only with developer extras ("enableDeveloperDebug").
    menu->setDeveloperToolsShown(webkit_settings_get_enable_developer_extras(WebContext::settings()));
    // Closing the main window keeps it (and its page) for the menu item and
    // re-activation, unless the configuration asks to quit; either way its
    // page has agreed first.
    windowController->closeAgreed = [this] { mainWindowWillClose(); };
    // Shown again by anyone (a page asking the person before it closes):
    // the menu item that brings it back has nothing to do.
    g_signal_connect(windowController->window(), "show", signalHandler([](GtkWidget*, gpointer d) {
                       auto* self = static_cast<AppDelegate*>(d);
                       if (self->menu && self->menu->mainWindowMenuItem) gtk_widget_hide(self->menu->mainWindowMenuItem);
                     }),
                     this);

    if (dev_)
      devMode_ = std::make_unique<DevMode>(windowController->contentView->webView->view(),
                                           developmentFolders(settings, outcome.serverCase == ServerCase::Serving),
                                           devUrl_);

    GtkWindow* window = windowController->window();
    private_process_window_style(x, window);
    private_process_window_size(x, window);
    private_process_window_menu(x, window);
    private_process_native_app_rate_remind(x);
    launchStep("window styled, menus and reminders set");

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

std::vector<std::string> AppDelegate::developmentFolders(const LaunchSettings& settings, bool serving) const {
  Utils& utils = Utils::sharedInstance();
  std::vector<std::string> folders{bundlePublicFolder(utils)};
  if (serving) folders.push_back(serverDocumentRoot(settings, bundlePublicFolder(utils)));
  if (settings.usesUserFolder()) folders.push_back(settings.userSpecPublic);
  if (utils.webUIDir) folders.push_back(*utils.webUIDir + "/public");
  if (windowController && windowController->url)
    if (auto file = bridge::localFilePath(*windowController->url)) {
      gchar* dir = g_path_get_dirname(file->c_str());
      folders.emplace_back(dir);
      g_free(dir);
    }
  return folders;
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
  // Files opened at start-up come before the page that takes them: they
  // wait for its observer and then arrive in order, once.
  NotificationCenter::defaultCenter().postOrHold(kNoticeApplicationOpenFiles, nlohmann::json(paths));
}

bool AppDelegate::applicationShouldHandleReopen(bool) {
  // A minimised or covered main window counts as visible, yet the user who
  // starts the application again wants it in front: always present it.
  openMainWindow();
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
  // The executable as installed now: an update may have replaced the
  // running one (which then reads "(deleted)").
  if (u.wantRelaunch)
    if (auto exe = installedExecutable(startExecutablePath())) relaunchDetached(*exe, u.bundle().bundlePath());
}

void AppDelegate::openMainWindow() {
  if (menu && menu->mainWindowMenuItem) gtk_widget_hide(menu->mainWindowMenuItem);
  if (!windowController) return;
  GtkWindow* w = windowController->window();
  windowController->showWindow();
  gtk_window_deiconify(w);
  // With the display's current time the window manager raises the window
  // above other applications' windows; an old or missing time may only
  // mark it as wanting attention.
  guint32 time = GDK_CURRENT_TIME;
#ifdef GDK_WINDOWING_X11
  if (GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(w)); g && GDK_IS_X11_WINDOW(g))
    time = gdk_x11_get_server_time(g);
#endif
  gtk_window_present_with_time(w, time);
}

void AppDelegate::setMenuItemShow() {
  if (menu && menu->mainWindowMenuItem) gtk_widget_show(menu->mainWindowMenuItem);
}

void AppDelegate::mainWindowWillClose() {
  bool otherVisible = false;
  for (GList* l = gtk_application_get_windows(app_); l; l = l->next)
    if (l->data != windowController->window() && gtk_widget_get_visible(GTK_WIDGET(l->data))) otherVisible = true;
  if (!otherVisible && applicationShouldTerminateAfterLastWindowClosed()) {
    quit();
    return;
  }
  setMenuItemShow();
  gtk_widget_hide(GTK_WIDGET(windowController->window()));  // keep the window and its page
}

void AppDelegate::quitIfNoWindowIsLeft() {
  // Any window may be the last one: the main window (which is hidden, see
  // mainWindowWillClose) or one the page opened (destroyed when closed).
  for (GList* l = gtk_application_get_windows(app_); l; l = l->next)
    if (gtk_widget_get_visible(GTK_WIDGET(l->data))) return;
  if (hasAlreadyLanuched && windowController && applicationShouldTerminateAfterLastWindowClosed()) quit();
}

void AppDelegate::fileArgumentsOpened(const std::vector<std::string>& paths) {
  if (endingInstance_) {
    // Before the launch this is the process's own command line, and the
    // signal asked it to end rather than to open anything.
    if (hasAlreadyLanuched)
      handOverToNewInstance(paths);
    else
      log().info("ending before the launch: not opening {} file(s)", paths.size());
    return;
  }
  if (!hasAlreadyLanuched) applicationDidFinishLaunching();
  // The page that receives the files is shown with them.
  if (hasAlreadyLanuched) openMainWindow();
  if (!paths.empty()) application_openFiles(paths);  // what was left out is logged already
}

void AppDelegate::reactivated() {
  if (endingInstance_) {
    if (hasAlreadyLanuched) handOverToNewInstance({});  // else this start's own activation
    return;
  }
  if (!hasAlreadyLanuched) {
    applicationDidFinishLaunching();
    return;
  }
  // A second start without files: re-activation.
  const bool visible = windowController && gtk_widget_get_visible(GTK_WIDGET(windowController->window()));
  applicationShouldHandleReopen(visible);
}

void AppDelegate::giveUpInstance() {
  endingInstance_ = true;
  // The main loop runs the termination steps to their end, even when no
  // window holds the application yet.
  g_application_hold(G_APPLICATION(app_));
  GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(app_));
  if (bus && releaseInstanceName(bus, applicationId()))
    log().info("gave up the single-instance name {}: a new start runs as a new instance", applicationId());
  // The server keeps its port to the end: WebKit's processes keep what the
  // page stored until then. A new start waits for this one instead (it
  // finds the mark), so the page comes back on its origin with its data.
  if (httpServer && httpServer->isRunning() && !isAbsentText(Utils::sharedInstance().getAppIdentifier())) {
    Utils::sharedInstance().userDefaults().setObjectAndSynchronize(kEndingServerPidKey,
                                                                   static_cast<int64_t>(::getpid()));
  }
}

void AppDelegate::handOverToNewInstance(const std::vector<std::string>& paths) {
  // Came in just before this instance gave up its name.
  log().info("this instance is ending: passing {} on to a new instance",
             paths.empty() ? std::string("the re-activation") : std::to_string(paths.size()) + " file(s)");
  if (auto exe = installedExecutable(startExecutablePath()))
    relaunchDetached(*exe, Utils::sharedInstance().bundle().bundlePath(), paths, false);
}

int AppDelegate::startOrHandOver() {
  GApplication* app = G_APPLICATION(app_);
  GError* error = nullptr;
  launchStep("registering on the session bus");
  // The first instance runs its launch inside this call (startup).
  if (!g_application_register(app, nullptr, &error)) {
    log().error("cannot register the application {}: {}", applicationId(), error ? error->message : "");
    if (error) g_error_free(error);
    return 1;
  }
  if (!g_application_get_dbus_connection(app)) {
    // GApplication runs without a bus as an instance of its own.
    std::string why;
    keepRunningWhenTheSessionBusGoes(nullptr, &why);
    log().warn("no session bus ({}): this start cannot hand over to a running instance and runs on its own",
               why.empty() ? "the bus is gone" : why);
  } else if (g_application_get_is_remote(app) && dev_) {
    // Development mode belongs to this start; handing over would lose it.
    log().error("{} already runs; quit it to run it in development mode", applicationId());
    std::fprintf(stderr, "corvane: %s already runs: quit it first to run it in development mode\n",
                 applicationId().c_str());
    return 1;
  } else if (g_application_get_is_remote(app)) {
    const std::string ours = Utils::sharedInstance().bundle().bundlePath();
    auto theirs = runningBundle(g_application_get_dbus_connection(app), applicationId(), 5000);
    if (!theirs)
      log().info("handing over to the running instance of {}", applicationId());
    else if (*theirs == ours)
      log().info("handing over to the running instance of {} at {}", applicationId(), *theirs);
    else
      log().warn("handing over to the running instance of {}: another bundle, {}, runs under that identifier",
                 applicationId(), *theirs);
  }
  if (filesToOpen_.empty()) {
    g_application_activate(app);
  } else {
    std::vector<GFile*> files;
    for (const auto& p : filesToOpen_) files.push_back(g_file_new_for_path(p.c_str()));
    g_application_open(app, files.data(), static_cast<gint>(files.size()), "");
    for (GFile* f : files) g_object_unref(f);
  }
  return 0;
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

void AppDelegate::private_process_native_app_rate_remind(const std::optional<nlohmann::json>& x) {
  startRateReminder(x, windowController->window());
}

std::string AppDelegate::applicationId() {
  // One running instance per bundle identifier. An identifier that is not
  // a valid application id is mapped onto one, stably.
  const std::string id = Utils::sharedInstance().bundle().identifier();
  if (g_application_id_is_valid(id.c_str())) return id;
  return "app.corvane.id" + Utils::md5Digest(id).substr(0, 16);
}

GDBusConnection* AppDelegate::openDisplayWhileConnectingToTheBus() {
  // GApplication's registration connects to the session bus, and GTK's
  // start-up then opens the display: each takes a moment of waiting on
  // another process, and neither needs the other. The bus is connected on
  // a thread while this one opens the display; the registration finds the
  // shared connection made. The reference held keeps it the shared one
  // until GApplication holds its own.
  GDBusConnection* bus = nullptr;
  std::thread connect([&bus] {
    setCurrentThreadName("sessionBusConnect");
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);  // the registration reports a failure
  });
  // Without a display GTK's own start-up says so, as it always has; a
  // start that hands its files to a running instance needs none.
  gtk_init_check(nullptr, nullptr);
  connect.join();
  launchStep("display opened and session bus connected");
  return bus;
}

int AppDelegate::run(int argc, char** argv, const CommandLine& cli) {
  MainQueue::initOnMainThread();
  // No configuration, no window: this may end the process with 3912.
  Utils::sharedInstance().getMainconfigDic();
  launchStep("main configuration read");
  // Window positions exist only on X11: prefer it (XWayland under a Wayland
  // session) unless GDK_BACKEND says otherwise or "AppExInfo" opts into
  // native Wayland with "preferNativeWayland".
  if (!std::getenv("GDK_BACKEND")) {
    auto x = Utils::sharedInstance().getAppExConfigDic();
    const bool wayland = x && x->is_object() && x->contains("preferNativeWayland") &&
                         jsonBoolValue((*x)["preferNativeWayland"]);
    if (!wayland) gdk_set_allowed_backends("x11,*");
  }

  AppDelegate delegate;
  delegate.dev_ = cli.dev;
  delegate.devUrl_ = cli.devUrl;
  if (const char* shot = std::getenv("CORVANE_SCREENSHOT")) delegate.screenshotPath_ = shot;
  if (const char* q = std::getenv("CORVANE_SCREENSHOT_QUIT")) delegate.screenshotQuit_ = std::string(q) == "1";

  installFileIconWriter();
  keepRunningWhenTheSystemBusGoes();
  // A relaunched instance lets its predecessor finish before it claims
  // the application's name on the session bus.
  waitForPredecessor();
  GDBusConnection* sessionBus = openDisplayWhileConnectingToTheBus();
  launchStep("making the application");
  delegate.app_ = gtk_application_new(applicationId().c_str(), G_APPLICATION_HANDLES_OPEN);
  g_signal_connect(delegate.app_, "startup", signalHandler([](GApplication*, gpointer d) {
                     static_cast<AppDelegate*>(d)->applicationWillFinishLaunching();
                   }),
                   &delegate);
  g_signal_connect(delegate.app_, "activate", signalHandler([](GApplication*, gpointer d) {
                     static_cast<AppDelegate*>(d)->reactivated();
                   }),
                   &delegate);
  g_signal_connect(delegate.app_, "open",
                   G_CALLBACK(+[](GApplication*, GFile** files, gint count, gchar*, gpointer d) {
                     std::vector<std::string> paths;
                     for (gint i = 0; i < count; ++i) {
                       gchar* p = g_file_get_path(files[i]);
                       if (p) {
                         paths.emplace_back(p);
                       } else {
                         gchar* uri = g_file_get_uri(files[i]);
                         log().warn("not opening {}: it is not a local file, and the page receives file paths only",
                                    uri ? uri : "");
                         g_free(uri);
                       }
                       g_free(p);
                     }
                     static_cast<AppDelegate*>(d)->fileArgumentsOpened(paths);
                   }),
                   &delegate);
  g_signal_connect(delegate.app_, "shutdown", signalHandler([](GApplication*, gpointer d) {
                     static_cast<AppDelegate*>(d)->applicationWillTerminate();
                   }),
                   &delegate);
  g_signal_connect(delegate.app_, "window-removed", signalHandler([](GtkApplication*, GtkWindow*, gpointer d) {
                     static_cast<AppDelegate*>(d)->quitIfNoWindowIsLeft();
                   }),
                   &delegate);
  // Every argument is read already; GApplication and GTK see none of them,
  // so no file name is ever taken for one of their options.
  gchar* cwd = g_get_current_dir();
  const FilesToOpen files = filesToOpen(cli.files, cwd);
  g_free(cwd);
  for (const auto& why : files.skipped) log().warn("{}", why);
  delegate.filesToOpen_ = files.paths;
  g_signal_connect(delegate.app_, "handle-local-options",
                   signalHandler([](GApplication*, GVariantDict*, gpointer d) -> gint {
                     return static_cast<AppDelegate*>(d)->startOrHandOver();
                   }),
                   &delegate);
  char* programOnly[] = {argv[0], nullptr};
  (void)argc;
  int status = g_application_run(G_APPLICATION(delegate.app_), 1, programOnly);
  g_signal_handlers_disconnect_by_data(delegate.app_, &delegate);
  if (sessionBus) g_object_unref(sessionBus);
  if (delegate.windowController) delegate.windowController->contentView->delegate->flush();
  delegate.requestedWindow_.reset();
  delegate.windowController.reset();
  g_object_unref(delegate.app_);
  return delegate.exitStatus_ != 0 ? delegate.exitStatus_ : status;
}

}  // namespace corvane
