#pragma once
// An alert with one button, run modally: informational (the launch step's
// "Run Error" alert) or an error (a configuration the application cannot
// start with).
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

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

// An informational alert with several buttons, modal over `parent` (may be
// nullptr) without a nested main loop. `buttons` come default first and may
// hold mnemonics ("_Rate App"); the default stands rightmost, as the
// desktop places the affirmative answer. `chosen` gets the index of the
// button pressed, or -1 when the alert was closed without one (Escape, the
// window's close button).
void showChoiceAlert(const std::string& windowTitle, const std::string& message,
                     const std::vector<std::string>& buttons, GtkWindow* parent, std::function<void(int)> chosen);

}  // namespace corvane
