#include "ui/MainMenu.h"

#include "ui/MenuItemAction.h"

#include <vector>

namespace corvane {

namespace {

constexpr const char* kTagKey = "corvane-tag";

struct ItemDesc {
  int tag;             // 0 with an empty title: separator
  const char* title;   // nullptr: the application name
  const char* accel;   // GTK accelerator text, or nullptr
  std::function<void()> MainMenu::Actions::*action;
  const char* editing; // editing command instead of an action
};

GtkWidget* tagged(GtkWidget* item, int tag) {
  g_object_set_data(G_OBJECT(item), kTagKey, GINT_TO_POINTER(tag));
  return item;
}

GtkWidget* findTag(GtkWidget* shell, int tag) {
  if (!shell) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
  GtkWidget* found = nullptr;
  for (GList* l = children; l && !found; l = l->next) {
    auto* item = GTK_WIDGET(l->data);
    if (MainMenu::tagOf(item) == tag) found = item;
    else if (GTK_IS_MENU_ITEM(item)) found = findTag(gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)), tag);
  }
  g_list_free(children);
  return found;
}

}  // namespace

int MainMenu::tagOf(GtkWidget* item) { return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), kTagKey)); }
void MainMenu::setTag(GtkWidget* item, int tag) { tagged(item, tag); }

GtkWidget* MainMenu::itemByTag(int tag) const { return findTag(bar_, tag); }

std::vector<GtkWidget*> MainMenu::itemsOf(GtkWidget* shell) {
  std::vector<GtkWidget*> out;
  if (!shell || !GTK_IS_CONTAINER(shell)) return out;
  GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
  for (GList* l = children; l; l = l->next) out.push_back(GTK_WIDGET(l->data));
  g_list_free(children);
  return out;
}

MainMenu::MainMenu(const std::string& appName, Actions actions) : actions_(std::move(actions)) {
  using A = Actions;
  bar_ = gtk_menu_bar_new();
  mainMenu = bar_;
  GtkAccelGroup* accel = gtk_accel_group_new();
  g_object_set_data_full(G_OBJECT(bar_), "corvane-accel", accel, g_object_unref);

  auto addMenu = [&](int tag, const std::string& title, std::vector<ItemDesc> items, GtkWidget** itemOut,
                     GtkWidget** menuOut) {
    GtkWidget* top = tagged(gtk_menu_item_new_with_mnemonic(title.c_str()), tag);
    GtkWidget* menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), accel);
    for (const auto& entry : items) {
      if (!entry.title && entry.tag == 0) {
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
        continue;
      }
      std::string label = entry.title ? entry.title : appName;
      GtkWidget* item = tagged(gtk_menu_item_new_with_mnemonic(label.c_str()), entry.tag);
      if (entry.accel) {
        guint key;
        GdkModifierType mods;
        gtk_accelerator_parse(entry.accel, &key, &mods);
        gtk_widget_add_accelerator(item, "activate", accel, key, mods, GTK_ACCEL_VISIBLE);
      }
      if (entry.editing) {
        menuitem::setAction(item, [this, command = entry.editing](GtkWidget*) {
          if (actions_.edit) actions_.edit(command);
        });
      } else if (entry.action) {
        menuitem::setAction(item, [fn = actions_.*(entry.action)](GtkWidget*) {
          if (fn) fn();
        });
      }
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    }
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar_), top);
    if (itemOut) *itemOut = top;
    if (menuOut) *menuOut = menu;
  };

  const ItemDesc sep{0, nullptr, nullptr, nullptr, nullptr};
  addMenu(900, appName,
          {{901, "_About", nullptr, &A::about, nullptr},
           sep,
           {906, "_Quit", "<Control>q", &A::quit, nullptr}},
          &menuItemApp, &appMenu);
  addMenu(100, "_File",
          {{101, "_Close Window", "<Control>w", &A::closeWindow, nullptr},
           {102, nullptr, nullptr, &A::showMainWindow, nullptr},
           sep,
           {104, "_Print…", "<Control>p", &A::print, nullptr}},
          &menuItemFile, &fileMenu);
  addMenu(200, "_Edit",
          {{201, "_Undo", "<Control>z", nullptr, WEBKIT_EDITING_COMMAND_UNDO},
           {202, "_Redo", "<Control><Shift>z", nullptr, WEBKIT_EDITING_COMMAND_REDO},
           sep,
           {203, "Cu_t", "<Control>x", nullptr, WEBKIT_EDITING_COMMAND_CUT},
           {204, "_Copy", "<Control>c", nullptr, WEBKIT_EDITING_COMMAND_COPY},
           {205, "_Paste", "<Control>v", nullptr, WEBKIT_EDITING_COMMAND_PASTE},
           {206, "Select _All", "<Control>a", nullptr, WEBKIT_EDITING_COMMAND_SELECT_ALL}},
          nullptr, nullptr);
  GtkWidget* viewMenu = nullptr;
  addMenu(300, "_View",
          {{301, "_Reload", "<Control>r", &A::reload, nullptr},
           {302, "_Full Screen", "F11", &A::toggleFullScreen, nullptr},
           sep,
           {303, "_Developer Tools", "<Control><Shift>i", &A::showInspector, nullptr}},
          nullptr, &viewMenu);
  addMenu(800, "_Window",
          {{801, "_Minimize", "<Control>m", &A::minimize, nullptr},
           {802, "_Zoom", nullptr, &A::zoom, nullptr}},
          nullptr, nullptr);
  mainWindowMenuItem = itemByTag(102);
  developerTools_ = itemByTag(303);
  const auto viewItems = itemsOf(viewMenu);
  for (size_t i = 1; i < viewItems.size(); ++i)
    if (viewItems[i] == developerTools_) developerToolsSeparator_ = viewItems[i - 1];
}

void MainMenu::setDeveloperToolsShown(bool shown) {
  // A hidden item's key does nothing either.
  for (GtkWidget* w : {developerTools_, developerToolsSeparator_})
    if (w) gtk_widget_set_visible(w, shown);
}

}  // namespace corvane
