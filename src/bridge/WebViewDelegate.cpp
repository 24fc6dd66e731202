#include "bridge/WebViewDelegate.h"

#include "bridge/GSignal.h"

#include "app/LaunchTrace.h"
#include "app/Log.h"
#include "ui/DesktopOpen.h"
#include "app/TerminationSignal.h"
#include "app/Utils.h"
#include "bridge/BridgeProtocol.h"
#include "bridge/BridgeSchema.h"
#include "bridge/PageConnection.h"
#include "server/HttpServer.h"
#include "services/App.h"
#include "services/Clipboard.h"
#include "services/Dock.h"
#include "services/Fonts.h"
#include "services/IAP.h"
#include "services/MenuItemProxy.h"
#include "services/MenuProxy.h"
#include "services/Notice.h"
#include "services/Path.h"
#include "services/Sound.h"
#include "services/Tray.h"
#include "services/WebMenuItemSettings.h"
#include "services/BinaryFileWriter.h"
#include "services/Window.h"
#include "ui/Alert.h"

#include <gio/gunixfdlist.h>
#include <unistd.h>

namespace corvane {

namespace {

std::string g_startPage;
std::vector<std::string> g_applicationFolders;
WebViewDelegate::ExtraMembers g_extraMembers;
std::function<void(GtkDialog*)> g_panelObserver;

constexpr int kFirstButton = 1000;

int runPanel(GtkWidget* parent, const char* message, std::initializer_list<const char*> buttons) {
  GtkWidget* dialog = gtk_message_dialog_new(parent ? GTK_WINDOW(parent) : nullptr, GTK_DIALOG_MODAL,
                                             GTK_MESSAGE_WARNING, GTK_BUTTONS_NONE, "%s", message);
  int id = kFirstButton;
  for (const char* label : buttons) gtk_dialog_add_button(GTK_DIALOG(dialog), label, id++);
  if (g_panelObserver) g_panelObserver(GTK_DIALOG(dialog));
  int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return response;
}

void openWithDesktop(const char* uri) {
  std::string why;
  if (uri && !openOnDesktop(uri, nullptr, &why)) log().error("could not open {}: {}", uri, why);
}

}  // namespace

void WebViewDelegate::setApplicationStartPage(const std::string& uri) { g_startPage = uri; }
void WebViewDelegate::addApplicationFolder(const std::string& path) {
  if (Utils::checkPathIsDir(path)) g_applicationFolders.push_back(path);
}
void WebViewDelegate::setExtraMembers(ExtraMembers make) { g_extraMembers = std::move(make); }
void WebViewDelegate::setPanelObserver(std::function<void(GtkDialog*)> observer) {
  g_panelObserver = std::move(observer);
}

WebViewDelegate::WebViewDelegate(GtkWidget* menu) : mainMenu(menu), page_(std::make_shared<PageScript>()) {}

WebViewDelegate::~WebViewDelegate() {
  if (servicesIdle_) g_source_remove(servicesIdle_);
  if (connection_) {
    connection_->close();
    connection_.reset();
  }
  if (webView_) g_signal_handlers_disconnect_by_data(webView_, this);
}

const ServiceClass& WebViewDelegate::serviceClass() const {
  // Every selector is hidden; no field is: the members are the fields.
  static const ServiceClass cls = ServiceClass::Builder<WebViewDelegate>("WebViewDelegate")
                                      .field("requestedWindow")
                                      .field("mainMenu")
                                      .excludeSelectors([](const std::string&) { return true; })
                                      .excludeKeys([](const std::string&) { return false; })
                                      .build();
  return cls;
}

nlohmann::json WebViewDelegate::fieldValue(const std::string&) const {
  // Neither field has a script face of its own yet.
  return nullptr;
}

void WebViewDelegate::attach(WebKitWebView* webView) {
  webView_ = webView;
  g_signal_connect(webView, "user-message-received", G_CALLBACK(onUserMessage), this);
  g_signal_connect(webView, "script-dialog", G_CALLBACK(onScriptDialog), this);
  g_signal_connect(webView, "run-file-chooser", G_CALLBACK(onRunFileChooser), this);
  g_signal_connect(webView, "create", G_CALLBACK(onCreate), this);
  g_signal_connect(webView, "decide-policy", G_CALLBACK(onDecidePolicy), this);
  g_signal_connect(webView, "context-menu", G_CALLBACK(onContextMenu), this);
  g_signal_connect(webView, "web-process-terminated", G_CALLBACK(onTerminated), this);
  // The page's first window-object clear waits for the answer to its hello,
  // which needs the service objects (folder queries, bus subscriptions).
  // Make them while the web process starts, as soon as the main loop is
  // free: made once it has connected, they would hold the main loop while
  // that process loads the page and asks this one for its navigation
  // policy and its hello.
  servicesIdle_ = g_idle_add(
      +[](gpointer self) -> gboolean {
        auto* d = static_cast<WebViewDelegate*>(self);
        d->servicesIdle_ = 0;
        d->ensureServices();
        return G_SOURCE_REMOVE;
      },
      this);
}

uint32_t WebViewDelegate::classIndex(const ServiceClass& cls) {
  for (uint32_t i = 0; i < classes_.size(); ++i)
    if (classes_[i] == &cls) return i;
  classes_.push_back(&cls);
  return static_cast<uint32_t>(classes_.size() - 1);
}

uint32_t WebViewDelegate::registerObject(ServiceObject& object) {
  auto it = objectIds_.find(&object);
  if (it != objectIds_.end()) return it->second;
  classIndex(object.serviceClass());
  const uint32_t id = nextObjectId_++;
  objects_.emplace(id, &object);
  objectIds_[&object] = id;
  return id;
}

nlohmann::json WebViewDelegate::refFor(ServiceObject& object) {
  uint32_t id = registerObject(object);
  return {{bridge::kObjectMarker, id}, {bridge::kClassMarker, classIndex(object.serviceClass())}};
}

ServiceObject* WebViewDelegate::objectById(uint32_t id) const {
  auto it = objects_.find(id);
  return it == objects_.end() ? nullptr : it->second;
}

const ServiceClass* WebViewDelegate::classAt(uint32_t index) const {
  return index < classes_.size() ? classes_[index] : nullptr;
}

void WebViewDelegate::forgetObject(ServiceObject& object) {
  auto it = objectIds_.find(&object);
  if (it == objectIds_.end()) return;
  objects_.erase(it->second);
  objectIds_.erase(it);
}

ScriptResult WebViewDelegate::callMethod(uint32_t object, const ServiceClass& cls, size_t method, BridgeCall& call,
                                         const std::function<ScriptArgs()>& arguments) {
  const ScriptMethod& m = cls.scriptMethods().at(method);
  ServiceObject* target = objectById(object);
  if (target && &target->serviceClass() == &cls) return m.invoke(*target, call, arguments());
  // An object handed out earlier and gone since: its class answers. The
  // id alone says so (ids are never reused), so nothing of it is kept.
  if (!target && object < nextObjectId_ && cls.whenGone()) return cls.whenGone()(m.scriptName);
  throw ScriptTypeError(bridge::receiverErrorText(cls.name(), m.scriptName));
}

void WebViewDelegate::ensureServices() {
  if (servicesMade_) return;
  servicesMade_ = true;
  launchStep("making the service objects");
  registerObject(*this);
  // The order of creation is the order of the members; objects that exist
  // stay as they are.
  if (!sound) sound = std::make_unique<Sound>(page_);
  members_.emplace_back("sound", registerObject(*sound));
  if (!dock) dock = std::make_unique<Dock>();
  members_.emplace_back("dock", registerObject(*dock));
  if (!growl) growl = std::make_unique<Growl>();
  members_.emplace_back("growl", registerObject(*growl));
  if (!notice && Notice::available()) notice = std::make_unique<Notice>();
  if (notice) members_.emplace_back("notice", registerObject(*notice));
  if (!path) {
    path = std::make_unique<Path>();
    path->printInfo();
  }
  members_.emplace_back("path", registerObject(*path));
  if (!clipboard) clipboard = std::make_unique<Clipboard>();
  members_.emplace_back("clipboard", registerObject(*clipboard));
  if (!app) app = std::make_unique<App>(page_, webView_);
  members_.emplace_back("app", registerObject(*app));
  if (!window) window = std::make_unique<Window>(page_, webView_, mainMenu);
  members_.emplace_back("window", registerObject(*window));
  if (!fonts) fonts = std::make_unique<Fonts>();
  members_.emplace_back("fonts", registerObject(*fonts));
  if (!menu) menu = MenuProxy::proxyWithContext(page_, mainMenu, this);
  members_.emplace_back("menu", registerObject(*menu));
  classIndex(MenuItemProxy::scriptClass());  // items reach scripts later
  if (!menuitems_settings) menuitems_settings = std::make_unique<WebMenuItemSettings>(page_);
  members_.emplace_back("menuitems_settings", registerObject(*menuitems_settings));
  if (!binaryFileWriter) binaryFileWriter = std::make_unique<BinaryFileWriter>(page_, webView_);
  members_.emplace_back("binaryFileWriter", registerObject(*binaryFileWriter));
  if (!iap) iap = std::make_unique<IAP>(page_);
  members_.emplace_back("iap", registerObject(*iap));
  // The tray icon comes last: it is this shell's own addition to the members.
  if (!tray) tray = std::make_unique<Tray>(page_, this);
  members_.emplace_back("tray", registerObject(*tray));
  if (g_extraMembers)
    for (auto& [name, object] : g_extraMembers(*this)) {
      if (!object) continue;
      members_.emplace_back(name, registerObject(*object));
      extraMembers_.push_back(std::move(object));
    }
  launchStep("service objects made");
}

bridge::OriginPolicy WebViewDelegate::applicationPolicy() {
  // What belongs to the application: its bundle, its web UI folder, the
  // start page's folder or origin, the local server and the configured
  // origins. Read afresh, as the configuration is.
  Utils& utils = Utils::sharedInstance();
  bridge::OriginPolicy policy;
  policy.addFileRoot(utils.bundle().bundlePath());
  policy.addFileRoot(utils.path_get_appUIDirPath());
  for (const auto& folder : g_applicationFolders) policy.addFileRoot(folder);
  // Only while our own server listens there (not after the start-only
  // port mode, when anybody may take the port).
  if (const int64_t port = utils.http_server_port.load();
      port > 0 && port <= 65535 && server::HttpServer::servesLoopbackPort(static_cast<uint16_t>(port))) {
    policy.addOrigin("http://localhost:" + std::to_string(port));
    policy.addOrigin("http://127.0.0.1:" + std::to_string(port));
  }
  if (!g_startPage.empty()) {
    if (auto file = bridge::localFilePath(g_startPage)) {
      gchar* dir = g_path_get_dirname(file->c_str());
      policy.addFileRoot(dir);
      g_free(dir);
    } else if (!bridge::OriginPolicy::isFileUri(g_startPage)) {
      policy.addOrigin(g_startPage);
    }
  }
  if (auto ex = utils.getAppExConfigDic(); ex && ex->is_object() && ex->contains("bridgeAllowedOrigins")) {
    const auto& list = (*ex)["bridgeAllowedOrigins"];
    if (list.is_array())
      for (const auto& o : list)
        if (o.is_string()) policy.addOrigin(o.get<std::string>());
  }
  return policy;
}

nlohmann::json WebViewDelegate::helloSchema(const std::string&) {
  launchStep("bridge hello received");
  ensureServices();
  bridge::BridgeSchema schema;
  for (const auto* cls : classes_) {
    bridge::ClassFace face;
    face.name = cls->name();
    for (const auto& m : cls->scriptMethods()) face.methods.push_back(m.scriptName);
    face.fields = cls->scriptFields();
    schema.classes.push_back(std::move(face));
  }
  schema.rootObject = objectIds_.at(this);
  schema.rootClass = classIndex(serviceClass());
  for (const auto& [name, id] : members_)
    schema.members.push_back({name, id, classIndex(objects_.at(id)->serviceClass())});
  schema.globalNames = {"corvane", "quorlix", "ZVRLabJs"};

  schema.policy = applicationPolicy();
  launchStep("bridge hello answered (the first script runs next)", true);
  return schema.toJson();
}

void WebViewDelegate::flush() {
  if (connection_) connection_->flush();
}

// ---- signals ---------------------------------------------------------------

gboolean WebViewDelegate::onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer self) {
  if (g_strcmp0(webkit_user_message_get_name(message), bridge::kConnectMessage) != 0) return FALSE;
  static_cast<WebViewDelegate*>(self)->connect(message);
  return TRUE;
}

