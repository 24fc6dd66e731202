#include "services/MenuProxy.h"

#include "app/Log.h"
#include "bridge/CallbackDelegate.h"
#include "bridge/GSignal.h"
#include "bridge/WebViewDelegate.h"
#include "services/MenuItemProxy.h"
#include "ui/MainMenu.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace corvane {
namespace {

constexpr const char* kMenuTitle = "corvane-menu-title";
constexpr const char* kBarAccel = "corvane-accel";  // ui/MainMenu: the bar's accelerator group

// The first menu bar a root was given: windows a page opens have none of
// their own and edit the application's, as the Window object does.
GtkWidget* g_applicationBar = nullptr;

}  // namespace

// ---- registry -----------------------------------------------------------------

MenuProxyRegistry::MenuProxyRegistry(std::shared_ptr<PageScript> context, WebViewDelegate* root)
    : context_(std::move(context)), root_(root) {
  key_ = "corvane-proxy-" + std::to_string(reinterpret_cast<uintptr_t>(this));
}

MenuProxyRegistry::~MenuProxyRegistry() {
  // The root goes with this registry: nothing is retired one by one.
  root_ = nullptr;
  auto all = std::move(made_);
  made_.clear();
  all.clear();
}

void MenuProxyRegistry::release(ServiceObject* proxy) {
  auto it = made_.find(proxy);
  if (it == made_.end()) return;
  auto owned = std::move(it->second);
  made_.erase(it);
  if (root_) root_->forgetObject(*owned);
}

template <class Proxy>
Proxy* MenuProxyRegistry::proxyFor(GtkWidget* widget, const char* cacheHitLine) {
  if (auto* held = static_cast<ServiceObject*>(g_object_get_data(G_OBJECT(widget), key_.c_str()))) {
    auto* proxy = dynamic_cast<Proxy*>(held);
    if (!proxy) throw ScriptTypeError("Bad proxy");
    log().info("{}", cacheHitLine);
    return proxy;
  }
  auto proxy = std::make_unique<Proxy>(context_, this, widget);
  Proxy* raw = proxy.get();
  made_.emplace(raw, std::move(proxy));
  return raw;
}

MenuProxy* MenuProxyRegistry::proxyForMenu(GtkWidget* menu) {
  return menu ? proxyFor<MenuProxy>(menu, "MP cache hit") : nullptr;
}

MenuItemProxy* MenuProxyRegistry::proxyForItem(GtkWidget* item) {
  if (!item) throw ScriptTypeError("anItem required");
  return proxyFor<MenuItemProxy>(item, "MIP Cache hit");
}

nlohmann::json MenuProxyRegistry::ref(ServiceObject* proxy) const {
  if (!proxy || !root_) return nullptr;
  return root_->refFor(*proxy);
}

// ---- MenuProxy ----------------------------------------------------------------

std::unique_ptr<MenuProxy> MenuProxy::proxyWithContext(std::shared_ptr<PageScript> context, GtkWidget* mainMenu,
                                                       WebViewDelegate* root) {
  if (mainMenu && !g_applicationBar) {
    g_applicationBar = mainMenu;
    g_object_add_weak_pointer(G_OBJECT(mainMenu), reinterpret_cast<gpointer*>(&g_applicationBar));
  }
  auto registry = std::make_unique<MenuProxyRegistry>(context, root);
  auto proxy = std::make_unique<MenuProxy>(std::move(context), registry.get(), mainMenu ? mainMenu : g_applicationBar);
  proxy->ownRegistry_ = std::move(registry);
  return proxy;
}

MenuProxy::MenuProxy(std::shared_ptr<PageScript> context, MenuProxyRegistry* registry, GtkWidget* menu)
    : Command(std::move(context)), registry_(registry), menu_(menu) {
  if (!menu_) return;
  g_object_set_data(G_OBJECT(menu_), registry_->key(), static_cast<ServiceObject*>(this));
  g_signal_connect(menu_, "destroy", signalHandler([](GtkWidget*, gpointer self) {
                     auto* proxy = static_cast<MenuProxy*>(self);
                     proxy->forget();
                     proxy->registry_->release(proxy);
                   }),
                   this);
}

MenuProxy::~MenuProxy() {
  forget();
  ownRegistry_.reset();
}

void MenuProxy::forget() {
  if (!menu_) return;
  g_signal_handlers_disconnect_by_data(menu_, this);
  g_object_set_data(G_OBJECT(menu_), registry_->key(), nullptr);
  menu_ = nullptr;
}

std::string MenuProxy::titleOf(GtkWidget* item) {
  if (!item || !GTK_IS_MENU_ITEM(item) || GTK_IS_SEPARATOR_MENU_ITEM(item)) return {};
  const char* label = gtk_menu_item_get_label(GTK_MENU_ITEM(item));
  std::string text = label ? label : "";
  if (!gtk_menu_item_get_use_underline(GTK_MENU_ITEM(item))) return text;
  // "_File" is File; "__" is one underscore.
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_' && i + 1 < text.size()) ++i;
    else if (text[i] == '_') continue;
    out += text[i];
  }
  return out;
}

