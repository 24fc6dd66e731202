#include "services/App.h"

#include "app/Relaunch.h"
#include "app/LocalAddress.h"
#include "app/Log.h"
#include "ui/DesktopOpen.h"
#include "app/LoginItem.h"
#include "app/MailtoUrl.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"
#include "bridge/JSEventHelper.h"
#include "bridge/UtilTool.h"
#include "services/ActivationWatcher.h"
#include "services/SleepWatcher.h"

#include <gdk/gdk.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/extensions/scrnsaver.h>
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cctype>
#include <ctime>
#include <fstream>
#include <iterator>

namespace corvane {
namespace {

Utils& u() { return Utils::sharedInstance(); }

std::vector<GtkWindow*> appWindows() {
  std::vector<GtkWindow*> out;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next) {
    auto* w = GTK_WINDOW(l->data);
    if (gtk_window_get_window_type(w) == GTK_WINDOW_TOPLEVEL) out.push_back(w);
  }
  g_list_free(all);
  return out;
}

GtkWindow* mainWindow() {
  for (GtkWindow* w : appWindows())
    if (gtk_widget_get_visible(GTK_WIDGET(w))) return w;
  auto all = appWindows();
  return all.empty() ? nullptr : all.front();
}

void openUri(const std::string& uri) {
  std::string why;
  if (!openOnDesktop(uri, nullptr, &why)) log().info("cannot open {}: {}", uri, why);
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

}  // namespace

App::App(std::shared_ptr<PageScript> page, WebKitWebView* webView)
    : page_(std::move(page)), webView_(webView) {
  const Bundle& b = u().bundle();
  name_ = u().getAppName();
  ver_ = b.infoText("CFBundleShortVersionString");
  buildVer_ = b.infoText("CFBundleVersion");
  copyright_ = b.infoText("NSHumanReadableCopyright");
  notes_ = b.infoText("ZavrelonAppNotes");
  identifier_ = b.infoText("CFBundleIdentifier");

  sleep_ = std::make_unique<SleepWatcher>([this](bool sleeping) {
    if (sleeping)
      machineWillSleep();
    else
      machineDidWake();
  });
  activation_ = std::make_unique<ActivationWatcher>(
      [this](const std::string& n, const std::string& url) { applicationActivated(n, url); });
  if (webView_) {
    // The web view may go before this object does.
    g_object_add_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
  }
  u().getSandboxEnable();
}

App::~App() {
  if (webView_) {
    g_object_remove_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
  }
}

nlohmann::json App::infoDictionary() const { return u().bundle().infoDictionary(); }

// ---- the application ----------------------------------------------------------

void App::terminate() {
  // A normal quit: the application's shutdown runs the will-terminate steps.
  if (GApplication* app = g_application_get_default())
    g_application_quit(app);
  else
    gtk_main_quit();
}

void App::relaunch() {
  u().wantRelaunch = true;
  terminate();
}

void App::activate() {
  if (GtkWindow* w = mainWindow()) {
    gtk_widget_show(GTK_WIDGET(w));
    gtk_window_deiconify(w);
    gtk_window_present_with_time(w, GDK_CURRENT_TIME);
  }
}

void App::hide() {
  for (GtkWindow* w : appWindows())
    if (gtk_widget_get_visible(GTK_WIDGET(w))) gtk_window_iconify(w);
}

void App::unhide() {
  for (GtkWindow* w : appWindows())
    if (gtk_widget_get_visible(GTK_WIDGET(w))) gtk_window_deiconify(w);
}

void App::beep() {
  if (GdkDisplay* d = gdk_display_get_default()) gdk_display_beep(d);
}

void App::bounce() {
  // The urgency hint is the desktop's "wants attention"; the window
  // manager clears it when the window gets the focus.
  if (GtkWindow* w = mainWindow()) gtk_window_set_urgency_hint(w, TRUE);
}

void App::open(const std::string& url) {
  // U+0000 ends the text for the URI checks and the launcher: a URL holding
  // one would open its prefix, so it is no URL at all.
  if (url.empty() || url.find('\0') != std::string::npos || !g_uri_is_valid(url.c_str(), G_URI_FLAGS_NONE, nullptr))
    return;
  openUri(url);
}

void App::launch(const std::string& appName) {
  if (appName.empty()) return;
  const std::string wanted = lower(appName);
  GList* all = g_app_info_get_all();
  GAppInfo* found = nullptr;
  for (GList* l = all; l && !found; l = l->next) {
    auto* info = G_APP_INFO(l->data);
    const char* id = g_app_info_get_id(info);
    const char* name = g_app_info_get_name(info);
    const char* display = g_app_info_get_display_name(info);
    const char* exe = g_app_info_get_executable(info);
    std::string idBase = id ? lower(id) : "";
    if (idBase.size() > 8 && idBase.substr(idBase.size() - 8) == ".desktop")
      idBase.resize(idBase.size() - 8);
    if ((name && lower(name) == wanted) || (display && lower(display) == wanted) ||
        idBase == wanted || (exe && lower(Utils::getFileName(exe)) == wanted))
      found = G_APP_INFO(g_object_ref(info));
  }
  g_list_free_full(all, g_object_unref);
  if (!found) {
    log().info("no application named {}", appName);
    return;
  }
  GError* error = nullptr;
  if (!g_app_info_launch(found, nullptr, nullptr, &error)) {
    log().info("cannot launch {}: {}", appName, error->message);
    g_error_free(error);
  }
  g_object_unref(found);
}

void App::openFile(const std::string& path) {
  if (!Utils::checkPathisExists(path)) return;
  GFile* file = g_file_new_for_path(path.c_str());
  gchar* uri = g_file_get_uri(file);
  openUri(uri);
  g_free(uri);
  g_object_unref(file);
}

void App::sendEmail(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  openUri(mailtoUrl(UtilTool::stringValue(params, "toAddress"), UtilTool::stringValue(params, "subject"),
                    UtilTool::stringValue(params, "body")));
}

nlohmann::json App::getAppArgv() const {
  // The process's own argument vector, NUL-separated.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  nlohmann::json out = nlohmann::json::array();
  size_t start = 0;
  bool first = true;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (!first) out.push_back(all.substr(start, end - start));
    first = false;
    start = end + 1;
  }
  return out;
}

