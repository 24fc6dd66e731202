#pragma once
// The launch, step by step, in the log at debug level: each step with the
// milliseconds since the shell's main began and the wall clock, so that a
// benchmark can line the steps up with the moment it started the process
// (bench/bridge prints them). Steps after the page's first bridge answer
// are not the launch any more and are not logged.
#include <string_view>

namespace corvane {

// Called first thing in main: the zero of the figures.
void launchTraceStart();
// One step; `last` ends the trace.
void launchStep(std::string_view step, bool last = false);

}  // namespace corvane
