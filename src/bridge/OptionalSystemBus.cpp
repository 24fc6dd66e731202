#include "bridge/OptionalSystemBus.h"

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

}  // namespace corvane
