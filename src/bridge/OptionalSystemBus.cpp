#include "bridge/OptionalSystemBus.h"

#include <gio/gio.h>

namespace corvane {

void keepRunningWhenTheSystemBusGoes() {
  // Asynchronous: a slow or missing bus never holds up the start. The shared
  // connection exists from this call on; the flag is set as it completes.
  g_bus_get(G_BUS_TYPE_SYSTEM, nullptr,
            [](GObject*, GAsyncResult* result, gpointer) {
              GError* error = nullptr;
              GDBusConnection* bus = g_bus_get_finish(result, &error);
              if (!bus) {  // no system bus: nothing to guard
                g_error_free(error);
                return;
              }
              g_dbus_connection_set_exit_on_close(bus, FALSE);
              g_object_unref(bus);  // the shared connection stays alive for its users
            },
            nullptr);
}

}  // namespace corvane
