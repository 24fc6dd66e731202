#pragma once
// The small process and shell helpers of the end-to-end drivers that act as
// the person at the screen (the desktop itself is support/PrivateDesktop).
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace corvane::e2e {

// Output of a shell command (stderr dropped).
std::string sh(const std::string& command);
// Polls `condition` every 100 ms for up to `seconds`.
bool waitUntil(const std::function<bool()>& condition, int seconds);
// Starts a program with stdin and stderr on /dev/null, stdout to `stdoutFd`
// (or /dev/null).
pid_t spawn(const std::vector<std::string>& argv, int stdoutFd = -1);
// SIGTERM (also to a stopped process) and wait.
void stop(pid_t pid);
// The X window the window manager manages under this exact name (shown or
// minimised), or "": GTK also names the program's hidden windows after the
// application.
std::string managedWindowNamed(const std::string& name);
// The web processes a shell started (its children named WebKitWebProcess).
std::vector<pid_t> webProcessesOf(pid_t shell);

}  // namespace corvane::e2e