void WebViewDelegate::connect(WebKitUserMessage* message) {
  GUnixFDList* fds = webkit_user_message_get_fd_list(message);
  if (!fds || g_unix_fd_list_get_length(fds) != 2) {
    log().error("bridge connection: the page sent no sockets");
    return;
  }
  int bus = g_unix_fd_list_get(fds, 0, nullptr);
  int sync = g_unix_fd_list_get(fds, 1, nullptr);
  if (bus < 0 || sync < 0) {
    if (bus >= 0) ::close(bus);
    if (sync >= 0) ::close(sync);
    return;
  }
  // A new page in the view (a new web process took over): the old one is
  // gone, and a call of it that still waits answers nobody.
  if (connection_) {
    connection_->close();
    connection_.reset();
  }
  launchStep("web process connected (extension loaded)");
  auto connection = std::make_shared<PageConnection>(*this, bus, sync);
  if (!connection->ok()) return;
  connection->attachTo(page_);
  connection_ = std::move(connection);
}

gboolean WebViewDelegate::onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
  return static_cast<WebViewDelegate*>(self)->scriptDialog(dialog);
}

bool WebViewDelegate::scriptDialog(WebKitScriptDialog* dialog) {
  GtkWidget* top = webView_ ? gtk_widget_get_toplevel(GTK_WIDGET(webView_)) : nullptr;
  if (top && !gtk_widget_is_toplevel(top)) top = nullptr;
  const char* message = webkit_script_dialog_get_message(dialog);
  switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_ALERT:
      runPanel(top, message, {"OK"});
      return true;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
      webkit_script_dialog_confirm_set_confirmed(dialog, runPanel(top, message, {"Yes", "No"}) == kFirstButton);
      return true;
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM: {
      // The page has work it does not want lost. Its window comes forward
      // (a hidden main window too), so the question stands beside the work.
      if (top && !gtk_widget_get_visible(top)) gtk_window_present(GTK_WINDOW(top));
      if (beforeUnloadAsked) beforeUnloadAsked();
      const bool leave = runQuestion("Leave this page?", "Changes you made may not be saved.", "_Leave Page",
                                     "_Stay on Page", top ? GTK_WINDOW(top) : nullptr);
      webkit_script_dialog_confirm_set_confirmed(dialog, leave);
      log().info("leave question answered: {}", leave ? "leave" : "stay");
      if (beforeUnloadAnswered) beforeUnloadAnswered(leave);
      return true;
    }
    default:
      return false;  // prompt keeps WebKit's own panel
  }
}

