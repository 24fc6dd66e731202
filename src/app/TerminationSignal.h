#pragma once
// SIGTERM handling. The signal only wakes the main loop (GLib's unix
// signal source); the steps run there as ordinary code: post
// "ZVR_NOTICE_APP_TERMINATE", log "##[App:%@]## will about to exit...",
// wait five seconds on a timer (the loop keeps serving, no core spins),
// log "##[App:%@]## completely exit..." and end the process with status 0.
// The normal termination path (and so any relaunch) is not taken.
#include <functional>
#include <string>

namespace corvane {

// Installs the handler on the default main context. Answers false (after
// the log line "Can't register handle for SIGTERM; continuing") when GLib
// refuses.
bool installTerminationSignalHandler(std::function<std::string()> appName,
                                     unsigned waitSeconds = 5);

}  // namespace corvane
