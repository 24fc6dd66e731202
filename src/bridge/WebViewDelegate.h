#pragma once
// The bridge root of one web view. It owns the service objects, answers the
// page's first call with the script face of every class (so the web
// process can build the objects), serves the page's panels (alert,
// confirm, file chooser), the context menu, new windows, and the web
// process's end. The three global names of the page all denote it.
#include "bridge/OriginPolicy.h"
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
class TestService;

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

  // The application's start page, whose origin (or folder) may use the bridge.
  static void setApplicationStartPage(const std::string& uri);
  // A further folder whose files are the application's (a configured web
  // UI folder outside the bundle); a path that is no folder is ignored.
  static void addApplicationFolder(const std::string& path);
  // Test builds: the label of the button the next alert or confirm panel
  // gets pressed ("Yes", "No", "OK"), or "close" to close it.
  static void answerNextPanel(const std::string& button);

  // Which frames belong to the application (the bridge's origin rule).
  static bridge::OriginPolicy applicationPolicy();

  // Served to the connection.
  nlohmann::json helloSchema(const std::string& frameUri);
  // A live object by its wire id (nullptr once forgotten or never made).
  ServiceObject* objectById(uint32_t id) const;
  const ServiceClass* classAt(uint32_t index) const;
  // Retires a native object that scripts may still hold: later calls on it
  // fail as on any object that is gone. Its id is never used again.
  void forgetObject(ServiceObject& object);
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
#ifdef CORVANE_TEST_SERVICES
  std::unique_ptr<TestService> test;
#endif
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
  std::unique_ptr<PageConnection> connection_;
  bool servicesMade_ = false;
  guint servicesIdle_ = 0;  // services made ahead of the first hello
  bool reloadedAfterCrash_ = false;
  std::vector<ServiceObject*> objects_;
  std::unordered_map<const ServiceObject*, uint32_t> objectIds_;
  std::vector<const ServiceClass*> classes_;
  std::vector<std::pair<std::string, uint32_t>> members_;
};

// The context-menu filter: WebKit's stock actions as the tag numbers pages
// know, and whether an item of that tag stays.
int contextMenuTag(WebKitContextMenuAction action, bool separator);
bool contextMenuTagKept(int tag);

}  // namespace corvane