std::string App::getAppRunOnOS() const { return "Linux"; }

// ---- login item, user agent, idle time --------------------------------------

static LoginItem loginItem() {
  return LoginItem(u().bundle().identifier(), u().bundle().bundlePath(), u().getAppName(),
                   startExecutablePath());
}

bool App::isStartAtLogin() const { return loginItem().isStartAtLogin(); }
void App::setStartAtLogin(bool wish) { loginItem().setStartAtLogin(wish); }

namespace {

// The settings of one web view alone. One settings object serves every view
// of the process, so a view that needs a value of its own (its user agent)
// first gets a copy of the shared values.
WebKitSettings* ownSettings(WebKitWebView* view) {
  static const GQuark kOwn = g_quark_from_static_string("corvane-own-settings");
  WebKitSettings* current = webkit_web_view_get_settings(view);
  if (g_object_get_qdata(G_OBJECT(view), kOwn) == current) return current;
  WebKitSettings* own = webkit_settings_new();
  guint count = 0;
  GParamSpec** specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(current), &count);
  for (guint i = 0; i < count; ++i) {
    GParamSpec* spec = specs[i];
    // Retired preferences complain when touched at all and mean nothing.
    if (!(spec->flags & G_PARAM_READABLE) || !(spec->flags & G_PARAM_WRITABLE) ||
        (spec->flags & (G_PARAM_CONSTRUCT_ONLY | G_PARAM_DEPRECATED)))
      continue;
    GValue shared = G_VALUE_INIT, fresh = G_VALUE_INIT;
    g_value_init(&shared, spec->value_type);
    g_value_init(&fresh, spec->value_type);
    g_object_get_property(G_OBJECT(current), spec->name, &shared);
    g_object_get_property(G_OBJECT(own), spec->name, &fresh);
    // Only what differs from a fresh object's value.
    if (g_param_values_cmp(spec, &shared, &fresh) != 0) g_object_set_property(G_OBJECT(own), spec->name, &shared);
    g_value_unset(&shared);
    g_value_unset(&fresh);
  }
  g_free(specs);
  webkit_web_view_set_settings(view, own);
  g_object_set_qdata(G_OBJECT(view), kOwn, own);
  g_object_unref(own);
  return own;
}