gboolean WebViewDelegate::onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self) {
  return static_cast<WebViewDelegate*>(self)->runFileChooser(request);
}

bool WebViewDelegate::runFileChooser(WebKitFileChooserRequest* request) {
  // One file, never a folder, whatever the field asks for.
  GtkWidget* top = webView_ ? gtk_widget_get_toplevel(GTK_WIDGET(webView_)) : nullptr;
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      nullptr, top && gtk_widget_is_toplevel(top) ? GTK_WINDOW(top) : nullptr, GTK_FILE_CHOOSER_ACTION_OPEN,
      nullptr, nullptr);
  gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), FALSE);
  g_object_set_data_full(G_OBJECT(chooser), "corvane-request", g_object_ref(request), g_object_unref);
  g_signal_connect(chooser, "response", signalHandler([](GtkNativeDialog* d, gint response, gpointer) {
                     auto* req = WEBKIT_FILE_CHOOSER_REQUEST(g_object_get_data(G_OBJECT(d), "corvane-request"));
                     gchar* file = response == GTK_RESPONSE_ACCEPT
                                       ? gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d))
                                       : nullptr;
                     if (file) {
                       const gchar* files[] = {file, nullptr};
                       webkit_file_chooser_request_select_files(req, files);
                       g_free(file);
                     } else {
                       webkit_file_chooser_request_cancel(req);
                     }
                     g_object_unref(d);
                   }),
                   nullptr);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), FALSE);
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
  return true;
}

