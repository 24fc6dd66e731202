#include "services/StatusNotifierItem.h"

#include "app/Log.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace corvane {
namespace {

constexpr const char* kInterface = "org.kde.StatusNotifierItem";
constexpr int kRegisterTimeoutMs = 5000;

constexpr const char* kIntrospection =
    "<node><interface name='org.kde.StatusNotifierItem'>"
    "<property name='Category' type='s' access='read'/>"
    "<property name='Id' type='s' access='read'/>"
    "<property name='Title' type='s' access='read'/>"
    "<property name='Status' type='s' access='read'/>"
    "<property name='WindowId' type='i' access='read'/>"
    "<property name='IconThemePath' type='s' access='read'/>"
    "<property name='IconName' type='s' access='read'/>"
    "<property name='IconPixmap' type='a(iiay)' access='read'/>"
    "<property name='OverlayIconName' type='s' access='read'/>"
    "<property name='OverlayIconPixmap' type='a(iiay)' access='read'/>"
    "<property name='AttentionIconName' type='s' access='read'/>"
    "<property name='AttentionIconPixmap' type='a(iiay)' access='read'/>"
    "<property name='AttentionMovieName' type='s' access='read'/>"
    "<property name='ToolTip' type='(sa(iiay)ss)' access='read'/>"
    "<property name='ItemIsMenu' type='b' access='read'/>"
    "<property name='Menu' type='o' access='read'/>"
    "<method name='ContextMenu'><arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/></method>"
    "<method name='Activate'><arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/></method>"
    "<method name='SecondaryActivate'><arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/></method>"
    "<method name='Scroll'><arg name='delta' type='i' direction='in'/><arg name='orientation' type='s' direction='in'/></method>"
    "<method name='ProvideXdgActivationToken'><arg name='token' type='s' direction='in'/></method>"
    "<signal name='NewTitle'/><signal name='NewIcon'/><signal name='NewAttentionIcon'/>"
    "<signal name='NewOverlayIcon'/><signal name='NewToolTip'/>"
    "<signal name='NewStatus'><arg name='status' type='s'/></signal>"
    "</interface></node>";

GDBusInterfaceInfo* interfaceInfo() {
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return node->interfaces[0];
}

std::atomic<int> g_nextItem{1};

}  // namespace

// The item's own connection with its objects and name. Asynchronous steps
// hold it; `owner` is cleared when the item lets it go, so a late answer
// finds nobody to tell.
struct StatusNotifierItem::Link {
  StatusNotifierItem* owner = nullptr;
  GCancellable* cancel = g_cancellable_new();
  GDBusConnection* connection = nullptr;
  guint object = 0;
  guint name = 0;
  bool nameOwned = false;
  std::function<void()> unexport;

  ~Link() {
    g_cancellable_cancel(cancel);
    g_object_unref(cancel);
    if (connection) g_object_unref(connection);
  }
};

StatusNotifierItem::StatusNotifierItem(std::string id, ClickHandler click, ScrollHandler scroll)
    : id_(std::move(id)), click_(std::move(click)), scroll_(std::move(scroll)) {
  busName_ = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(g_nextItem++);
  GError* error = nullptr;
  sessionBus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!sessionBus_) {
    log().info("tray: no session bus ({}); the tray is unavailable", error ? error->message : "");
    if (error) g_error_free(error);
    watcherKnown_ = 0;
    return;
  }
  watcherWatch_ = g_bus_watch_name_on_connection(
      sessionBus_, kWatcher, G_BUS_NAME_WATCHER_FLAGS_NONE,
      +[](GDBusConnection*, const gchar*, const gchar*, gpointer self) {
        auto* item = static_cast<StatusNotifierItem*>(self);
        item->watcherKnown_ = 1;
        item->registerWithWatcher();
      },
      +[](GDBusConnection*, const gchar*, gpointer self) {
        auto* item = static_cast<StatusNotifierItem*>(self);
        if (item->registered_) log().info("tray: the status notifier watcher went away");
        item->watcherKnown_ = 0;
        item->registered_ = false;
      },
      this, nullptr);
}

StatusNotifierItem::~StatusNotifierItem() {
  withdraw();
  if (link_) {
    link_->owner = nullptr;
    g_cancellable_cancel(link_->cancel);
    if (link_->connection) g_dbus_connection_close(link_->connection, nullptr, nullptr, nullptr);
    link_.reset();
  }
  if (watcherWatch_) g_bus_unwatch_name(watcherWatch_);
  if (sessionBus_) g_object_unref(sessionBus_);
}

