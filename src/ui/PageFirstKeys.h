#pragma once
// Key presses go to the page first, as in a browser: the window's menu
// accelerators and mnemonics act on a key only when the page left it alone
// (did not prevent its default, and no editing in a text field took it).
#include <gtk/gtk.h>

namespace corvane {

// Installs the order on a window whose content is a web view. Connect it
// after the window's menu bar is in place, so the menu bar's own key (F10)
// keeps coming first.
void routeKeysToPageFirst(GtkWindow* window);

}  // namespace corvane
