#pragma once
// An informational alert with one button, run modally (the launch step's
// "Run Error" alert).
#include <gtk/gtk.h>

#include <string>

namespace corvane {

void runAlert(const std::string& title, const std::string& message, const std::string& button);

// The same alert, application-modal over `parent` (may be nullptr), always
// waiting for the person at the screen.
void runModalAlert(const std::string& title, const std::string& message, const std::string& button,
                   GtkWindow* parent);

// A question with two buttons; true for the first.
bool runQuestion(const std::string& message, const std::string& detail, const std::string& yes,
                 const std::string& no, GtkWindow* parent);

}  // namespace corvane
