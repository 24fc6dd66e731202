#pragma once
// One menu item as pages see it: retitle, key equivalent, enable, disable,
// a page function called when the item is chosen, a submenu, removal.
// Made by the menu proxies (MenuProxy.h); it does not keep the item alive,
// and it is released when the item goes.
#include "bridge/Command.h"
#include "bridge/ServiceObject.h"

#include <gtk/gtk.h>

#include <memory>
#include <string>

namespace corvane {

class CallbackDelegate;
class MenuProxyRegistry;

// A key text as a GTK accelerator: command and control are the Control
// key, option is Alt, shift is Shift; caps lock has no accelerator form and
// is dropped; an upper-case key means the key with Shift. {0, 0} for none.
struct Accelerator {
  guint key = 0;
  GdkModifierType mods = GdkModifierType(0);
};
Accelerator acceleratorFor(const std::string& keyText);

class MenuItemProxy : public ServiceObject, public Command {
 public:
  MenuItemProxy(std::shared_ptr<PageScript> context, MenuProxyRegistry* registry, GtkWidget* item);
  ~MenuItemProxy() override;
  const ServiceClass& serviceClass() const override;
  // The class face, known before any item is handed out.
  static const ServiceClass& scriptClass();

  GtkWidget* item() const { return item_; }

  // Script methods. Each one on a proxy whose item has gone is refused
  // with "item required".
  ScriptResult addSubmenu();
  void remove();
  void setCallback(std::shared_ptr<CallbackDelegate> callback);
  void setKey(const std::string& keyText);
  void setTitle(const std::string& title);
  ScriptResult submenu();
  void enable();
  void disable();

  // The item was chosen: the page function gets the item's title.
  void callCallback();

 private:
  GtkWidget* requireItem() const;
  void forget();
  MenuProxyRegistry* registry_;
  GtkWidget* item_;
  std::shared_ptr<CallbackDelegate> callback_;
  Accelerator key_;
  GtkAccelGroup* keyGroup_ = nullptr;
};

}  // namespace corvane
