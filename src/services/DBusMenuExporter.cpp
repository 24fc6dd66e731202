#include "services/DBusMenuExporter.h"

#include "app/Log.h"
#include "services/MenuProxy.h"
#include "ui/MainMenu.h"

#include <algorithm>

namespace corvane {
namespace {

constexpr const char* kInterface = "com.canonical.dbusmenu";

constexpr const char* kIntrospection =
    "<node><interface name='com.canonical.dbusmenu'>"
    "<property name='Version' type='u' access='read'/>"
    "<property name='TextDirection' type='s' access='read'/>"
    "<property name='Status' type='s' access='read'/>"
    "<property name='IconThemePath' type='as' access='read'/>"
    "<method name='GetLayout'><arg type='i' name='parentId' direction='in'/>"
    "<arg type='i' name='recursionDepth' direction='in'/><arg type='as' name='propertyNames' direction='in'/>"
    "<arg type='u' name='revision' direction='out'/><arg type='(ia{sv}av)' name='layout' direction='out'/></method>"
    "<method name='GetGroupProperties'><arg type='ai' name='ids' direction='in'/>"
    "<arg type='as' name='propertyNames' direction='in'/><arg type='a(ia{sv})' name='properties' direction='out'/></method>"
    "<method name='GetProperty'><arg type='i' name='id' direction='in'/><arg type='s' name='name' direction='in'/>"
    "<arg type='v' name='value' direction='out'/></method>"
    "<method name='Event'><arg type='i' name='id' direction='in'/><arg type='s' name='eventId' direction='in'/>"
    "<arg type='v' name='data' direction='in'/><arg type='u' name='timestamp' direction='in'/></method>"
    "<method name='EventGroup'><arg type='a(isvu)' name='events' direction='in'/>"
    "<arg type='ai' name='idErrors' direction='out'/></method>"
    "<method name='AboutToShow'><arg type='i' name='id' direction='in'/>"
    "<arg type='b' name='needUpdate' direction='out'/></method>"
    "<method name='AboutToShowGroup'><arg type='ai' name='ids' direction='in'/>"
    "<arg type='ai' name='updatesNeeded' direction='out'/><arg type='ai' name='idErrors' direction='out'/></method>"
    "<signal name='ItemsPropertiesUpdated'><arg type='a(ia{sv})'/><arg type='a(ias)'/></signal>"
    "<signal name='LayoutUpdated'><arg type='u'/><arg type='i'/></signal>"
    "<signal name='ItemActivationRequested'><arg type='i'/><arg type='u'/></signal>"
    "</interface></node>";

GDBusInterfaceInfo* interfaceInfo() {
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return node->interfaces[0];
}

std::vector<std::string> texts(GVariant* array) {
  std::vector<std::string> out;
  GVariantIter it;
  const gchar* s = nullptr;
  g_variant_iter_init(&it, array);
  while (g_variant_iter_next(&it, "&s", &s)) out.emplace_back(s);
  return out;
}

// A label as dbusmenu writes it: "_" marks the mnemonic, "__" is one "_".
std::string menuLabel(GtkWidget* item) {
  const char* label = gtk_menu_item_get_label(GTK_MENU_ITEM(item));
  std::string text = label ? label : "";
  if (gtk_menu_item_get_use_underline(GTK_MENU_ITEM(item))) return text;
  std::string out;
  for (char c : text) {
    if (c == '_') out += '_';
    out += c;
  }
  return out;
}

// The item's key as dbusmenu's "shortcut": [["Control", "q"]].
GVariant* shortcutOf(GtkWidget* item) {
  GtkWidget* label = gtk_bin_get_child(GTK_BIN(item));
  if (!label || !GTK_IS_ACCEL_LABEL(label)) return nullptr;
  guint key = 0;
  GdkModifierType mods = GdkModifierType(0);
  gtk_accel_label_get_accel(GTK_ACCEL_LABEL(label), &key, &mods);
  if (!key) return nullptr;
  GVariantBuilder one;
  g_variant_builder_init(&one, G_VARIANT_TYPE("as"));
  if (mods & GDK_CONTROL_MASK) g_variant_builder_add(&one, "s", "Control");
  if (mods & GDK_MOD1_MASK) g_variant_builder_add(&one, "s", "Alt");
  if (mods & GDK_SHIFT_MASK) g_variant_builder_add(&one, "s", "Shift");
  if (mods & GDK_SUPER_MASK) g_variant_builder_add(&one, "s", "Super");
  const char* name = gdk_keyval_name(key);
  g_variant_builder_add(&one, "s", name ? name : "");
  GVariantBuilder all;
  g_variant_builder_init(&all, G_VARIANT_TYPE("aas"));
  g_variant_builder_add_value(&all, g_variant_builder_end(&one));
  return g_variant_builder_end(&all);
}

}  // namespace

DBusMenuExporter::DBusMenuExporter(GtkWidget* menu, Clicked clicked) : menu_(menu), clicked_(std::move(clicked)) {
  key_ = "corvane-dbusmenu-" + std::to_string(reinterpret_cast<uintptr_t>(this));
  g_object_ref(menu_);
  watchTree(menu_);
}

DBusMenuExporter::~DBusMenuExporter() {
  unexport();
  if (pendingUpdate_) g_source_remove(pendingUpdate_);
  for (auto& [id, item] : items_) {
    g_signal_handlers_disconnect_by_data(item, this);
    g_object_set_data(G_OBJECT(item), key_.c_str(), nullptr);
  }
  // Menus watched along the way (the root and submenus) lose our handlers too.
  std::vector<GtkWidget*> shells{menu_};
  for (size_t i = 0; i < shells.size(); ++i) {
    g_signal_handlers_disconnect_by_data(shells[i], this);
    g_object_set_data(G_OBJECT(shells[i]), key_.c_str(), nullptr);
    for (GtkWidget* item : MainMenu::itemsOf(shells[i]))
      if (GtkWidget* sub = GTK_IS_MENU_ITEM(item) ? gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)) : nullptr)
        shells.push_back(sub);
  }
  g_object_unref(menu_);
}

