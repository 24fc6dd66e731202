#include "services/MenuItemProxy.h"

#include "app/Log.h"
#include "bridge/CallbackDelegate.h"
#include "bridge/GSignal.h"
#include "services/KeyEquivalent.h"
#include "services/MenuProxy.h"
#include "ui/MenuItemAction.h"

namespace corvane {
namespace {
constexpr const char* kSubmenuTitle = "FFFFFFOOOOO";
}

Accelerator acceleratorFor(const std::string& keyText) {
  Accelerator a;
  const std::string key = keys::getKeyFromString(keyText);
  if (key.empty()) return a;
  gunichar c = g_utf8_get_char_validated(key.c_str(), static_cast<gssize>(key.size()));
  if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) c = static_cast<unsigned char>(key.back());
  const uint32_t mask = keys::getModifiersFromString(keyText);
  unsigned mods = 0;
  if (mask & (keys::kCommand | keys::kControl)) mods |= GDK_CONTROL_MASK;
  if (mask & keys::kOption) mods |= GDK_MOD1_MASK;
  if (mask & keys::kShift) mods |= GDK_SHIFT_MASK;
  if (g_unichar_isupper(c)) {
    mods |= GDK_SHIFT_MASK;
    c = g_unichar_tolower(c);
  }
  a.key = gdk_unicode_to_keyval(c);
  a.mods = static_cast<GdkModifierType>(mods);
  return a;
}

MenuItemProxy::MenuItemProxy(std::shared_ptr<PageScript> context, MenuProxyRegistry* registry, GtkWidget* item)
    : Command(std::move(context)), registry_(registry), item_(item) {
  g_object_set_data(G_OBJECT(item_), registry_->key(), static_cast<ServiceObject*>(this));
  // With its item gone the proxy goes too; scripts that still hold it get
  // the refusal ("item required") from the bridge.
  g_signal_connect(item_, "destroy", signalHandler([](GtkWidget*, gpointer self) {
                     auto* proxy = static_cast<MenuItemProxy*>(self);
                     proxy->forget();
                     proxy->registry_->release(proxy);
                   }),
                   this);
}

MenuItemProxy::~MenuItemProxy() { forget(); }

void MenuItemProxy::forget() {
  if (!item_) return;
  GtkWidget* item = item_;
  item_ = nullptr;
  g_signal_handlers_disconnect_by_data(item, this);
  g_object_set_data(G_OBJECT(item), registry_->key(), nullptr);
  // An item that outlives its page does nothing rather than call into it.
  menuitem::clearActionOf(item, this);
  keyGroup_ = nullptr;
  // The item held the page function; with the item gone it is let go.
  callback_.reset();
}

GtkWidget* MenuItemProxy::requireItem() const {
  if (!item_) throw ScriptTypeError("item required");
  return item_;
}

ScriptResult MenuItemProxy::addSubmenu() {
  GtkWidget* item = requireItem();
  if (GTK_IS_SEPARATOR_MENU_ITEM(item)) return nlohmann::json(nullptr);  // a separator holds no menu
  GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item));
  if (!submenu) submenu = MenuProxy::newSubmenu(item, kSubmenuTitle);
  return registry_->ref(registry_->proxyForMenu(submenu));
}

ScriptResult MenuItemProxy::submenu() {
  GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(requireItem()));
  if (!submenu) return nlohmann::json(nullptr);
  return registry_->ref(registry_->proxyForMenu(submenu));
}

void MenuItemProxy::remove() { gtk_widget_destroy(requireItem()); }

void MenuItemProxy::setCallback(std::shared_ptr<CallbackDelegate> callback) {
  // The page's function replaces whatever the item did before, built-in
  // actions included, also when no function came (the item then does
  // nothing when chosen).
  menuitem::setAction(requireItem(), [this](GtkWidget*) { callCallback(); }, this);
  callback_ = std::move(callback);
}

void MenuItemProxy::callCallback() {
  if (!item_) return;
  auto callback = callback_;  // the function may replace itself
  if (callback) callback->callWithParams({MenuProxy::titleOf(item_)});
}

void MenuItemProxy::setKey(const std::string& keyText) {
  GtkWidget* item = requireItem();
  if (GTK_IS_SEPARATOR_MENU_ITEM(item)) return;
  if (keyGroup_ && key_.key) gtk_widget_remove_accelerator(item, keyGroup_, key_.key, key_.mods);
  keyGroup_ = nullptr;
  key_ = acceleratorFor(keyText);
  GtkWidget* label = gtk_bin_get_child(GTK_BIN(item));
  if (label && GTK_IS_ACCEL_LABEL(label)) gtk_accel_label_set_accel(GTK_ACCEL_LABEL(label), key_.key, key_.mods);
  if (!key_.key) return;
  // Typed keys reach the item through the window's accelerator group; an
  // item in a menu outside the bar only shows its key.
  keyGroup_ = MenuProxy::accelGroupFor(gtk_widget_get_parent(item));
  if (keyGroup_ && gtk_accelerator_valid(key_.key, key_.mods))
    gtk_widget_add_accelerator(item, "activate", keyGroup_, key_.key, key_.mods, GTK_ACCEL_VISIBLE);
  else
    keyGroup_ = nullptr;
}

void MenuItemProxy::setTitle(const std::string& title) {
  GtkWidget* item = requireItem();
  if (GTK_IS_SEPARATOR_MENU_ITEM(item)) return;
  gtk_menu_item_set_use_underline(GTK_MENU_ITEM(item), FALSE);
  gtk_menu_item_set_label(GTK_MENU_ITEM(item), title.c_str());
}

void MenuItemProxy::enable() { gtk_widget_set_sensitive(requireItem(), TRUE); }
void MenuItemProxy::disable() { gtk_widget_set_sensitive(requireItem(), FALSE); }

const ServiceClass& MenuItemProxy::serviceClass() const { return scriptClass(); }

const ServiceClass& MenuItemProxy::scriptClass() {
  static const std::map<std::string, std::string> names = {
      {"addSubmenu", "addSubmenu"}, {"remove", "remove"},   {"setCallback:", "setCallback"},
      {"setKey:", "setKey"},        {"setTitle:", "setTitle"}, {"submenu", "submenu"},
      {"enable", "enable"},         {"disable", "disable"}};
  static const ServiceClass cls = ServiceClass::Builder<MenuItemProxy>("MenuItemProxy")
                                      .method("addSubmenu", &MenuItemProxy::addSubmenu)
                                      .method("remove", &MenuItemProxy::remove)
                                      .method("setCallback:", &MenuItemProxy::setCallback)
                                      .method("setKey:", &MenuItemProxy::setKey)
                                      .method("setTitle:", &MenuItemProxy::setTitle)
                                      .method("submenu", &MenuItemProxy::submenu)
                                      .method("enable", &MenuItemProxy::enable)
                                      .method("disable", &MenuItemProxy::disable)
                                      .method("callCallback:", &MenuItemProxy::callCallback)
                                      .scriptNames(names)
                                      .excludeSelectors([](const std::string& s) { return !names.count(s); })
                                      .whenGone([](const std::string&) -> ScriptResult {
                                        throw ScriptTypeError("item required");
                                      })
                                      .build();
  return cls;
}

}  // namespace corvane
