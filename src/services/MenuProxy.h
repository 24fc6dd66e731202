#pragma once
// The `menu` member and every menu a page reaches through it: one script
// object per GTK menu shell (the menu bar or a GtkMenu). Proxies are made
// on first request and found again through the widget, so asking twice
// gives the same script object. A proxy does not keep its widget alive:
// when the widget goes, the proxy is retired from the bridge and freed, and
// a script that still holds it gets its class's refusal (see
// docs/api/menu.md), so made and removed items leave nothing behind.
#include "bridge/Command.h"
#include "bridge/ServiceObject.h"

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <unordered_map>

namespace corvane {

class CallbackDelegate;
class MenuItemProxy;
class MenuProxy;
class WebViewDelegate;

// The proxies one bridge root made. Each root marks widgets under a key of
// its own, so two pages never share (or free) each other's proxies. Owned
// by the root's `menu` proxy; tearing it down releases every proxy and
// clears the widgets' marks.
class MenuProxyRegistry {
 public:
  MenuProxyRegistry(std::shared_ptr<PageScript> context, WebViewDelegate* root);
  ~MenuProxyRegistry();

  // proxyWithContext:andMenu: / proxyWithContext:andMenuItem:. A widget
  // whose mark holds another kind of proxy is refused ("Bad proxy"); no
  // item at all is refused with "anItem required".
  MenuProxy* proxyForMenu(GtkWidget* menu);
  MenuItemProxy* proxyForItem(GtkWidget* item);

  // A script reference for a proxy (null for none).
  nlohmann::json ref(ServiceObject* proxy) const;
  // The proxy's widget went: the proxy is retired from the bridge and
  // freed. Proxies the registry did not make (the root's) are left alone.
  void release(ServiceObject* proxy);
  size_t size() const { return made_.size(); }
  const char* key() const { return key_.c_str(); }
  const std::shared_ptr<PageScript>& context() const { return context_; }

 private:
  template <class Proxy>
  Proxy* proxyFor(GtkWidget* widget, const char* cacheHitLine);
  std::shared_ptr<PageScript> context_;
  WebViewDelegate* root_;
  std::string key_;
  std::unordered_map<const ServiceObject*, std::unique_ptr<ServiceObject>> made_;
};

class MenuProxy : public ServiceObject, public Command {
 public:
  // The bridge root's `menu`: the proxy of the application's menu bar (or
  // of the process's bar when the root's window has none).
  static std::unique_ptr<MenuProxy> proxyWithContext(std::shared_ptr<PageScript> context, GtkWidget* mainMenu,
                                                     WebViewDelegate* root);
  MenuProxy(std::shared_ptr<PageScript> context, MenuProxyRegistry* registry, GtkWidget* menu);
  ~MenuProxy() override;
  const ServiceClass& serviceClass() const override;
  // The class face, known before any menu is handed out.
  static const ServiceClass& scriptClass();

  GtkWidget* menu() const { return menu_; }

  // Script methods.
  ScriptResult addItemWithTitle(const std::string& title, const std::string& keyText,
                                std::shared_ptr<CallbackDelegate> callback, int64_t index);
  ScriptResult addSeparator();
  ScriptResult itemForKey(const nlohmann::json& key);
  ScriptResult removeItem(const nlohmann::json& key);

  // The item a getItem/removeMenu argument selects: a position, or a title
  // (also with a trailing "…"). nullptr for anything else.
  static GtkWidget* findItem(GtkWidget* menu, const nlohmann::json& key);
  // The page's view of an item's title: its label without mnemonic marks.
  static std::string titleOf(GtkWidget* item);
  // The accelerator group of the window a menu belongs to, or nullptr.
  static GtkAccelGroup* accelGroupFor(GtkWidget* shell);
  // A new submenu that takes its items' accelerators from `owner`'s group.
  static GtkWidget* newSubmenu(GtkWidget* owner, const std::string& title);

 private:
  void forget();
  GtkWidget* insertItem(GtkWidget* item, int64_t index);
  MenuProxyRegistry* registry_;
  std::unique_ptr<MenuProxyRegistry> ownRegistry_;  // the root proxy only
  GtkWidget* menu_;
};

}  // namespace corvane