bool StatusNotifierItem::watcherPresent() {
  if (watcherKnown_ >= 0 || !sessionBus_) return watcherKnown_ > 0;
  // The watch has not reported yet: ask the bus once, briefly.
  GVariant* reply = g_dbus_connection_call_sync(sessionBus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", kWatcher),
                                                G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 500, nullptr, nullptr);
  if (!reply) return false;
  gboolean has = FALSE;
  g_variant_get(reply, "(b)", &has);
  g_variant_unref(reply);
  return has;
}

void StatusNotifierItem::setMenu(const std::string& objectPath, Exporter exporter) {
  menuPath_ = objectPath;
  exporter_ = std::move(exporter);
}

void StatusNotifierItem::setShown(bool shown) {
  if (shown == shown_) return;
  shown_ = shown;
  if (!shown)
    withdraw();
  else if (link_ && link_->connection)
    publish();
  else
    connect();
}

void StatusNotifierItem::connect() {
  if (link_ || !sessionBus_) return;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!address) return;
  link_ = std::make_shared<Link>();
  link_->owner = this;
  // A connection of the item's own: two trays of one process never share
  // object paths, and its name is the item's alone.
  g_dbus_connection_new_for_address(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, link_->cancel,
      +[](GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::shared_ptr<Link>> held(static_cast<std::shared_ptr<Link>*>(data));
        Link& link = **held;
        GError* error = nullptr;
        GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
        if (!connection) {
          if (link.owner) log().error("tray: cannot connect to the session bus: {}", error ? error->message : "");
          if (error) g_error_free(error);
          if (link.owner) link.owner->link_.reset();  // the next showing tries again
          return;
        }
        link.connection = connection;
        if (!link.owner) {
          g_dbus_connection_close(connection, nullptr, nullptr, nullptr);
          return;
        }
        if (link.owner->shown_) link.owner->publish();
      },
      new std::shared_ptr<Link>(link_));
  g_free(address);
}

void StatusNotifierItem::publish() {
  if (!link_ || !link_->connection || link_->object) return;
  static const GDBusInterfaceVTable vtable = {&StatusNotifierItem::onMethodCall, &StatusNotifierItem::onGetProperty,
                                              nullptr, {}};
  link_->object =
      g_dbus_connection_register_object(link_->connection, kObjectPath, interfaceInfo(), &vtable, this, nullptr, nullptr);
  if (exporter_) link_->unexport = exporter_(link_->connection);
  link_->nameOwned = false;
  link_->name = g_bus_own_name_on_connection(
      link_->connection, busName_.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
      +[](GDBusConnection*, const gchar*, gpointer data) {
        auto* self = static_cast<StatusNotifierItem*>(data);
        if (!self->link_) return;
        self->link_->nameOwned = true;
        self->registerWithWatcher();
      },
      +[](GDBusConnection*, const gchar* name, gpointer data) {
        auto* self = static_cast<StatusNotifierItem*>(data);
        if (self->link_ && !self->link_->nameOwned) log().error("tray: cannot own the bus name {}", name);
      },
      this, nullptr);
}

void StatusNotifierItem::withdraw() {
  registered_ = false;
  if (!link_) return;
  // Giving up the name is what the watchers see: the item leaves the panels.
  if (link_->name) g_bus_unown_name(link_->name);
  link_->name = 0;
  link_->nameOwned = false;
  if (link_->unexport) link_->unexport();
  link_->unexport = nullptr;
  if (link_->object) g_dbus_connection_unregister_object(link_->connection, link_->object);
  link_->object = 0;
}

void StatusNotifierItem::registerWithWatcher() {
  if (!shown_ || !link_ || !link_->nameOwned || watcherKnown_ != 1 || !link_->connection) return;
  g_dbus_connection_call(
      link_->connection, kWatcher, "/StatusNotifierWatcher", kWatcher, "RegisterStatusNotifierItem",
      g_variant_new("(s)", busName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, kRegisterTimeoutMs,
      link_->cancel,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::shared_ptr<Link>> held(static_cast<std::shared_ptr<Link>*>(data));
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        StatusNotifierItem* self = (*held)->owner;
        if (reply) g_variant_unref(reply);
        if (self && self->shown_) {
          self->registered_ = reply != nullptr;
          if (reply)
            log().info("tray: registered with the status notifier watcher as {}", self->busName_);
          else
            log().info("tray: the status notifier watcher did not take the item: {}", error ? error->message : "");
        }
        if (error) g_error_free(error);
      },
      new std::shared_ptr<Link>(link_));
}

std::string StatusNotifierItem::status() const { return attention_ ? "NeedsAttention" : "Active"; }

GVariant* StatusNotifierItem::iconPixmaps(const Icon& icon) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a(iiay)"));
  for (const auto& p : icon.pixmaps) {
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, p.argb.data(), p.argb.size(), 1);
    g_variant_builder_add(&b, "(ii@ay)", p.width, p.height, bytes);
  }
  return g_variant_builder_end(&b);
}

