#pragma once
// An alert with one button, run modally: informational (the launch step's
// "Run Error" alert) or an error (a configuration the application cannot
// start with).
#include <string>

namespace corvane {

enum class AlertKind { Info, Error };

void runAlert(const std::string& title, const std::string& message, const std::string& button,
              AlertKind kind = AlertKind::Info);

}  // namespace corvane
