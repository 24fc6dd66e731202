#pragma once
// An informational alert with one button, run modally (the launch step's
// "Run Error" alert).
#include <string>

namespace corvane {

void runAlert(const std::string& title, const std::string& message, const std::string& button);

}  // namespace corvane
