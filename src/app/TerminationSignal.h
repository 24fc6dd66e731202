#pragma once
// Termination signals: SIGTERM, and SIGINT and SIGHUP the same way (Ctrl+C in
// a terminal, a closed terminal). The signal handler only records the signal
// and wakes the main loop through a pipe; the termination steps run there as
// ordinary code: post "ZVR_NOTICE_APP_TERMINATE", log
// "##[App:%@]## will about to exit...", wait five seconds on a timer (the loop
// keeps serving, no core spins), log "##[App:%@]## completely exit..." and end
// the process with status 0. The normal termination path (and so any
// relaunch) is not taken.
//
// Code that blocks the main thread for long (waiting for a start-up task's
// tool) waits with waitForChildUnlessTerminated, so the steps start when the
// signal arrives rather than when the wait ends.
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace corvane {

// Installs the handler and its main-loop source on the default main context.
// `onBegin` runs first when the termination steps begin (on the main
// thread). Answers false (after the log line
// "Can't register handle for SIGTERM; continuing") when the system refuses.
bool installTerminationSignalHandler(std::function<std::string()> appName, unsigned waitSeconds = 5,
                                     std::function<void()> onBegin = {});

// True once a termination signal has arrived.
bool terminationRequested();

// Starts the termination steps now when a signal has arrived and they have
// not started yet (main thread only). Answers terminationRequested().
bool beginTerminationIfRequested();

// Waits for the child `pid` to end and answers its wait status; answers
// nullopt, after starting the termination steps, when a termination signal
// arrives first. The child is left running then.
std::optional<int> waitForChildUnlessTerminated(pid_t pid);

}  // namespace corvane
