// The agent helper: the default helper service of every Corvane application,
// started by the session bus on the first message for its name. It carries
// work the application asks of it by "ms_type":
//   "HTTP_QUEST"  GET ms_obj.url (http/https, limited in time and size);
//                 answers the JSON text of {"success", "info", "status"}
//                 plus "error" on failure.
//   "PING"        answers the JSON text of {"success": true, "info": "PONG"}.
// Any other message answers the JSON text of {"success": false, "info": "",
// "error": ...}. Every answer is one text, as the application's reader of
// agent replies expects.
#include "agent/HttpQuest.h"
#include "plugins/HelperService.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <map>

using nlohmann::json;

namespace {

const char* kDefaultName = "com.zavrelon.app.mac.xpc.AgentHelper";

std::string text(const json& reply) { return reply.dump(-1, ' ', false, json::error_handler_t::replace); }

json failure(const std::string& why) { return {{"success", false}, {"info", ""}, {"error", why}}; }

SoupSession* session() {
  static SoupSession* s = [] {
    const auto limits = corvane::agent::limitsFromEnvironment();
    return soup_session_new_with_options("timeout", limits.seconds, "idle-timeout", limits.seconds,
                                         "user-agent", "CorvaneAgentHelper/" CORVANE_VERSION, nullptr);
  }();
  return s;
}

using Handler = void (*)(const json& message, corvane::HelperRespond respond);

void httpQuest(const json& message, corvane::HelperRespond respond) {
  const json& obj = message.contains("ms_obj") ? message["ms_obj"] : json();
  if (!obj.is_object() || !obj.contains("url") || !obj["url"].is_string())
    return respond(text(failure("HTTP_QUEST needs ms_obj.url")));
  corvane::agent::httpQuest(session(), obj["url"].get<std::string>(), corvane::agent::limitsFromEnvironment(),
                            [respond](const corvane::agent::QuestOutcome& o) {
                              json reply = {{"success", o.success}, {"info", o.info}, {"status", o.status}};
                              if (!o.error.empty()) reply["error"] = o.error;
                              respond(text(reply));
                            });
}

void ping(const json&, corvane::HelperRespond respond) {
  respond(text({{"success", true}, {"info", "PONG"}}));
}

const std::map<std::string, Handler>& handlers() {
  static const std::map<std::string, Handler> table = {{"HTTP_QUEST", httpQuest}, {"PING", ping}};
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  std::string name = kDefaultName;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc) {
      name = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--name BUS_NAME]\n", argv[0]);
      return 2;
    }
  }
  return corvane::runHelperService(name, [](const std::string& text_, const std::string&,
                                            corvane::HelperRespond respond) {
    json message = json::parse(text_, nullptr, false);
    if (!message.is_object()) return respond(text(failure("the message is not a JSON object")));
    const std::string type = message.value("ms_type", "");
    auto it = handlers().find(type);
    if (it == handlers().end()) return respond(text(failure("unknown ms_type \"" + type + "\"")));
    it->second(message, std::move(respond));
  });
}
