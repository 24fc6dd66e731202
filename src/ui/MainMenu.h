#pragma once
// The built-in main menu: a GtkMenuBar whose items carry tags in the ranges
// the Window object's tag rules use (see docs/platform.md). Each item's
// action is its one action (ui/MenuItemAction), which pages may replace.
//   900 application menu (901-1000), 100 File (101-200), 200 Edit
//   (201-300), 300 View (301-400), 800 Window (801-900).
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <string>
#include <vector>

namespace corvane {

class MainMenu {
 public:
  struct Actions {
    std::function<void()> quit, about, closeWindow, showMainWindow, reload, toggleFullScreen,
        minimize, zoom, showInspector, print;
    std::function<void(const char* editingCommand)> edit;
  };

  MainMenu(const std::string& appName, Actions actions);
  GtkWidget* bar() const { return bar_; }

  // The item carrying `tag` anywhere in the menu, or nullptr.
  GtkWidget* itemByTag(int tag) const;
  static int tagOf(GtkWidget* item);
  // The items of a menu or the bar, in order (empty for anything else).
  static std::vector<GtkWidget*> itemsOf(GtkWidget* shell);
  static void setTag(GtkWidget* item, int tag);

  // View › Developer Tools (and the separator above it) is there only while
  // the web views have developer extras (the inspector) on.
  void setDeveloperToolsShown(bool shown);

  // The six references the application delegate keeps.
  GtkWidget* mainMenu = nullptr;       // the bar
  GtkWidget* menuItemApp = nullptr;    // tag 900
  GtkWidget* appMenu = nullptr;
  GtkWidget* menuItemFile = nullptr;   // tag 100
  GtkWidget* fileMenu = nullptr;
  GtkWidget* mainWindowMenuItem = nullptr;  // tag 102, hidden while the window is open

 private:
  GtkWidget* bar_;
  Actions actions_;
  GtkWidget* developerTools_ = nullptr;
  GtkWidget* developerToolsSeparator_ = nullptr;
};

}  // namespace corvane