GtkWidget* WebViewDelegate::onCreate(WebKitWebView* view, WebKitNavigationAction* action, gpointer self) {
  auto* d = static_cast<WebViewDelegate*>(self);
  // Only the application's documents open application windows.
  if (d->judgeNewWindow(action) != bridge::NewWindowVerdict::Application) return nullptr;
  if (!d->createWindowForRequest) return nullptr;
  WebKitWebView* created = d->createWindowForRequest(view);
  if (!created) return nullptr;
  d->requestedWindow = created;
  g_signal_connect(created, "ready-to-show", signalHandler([](WebKitWebView* v, gpointer self) {
                     auto* d = static_cast<WebViewDelegate*>(self);
                     if (d->showRequestedWindow) d->showRequestedWindow(v);
                   }),
                   d);
  return GTK_WIDGET(created);
}

gboolean WebViewDelegate::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                         WebKitPolicyDecisionType type, gpointer self) {
  return static_cast<WebViewDelegate*>(self)->decidePolicy(decision, type);
}

bool WebViewDelegate::decidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return refuseForeignFile(decision);
  if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return false;
  // A navigation aimed at a new window goes to the system's handler; the
  // page stays where it is. Only the application's documents reach every
  // handler (judgeNewWindow).
  auto* action = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (judgeNewWindow(action) == bridge::NewWindowVerdict::Application) openWithDesktop(uri);
  webkit_policy_decision_ignore(decision);
  return true;
}