void DBusMenuExporter::exportOn(GDBusConnection* connection, const std::string& path) {
  unexport();
  static const GDBusInterfaceVTable vtable = {&DBusMenuExporter::onMethodCall, &DBusMenuExporter::onGetProperty,
                                              nullptr, {}};
  GError* error = nullptr;
  object_ = g_dbus_connection_register_object(connection, path.c_str(), interfaceInfo(), &vtable, this, nullptr, &error);
  if (!object_) {
    log().error("tray: cannot export the menu: {}", error ? error->message : "");
    if (error) g_error_free(error);
    return;
  }
  connection_ = G_DBUS_CONNECTION(g_object_ref(connection));
  path_ = path;
}

void DBusMenuExporter::unexport() {
  if (!connection_) return;
  g_dbus_connection_unregister_object(connection_, object_);
  g_object_unref(connection_);
  connection_ = nullptr;
  object_ = 0;
}

int DBusMenuExporter::idFor(GtkWidget* item) {
  if (item == menu_) return 0;
  if (gpointer known = g_object_get_data(G_OBJECT(item), key_.c_str())) return GPOINTER_TO_INT(known);
  const int id = nextId_++;
  g_object_set_data(G_OBJECT(item), key_.c_str(), GINT_TO_POINTER(id));
  items_[id] = item;
  watch(item);
  return id;
}

GtkWidget* DBusMenuExporter::itemFor(int id) const {
  if (id == 0) return menu_;
  auto it = items_.find(id);
  return it == items_.end() ? nullptr : it->second;
}

void DBusMenuExporter::watch(GtkWidget* widget) {
  auto anyChange = +[](GtkWidget*, gpointer, gpointer self) { static_cast<DBusMenuExporter*>(self)->changed(); };
  if (GTK_IS_MENU_SHELL(widget)) {
    // Shells are marked with -1: watched, but no item.
    if (g_object_get_data(G_OBJECT(widget), key_.c_str()) && widget != menu_) return;
    if (widget != menu_) g_object_set_data(G_OBJECT(widget), key_.c_str(), GINT_TO_POINTER(-1));
    g_signal_connect(widget, "insert", G_CALLBACK(+[](GtkMenuShell*, GtkWidget*, gint, gpointer self) {
                       static_cast<DBusMenuExporter*>(self)->changed();
                     }),
                     this);
    g_signal_connect(widget, "remove", G_CALLBACK(anyChange), this);
    return;
  }
  // What the panel shows of an item.
  for (const char* property : {"notify::label", "notify::use-underline", "notify::sensitive", "notify::visible",
                               "notify::submenu"})
    g_signal_connect(widget, property, G_CALLBACK(+[](GObject*, GParamSpec*, gpointer self) {
                       static_cast<DBusMenuExporter*>(self)->changed();
                     }),
                     this);
  g_signal_connect(widget, "destroy", G_CALLBACK(+[](GtkWidget* w, gpointer self) {
                     static_cast<DBusMenuExporter*>(self)->forget(w);
                   }),
                   this);
}

