#pragma once
// The rate-app reminder once per launch: checks its switches, asks the
// release server (through the agent helper when it is connected, else by a
// direct GET), counts the launch per version and, when the count is high
// enough, shows the dialog some seconds later and acts on the choice.
//
// Everything runs on the main loop; nothing here blocks it. The dialog and
// the default handler come in as functions, so the whole flow runs without
// a display in tests.
#include "rate/RateRules.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

class UserDefaults;
class Utils;

// Sends `message` to the agent helper on the default connection; `reply`
// may be called on any thread. Answers false, sending nothing, when there
// is no default connection. `unreachable` (any thread) says the connection
// could not carry the message (the helper is not installed or cannot
// start): the reminder then asks the server itself.
using AgentSender = std::function<bool(const nlohmann::json& message,
                                       std::function<void(const nlohmann::json& reply)> reply,
                                       std::function<void(const std::string& why)> unreachable)>;

struct RateEnvironment {
  std::string appName;
  std::string version;
  std::string serverAddress;  // release or debug server
  bool sandboxed = false;
  UserDefaults* defaults = nullptr;
  AgentSender agent;  // empty: no agent
  // Shows the dialog (main thread) and calls `chosen` once with the choice,
  // or never when the dialog goes away without one.
  std::function<void(const rate::DialogPlan& plan, std::function<void(rate::Button)> chosen)> showDialog;
  // Hands an address, checked already (http/https only), to the default
  // handler.
  std::function<void(const std::string& address)> openAddress;
  // The direct request's limit for the whole exchange.
  unsigned requestTimeoutSeconds = 30;
  // The largest answer read; a longer one is an error.
  size_t maxAnswerBytes = 256 * 1024;
};

// The environment of the running application: its name, version, server
// address, sandbox and user defaults. The caller adds the agent, the dialog
// and the opener.
RateEnvironment rateEnvironmentFor(const Utils& utils);

class RateReminder : public std::enable_shared_from_this<RateReminder> {
 public:
  static std::shared_ptr<RateReminder> create(RateEnvironment environment);

  // The start, with the "AppExInfo" dictionary: checks the switches, then
  // sends the request from an idle moment of the main loop and returns at
  // once. Answers whether a request is on its way.
  bool common_native_app_rate_remind(const std::optional<nlohmann::json>& appExInfo);
  // The answer handler, on the main thread.
  void handleAnswerText(const std::string& text);
  // The dialog for the answer object (the timer's user info).
  void startRateAppRemind(const nlohmann::json& answer);

 private:
  explicit RateReminder(RateEnvironment environment) : env_(std::move(environment)) {}
  void sendRequest(const std::string& address);
  void getDirectly(const std::string& address);
  void choose(const rate::DialogPlan& plan, const rate::Answer& answer, rate::Button button);

  RateEnvironment env_;
};

}  // namespace corvane