GVariant* StatusNotifierItem::property(const std::string& name) const {
  if (name == "Category") return g_variant_new_string("ApplicationStatus");
  if (name == "Id") return g_variant_new_string(id_.c_str());
  if (name == "Title") return g_variant_new_string(title_.c_str());
  if (name == "Status") return g_variant_new_string(status().c_str());
  if (name == "WindowId") return g_variant_new_int32(0);
  if (name == "IconThemePath") return g_variant_new_string("");
  if (name == "IconName") return g_variant_new_string(icon_.name.c_str());
  if (name == "IconPixmap") return iconPixmaps(icon_);
  if (name == "OverlayIconName" || name == "AttentionMovieName") return g_variant_new_string("");
  if (name == "OverlayIconPixmap") return iconPixmaps(Icon{});
  if (name == "AttentionIconName") return g_variant_new_string(attentionIcon_.name.c_str());
  if (name == "AttentionIconPixmap") return iconPixmaps(attentionIcon_);
  if (name == "ToolTip")
    return g_variant_new("(s@a(iiay)ss)", "", iconPixmaps(Icon{}), toolTip_.c_str(), "");
  if (name == "ItemIsMenu") return g_variant_new_boolean(FALSE);  // a left click activates
  if (name == "Menu") return g_variant_new_object_path(menuPath_.c_str());
  return nullptr;
}

void StatusNotifierItem::changed(const char* signal, std::initializer_list<const char*> properties) {
  if (!link_ || !link_->object) return;
  GDBusConnection* c = link_->connection;
  GVariant* args = g_strcmp0(signal, "NewStatus") == 0 ? g_variant_new("(s)", status().c_str()) : nullptr;
  g_dbus_connection_emit_signal(c, nullptr, kObjectPath, kInterface, signal, args, nullptr);
  // Hosts that follow properties rather than the item's own signals.
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  for (const char* p : properties) g_variant_builder_add(&b, "{sv}", p, property(p));
  g_dbus_connection_emit_signal(c, nullptr, kObjectPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                g_variant_new("(sa{sv}as)", kInterface, &b, nullptr), nullptr);
}

void StatusNotifierItem::setTitle(const std::string& title) {
  title_ = title;
  changed("NewTitle", {"Title"});
}

void StatusNotifierItem::setToolTip(const std::string& text) {
  toolTip_ = text;
  changed("NewToolTip", {"ToolTip"});
}

void StatusNotifierItem::setIcon(Icon icon) {
  icon_ = std::move(icon);
  changed("NewIcon", {"IconName", "IconPixmap"});
}

void StatusNotifierItem::setAttentionIcon(Icon icon) {
  attentionIcon_ = std::move(icon);
  changed("NewAttentionIcon", {"AttentionIconName", "AttentionIconPixmap"});
}

void StatusNotifierItem::setNeedsAttention(bool attention) {
  if (attention == attention_) return;
  attention_ = attention;
  changed("NewStatus", {"Status"});
}

GVariant* StatusNotifierItem::onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                            const gchar* name, GError** error, gpointer self) {
  GVariant* value = static_cast<StatusNotifierItem*>(self)->property(name);
  if (!value) g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", name);
  return value;
}

void StatusNotifierItem::onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                                      GVariant* args, GDBusMethodInvocation* invocation, gpointer data) {
  auto* self = static_cast<StatusNotifierItem*>(data);
  // Answer first: the host never waits for the page.
  g_dbus_method_invocation_return_value(invocation, nullptr);
  if (g_strcmp0(method, "Scroll") == 0) {
    gint32 delta = 0;
    const gchar* orientation = "";
    g_variant_get(args, "(i&s)", &delta, &orientation);
    std::string o = orientation;
    std::transform(o.begin(), o.end(), o.begin(), [](unsigned char c) { return g_ascii_tolower(c); });
    if (self->scroll_) self->scroll_(delta, o == "horizontal" ? "horizontal" : "vertical");
    return;
  }
  const char* kind = g_strcmp0(method, "Activate") == 0            ? "activate"
                     : g_strcmp0(method, "SecondaryActivate") == 0 ? "secondaryActivate"
                     : g_strcmp0(method, "ContextMenu") == 0       ? "contextMenu"
                                                                   : nullptr;
  if (!kind) return;  // ProvideXdgActivationToken: nothing to activate with it
  gint32 x = 0, y = 0;
  g_variant_get(args, "(ii)", &x, &y);
  if (self->click_) self->click_(kind, x, y);
}

}  // namespace corvane