bridge::NewWindowVerdict WebViewDelegate::judgeNewWindow(WebKitNavigationAction* action) {
  const char* uriC = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  const std::string uri = uriC ? uriC : "";
  const bool gesture = webkit_navigation_action_is_user_gesture(action);
  const auto verdict = bridge::newWindowVerdict(windowRequests_.take(uri), uri, gesture);
  if (verdict == bridge::NewWindowVerdict::Browser) {
    log().info("opening {} in the browser: a document that is not the application's asked for a new window", uri);
    openWithDesktop(uriC);
  } else if (verdict == bridge::NewWindowVerdict::Refused) {
    log().info("new window refused for {}: asked for by a document that is not the application's{}", uri,
               gesture ? "" : ", without the user's action");
  }
  return verdict;
}

bool WebViewDelegate::refuseForeignFile(WebKitPolicyDecision* decision) {
  // Every file: document shares one origin, so a local file that is not the
  // application's could reach the bridge of the application's frames through
  // parent, top or opener. No such document is ever loaded, in any frame.
  auto* action = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (!uri || !bridge::OriginPolicy::isFileUri(uri)) return false;
  const bridge::OriginPolicy policy = applicationPolicy();
  if (policy.allowAll || policy.isApplicationFile(uri)) return false;
  log().info("navigation refused for {}: not a file of the application", uri);
  webkit_policy_decision_ignore(decision);
  return true;
}

