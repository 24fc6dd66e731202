#pragma once
// The rate-app reminder of the running application: its dialog over the
// main window, the desktop's default handler for the addresses it opens,
// and the agent helper's connection.
#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include <optional>

namespace corvane {

// The launch step's start (with "AppExInfo"); returns at once.
void startRateReminder(const std::optional<nlohmann::json>& appExInfo, GtkWindow* mainWindow);

}  // namespace corvane
