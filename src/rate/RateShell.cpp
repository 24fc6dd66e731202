#include "rate/RateShell.h"

#include "app/Bundle.h"
#include "app/Log.h"
#include "ui/DesktopOpen.h"
#include "app/Utils.h"
#include "rate/RateReminder.h"
#include "ui/Alert.h"

#include <gio/gio.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

// The button titles with their mnemonics (Alt+R, Alt+L, Alt+F, Alt+D).
const char* mnemonicTitle(rate::Button button) {
  switch (button) {
    case rate::Button::RateApp: return "_Rate App";
    case rate::Button::RemindLater: return "Remind _Later";
    case rate::Button::FAQ: return "_FAQ";
    case rate::Button::DontRemind: return "_Don't remind";
  }
  return "";
}

// Sends to the agent helper on the default connection; without one the
// reminder asks the server itself. The reply may come on any thread.
bool sendToAgent(const nlohmann::json& message, std::function<void(const nlohmann::json&)> reply,
                 std::function<void(const std::string&)> unreachable) {
  return Utils::sharedInstance().sendMessageWithXPCKey(Utils::getDefaultXPCKey(), message, std::move(reply),
                                                       std::move(unreachable));
}

}  // namespace

void startRateReminder(const std::optional<nlohmann::json>& appExInfo, GtkWindow* mainWindow) {
  // Most applications leave the reminder off: they pay for nothing more
  // than this look-up at start-up.
  if (!appExInfo || !appExInfo->is_object() || !jsonBoolValue(appExInfo->value("enableNativeRate", nlohmann::json())))
    return;
  RateEnvironment env = rateEnvironmentFor(Utils::sharedInstance());
  env.agent = sendToAgent;
  // The main window lives as long as the process (closing it hides it).
  env.showDialog = [mainWindow](const rate::DialogPlan& plan, std::function<void(rate::Button)> chosen) {
    std::vector<std::string> titles;
    for (rate::Button b : plan.buttons) titles.emplace_back(mnemonicTitle(b));
    // Closing the dialog without a button is "Remind Later": it must not
    // count as the opt-out.
    showChoiceAlert(plan.windowTitle, plan.message, titles, mainWindow,
                    [buttons = plan.buttons, chosen = std::move(chosen)](int index) {
                      chosen(index >= 0 && static_cast<size_t>(index) < buttons.size() ? buttons[index]
                                                                                       : rate::Button::RemindLater);
                    });
  };
  env.openAddress = [mainWindow](const std::string& address) {
    std::string why;
    if (!openOnDesktop(address, mainWindow, &why)) log().warn("rate reminder: cannot open {}: {}", address, why);
  };
  RateReminder::create(std::move(env))->common_native_app_rate_remind(appExInfo);
}

}  // namespace corvane
