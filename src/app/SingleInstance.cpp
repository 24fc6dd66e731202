#include "app/SingleInstance.h"

#include "app/Log.h"

#include <gio/gio.h>

#include <future>

namespace corvane {
namespace {

constexpr const char* kObjectPath = "/app/corvane/Instance";
constexpr const char* kInterface = "app.corvane.Instance";
constexpr const char* kIntrospection =
    "<node><interface name='app.corvane.Instance'>"
    "<method name='BundlePath'><arg type='s' name='path' direction='out'/></method>"
    "</interface></node>";

// A main context served by a thread of its own for the life of the process.
GMainContext* answeringContext() {
  static GMainContext* context = [] {
    GMainContext* c = g_main_context_new();
    g_thread_unref(g_thread_new("instance-answers", [](gpointer data) -> gpointer {
      auto* ctx = static_cast<GMainContext*>(data);
      g_main_context_push_thread_default(ctx);
      for (;;) g_main_context_iteration(ctx, TRUE);
      return nullptr;
    }, c));
    return c;
  }();
  return context;
}

GDBusNodeInfo* node() {
  static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return info;
}

// Answers with the bundle path the object was registered with.
const GDBusInterfaceVTable vtable = {
    [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
       GDBusMethodInvocation* invocation, gpointer data) {
      g_dbus_method_invocation_return_value(invocation,
                                            g_variant_new("(s)", static_cast<const std::string*>(data)->c_str()));
    },
    nullptr, nullptr, {}};

}  // namespace

bool publishRunningBundle(GDBusConnection* bus, const std::string& bundlePath) {
  if (!bus) return false;
  // Method calls are dispatched in the thread-default context of the
  // registering thread, so the answering thread registers.
  struct Job {
    GDBusConnection* bus;
    std::string path;
    std::promise<std::string> failure;  // empty: registered
  } job{bus, bundlePath, {}};
  auto outcome = job.failure.get_future();
  g_main_context_invoke(answeringContext(), [](gpointer data) -> gboolean {
    auto* j = static_cast<Job*>(data);
    GError* error = nullptr;
    const guint id = g_dbus_connection_register_object(
        j->bus, kObjectPath, node()->interfaces[0], &vtable, new std::string(j->path),
        [](gpointer p) { delete static_cast<std::string*>(p); }, &error);
    j->failure.set_value(id ? "" : (error ? error->message : "unknown error"));
    if (error) g_error_free(error);
    return G_SOURCE_REMOVE;
  }, &job);
  const std::string failure = outcome.get();
  if (!failure.empty()) {
    log().warn("cannot tell second starts which bundle runs: {}", failure);
    return false;
  }
  return true;
}

std::optional<std::string> runningBundle(GDBusConnection* bus, const std::string& busName, int timeoutMs) {
  if (!bus) return std::nullopt;
  GVariant* reply = g_dbus_connection_call_sync(bus, busName.c_str(), kObjectPath, kInterface, "BundlePath",
                                                nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
                                                timeoutMs, nullptr, nullptr);
  if (!reply) return std::nullopt;
  const gchar* path = nullptr;
  g_variant_get(reply, "(&s)", &path);
  std::string out = path;
  g_variant_unref(reply);
  return out;
}

bool releaseInstanceName(GDBusConnection* bus, const std::string& busName) {
  if (!bus) return false;
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "ReleaseName",
                                                g_variant_new("(s)", busName.c_str()), G_VARIANT_TYPE("(u)"),
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  if (!reply) {
    log().warn("cannot give up the name {}: {}", busName, error ? error->message : "");
    if (error) g_error_free(error);
    return false;
  }
  guint32 result = 0;
  g_variant_get(reply, "(u)", &result);
  g_variant_unref(reply);
  return result == 1;  // DBUS_RELEASE_NAME_REPLY_RELEASED
}

}  // namespace corvane