// What navigator shows for an agent; WebKit's appVersion is the agent
// without its "Mozilla/" head.
std::string navigatorOverride(const std::string& agent) {
  const std::string version = agent.rfind("Mozilla/", 0) == 0 ? agent.substr(8) : agent;
  return "(function(){function d(n,v){try{Object.defineProperty(navigator,n,{get:function(){return v;},"
         "configurable:true});}catch(e){}}d('userAgent'," +
         UtilTool::argumentsAsJSON(agent) + ");d('appVersion'," + UtilTool::argumentsAsJSON(version) + ");})();";
}

}  // namespace

void App::setCustomUserAgent(const std::string& agent) {
  // A header value cannot hold U+0000, and WebKit would take the text up
  // to it as the whole agent; the agent stays as it was.
  if (agent.find('\0') != std::string::npos) {
    log().info("user agent not changed: the text holds U+0000");
    return;
  }
  if (!webView_) return;
  WebKitSettings* settings = ownSettings(webView_);
  webkit_settings_set_user_agent(settings, agent.c_str());
  // The new agent reaches the web process with its next messages, after
  // the calling script has gone on. The page's navigator shows it at once;
  // requests and later documents get it from WebKit itself.
  page_->evaluate(navigatorOverride(webkit_settings_get_user_agent(settings)));
}

double App::systemIdleTime() const {
#ifdef GDK_WINDOWING_X11
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) {
    Display* dpy = gdk_x11_display_get_xdisplay(display);
    int event = 0, error = 0;
    if (XScreenSaverQueryExtension(dpy, &event, &error)) {
      XScreenSaverInfo* info = XScreenSaverAllocInfo();
      double idle = 0;
      if (XScreenSaverQueryInfo(dpy, DefaultRootWindow(dpy), info)) idle = info->idle / 1000.0;
      XFree(info);
      return idle;
    }
  }
#endif
  return 0;
}

// ---- facts ---------------------------------------------------------------------

bool App::getSandboxEnable() const { return u().getSandboxEnable(); }

ScriptResult App::getUserDefaultInfoString() const {
  try {
    nlohmann::json all = UserDefaults::systemDomain();
    const nlohmann::json own = u().userDefaults().dictionaryRepresentation();
    for (auto it = own.begin(); it != own.end(); ++it) all[it.key()] = it.value();
    return nlohmann::json(Utils::convertDictionaryToJSON(all));
  } catch (const std::exception&) {
    return nlohmann::json("");
  }
}

uint64_t App::getNowTimeStamp() const { return static_cast<uint64_t>(std::time(nullptr)); }
int64_t App::getHttpServerPort() const { return u().http_server_port; }

bool App::getIAPEnable() const {
  auto config = u().getMainconfigDic();
  if (!config) return false;
  auto it = config->find("EnableIAP");
  return it != config->end() && jsonBoolValue(*it);
}

uint64_t App::fileSizeAtPath(const std::string& p) const { return Utils::fileSizeAtPath(p); }
uint64_t App::diskSizeAtPath(const std::string& p) const { return Utils::diskSizeAtPath(p); }
std::string App::getFileSizeString1000(const nlohmann::json& b) const {
  return UtilTool::getFileSizeString(UtilTool::byteCount(b), true);
}
std::string App::getFileSizeString1024(const nlohmann::json& b) const {
  return UtilTool::getFileSizeString(UtilTool::byteCount(b), false);
}
std::string App::md5Digest(const std::string& t) const { return Utils::md5Digest(t); }
std::string App::curAppleLanguage() const { return u().curAppleLanguage(); }
std::string App::curUserLanguage() const { return u().curUserLanguage(); }
bool App::setUserLanguage(const std::string& l) const { return u().setUserLanguage(l); }
std::string App::curAppleSupportLanguagesJSONString() const { return u().curAppleSupportLanguagesJSONString(); }
std::string App::ex_getBuyURL() const { return u().ex_getBuyURL(); }
std::string App::ex_getFAQURL() const { return u().ex_getFAQURL(); }
std::string App::ex_getHomePageURL() const { return u().ex_getHomePageURL(); }
std::string App::ex_getDocumentPageURL() const { return u().ex_getDocumentPageURL(); }
std::string App::ex_getRoadmapPageURL() const { return u().ex_getRoadmapPageURL(); }
std::string App::ex_getReportIssuePageURL() const { return u().ex_getReportIssuePageURL(); }
std::string App::ex_getViewLicensePageURL() const { return u().ex_getViewLicensePageURL(); }
std::string App::ex_getReleaseNotesPageURL() const { return u().ex_getReleaseNotesPageURL(); }
std::string App::ex_getCheckForUpdatePageURL() const { return u().ex_getCheckForUpdatePageURL(); }
std::string App::getLocalIP() const { return firstLocalIPv4(); }