void DBusMenuExporter::watchTree(GtkWidget* shell) {
  if (shell == menu_ && !g_object_get_data(G_OBJECT(shell), (key_ + "-root").c_str())) {
    g_object_set_data(G_OBJECT(shell), (key_ + "-root").c_str(), GINT_TO_POINTER(1));
    watch(shell);
  } else if (shell != menu_) {
    watch(shell);
  }
  for (GtkWidget* item : MainMenu::itemsOf(shell)) {
    idFor(item);
    if (GTK_IS_MENU_ITEM(item))
      if (GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item))) watchTree(sub);
  }
}

void DBusMenuExporter::forget(GtkWidget* item) {
  gpointer known = g_object_get_data(G_OBJECT(item), key_.c_str());
  if (known) items_.erase(GPOINTER_TO_INT(known));
  g_signal_handlers_disconnect_by_data(item, this);
  changed();
}

void DBusMenuExporter::changed() {
  if (pendingUpdate_) return;
  // Many changes in one turn (a page building its menu) make one update.
  pendingUpdate_ = g_idle_add(
      +[](gpointer p) -> gboolean {
        auto* self = static_cast<DBusMenuExporter*>(p);
        self->pendingUpdate_ = 0;
        self->watchTree(self->menu_);  // items and submenus that came since
        ++self->revision_;
        if (self->connection_)
          g_dbus_connection_emit_signal(self->connection_, nullptr, self->path_.c_str(), kInterface, "LayoutUpdated",
                                        g_variant_new("(ui)", self->revision_, 0), nullptr);
        return G_SOURCE_REMOVE;
      },
      this);
}

GtkWidget* DBusMenuExporter::shellOf(GtkWidget* node) const {
  if (node == menu_) return menu_;
  if (GTK_IS_MENU_ITEM(node)) return gtk_menu_item_get_submenu(GTK_MENU_ITEM(node));
  return nullptr;
}

GVariant* DBusMenuExporter::properties(GtkWidget* item, const std::vector<std::string>& names) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  auto wanted = [&](const char* name) {
    return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
  };
  auto add = [&](const char* name, GVariant* value) {
    if (value && wanted(name))
      g_variant_builder_add(&b, "{sv}", name, value);
    else if (value)
      g_variant_unref(g_variant_ref_sink(value));
  };
  if (item == menu_) {
    add("children-display", g_variant_new_string("submenu"));
    return g_variant_builder_end(&b);
  }
  add("visible", g_variant_new_boolean(gtk_widget_get_visible(item)));
  if (GTK_IS_SEPARATOR_MENU_ITEM(item) || !GTK_IS_MENU_ITEM(item)) {
    add("type", g_variant_new_string("separator"));
    return g_variant_builder_end(&b);
  }
  add("type", g_variant_new_string("standard"));
  add("label", g_variant_new_string(menuLabel(item).c_str()));
  add("enabled", g_variant_new_boolean(gtk_widget_get_sensitive(item)));
  if (gtk_menu_item_get_submenu(GTK_MENU_ITEM(item))) add("children-display", g_variant_new_string("submenu"));
  add("shortcut", shortcutOf(item));
  return g_variant_builder_end(&b);
}

GVariant* DBusMenuExporter::layout(GtkWidget* node, int id, int depth, const std::vector<std::string>& names) {
  GVariantBuilder children;
  g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
  if (depth != 0)
    if (GtkWidget* shell = shellOf(node))
      for (GtkWidget* child : MainMenu::itemsOf(shell))
        g_variant_builder_add(&children, "v", layout(child, idFor(child), depth < 0 ? -1 : depth - 1, names));
  return g_variant_new("(i@a{sv}av)", id, properties(node, names), &children);
}

void DBusMenuExporter::event(int id, const std::string& eventId) {
  if (eventId != "clicked") return;  // opened, closed, hovered: nothing to do
  GtkWidget* item = itemFor(id);
  if (!item || item == menu_ || !GTK_IS_MENU_ITEM(item) || GTK_IS_SEPARATOR_MENU_ITEM(item)) return;
  // What the panel shows may be a turn old: a disabled, hidden or submenu
  // item is no choice.
  if (!gtk_widget_get_sensitive(item) || !gtk_widget_get_visible(item) ||
      gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)))
    return;
  if (clicked_) clicked_(item, id);
}

