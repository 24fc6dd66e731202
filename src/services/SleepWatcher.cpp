#include "services/SleepWatcher.h"

#include "app/Log.h"

#include <gio/gio.h>

#include <algorithm>
#include <string>

namespace corvane {

struct SleepWatcher::Impl : std::enable_shared_from_this<Impl> {
  std::function<void(bool)> handler;
  GDBusConnection* bus = nullptr;
  guint subscription = 0;
  gulong closedHandler = 0;
  guint retrySource = 0;
  guint retrySeconds = 1;
  GCancellable* cancellable = g_cancellable_new();
  bool reportedMissing = false;

  ~Impl() {
    g_cancellable_cancel(cancellable);
    g_object_unref(cancellable);
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
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (!address) {
      connectFailed(error);
      return;
    }
    // The callback may come after this watcher is gone: it holds a weak reference.
    auto* weak = new std::weak_ptr<Impl>(shared_from_this());
    g_dbus_connection_new_for_address(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable,
        [](GObject*, GAsyncResult* result, gpointer data) {
          std::unique_ptr<std::weak_ptr<Impl>> weak(static_cast<std::weak_ptr<Impl>*>(data));
          GError* error = nullptr;
          GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
          auto self = weak->lock();
          if (!self) {
            if (connection) g_object_unref(connection);
            if (error) g_error_free(error);
            return;
          }
          if (connection)
            self->connected(connection);
          else
            self->connectFailed(error);
        },
        weak);
    g_free(address);
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
    auto* weak = new std::weak_ptr<Impl>(shared_from_this());
    retrySource = g_timeout_add_full(
        G_PRIORITY_DEFAULT, retrySeconds * 1000,
        [](gpointer data) -> gboolean {
          if (auto self = static_cast<std::weak_ptr<Impl>*>(data)->lock()) {
            self->retrySource = 0;
            self->retrySeconds = std::min(self->retrySeconds * 2, 30u);
            self->connect();
          }
          return G_SOURCE_REMOVE;
        },
        weak, [](gpointer data) { delete static_cast<std::weak_ptr<Impl>*>(data); });
  }
};

SleepWatcher::SleepWatcher(std::function<void(bool sleeping)> handler) : impl_(std::make_shared<Impl>()) {
  impl_->handler = std::move(handler);
  impl_->connect();
}

SleepWatcher::~SleepWatcher() = default;

}  // namespace corvane
