#include "services/DesktopNotifications.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/OptionalBuses.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <deque>
#include <set>

namespace corvane::notifications {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

// Main thread only.
struct State {
  GDBusConnection* subscribedOn = nullptr;
  std::set<guint32> shown;  // ours, until the service closes them
  int unanswered = 0;
  std::deque<GVariant*> waiting;  // Notify arguments, in order
};
State& state() {
  static State s;
  return s;
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

void onServiceSignal(GDBusConnection* bus, const gchar*, const gchar*, const gchar*, const gchar* signal,
                     GVariant* parameters, gpointer) {
  auto& s = state();
  guint32 id = 0;
  if (g_strcmp0(signal, "ActionInvoked") == 0) {
    const gchar* action = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &action);
    if (!s.shown.count(id) || g_strcmp0(action, "default") != 0) return;
    log().info("notification chosen: bringing the application to the front");
    presentMainWindow();
    g_dbus_connection_call(bus, kService, kPath, kService, "CloseNotification", g_variant_new("(u)", id), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
  } else if (g_strcmp0(signal, "NotificationClosed") == 0) {
    guint32 reason = 0;
    g_variant_get(parameters, "(uu)", &id, &reason);
    s.shown.erase(id);
  }
}

// The service's two signals, heard once per bus connection.
void listen(GDBusConnection* bus) {
  auto& s = state();
  if (s.subscribedOn == bus) return;
  for (const char* signal : {"ActionInvoked", "NotificationClosed"})
    g_dbus_connection_signal_subscribe(bus, kService, kService, signal, kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                       onServiceSignal, nullptr, nullptr);
  s.subscribedOn = bus;
}

void sendWaiting();

void onNotifyAnswered(GObject* source, GAsyncResult* result, gpointer) {
  auto& s = state();
  --s.unanswered;
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply) {
    guint32 id = 0;
    g_variant_get(reply, "(u)", &id);
    g_variant_unref(reply);
    s.shown.insert(id);
  } else {
    log().info("notification not shown: {}", error ? error->message : "no answer");
    if (error) g_error_free(error);
  }
  sendWaiting();
}

// No time limit: a call counts as unanswered until the service (or the
// bus, when the service goes away) answers it.
void send(GDBusConnection* bus, GVariant* arguments) {
  ++state().unanswered;
  g_dbus_connection_call(bus, kService, kPath, kService, "Notify", arguments, G_VARIANT_TYPE("(u)"),
                         G_DBUS_CALL_FLAGS_NONE, G_MAXINT, nullptr, onNotifyAnswered, nullptr);
}

void sendWaiting() {
  auto& s = state();
  GDBusConnection* bus = s.subscribedOn;
  while (!s.waiting.empty() && s.unanswered < kMaxUnanswered) {
    GVariant* next = s.waiting.front();
    s.waiting.pop_front();
    if (!bus || g_dbus_connection_is_closed(bus)) {
      log().info("notification not sent: the session bus is gone");
      g_variant_unref(next);
      continue;
    }
    send(bus, next);
    g_variant_unref(next);
  }
}

}  // namespace

bool serviceAnswers() {
  // The bridge asks for `growl` and `notice` one after the other: one
  // question serves both.
  static gint64 askedAt = 0;
  static bool answered = false;
  const gint64 now = g_get_monotonic_time();
  if (askedAt && now - askedAt < 5 * G_TIME_SPAN_SECOND) return answered;
  askedAt = now;
  answered = false;
  GDBusConnection* bus = keepRunningWhenTheSessionBusGoes();
  if (!bus || g_dbus_connection_is_closed(bus)) return false;
  // A short wait: a service that does not answer now counts as none.
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, kService, kPath, kService, "GetServerInformation", nullptr,
                                                G_VARIANT_TYPE("(ssss)"), G_DBUS_CALL_FLAGS_NONE, 3000, nullptr,
                                                &error);
  if (!reply) {
    log().info("no notification service: {}", error ? error->message : "");
    if (error) g_error_free(error);
    return false;
  }
  g_variant_unref(reply);
  answered = true;
  askedAt = g_get_monotonic_time();
  return true;
}

std::string post(const Message& message) {
  GDBusConnection* bus = keepRunningWhenTheSessionBusGoes();
  if (!bus) return "no session bus";
  if (g_dbus_connection_is_closed(bus)) return "the session bus is gone";
  auto& s = state();
  if (s.unanswered >= kMaxUnanswered && static_cast<int>(s.waiting.size()) >= kMaxWaiting) {
    const std::string why = "the notification service has not answered the last " +
                            std::to_string(kMaxUnanswered + kMaxWaiting) + " notifications";
    log().info("notification not sent: {}", why);
    return why;
  }
  listen(bus);
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  g_variant_builder_add(&actions, "s", "default");
  g_variant_builder_add(&actions, "s", "Open");
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE_VARDICT);
  const std::string id = Utils::sharedInstance().bundle().infoText("CFBundleIdentifier");
  if (!id.empty()) g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(id.c_str()));
  if (!message.soundName.empty())
    g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string(message.soundName.c_str()));
  g_variant_builder_add(&hints, "{sv}", "sender-pid", g_variant_new_int64(getpid()));
  // Texts the bus cannot carry (not UTF-8) are mended rather than refused.
  auto text = [](const std::string& t) { return g_utf8_make_valid(t.c_str(), static_cast<gssize>(t.size())); };
  gchar* app = text(message.appName);
  gchar* title = text(message.title);
  gchar* body = text(message.body);
  GVariant* arguments = g_variant_ref_sink(
      g_variant_new("(susssasa{sv}i)", app, 0u, "", title, body, &actions, &hints, -1));
  g_free(app);
  g_free(title);
  g_free(body);
  if (s.unanswered < kMaxUnanswered && s.waiting.empty()) {
    send(bus, arguments);
    g_variant_unref(arguments);
  } else {
    s.waiting.push_back(arguments);  // in order, once the service answers
  }
  return "";
}

}  // namespace corvane::notifications
