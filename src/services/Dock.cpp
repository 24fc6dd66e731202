#include "services/Dock.h"

#include "app/Log.h"
#include "app/Utils.h"

#include <cerrno>
#include <cstdlib>

namespace corvane {
namespace {

constexpr const char* kInterface = "com.canonical.Unity.LauncherEntry";
// Launchers that start after the badge was set ask for it with Query.
constexpr const char* kIntrospection =
    "<node><interface name='com.canonical.Unity.LauncherEntry'>"
    "<method name='Query'><arg type='s' direction='out'/><arg type='a{sv}' direction='out'/></method>"
    "<signal name='Update'><arg type='s'/><arg type='a{sv}'/></signal>"
    "</interface></node>";

}  // namespace

Dock::Dock() {
  GError* error = nullptr;
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus_) {
    log().info("dock badge: no session bus ({})", error ? error->message : "");
    if (error) g_error_free(error);
    return;
  }
  // One object per application, named after its launcher.
  objectPath_ = "/com/canonical/unity/launcherentry/" + std::to_string(g_str_hash(applicationUri().c_str()));
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  static const GDBusInterfaceVTable vtable = {&Dock::onMethodCall, nullptr, nullptr, {}};
  registration_ = g_dbus_connection_register_object(bus_, objectPath_.c_str(), node->interfaces[0], &vtable, this,
                                                    nullptr, nullptr);
}

Dock::~Dock() {
  if (bus_) {
    if (registration_) g_dbus_connection_unregister_object(bus_, registration_);
    g_object_unref(bus_);
  }
}

std::string Dock::applicationUri() {
  return "application://" + Utils::sharedInstance().bundle().infoText("CFBundleIdentifier") + ".desktop";
}

std::optional<int64_t> Dock::countOf(const std::string& text) {
  const char* begin = text.c_str();
  while (*begin == ' ' || *begin == '\t') ++begin;
  if (!*begin) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(begin, &end, 10);
  while (end && (*end == ' ' || *end == '\t')) ++end;
  if (errno != 0 || end == begin || (end && *end)) return std::nullopt;
  return static_cast<int64_t>(n);
}

GVariant* Dock::properties() const {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  const auto count = badge_ ? countOf(*badge_) : std::nullopt;
  g_variant_builder_add(&b, "{sv}", "count", g_variant_new_int64(count.value_or(0)));
  g_variant_builder_add(&b, "{sv}", "count-visible", g_variant_new_boolean(count.has_value()));
  return g_variant_builder_end(&b);
}

void Dock::emitUpdate() {
  if (!bus_) return;
  GError* error = nullptr;
  if (!g_dbus_connection_emit_signal(bus_, nullptr, objectPath_.c_str(), kInterface, "Update",
                                     g_variant_new("(s@a{sv})", applicationUri().c_str(), properties()), &error)) {
    log().info("dock badge: {}", error ? error->message : "");
    if (error) g_error_free(error);
  }
  g_dbus_connection_flush(bus_, nullptr, nullptr, nullptr);
}

void Dock::onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                        GDBusMethodInvocation* invocation, gpointer self) {
  auto* dock = static_cast<Dock*>(self);
  if (g_strcmp0(method, "Query") == 0) {
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(s@a{sv})", applicationUri().c_str(), dock->properties()));
    return;
  }
  g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "no method %s",
                                        method);
}

void Dock::setBadge(const std::string& text) {
  badge_ = text;
  emitUpdate();
}

nlohmann::json Dock::badge() const {
  // An empty text removes the badge: there is none to read back.
  return badge_ && !badge_->empty() ? nlohmann::json(*badge_) : nlohmann::json(nullptr);
}

nlohmann::json Dock::fieldValue(const std::string& field) const {
  return field == "badge" ? badge() : nlohmann::json(nullptr);
}

const ServiceClass& Dock::serviceClass() const {
  // Every method and every field is visible; the `badge` field is what
  // scripts read (it stands where the getter of the same name would).
  static const ServiceClass cls = ServiceClass::Builder<Dock>("Dock")
                                      .method("setBadge:", &Dock::setBadge)
                                      .method("badge", &Dock::badge)
                                      .field("badge")
                                      .scriptNames({{"setBadge:", "setBadge"}, {"badge", "badge"}})
                                      .excludeKeys([](const std::string&) { return false; })
                                      .build();
  return cls;
}

}  // namespace corvane
