#pragma once
// The small process and shell helpers of the end-to-end drivers that act as
// the person at the screen (the desktop itself is support/PrivateDesktop).
#include "ShellHarness.h"
#include "support/PrivateDesktop.h"

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace corvane::e2e {

// Polls `condition` for up to `seconds`.
inline bool waitUntil(const std::function<bool()>& condition, int seconds) {
  return test::PrivateDesktop::waitFor(condition, seconds);
}
// A program on the display of this process's environment (see
// support/PrivateDesktop), and its end.
inline pid_t spawn(const std::vector<std::string>& argv, int stdoutFd = -1) {
  return test::startProcess(argv, "", stdoutFd);
}
inline void stop(pid_t pid) { test::stopProcess(pid); }
// The X window the window manager manages under this exact name (shown or
// minimised), or "": GTK also names the program's hidden windows after the
// application.
std::string managedWindowNamed(const std::string& name);
// The web processes a shell started (its children named WebKitWebProcess).
std::vector<pid_t> webProcessesOf(pid_t shell);

}  // namespace corvane::e2e
