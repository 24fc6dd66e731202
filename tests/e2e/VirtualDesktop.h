#pragma once
// A desktop of a suite's own for end-to-end tests that act as the person at
// the screen: Xvfb on a free display number with the openbox window
// manager, plus the small process and shell helpers the drivers use.
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
// SIGTERM and wait.
void stop(pid_t pid);

struct VirtualDesktop {
  std::string display;
  pid_t xvfb = -1;
  pid_t windowManager = -1;

  // Starts Xvfb and openbox; DISPLAY and HOME of this process point at them
  // afterwards (for xdotool, xprop and the window manager's files).
  void start(int width, int height, const std::string& home);
  void stopAll();
};

}  // namespace corvane::e2e
