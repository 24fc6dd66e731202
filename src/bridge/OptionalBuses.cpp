#include "bridge/OptionalBuses.h"

#include <gio/gio.h>

namespace corvane {

void keepRunningWhenTheSystemBusGoes() {
  // GIO keeps the shared connection only while someone holds it (a weak
  // reference): this process holds it for good, so that every later user
  // gets this one with the flag off. Taken at once, so that no user and no
  // loss can come between; connecting to a local bus takes a moment, and
  // without a bus the attempt fails at once.
  static GDBusConnection* bus = [] {
    GError* error = nullptr;
    GDBusConnection* c = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (c)
      g_dbus_connection_set_exit_on_close(c, FALSE);
    else
      g_error_free(error);  // no system bus: nothing to guard
    return c;
  }();
  (void)bus;
}

GDBusConnection* keepRunningWhenTheSessionBusGoes(std::function<void(const std::string& why)> onLoss,
                                                  std::string* whyNone) {
  // As for the system bus. A closed connection stays the shared one (GIO
  // hands it out while it is held), so every later use fails at once
  // instead of waiting for a bus that is gone.
  static std::string failure;
  static GDBusConnection* bus = [&onLoss] {
    GError* error = nullptr;
    GDBusConnection* c = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!c) {
      failure = error ? error->message : "no session bus";
      g_clear_error(&error);
      return c;
    }
    g_dbus_connection_set_exit_on_close(c, FALSE);
    if (onLoss) {
      // "closed" comes on the context the connection was made on.
      auto* handler = new std::function<void(const std::string&)>(std::move(onLoss));
      g_signal_connect_data(
          c, "closed",
          G_CALLBACK(+[](GDBusConnection*, gboolean, GError* why, gpointer data) {
            (*static_cast<std::function<void(const std::string&)>*>(data))(why ? why->message : "closed");
          }),
          handler, [](gpointer data, GClosure*) { delete static_cast<std::function<void(const std::string&)>*>(data); },
          static_cast<GConnectFlags>(0));
    }
    return c;
  }();
  if (!bus && whyNone) *whyNone = failure;
  return bus;
}

}  // namespace corvane