GtkWidget* MenuProxy::findItem(GtkWidget* menu, const nlohmann::json& key) {
  const auto items = MainMenu::itemsOf(menu);
  if (key.is_number()) {
    const double position = std::trunc(key.get<double>());
    if (position < 0 || position >= static_cast<double>(items.size())) return nullptr;
    return items[static_cast<size_t>(position)];
  }
  if (!key.is_string()) return nullptr;
  const std::string& title = key.get_ref<const std::string&>();
  for (GtkWidget* item : items)
    if (titleOf(item) == title) return item;
  const std::string withEllipsis = title + "\u2026";
  for (GtkWidget* item : items)
    if (titleOf(item) == withEllipsis) return item;
  return nullptr;
}

GtkAccelGroup* MenuProxy::accelGroupFor(GtkWidget* shell) {
  // Up through the items that hold the menus, to the bar and its group.
  for (int depth = 0; shell && depth < 64; ++depth) {
    if (GTK_IS_MENU_BAR(shell)) return static_cast<GtkAccelGroup*>(g_object_get_data(G_OBJECT(shell), kBarAccel));
    if (GTK_IS_MENU(shell)) {
      if (GtkAccelGroup* group = gtk_menu_get_accel_group(GTK_MENU(shell))) return group;
      GtkWidget* owner = gtk_menu_get_attach_widget(GTK_MENU(shell));
      shell = owner ? gtk_widget_get_parent(owner) : nullptr;
      continue;
    }
    return nullptr;
  }
  return nullptr;
}

GtkWidget* MenuProxy::newSubmenu(GtkWidget* owner, const std::string& title) {
  GtkWidget* submenu = gtk_menu_new();
  g_object_set_data_full(G_OBJECT(submenu), kMenuTitle, g_strdup(title.c_str()), g_free);
  if (GtkAccelGroup* group = accelGroupFor(gtk_widget_get_parent(owner)))
    gtk_menu_set_accel_group(GTK_MENU(submenu), group);
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(owner), submenu);
  return submenu;
}

GtkWidget* MenuProxy::insertItem(GtkWidget* item, int64_t index) {
  // 0 appends (it never means "first"); so does a position past the end,
  // which GTK appends by itself: the menu's items are never counted, as
  // that would make filling a long menu take quadratic time.
  const int position = index <= 0 ? -1 : static_cast<int>(std::min<int64_t>(index, INT_MAX));
  gtk_menu_shell_insert(GTK_MENU_SHELL(menu_), item, position);
  gtk_widget_show(item);
  return item;
}

ScriptResult MenuProxy::addItemWithTitle(const std::string& title, const std::string& keyText,
                                         std::shared_ptr<CallbackDelegate> callback, int64_t index) {
  if (!menu_) throw ScriptTypeError("anItem required");
  GtkWidget* item = insertItem(gtk_menu_item_new_with_label(title.c_str()), index);
  // Adding to the bar makes a new top-level menu of the same title.
  if (GTK_IS_MENU_BAR(menu_)) newSubmenu(item, title);
  MenuItemProxy* proxy = registry_->proxyForItem(item);
  if (!keyText.empty()) proxy->setKey(keyText);  // a new item has no key to remove
  if (callback) proxy->setCallback(std::move(callback));
  return registry_->ref(proxy);
}

ScriptResult MenuProxy::addSeparator() {
  if (!menu_) throw ScriptTypeError("anItem required");
  GtkWidget* item = insertItem(gtk_separator_menu_item_new(), 0);
  return registry_->ref(registry_->proxyForItem(item));
}

ScriptResult MenuProxy::itemForKey(const nlohmann::json& key) {
  GtkWidget* item = menu_ ? findItem(menu_, key) : nullptr;
  if (!item) return nlohmann::json(nullptr);
  return registry_->ref(registry_->proxyForItem(item));
}

ScriptResult MenuProxy::removeItem(const nlohmann::json& key) {
  GtkWidget* item = menu_ ? findItem(menu_, key) : nullptr;
  if (!item) return nlohmann::json(nullptr);
  gtk_widget_destroy(item);
  return registry_->ref(this);
}

const ServiceClass& MenuProxy::serviceClass() const { return scriptClass(); }

const ServiceClass& MenuProxy::scriptClass() {
  // Only the selectors with a script name are visible; no field is.
  static const std::map<std::string, std::string> names = {
      {"addItemWithTitle:keyEquivalent:callback:atIndex:", "addItem"},
      {"addSeparator", "addSeparator"},
      {"itemForKey:", "getItem"},
      {"removeItem:", "removeMenu"}};
  static const ServiceClass cls =
      ServiceClass::Builder<MenuProxy>("MenuProxy")
          .method("addItemWithTitle:keyEquivalent:callback:atIndex:", &MenuProxy::addItemWithTitle)
          .method("addSeparator", &MenuProxy::addSeparator)
          .method("itemForKey:", &MenuProxy::itemForKey)
          .method("removeItem:", &MenuProxy::removeItem)
          .scriptNames(names)
          .excludeSelectors([](const std::string& s) { return !names.count(s); })
          // A menu that is gone makes no items and finds none.
          .whenGone([](const std::string& method) -> ScriptResult {
            if (method == "addItem" || method == "addSeparator") throw ScriptTypeError("anItem required");
            return nlohmann::json(nullptr);
          })
          .build();
  return cls;
}

}  // namespace corvane
