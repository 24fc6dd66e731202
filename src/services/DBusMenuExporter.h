#pragma once
// A GtkMenu as the com.canonical.dbusmenu interface shows it, for a tray
// icon's panel to draw: the menu is the root (id 0), each item gets an id
// for as long as it exists, and any change (items added, removed,
// retitled, enabled, shown, given a submenu) raises the layout's revision
// once per main-loop turn with LayoutUpdated. A "clicked" event on an
// enabled item reaches the handler.
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <string>

namespace corvane {

class DBusMenuExporter {
 public:
  using Clicked = std::function<void(GtkWidget* item, int id)>;
  DBusMenuExporter(GtkWidget* menu, Clicked clicked);
  ~DBusMenuExporter();
  DBusMenuExporter(const DBusMenuExporter&) = delete;
  DBusMenuExporter& operator=(const DBusMenuExporter&) = delete;

  // Puts the menu on `connection` at `path` until unexport().
  void exportOn(GDBusConnection* connection, const std::string& path);
  void unexport();

  uint32_t revision() const { return revision_; }
  // The item's id (made on first sight), and the item of an id.
  int idFor(GtkWidget* item);
  GtkWidget* itemFor(int id) const;

 private:
  GVariant* layout(GtkWidget* node, int id, int depth, const std::vector<std::string>& names);
  GVariant* properties(GtkWidget* item, const std::vector<std::string>& names);
  GtkWidget* shellOf(GtkWidget* node) const;  // the menu whose items are the node's children
  void watch(GtkWidget* widget);
  void watchTree(GtkWidget* shell);
  void changed();
  void forget(GtkWidget* item);
  void event(int id, const std::string& eventId);

  static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                           GDBusMethodInvocation*, gpointer);
  static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**,
                                 gpointer);

  GtkWidget* menu_;
  Clicked clicked_;
  std::string key_;  // marks the widgets this exporter watches and numbers
  std::map<int, GtkWidget*> items_;
  int nextId_ = 1;
  uint32_t revision_ = 1;
  guint pendingUpdate_ = 0;
  GDBusConnection* connection_ = nullptr;
  guint object_ = 0;
  std::string path_;
};

}  // namespace corvane
