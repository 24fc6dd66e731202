// A helper service for the tests, a real program started by the bus like
// any helper. It answers every message with {"echo": the message, "pid",
// "sender"}, except by "ms_type":
//   "SILENT"    never answers;
//   "NULL"      answers no object at all;
//   "CALLBACK"  calls ProcessMessage back on the sender's application
//               object and answers {"callbackError": the D-Bus error name}.
#include "plugins/HelperProtocol.h"
#include "plugins/HelperService.h"

#include <gio/gio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

using nlohmann::json;

int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "--name") != 0) {
    std::fprintf(stderr, "usage: %s --name BUS_NAME\n", argv[0]);
    return 2;
  }
  const std::string name = argv[2];
  return corvane::runHelperService(name, [](const std::string& text, const std::string& sender,
                                                corvane::HelperRespond respond) {
    json message = json::parse(text, nullptr, false);
    const std::string type = message.is_object() ? message.value("ms_type", "") : "";
    json reply = {{"echo", message}, {"pid", static_cast<int>(getpid())}, {"sender", sender}};
    if (type == "SILENT") return;
    if (type == "NULL") return respond(nullptr);
    if (type == "CALLBACK") {
      GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
      struct Pending {
        corvane::HelperRespond respond;
      };
      g_dbus_connection_call(
          bus, sender.c_str(), corvane::kClientObjectPath, corvane::kHelperInterface, corvane::kHelperMethod,
          g_variant_new("(s)", "{\"from\":\"helper\"}"), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 20000,
          nullptr,
          [](GObject* source, GAsyncResult* result, void* raw) {
            std::unique_ptr<Pending> pending(static_cast<Pending*>(raw));
            GError* error = nullptr;
            GVariant* answer = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            std::string outcome = "answered";
            if (answer) g_variant_unref(answer);
            if (error) {
              gchar* remote = g_dbus_error_get_remote_error(error);
              outcome = remote ? remote : error->message;
              g_free(remote);
              g_error_free(error);
            }
            pending->respond(json{{"callbackError", outcome}});
          },
          new Pending{std::move(respond)});
      g_object_unref(bus);
      return;
    }
    respond(reply);
  });
}
