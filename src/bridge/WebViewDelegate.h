#pragma once
// The bridge root of one web view. It owns the service objects, answers the
// page's first call with the script face of every class (so the web
// process can build the objects), serves the page's panels (alert,
// confirm, file chooser), the context menu, new windows, and the web
// process's end. The three global names of the page all denote it.
#include "bridge/OriginPolicy.h"
#include "bridge/WindowRequests.h"
#include "bridge/PageScript.h"
#include "bridge/ServiceObject.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvane {

class PageConnection;
class App;
class Path;
class Window;
class Sound;
class Dock;
class Growl;
class Notice;
class Clipboard;
class Fonts;
class MenuProxy;
class WebMenuItemSettings;
class BinaryFileWriter;
class IAP;
class Tray;

class WebViewDelegate : public ServiceObject {
 public:
  // initWithMenu: the application's main menu (kept, not owned).
  explicit WebViewDelegate(GtkWidget* mainMenu);
  ~WebViewDelegate() override;

  // Connects the delegate to the web view's signals.
  void attach(WebKitWebView* webView);
  WebKitWebView* webView() const { return webView_; }
  const std::shared_ptr<PageScript>& page() const { return page_; }

  // Hooks of the page host: a new window for a page's request (answers its
  // web view), and showing it when the page is ready.
  std::function<WebKitWebView*(WebKitWebView* related)> createWindowForRequest;
  std::function<void(WebKitWebView*)> showRequestedWindow;
  // The page's web process died (crashed, or went over its memory limit);
  // `why` says which. The page host brings the page back.
  std::function<void(const std::string& why)> pageProcessEnded;
  // The page's beforeunload handlers asked the person whether to leave it
  // (a close, reload or navigation): the question is up, then answered.
  std::function<void()> beforeUnloadAsked;
  std::function<void(bool leave)> beforeUnloadAnswered;

  // The application's start page, whose origin (or folder) may use the bridge.
  static void setApplicationStartPage(const std::string& uri);
  // A further folder whose files are the application's (a configured web
  // UI folder outside the bundle); a path that is no folder is ignored.
  static void addApplicationFolder(const std::string& path);
  // Members a program adds to every bridge root after the standard ones,
  // in order (name, object). Only code can set it, before the first page;
  // the shipped shell adds none.
  using ExtraMembers =
      std::function<std::vector<std::pair<std::string, std::unique_ptr<ServiceObject>>>(WebViewDelegate&)>;
  static void setExtraMembers(ExtraMembers make);
  // Sees each alert or confirm panel of a page before it runs. Only code
  // can set it; the shipped shell sets none.
  static void setPanelObserver(std::function<void(GtkDialog*)> observer);

  // Which frames belong to the application (the bridge's origin rule).
  static bridge::OriginPolicy applicationPolicy();
  // New windows the application's documents announced (see WindowRequests).
  bridge::WindowRequests& windowRequests() { return windowRequests_; }

  // Served to the connection.
  nlohmann::json helloSchema(const std::string& frameUri);
  // A live object by its wire id (nullptr once forgotten or never made).
  ServiceObject* objectById(uint32_t id) const;
  const ServiceClass* classAt(uint32_t index) const;
  // Retires a native object that scripts may still hold: later calls on it
  // get its class's answer for gone objects, or fail as calls on an object
  // that is gone. Its id is never used again, and nothing of it is kept.
  void forgetObject(ServiceObject& object);
  // A page's call: script method `method` (an index into `cls`'s visible
  // methods) on the object of that id. Only a live object of that class
  // runs it; for an id handed out earlier whose object is gone the class's
  // answer for gone objects stands in; anything else is refused with a
  // ScriptTypeError. `arguments` are read only once the receiver passed.
  ScriptResult callMethod(uint32_t object, const ServiceClass& cls, size_t method, BridgeCall& call,
                          const std::function<ScriptArgs()>& arguments);
  ScriptResult callMethod(uint32_t object, const ServiceClass& cls, size_t method, BridgeCall& call,
                          ScriptArgs&& args) {
    return callMethod(object, cls, method, call, [&args] { return std::move(args); });
  }
  // How many objects scripts can currently reach by id.
  size_t liveObjectCount() const { return objects_.size(); }
  // A wire reference for a native object handed to scripts.
  nlohmann::json refFor(ServiceObject& object);

  const ServiceClass& serviceClass() const override;
  nlohmann::json fieldValue(const std::string& field) const override;

  // Service objects (owned); created on the first window-object clear.
  std::unique_ptr<Sound> sound;
  std::unique_ptr<Dock> dock;
  std::unique_ptr<Growl> growl;
  std::unique_ptr<Notice> notice;
  std::unique_ptr<App> app;
  std::unique_ptr<Path> path;
  std::unique_ptr<Window> window;
  std::unique_ptr<Clipboard> clipboard;
  std::unique_ptr<WebMenuItemSettings> menuitems_settings;
  std::unique_ptr<Fonts> fonts;
  std::unique_ptr<MenuProxy> menu;
  std::unique_ptr<BinaryFileWriter> binaryFileWriter;
  std::unique_ptr<IAP> iap;
  std::unique_ptr<Tray> tray;
  GtkWidget* mainMenu = nullptr;
  WebKitWebView* requestedWindow = nullptr;

  void flush();

 private:
  void ensureServices();
  uint32_t registerObject(ServiceObject& object);
  uint32_t classIndex(const ServiceClass& cls);
  void connect(WebKitUserMessage* message);
  bool scriptDialog(WebKitScriptDialog* dialog);
  bool runFileChooser(WebKitFileChooserRequest* request);
  bool decidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
  bool refuseForeignFile(WebKitPolicyDecision* decision);
  // A new window asked for by `action`: the verdict, after handing the
  // address to the browser or logging the refusal where it is not the
  // application's.
  bridge::NewWindowVerdict judgeNewWindow(WebKitNavigationAction* action);
  void contextMenu(WebKitContextMenu* menu);
  void processTerminated(WebKitWebProcessTerminationReason reason);

  static gboolean onUserMessage(WebKitWebView*, WebKitUserMessage*, gpointer);
  static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer);
  static gboolean onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest*, gpointer);
  static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer);
  static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer);
  static gboolean onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer);
  static void onTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer);

  WebKitWebView* webView_ = nullptr;
  std::shared_ptr<PageScript> page_;
  std::shared_ptr<PageConnection> connection_;
  bool servicesMade_ = false;
  guint servicesIdle_ = 0;  // services made ahead of the first hello
  bridge::WindowRequests windowRequests_;
  // Ids count up and are never reused; only live objects are kept.
  std::unordered_map<uint32_t, ServiceObject*> objects_;
  std::unordered_map<const ServiceObject*, uint32_t> objectIds_;
  uint32_t nextObjectId_ = 0;
  std::vector<const ServiceClass*> classes_;
  std::vector<std::pair<std::string, uint32_t>> members_;
  std::vector<std::unique_ptr<ServiceObject>> extraMembers_;
};

// The context-menu filter: WebKit's stock actions as the tag numbers pages
// know, and whether an item of that tag stays.
int contextMenuTag(WebKitContextMenuAction action, bool separator);
bool contextMenuTagKept(int tag);

}  // namespace corvane
