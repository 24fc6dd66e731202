#pragma once
// Process-wide logging. Every component writes through this one logger so
// that the fixed log texts land on stderr in one consistent format.
#include <spdlog/spdlog.h>

#include <optional>
#include <string_view>

namespace corvane {

// The shared logger ("corvane"), writing to stderr. Created on first use,
// at the level CORVANE_LOG_LEVEL names (debug by default).
spdlog::logger& log();

// A level by name: spdlog's names (trace, debug, info, warn, error,
// critical, off; "warning" and "err" too) plus "verbose" (trace) and
// "quiet" (warnings and errors only). nullopt for anything else.
std::optional<spdlog::level::level_enum> logLevelNamed(std::string_view name);

// The level an application's main configuration asks for ("logLevel").
// CORVANE_LOG_LEVEL, set by the person running the application, wins over
// it; an unknown name leaves the level as it is, with a warning.
void applyConfiguredLogLevel(std::string_view name);

}  // namespace corvane