// ---- events ----------------------------------------------------------------------

void App::machineWillSleep() { JSEventHelper::triggerEvent("sleep", page_); }
void App::machineDidWake() { JSEventHelper::triggerEvent("wake", page_); }

void App::applicationActivated(const std::string& localizedName, const std::string& bundleURL) {
  JSEventHelper::triggerEvent("appActivated",
                              nlohmann::json{{"localizedName", localizedName}, {"bundleURL", bundleURL}},
                              page_);
}

// ---- the script face ---------------------------------------------------------

const ServiceClass& App::serviceClass() const {
  static const ServiceClass cls =
      ServiceClass::Builder<App>("App")
          .method("terminate", &App::terminate)
          .method("relaunch", &App::relaunch)
          .method("activate", &App::activate)
          .method("hide", &App::hide)
          .method("unhide", &App::unhide)
          .method("beep", &App::beep)
          .method("bounce", &App::bounce)
          .method("open:", &App::open)
          .method("launch:", &App::launch)
          .method("openFile:", &App::openFile)
          .method("sendEmail:", &App::sendEmail)
          .method("getAppArgv", &App::getAppArgv)
          .method("getAppName", &App::getAppName)
          .method("getAppVersion", &App::getAppVersion)
          .method("getAppBuildVersion", &App::getAppBuildVersion)
          .method("getAppIdentifier", &App::getAppIdentifier)
          .method("getAppRunOnOS", &App::getAppRunOnOS)
          .method("isStartAtLogin", &App::isStartAtLogin)
          .method("setStartAtLogin:", &App::setStartAtLogin)
          .method("setCustomUserAgent:", &App::setCustomUserAgent)
          .method("systemIdleTime", &App::systemIdleTime)
          .method("getSandboxEnable", &App::getSandboxEnable)
          .method("getUserDefaultInfoString", &App::getUserDefaultInfoString)
          .method("getNowTimeStamp", &App::getNowTimeStamp)
          .method("getHttpServerPort", &App::getHttpServerPort)
          .method("getIAPEnable", &App::getIAPEnable)
          .method("fileSizeAtPath:", &App::fileSizeAtPath)
          .method("diskSizeAtPath:", &App::diskSizeAtPath)
          .method("getFileSizeString1000:", &App::getFileSizeString1000)
          .method("getFileSizeString1024:", &App::getFileSizeString1024)
          .method("md5Digest:", &App::md5Digest)
          .method("curAppleLanguage", &App::curAppleLanguage)
          .method("curUserLanguage", &App::curUserLanguage)
          .method("setUserLanguage:", &App::setUserLanguage)
          .method("curAppleSupportLanguagesJSONString", &App::curAppleSupportLanguagesJSONString)
          .method("ex_getBuyURL", &App::ex_getBuyURL)
          .method("ex_getFAQURL", &App::ex_getFAQURL)
          .method("ex_getHomePageURL", &App::ex_getHomePageURL)
          .method("ex_getDocumentPageURL", &App::ex_getDocumentPageURL)
          .method("ex_getRoadmapPageURL", &App::ex_getRoadmapPageURL)
          .method("ex_getReportIssuePageURL", &App::ex_getReportIssuePageURL)
          .method("ex_getViewLicensePageURL", &App::ex_getViewLicensePageURL)
          .method("ex_getReleaseNotesPageURL", &App::ex_getReleaseNotesPageURL)
          .method("ex_getCheckForUpdatePageURL", &App::ex_getCheckForUpdatePageURL)
          .method("getLocalIP", &App::getLocalIP)
          .method("registerNewXPCService:", &App::registerNewXPCService)
          .method("unRegisterXPCService:", &App::unRegisterXPCService)
          .method("hasXPCService:", &App::hasXPCService)
          .method("resumeXPCService:", &App::resumeXPCService)
          .method("suspendXPCService:", &App::suspendXPCService)
          .method("invalidateXPCService:", &App::invalidateXPCService)
          .method("sendMessageToXPCService:", &App::sendMessageToXPCService)
          .method("name", &App::name)
          .method("ver", &App::ver)
          .method("build_ver", &App::build_ver)
          .method("copyright", &App::copyright)
          .method("notes", &App::notes)
          .method("identifier", &App::identifier)
          .method("infoDictionary", &App::infoDictionary)
          .scriptNames({
              {"terminate", "terminate"},
              {"relaunch", "relaunch"},
              {"activate", "activate"},
              {"hide", "hide"},
              {"unhide", "unhide"},
              {"beep", "beep"},
              {"bounce", "bounce"},
              {"open:", "open"},
              {"launch:", "launch"},
              {"openFile:", "openFile"},
              {"sendEmail:", "sendEmailWithMail"},
              {"getAppArgv", "getAppArgv"},
              {"getAppName", "getAppName"},
              {"getAppVersion", "getAppVersion"},
              {"getAppBuildVersion", "getAppBuildVersion"},
              {"getAppIdentifier", "getAppIdentifier"},
              {"getAppRunOnOS", "getAppRunOnOS"},
              {"isStartAtLogin", "isStartAtLogin"},
              {"setStartAtLogin:", "setStartAtLogin"},
              {"setCustomUserAgent:", "setCustomUserAgent"},
              {"systemIdleTime", "systemIdleTime"},
              {"getSandboxEnable", "getSandboxEnable"},
              {"getUserDefaultInfoString", "getUserDefaultInfoString"},
              {"getNowTimeStamp", "getNowTimeStamp"},
              {"getHttpServerPort", "getHttpServerPort"},
              {"getIAPEnable", "getIAPEnable"},
              {"fileSizeAtPath:", "fileSizeAtPath"},
              {"diskSizeAtPath:", "diskSizeAtPath"},
              {"getFileSizeString1000:", "getFileSizeString1000"},
              {"getFileSizeString1024:", "getFileSizeString1024"},
              {"md5Digest:", "md5Digest"},
              {"curAppleLanguage", "curAppleLanguage"},
              {"curUserLanguage", "curUserLanguage"},
              {"setUserLanguage:", "setUserLanguage"},
              {"curAppleSupportLanguagesJSONString", "curAppleSupportLanguagesJSONString"},
              {"ex_getBuyURL", "getBuyURL"},
              {"ex_getFAQURL", "getFAQURL"},
              {"ex_getHomePageURL", "getHomePageURL"},
              {"ex_getDocumentPageURL", "getDocumentPageURL"},
              {"ex_getRoadmapPageURL", "getRoadmapPageURL"},
              {"ex_getReportIssuePageURL", "getReportIssuePageURL"},
              {"ex_getViewLicensePageURL", "getViewLicensePageURL"},
              {"ex_getReleaseNotesPageURL", "getReleaseNotesPageURL"},
              {"ex_getCheckForUpdatePageURL", "getCheckForUpdatePageURL"},
              {"registerNewXPCService:", "registerNewXPCService"},
              {"unRegisterXPCService:", "unRegisterXPCService"},
              {"hasXPCService:", "hasXPCService"},
              {"resumeXPCService:", "resumeXPCService"},
              {"suspendXPCService:", "suspendXPCService"},
              {"invalidateXPCService:", "invalidateXPCService"},
              {"sendMessageToXPCService:", "sendMessageToXPCService"},
          })
          .build();
  return cls;
}

}  // namespace corvane
