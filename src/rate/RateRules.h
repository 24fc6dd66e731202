#pragma once
// The rate-app reminder's rules, free of any display or network: the query
// address, reading the release server's answer, counting launches per
// version in the user defaults, which buttons the dialog offers and what
// each choice does to the defaults. RateReminder drives them; the dialog
// only shows what RateDialogPlan says.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class UserDefaults;

namespace rate {

// Keys written from outside the application (never by it).
inline constexpr const char* kEnableInNoSandboxKey = "RateApp_enableInNoSandbox";
inline constexpr const char* kCloseKey = "RateApp_CLOSE";
// The built-in message for an answer without one.
inline constexpr const char* kDefaultMessage = "Your evaluation, our motivation.";

// The per-version keys of the user defaults.
struct VersionKeys {
  explicit VersionKeys(const std::string& version);
  std::string runTimes;       // "<version>_RateInfo_runTimes"
  std::string clickRate;      // "<version>_RateInfo_ClickRate"
  std::string clickDontRemind;  // "<version>_RateInfo_ClickDontRemid"
};

// "<server>/services/get_enable_rate?appName=...&version=...&app_name=...
// &user_id=&token=&expire=&_=<seconds with six decimals>". The values are
// escaped as query components (an "&" in a name stays inside its value);
// the server address keeps its own escapes, and characters that may not
// stand in an address at all (spaces, non-ASCII) are escaped as UTF-8.
std::string queryAddress(const std::string& server, const std::string& appName, const std::string& version,
                         double secondsSince1970);

// The message for the agent helper that asks it to fetch `address`.
nlohmann::json agentMessage(const std::string& address);
// The agent's reply (an object, or the JSON text of one): the fetched body
// when "success" is true and "info" is text. `info` receives "info" as the
// log line shows it (empty when absent).
std::optional<std::string> agentAnswerText(const nlohmann::json& reply, std::string* info);

// The release server's answer, with the defaults of absent keys.
struct Answer {
  bool enableRate = false;
  uint64_t startRunningSecs = 90;
  uint64_t maxRunTimes = 3;
  bool enableUserClose = false;
  std::string rateMessage;               // as sent; may be empty
  std::optional<std::string> faqURL;     // present and non-empty only
  std::optional<std::string> reviewURL;  // present (text) only
  nlohmann::json raw = nlohmann::json::object();
};
// Any text: one that is not a JSON object reads as "enableRate" false.
Answer parseAnswer(const std::string& text);
// The answer object itself (the dialog's user info).
Answer answerFromObject(const nlohmann::json& object);

// The answer handler's bookkeeping for one launch. Answers the delay in
// seconds after which the dialog is to be shown, or nullopt. Counts the
// launch (and writes the defaults) only when the answer enables the
// reminder and names a review address.
struct LaunchDecision {
  bool counted = false;
  uint64_t storedCount = 0;  // the count before this launch
  std::optional<uint64_t> showAfterSeconds;
};
LaunchDecision countLaunch(UserDefaults& defaults, const std::string& version, const Answer& answer);

// The dialog's buttons, in the order of the alert: default first.
enum class Button { RateApp, RemindLater, FAQ, DontRemind };
const char* buttonTitle(Button button);

struct DialogPlan {
  std::string windowTitle;  // "<name> (Ver.<version>) Tip Info"
  std::string message;
  std::vector<Button> buttons;
};
// Makes sure both choice keys exist (false) and answers the dialog, or
// nullopt when the user asked not to be reminded for this version.
std::optional<DialogPlan> planDialog(UserDefaults& defaults, const std::string& appName,
                                     const std::string& version, const Answer& answer);

// The code the log line "button = %ld" shows for a choice: 1 "Rate App",
// 0 "Remind Later", -1 "FAQ", and 1000 + its position for "Don't remind".
long buttonCode(const DialogPlan& plan, Button button);

// What a choice does: writes the defaults and answers the address to hand
// to the default handler, if any (see webAddressToOpen).
std::optional<std::string> applyChoice(UserDefaults& defaults, const std::string& version, const Answer& answer,
                                       Button button);

// The web address to open for a configured address: "http" and "https"
// (in any case) are kept with the scheme lower-cased and the rest as
// written; an address without a scheme gets "https://". Every other
// scheme ("file:", "javascript:", a custom handler's) and an address
// without a host is refused (nullopt, `why` says why): the address comes
// from the network and must not start local programs or open local files.
std::optional<std::string> webAddressToOpen(const std::string& address, std::string* why = nullptr);

}  // namespace rate
}  // namespace corvane
