#include "ui/MenuItemAction.h"

namespace corvane::menuitem {
namespace {

constexpr const char* kSlot = "corvane-item-action";

struct Slot {
  Action action;
  const void* owner = nullptr;
};

Slot* slotOf(GtkWidget* item) { return static_cast<Slot*>(g_object_get_data(G_OBJECT(item), kSlot)); }

void onActivate(GtkMenuItem* menuItem, gpointer) {
  // Opening a submenu activates its item too; that is no choice.
  if (gtk_menu_item_get_submenu(menuItem)) return;
  Slot* slot = slotOf(GTK_WIDGET(menuItem));
  if (!slot || !slot->action) return;
  // The action may replace itself (or remove the item) while it runs.
  Action action = slot->action;
  g_object_ref(menuItem);
  action(GTK_WIDGET(menuItem));
  g_object_unref(menuItem);
}

}  // namespace

void setAction(GtkWidget* item, Action action, const void* owner) {
  if (!item || !GTK_IS_MENU_ITEM(item)) return;
  Slot* slot = slotOf(item);
  if (!slot) {
    slot = new Slot();
    g_object_set_data_full(G_OBJECT(item), kSlot, slot, [](gpointer p) { delete static_cast<Slot*>(p); });
    g_signal_connect(item, "activate", G_CALLBACK(onActivate), nullptr);
  }
  slot->action = std::move(action);
  slot->owner = owner;
}

bool hasAction(GtkWidget* item) {
  const Slot* slot = item ? slotOf(item) : nullptr;
  return slot && slot->action;
}

const void* ownerOf(GtkWidget* item) {
  const Slot* slot = item ? slotOf(item) : nullptr;
  return slot && slot->action ? slot->owner : nullptr;
}

void clearActionOf(GtkWidget* item, const void* owner) {
  Slot* slot = item ? slotOf(item) : nullptr;
  if (!slot || slot->owner != owner) return;
  slot->action = nullptr;
  slot->owner = nullptr;
}

}  // namespace corvane::menuitem
