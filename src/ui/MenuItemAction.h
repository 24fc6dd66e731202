#pragma once
// What a menu item does when it is chosen: one action per item, replaced as
// a whole. The built-in menu gives its items their actions; a page function
// (an item's setCallback) or a generated action (setMenuProperty) takes the
// place of whatever the item did before, built-in actions included. Every
// item runs its action through one "activate" handler, so nothing an item
// did before can still run beside its new action.
#include <gtk/gtk.h>

#include <functional>

namespace corvane::menuitem {

using Action = std::function<void(GtkWidget* item)>;

// Sets the item's action (an empty one leaves the item doing nothing when
// chosen). `owner` names who set it, for clearActionOf and ownerOf.
void setAction(GtkWidget* item, Action action, const void* owner = nullptr);
// The item has an action (an empty one set by setAction does not count).
bool hasAction(GtkWidget* item);
// Who set the item's current action (nullptr: none, or the built-in menu).
const void* ownerOf(GtkWidget* item);
// Removes the item's action when `owner` set it, so that an owner going
// away never leaves its action behind.
void clearActionOf(GtkWidget* item, const void* owner);

}  // namespace corvane::menuitem
