// Menu properties: pages retitle, hide, add and hook items of the menu bar
// by tag. Items carry their tag as object data (ui/MainMenu); a hooked item
// carries its generated action name and its list of page callbacks, and the
// generated action is the item's one action (ui/MenuItemAction): it takes
// the place of a built-in action or a function set with setCallback.
#include "services/Window.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "ui/MainMenu.h"
#include "ui/MenuItemAction.h"

#include <algorithm>
#include <climits>
#include <set>

namespace corvane {
namespace {

constexpr const char* kActionName = "corvane-action-name";
constexpr const char* kCallbackList = "actionCallbackList";
constexpr const char* kMethod = "-[Window setMenuProperty:]";

// The application menu bar of the process: windows without a bar of their
// own (those a page opens) change the main window's.
GtkWidget* g_appMenuBar = nullptr;

std::vector<Window*>& menuObservers() {
  static std::vector<Window*> list;
  return list;
}

// The action names registered on the application delegate, process-wide:
// a name that has a handler keeps it.
bool addActionHandler(const std::string& name) {
  static std::set<std::string> names;
  return names.insert(name).second;
}

GtkWidget* itemWithTag(GtkWidget* shell, int tag) {
  for (GtkWidget* item : MainMenu::itemsOf(shell))
    if (MainMenu::tagOf(item) == tag) return item;
  return nullptr;
}

GtkWidget* submenuOf(GtkWidget* item) {
  return item && GTK_IS_MENU_ITEM(item) ? gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)) : nullptr;
}

// getMenuItemByTag: the bar, the File menu, the application menu, then the
// submenu of the bar item whose tag is the hundred below.
GtkWidget* getMenuItemByTag(GtkWidget* bar, int tag) {
  if (!bar) return nullptr;
  if (GtkWidget* item = itemWithTag(bar, tag)) return item;
  if (GtkWidget* item = itemWithTag(submenuOf(itemWithTag(bar, 100)), tag)) return item;
  if (GtkWidget* item = itemWithTag(submenuOf(itemWithTag(bar, 900)), tag)) return item;
  GtkWidget* parent = itemWithTag(bar, tag / 100 * 100);
  return itemWithTag(submenuOf(parent), tag);
}

GtkWidget* menuForNewTag(GtkWidget* bar, int tag) {
  auto submenuOfTag = [bar](int t) { return submenuOf(itemWithTag(bar, t)); };
  if (tag >= 101 && tag <= 200) return submenuOfTag(100);
  if (tag >= 201 && tag <= 300) return submenuOfTag(200);
  if (tag >= 301 && tag <= 400) return submenuOfTag(300);
  if (tag >= 801 && tag <= 900) return submenuOfTag(800);
  if (tag >= 901 && tag <= 1000) return submenuOfTag(900);
  return bar;
}

// getNearItemIndexWithMenu:withFoundTag: the index of the item with the
// smallest tag not below `tag`; -1 (append) when there is none.
int nearItemIndex(GtkWidget* menu, int tag) {
  const auto items = MainMenu::itemsOf(menu);
  int best = -1, bestTag = INT_MAX;
  for (size_t i = 0; i < items.size(); ++i) {
    const int t = MainMenu::tagOf(items[i]);
    if (t >= tag && t < bestTag) {
      best = static_cast<int>(i);
      bestTag = t;
    }
  }
  return best;
}

GtkWidget* createNewMenuItemByTag(GtkWidget* bar, int tag, bool separator) {
  GtkWidget* menu = menuForNewTag(bar, tag);
  if (!menu) return nullptr;
  GtkWidget* item = separator ? gtk_separator_menu_item_new() : gtk_menu_item_new_with_label("-");
  // The item carries the requested tag, so the next call finds it.
  MainMenu::setTag(item, tag);
  gtk_menu_shell_insert(GTK_MENU_SHELL(menu), item, nearItemIndex(menu, tag));
  gtk_widget_show(item);
  return item;
}

// Who set a generated action (ui/MenuItemAction's owner).
const char kGeneratedAction = 0;

nlohmann::json* callbackListOf(GtkWidget* item) {
  return static_cast<nlohmann::json*>(g_object_get_data(G_OBJECT(item), kCallbackList));
}

