#include "plugins/HelperService.h"

#include "plugins/HelperProtocol.h"

#include <gio/gio.h>

#include <cstdio>

namespace corvane {
namespace {

struct Service {
  std::string name;
  HelperHandler handler;
  GMainLoop* loop = nullptr;
  int status = 0;
  bool owned = false;
};
Service* current = nullptr;

void methodCall(GDBusConnection*, const char* sender, const char*, const char*, const char*,
                GVariant* parameters, GDBusMethodInvocation* invocation, void* data) {
  auto* service = static_cast<Service*>(data);
  const char* message = nullptr;
  g_variant_get(parameters, "(&s)", &message);
  g_object_ref(invocation);
  // The invocation is answered exactly once; a respond that is dropped
  // unanswered leaves the caller waiting, as a helper may choose.
  auto answered = std::make_shared<bool>(false);
  HelperRespond respond = [invocation, answered](const nlohmann::json& reply) {
    if (*answered) return;
    *answered = true;
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", variantFromJson(reply)));
    g_object_unref(invocation);
  };
  service->handler(message ? message : "", sender ? sender : "", std::move(respond));
}

void busAcquired(GDBusConnection* bus, const char*, void* data) {
  auto* service = static_cast<Service*>(data);
  static const GDBusInterfaceVTable vtable = {methodCall, nullptr, nullptr, {nullptr}};
  GError* error = nullptr;
  const std::string path = helperObjectPath(service->name);
  if (!g_dbus_connection_register_object(bus, path.c_str(), helperInterfaceInfo(), &vtable, service, nullptr,
                                         &error)) {
    std::fprintf(stderr, "%s: cannot export %s: %s\n", service->name.c_str(), path.c_str(), error->message);
    g_error_free(error);
    service->status = 1;
    g_main_loop_quit(service->loop);
  }
}

void nameAcquired(GDBusConnection*, const char*, void* data) { static_cast<Service*>(data)->owned = true; }

void nameLost(GDBusConnection*, const char* name, void* data) {
  auto* service = static_cast<Service*>(data);
  std::fprintf(stderr, "%s: %s\n", name, service->owned ? "name lost" : "cannot own the name");
  service->status = 1;
  g_main_loop_quit(service->loop);
}

}  // namespace

int runHelperService(const std::string& serviceName, HelperHandler handler) {
  Service service{serviceName, std::move(handler)};
  service.loop = g_main_loop_new(nullptr, FALSE);
  current = &service;
  const unsigned id = g_bus_own_name(G_BUS_TYPE_SESSION, serviceName.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                     busAcquired, nameAcquired, nameLost, &service, nullptr);
  g_main_loop_run(service.loop);
  g_bus_unown_name(id);
  current = nullptr;
  g_main_loop_unref(service.loop);
  return service.status;
}

void quitHelperService() {
  if (current) g_main_loop_quit(current->loop);
}

}  // namespace corvane
