#pragma once
// Applies the window style, size and menu changes of "AppExInfo" to a GTK
// window with a header bar (see docs/platform.md for the mapping of each
// key). The decisions themselves are made by app/WindowStyle.
#include "app/WindowStyle.h"

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace corvane {

class WindowStyler {
 public:
  WindowStyler(GtkWindow* window, GtkHeaderBar* headerBar);

  // private_process_window_style:withWindow:
  void applyStyle(const WindowStylePlan& plan);
  // private_process_window_size:withWindow:
  void applySize(const WindowSizePlan& plan);
  // private_process_window_menu:withWindow: (items found through `itemByTag`)
  static void applyMenu(const MenuPlan& plan, const std::function<GtkWidget*(int)>& itemByTag,
                        const std::function<std::string(const std::string&)>& expand);

  // The title bar height: the header bar's height (0 without a visible one
  // or without decorations), as frame::titleBarHeight counts it.
  float titleBarHeight() const;

  // The header bar's decoration layout as it stands ("menu:minimize,maximize,close").
  std::string decorationLayout() const;
  GtkWidget* fullScreenButton() const { return fullScreen_; }

 private:
  void setButton(const std::string& name, bool visible);
  void ensureFullScreenButton();

  GtkWindow* window_;
  GtkHeaderBar* header_;
  GtkWidget* fullScreen_ = nullptr;
};

}  // namespace corvane