std::string describe(GtkWidget* item) {
  const char* label = GTK_IS_MENU_ITEM(item) ? gtk_menu_item_get_label(GTK_MENU_ITEM(item)) : nullptr;
  return "<MenuItem: \"" + std::string(label ? label : "") + "\" tag " + std::to_string(MainMenu::tagOf(item)) + ">";
}

// The action handler every generated action name leads to: it logs, and the
// menu-did-send-action notification reaches every Window object.
void sendAction(GtkWidget* item) {
  log().info("self = <AppDelegate>");
  log().info("sender = {}", describe(item));
  const auto observers = menuObservers();  // an observer may go meanwhile
  for (Window* w : observers)
    if (std::find(menuObservers().begin(), menuObservers().end(), w) != menuObservers().end())
      w->onMenuItemSendAction(item);
}

void setGeneratedAction(GtkWidget* item, const std::string& name) {
  g_object_set_data_full(G_OBJECT(item), kActionName, g_strdup(name.c_str()), g_free);
  if (menuitem::ownerOf(item) != &kGeneratedAction) {
    // The list belongs to the generated action: one that was replaced
    // since (by setCallback) left its names behind with it.
    g_object_set_data(G_OBJECT(item), kCallbackList, nullptr);
    menuitem::setAction(item, sendAction, &kGeneratedAction);
  }
}

}  // namespace

void Window::observeMenuActions(Window* window, bool observe) {
  auto& list = menuObservers();
  list.erase(std::remove(list.begin(), list.end(), window), list.end());
  if (observe) list.push_back(window);
}

GtkWidget* Window::menuBar() const {
  if (mainMenu_ && !g_appMenuBar) g_appMenuBar = mainMenu_;
  return mainMenu_ ? mainMenu_ : g_appMenuBar;
}

void Window::setMenuProperty(const nlohmann::json& argument) {
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string callback = UtilTool::callbackName(params);
    GtkWidget* bar = menuBar();
    int tag = -1;
    GtkWidget* item = nullptr;
    if (params.contains("menuTag")) {
      tag = static_cast<int>(params["menuTag"].is_number() ? params["menuTag"].get<double>() : 0);
      item = getMenuItemByTag(bar, tag);
    }
    const bool separator = params.contains("isSeparatorItem") && jsonBoolValue(params["isSeparatorItem"]);
    if (!item) item = createNewMenuItemByTag(bar, tag, separator);

    if (params.contains("hideMenu") && item) gtk_widget_set_visible(item, !jsonBoolValue(params["hideMenu"]));
    if (params.contains("title") && item && !GTK_IS_SEPARATOR_MENU_ITEM(item)) {
      const std::string title = UtilTool::stringValue(params, "title");
      if (title != "##**") gtk_menu_item_set_label(GTK_MENU_ITEM(item), title.c_str());
    }
    if (params.contains("action") && item) {
      const bool replace = !params.contains("replaceOldAction") || jsonBoolValue(params["replaceOldAction"]);
      if (replace || !menuitem::hasAction(item)) {
        ++customMenuActionIndex_;
        const std::string name = "menuAction" + std::to_string(customMenuActionIndex_) + ":";
        log().info("addMethod:{}", addActionHandler(name) ? "YES" : "NO");
        setGeneratedAction(item, name);
        nlohmann::json list = nlohmann::json::array();
        if (const nlohmann::json* old = callbackListOf(item); old && old->is_array()) list = *old;
        list.push_back(params["action"]);
        g_object_set_data_full(G_OBJECT(item), kCallbackList, new nlohmann::json(std::move(list)),
                               [](gpointer p) { delete static_cast<nlohmann::json*>(p); });
      }
    }
    EvalJsWithWebView(page_, callback, nlohmann::json::object());
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", kMethod, __LINE__, e.what());
  }
}

void Window::onMenuItemSendAction(GtkWidget* item) {
  log().info("Received onMenuItemSendAction notification: {}", describe(item));
  const nlohmann::json* list = callbackListOf(item);
  if (!list) return;
  std::vector<std::string> names;
  if (list->is_array()) {
    for (const auto& n : *list)
      if (n.is_string()) names.push_back(n.get<std::string>());
  } else if (list->is_string()) {
    names.push_back(list->get<std::string>());
  }
  for (const auto& name : names) EvalJsWithWebView(page_, name, nlohmann::json::object());
}

}  // namespace corvane
