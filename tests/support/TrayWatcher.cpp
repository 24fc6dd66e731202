#include "support/TrayWatcher.h"

#include "support/PrivateBus.h"

#include <future>
#include <stdexcept>

namespace corvane::test {
namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* kIntrospection =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/>"
    "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
    "<signal name='StatusNotifierItemUnregistered'><arg type='s'/></signal>"
    "<signal name='StatusNotifierHostRegistered'/>"
    "</interface></node>";

}  // namespace

TrayWatcher::TrayWatcher(std::string busAddress) : address_(std::move(busAddress)) { panel_ = connectToBus(address_); }

TrayWatcher::~TrayWatcher() {
  stop();
  g_object_unref(panel_);
}

void TrayWatcher::start() {
  if (thread_.joinable()) return;
  std::promise<void> owned;
  auto ready = owned.get_future();
  context_ = g_main_context_new();
  loop_ = g_main_loop_new(context_, FALSE);
  thread_ = std::thread([this, &owned] {
    g_main_context_push_thread_default(context_);
    watcher_ = connectToBus(address_);
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {&TrayWatcher::onMethodCall, &TrayWatcher::onGetProperty, nullptr, {}};
    g_dbus_connection_register_object(watcher_, "/StatusNotifierWatcher", node->interfaces[0], &vtable, this, nullptr,
                                      nullptr);
    GVariant* reply = g_dbus_connection_call_sync(watcher_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", kWatcher, 4u),
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
    owned.set_value();
    g_main_loop_run(loop_);
    // Ending the connection drops the name at once, as a panel that ends does.
    g_dbus_connection_close_sync(watcher_, nullptr, nullptr);
    g_object_unref(watcher_);
    watcher_ = nullptr;
    g_main_context_pop_thread_default(context_);
  });
  ready.wait();
}

void TrayWatcher::stop() {
  if (!thread_.joinable()) return;
  g_main_loop_quit(loop_);
  g_main_context_wakeup(context_);
  thread_.join();
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
  loop_ = nullptr;
  context_ = nullptr;
}

std::vector<TrayWatcher::Registration> TrayWatcher::registrations() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return registrations_;
}

void TrayWatcher::onMethodCall(GDBusConnection* c, const gchar*, const gchar*, const gchar*, const gchar* method,
                               GVariant* args, GDBusMethodInvocation* invocation, gpointer data) {
  auto* self = static_cast<TrayWatcher*>(data);
  if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
    const gchar* service = "";
    g_variant_get(args, "(&s)", &service);
    {
      std::lock_guard<std::mutex> hold(self->mutex_);
      self->registrations_.push_back({service});
    }
    g_dbus_connection_emit_signal(c, nullptr, "/StatusNotifierWatcher", kWatcher, "StatusNotifierItemRegistered",
                                  g_variant_new("(s)", service), nullptr);
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* TrayWatcher::onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                                     GError**, gpointer data) {
  auto* self = static_cast<TrayWatcher*>(data);
  if (g_strcmp0(name, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
  if (g_strcmp0(name, "ProtocolVersion") == 0) return g_variant_new_int32(0);
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("as"));
  std::lock_guard<std::mutex> hold(self->mutex_);
  for (const auto& r : self->registrations_) g_variant_builder_add(&b, "s", r.service.c_str());
  return g_variant_builder_end(&b);
}

void TrayWatcher::call(const std::string& service, const std::string& path, const std::string& interface,
                       const std::string& method, GVariant* args, GVariant** reply) const {
  GError* error = nullptr;
  GVariant* answer = g_dbus_connection_call_sync(panel_, service.c_str(), path.c_str(), interface.c_str(),
                                                 method.c_str(), args, nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
                                                 &error);
  if (!answer) {
    std::string why = error ? error->message : "no answer";
    if (error) g_error_free(error);
    throw std::runtime_error(method + ": " + why);
  }
  if (reply)
    *reply = answer;
  else
    g_variant_unref(answer);
}

GVariant* TrayWatcher::property(const std::string& service, const std::string& name) const {
  GVariant* reply = nullptr;
  call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
       g_variant_new("(ss)", "org.kde.StatusNotifierItem", name.c_str()), &reply);
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  g_variant_unref(reply);
  return value;
}

bool TrayWatcher::nameHasOwner(const std::string& name) const {
  GVariant* reply = nullptr;
  call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
       g_variant_new("(s)", name.c_str()), &reply);
  gboolean has = FALSE;
  g_variant_get(reply, "(b)", &has);
  g_variant_unref(reply);
  return has;
}

}  // namespace corvane::test