GVariant* DBusMenuExporter::onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                          const gchar* name, GError** error, gpointer) {
  if (g_strcmp0(name, "Version") == 0) return g_variant_new_uint32(3);
  if (g_strcmp0(name, "TextDirection") == 0)
    return g_variant_new_string(gtk_widget_get_default_direction() == GTK_TEXT_DIR_RTL ? "rtl" : "ltr");
  if (g_strcmp0(name, "Status") == 0) return g_variant_new_string("normal");
  if (g_strcmp0(name, "IconThemePath") == 0) return g_variant_new_strv(nullptr, 0);
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", name);
  return nullptr;
}

void DBusMenuExporter::onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                                    GVariant* args, GDBusMethodInvocation* invocation, gpointer data) {
  auto* self = static_cast<DBusMenuExporter*>(data);
  auto unknownId = [&](int id) {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "no menu item %d", id);
  };
  if (g_strcmp0(method, "GetLayout") == 0) {
    gint32 parent = 0, depth = -1;
    GVariant* names = nullptr;
    g_variant_get(args, "(ii@as)", &parent, &depth, &names);
    const auto wanted = texts(names);
    g_variant_unref(names);
    GtkWidget* node = self->itemFor(parent);
    if (!node) return unknownId(parent);
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(u@(ia{sv}av))", self->revision_, self->layout(node, parent, depth, wanted)));
  } else if (g_strcmp0(method, "GetGroupProperties") == 0) {
    GVariant *ids = nullptr, *names = nullptr;
    g_variant_get(args, "(@ai@as)", &ids, &names);
    const auto wanted = texts(names);
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(ia{sv})"));
    gsize n = 0;
    const gint32* list = static_cast<const gint32*>(g_variant_get_fixed_array(ids, &n, sizeof(gint32)));
    for (gsize i = 0; i < n; ++i)
      if (GtkWidget* node = self->itemFor(list[i]))
        g_variant_builder_add(&b, "(i@a{sv})", list[i], self->properties(node, wanted));
    g_variant_unref(ids);
    g_variant_unref(names);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(a(ia{sv}))", &b));
  } else if (g_strcmp0(method, "GetProperty") == 0) {
    gint32 id = 0;
    const gchar* name = "";
    g_variant_get(args, "(i&s)", &id, &name);
    GtkWidget* node = self->itemFor(id);
    if (!node) return unknownId(id);
    GVariant* all = g_variant_ref_sink(self->properties(node, {name}));
    GVariant* value = g_variant_lookup_value(all, name, nullptr);
    g_variant_unref(all);
    if (!value) {
      g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                            "item %d has no property %s", id, name);
      return;
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
    g_variant_unref(value);
  } else if (g_strcmp0(method, "Event") == 0) {
    gint32 id = 0;
    const gchar* eventId = "";
    GVariant* eventData = nullptr;
    guint32 timestamp = 0;
    g_variant_get(args, "(i&s@vu)", &id, &eventId, &eventData, &timestamp);
    g_variant_unref(eventData);
    const std::string what = eventId;
    if (!self->itemFor(id)) return unknownId(id);
    // Answer first: the panel never waits for the page.
    g_dbus_method_invocation_return_value(invocation, nullptr);
    self->event(id, what);
  } else if (g_strcmp0(method, "EventGroup") == 0) {
    GVariantIter* events = nullptr;
    g_variant_get(args, "(a(isvu))", &events);
    std::vector<std::pair<int, std::string>> todo;
    GVariantBuilder errors;
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    gint32 id = 0;
    const gchar* eventId = nullptr;
    GVariant* eventData = nullptr;
    guint32 timestamp = 0;
    while (g_variant_iter_next(events, "(i&s@vu)", &id, &eventId, &eventData, &timestamp)) {
      if (self->itemFor(id))
        todo.emplace_back(id, eventId);
      else
        g_variant_builder_add(&errors, "i", id);
      g_variant_unref(eventData);
    }
    g_variant_iter_free(events);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ai)", &errors));
    for (const auto& [i, e] : todo) self->event(i, e);
  } else if (g_strcmp0(method, "AboutToShow") == 0) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
  } else if (g_strcmp0(method, "AboutToShowGroup") == 0) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(aiai)", nullptr, nullptr));
  } else {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "no method %s",
                                          method);
  }
}

}  // namespace corvane
