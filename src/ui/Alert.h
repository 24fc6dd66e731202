#pragma once
// An alert with one button, run modally: informational (the launch step's
// "Run Error" alert) or an error (a configuration the application cannot
// start with).
#include <gtk/gtk.h>

#include <string>

namespace corvane {

enum class AlertKind { Info, Error };

void runAlert(const std::string& title, const std::string& message, const std::string& button,
              AlertKind kind = AlertKind::Info);

// The same alert, application-modal over `parent` (may be nullptr), always
// waiting for the person at the screen.
void runModalAlert(const std::string& title, const std::string& message, const std::string& button,
                   GtkWindow* parent);

// A question with two buttons; true for the first.
bool runQuestion(const std::string& message, const std::string& detail, const std::string& yes,
                 const std::string& no, GtkWindow* parent);

}  // namespace corvane
