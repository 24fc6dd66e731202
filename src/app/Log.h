#pragma once
// Process-wide logging. Every component writes through this one logger so
// that the fixed log texts land on stderr in one consistent format.
#include <spdlog/spdlog.h>

namespace corvane {

// The shared logger ("corvane"), writing to stderr. Created on first use.
spdlog::logger& log();

}  // namespace corvane
