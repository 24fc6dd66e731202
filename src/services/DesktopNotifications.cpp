#include "services/DesktopNotifications.h"

#include "app/Log.h"
#include "app/Utils.h"

#include <gtk/gtk.h>
#include <libnotify/notify.h>

namespace corvane::notifications {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";

bool ensureInit() {
  if (notify_is_initted()) return true;
  return notify_init(Utils::sharedInstance().getAppName().c_str());
}

void presentMainWindow() {
  GApplication* app = g_application_get_default();
  GtkWindow* window = nullptr;
  if (app && GTK_IS_APPLICATION(app)) {
    // Most recently focused first; the main window was added first.
    if (GList* last = g_list_last(gtk_application_get_windows(GTK_APPLICATION(app)))) window = GTK_WINDOW(last->data);
  }
  if (!window) return;
  gtk_window_deiconify(window);
  gtk_window_present(window);
}

void onDefaultAction(NotifyNotification* n, char*, gpointer) {
  log().info("notification chosen: bringing the application to the front");
  presentMainWindow();
  notify_notification_close(n, nullptr);
}

}  // namespace

bool serviceAnswers() {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    if (error) g_error_free(error);
    return false;
  }
  // A short wait: a service that does not answer now counts as none.
  GVariant* reply = g_dbus_connection_call_sync(bus, kService, "/org/freedesktop/Notifications", kService,
                                                "GetServerInformation", nullptr, G_VARIANT_TYPE("(ssss)"),
                                                G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, &error);
  g_object_unref(bus);
  if (!reply) {
    log().info("no notification service: {}", error ? error->message : "");
    if (error) g_error_free(error);
    return false;
  }
  g_variant_unref(reply);
  return true;
}

std::string post(const Message& message) {
  if (!ensureInit()) return "the notification library could not start";
  NotifyNotification* n = notify_notification_new(message.title.c_str(), message.body.c_str(), nullptr);
  notify_notification_set_app_name(n, message.appName.c_str());
  const std::string id = Utils::sharedInstance().bundle().infoText("CFBundleIdentifier");
  if (!id.empty()) notify_notification_set_hint_string(n, "desktop-entry", id.c_str());
  if (!message.soundName.empty()) notify_notification_set_hint_string(n, "sound-name", message.soundName.c_str());
  notify_notification_add_action(n, "default", "Open", &onDefaultAction, nullptr, nullptr);
  GError* error = nullptr;
  if (!notify_notification_show(n, &error)) {
    std::string text = error ? error->message : "the notification could not be shown";
    if (error) g_error_free(error);
    g_object_unref(n);
    return text;
  }
  // The action arrives later: the notification lives until it is closed.
  g_signal_connect(n, "closed", G_CALLBACK(+[](NotifyNotification* self, gpointer) { g_object_unref(self); }),
                   nullptr);
  return "";
}

}  // namespace corvane::notifications
