#include "services/SleepWatcher.h"

#include "app/Log.h"

#include <gio/gio.h>

#include <algorithm>
#include <string>

namespace corvane {

struct SleepWatcher::Impl {
  std::function<void(bool)> handler;
  GDBusConnection* bus = nullptr;
  guint subscription = 0;
  gulong closedHandler = 0;
  guint retrySource = 0;
  guint retrySeconds = 1;
  bool reportedMissing = false;

  ~Impl() {
    if (retrySource) g_source_remove(retrySource);
    dropBus();
  }

  void dropBus() {
    if (!bus) return;
    if (subscription) g_dbus_connection_signal_unsubscribe(bus, subscription);
    if (closedHandler) g_signal_handler_disconnect(bus, closedHandler);
    subscription = 0;
    closedHandler = 0;
    g_object_unref(bus);
    bus = nullptr;
  }

  void connect() {
    // On the main thread, on purpose: the shell exports folders with setenv
    // on this thread while it runs, and a worker thread reading the
    // environment meanwhile (GIO translating a connection error does) may
    // crash. A local bus answers at once, a missing one fails at once.
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    GDBusConnection* connection =
        address ? g_dbus_connection_new_for_address_sync(
                      address,
                      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                      nullptr, nullptr, &error)
                : nullptr;
    g_free(address);
    if (connection)
      connected(connection);
    else
      connectFailed(error);
  }

  void connectFailed(GError* error) {
    if (!reportedMissing) {
      log().info("no system bus, so no sleep and wake events: {}", error ? error->message : "");
      reportedMissing = true;
    }
    if (error) g_error_free(error);
    scheduleRetry();
  }

  void connected(GDBusConnection* connection) {
    bus = connection;
    g_dbus_connection_set_exit_on_close(bus, FALSE);  // a lost bus only stops the events
    if (reportedMissing || retrySeconds > 1) log().info("system bus connected: sleep and wake events resume");
    reportedMissing = false;
    retrySeconds = 1;
    closedHandler = g_signal_connect(bus, "closed",
                                     G_CALLBACK(+[](GDBusConnection*, gboolean, GError* error, gpointer self) {
                                       static_cast<Impl*>(self)->lost(error);
                                     }),
                                     this);
    subscription = g_dbus_connection_signal_subscribe(
        bus, "org.freedesktop.login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
        "/org/freedesktop/login1", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
           gpointer self) {
          if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
          gboolean sleeping = FALSE;
          g_variant_get(parameters, "(b)", &sleeping);
          static_cast<Impl*>(self)->handler(sleeping);
        },
        this, nullptr);
  }

  void lost(GError* error) {
    log().info("system bus lost ({}); sleep and wake events stop until it is back",
               error ? error->message : "closed");
    dropBus();
    retrySeconds = 1;
    reportedMissing = true;  // the next success says so
    scheduleRetry();
  }

  void scheduleRetry() {
    if (retrySource) return;
    // The source goes with this object (see the destructor).
    retrySource = g_timeout_add(retrySeconds * 1000, [](gpointer data) -> gboolean {
      auto* self = static_cast<Impl*>(data);
      self->retrySource = 0;
      self->retrySeconds = std::min(self->retrySeconds * 2, 30u);
      self->connect();
      return G_SOURCE_REMOVE;
    }, this);
  }
};

SleepWatcher::SleepWatcher(std::function<void(bool sleeping)> handler) : impl_(std::make_unique<Impl>()) {
  impl_->handler = std::move(handler);
  impl_->connect();
}

SleepWatcher::~SleepWatcher() = default;

}  // namespace corvane