int contextMenuTag(WebKitContextMenuAction action, bool separator) {
  if (separator) return 0;
  switch (action) {
    case WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION: return 0;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW: return 1;
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK: return 2;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD: return 3;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW: return 4;
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK: return 5;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD: return 6;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW: return 7;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY: return 8;
    case WEBKIT_CONTEXT_MENU_ACTION_GO_BACK: return 9;
    case WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD: return 10;
    case WEBKIT_CONTEXT_MENU_ACTION_STOP: return 11;
    case WEBKIT_CONTEXT_MENU_ACTION_RELOAD: return 12;
    case WEBKIT_CONTEXT_MENU_ACTION_CUT: return 13;
    case WEBKIT_CONTEXT_MENU_ACTION_PASTE: return 14;
    case WEBKIT_CONTEXT_MENU_ACTION_SPELLING_GUESS: return 15;
    case WEBKIT_CONTEXT_MENU_ACTION_NO_GUESSES_FOUND: return 16;
    case WEBKIT_CONTEXT_MENU_ACTION_IGNORE_SPELLING: return 17;
    case WEBKIT_CONTEXT_MENU_ACTION_LEARN_SPELLING: return 18;
    case WEBKIT_CONTEXT_MENU_ACTION_IGNORE_GRAMMAR: return 19;
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK: return 2;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW: return 4;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_VIDEO_LINK_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_AUDIO_LINK_TO_CLIPBOARD: return 3;
    // Everything WebKit offers beyond the classic set (open link here,
    // select all, input methods, media controls, inspector, custom items)
    // counts as a tag above 23 and stays.
    default: return 2000 + static_cast<int>(action);
  }
}

bool contextMenuTagKept(int tag) {
  switch (tag) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7:
    case 9: case 10: case 11: case 12: case 23:
      return false;
    default:
      return true;
  }
}

gboolean WebViewDelegate::onContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*,
                                        gpointer self) {
  static_cast<WebViewDelegate*>(self)->contextMenu(menu);
  return FALSE;
}

void WebViewDelegate::contextMenu(WebKitContextMenu* menu) {
  GList* items = g_list_copy(webkit_context_menu_get_items(menu));
  for (GList* l = items; l; l = l->next) {
    auto* item = WEBKIT_CONTEXT_MENU_ITEM(l->data);
    int tag = contextMenuTag(webkit_context_menu_item_get_stock_action(item),
                             webkit_context_menu_item_is_separator(item));
    // A switch the page set in `menuitems_settings` decides; otherwise the fixed filter.
    const auto choice = menuitems_settings ? menuitems_settings->pageChoice(tag) : std::nullopt;
    if (!choice.value_or(contextMenuTagKept(tag))) webkit_context_menu_remove(menu, item);
  }
  g_list_free(items);
}

void WebViewDelegate::onTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
  static_cast<WebViewDelegate*>(self)->processTerminated(reason);
}

void WebViewDelegate::processTerminated(WebKitWebProcessTerminationReason reason) {
  const char* why = reason == WEBKIT_WEB_PROCESS_CRASHED              ? "crashed"
                    : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "exceeded its memory limit"
                                                                        : "was ended";
  // A call of the dead page may still wait in a dialog; it keeps the
  // connection until it ends, and its answer is dropped.
  if (connection_) {
    connection_->close();
    connection_.reset();
  }
  if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
  if (terminationRequested()) {
    // A terminal's Ctrl+C or hang-up reaches the web engine's processes too.
    log().info("web process {} while the application ends; the page is not reloaded", why);
    return;
  }
  if (pageProcessEnded) {
    pageProcessEnded(why);
  } else {
    log().error("web process {}; reloading the page", why);
    webkit_web_view_reload(webView_);
  }
}

}  // namespace corvane
