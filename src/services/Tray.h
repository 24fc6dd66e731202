#pragma once
// The `tray` member: an icon in the desktop's status area (the panel's
// tray) that answers clicks. It speaks the StatusNotifierItem protocol
// (StatusNotifierItem) with its menu over dbusmenu (DBusMenuExporter); the
// menu is a GtkMenu that pages build with the same proxies as the menu bar
// (MenuProxy, MenuItemProxy). Clicks, scrolls and menu choices reach one
// page callback as event objects.
//
// Without a status notifier watcher on the session bus the tray is
// unavailable: every call still works and is kept, and a watcher that
// appears later shows the icon.
#include "bridge/PageScript.h"
#include "bridge/ServiceObject.h"
#include "services/StatusNotifierItem.h"

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>

namespace corvane {

class CallbackDelegate;
class DBusMenuExporter;
class MenuProxyRegistry;
class WebViewDelegate;

class Tray : public ServiceObject {
 public:
  Tray(std::shared_ptr<PageScript> page, WebViewDelegate* root);
  ~Tray() override;
  const ServiceClass& serviceClass() const override;

  // Script methods.
  bool isAvailable();
  bool isShown() const;
  void show();
  void hide();
  bool setIcon(const std::string& icon);
  bool setAttentionIcon(const std::string& icon);
  void setTitle(const std::string& title);
  void setToolTip(const std::string& text);
  void setAttention(bool attention);
  ScriptResult menu();
  void setCallback(const nlohmann::json& callback);

  // An icon text as the protocol sends it: a file of the application (a
  // path inside the bundle or the web UI folder, or one relative to the web
  // UI folder or the resource folder) as images, anything else without a
  // "/" as a theme icon name. nullopt with the reason otherwise.
  static std::optional<StatusNotifierItem::Icon> iconFor(const std::string& text, std::string* why);

 private:
  void deliver(const nlohmann::json& event);
  void popUpMenu(int x, int y);
  DBusMenuExporter* ensureMenu();

  std::shared_ptr<PageScript> page_;
  WebViewDelegate* root_;
  GtkWidget* menu_ = nullptr;  // made on first need
  std::unique_ptr<MenuProxyRegistry> registry_;
  std::unique_ptr<DBusMenuExporter> exporter_;
  std::unique_ptr<StatusNotifierItem> item_;
  std::shared_ptr<CallbackDelegate> callbackFunction_;
  std::string callbackName_;
};

}  // namespace corvane
