#pragma once
// A display of a suite's own (Xvfb with the openbox window manager), so
// that input and window states belong to that suite alone, and the small
// process and shell helpers the person-at-the-screen drivers use.
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace corvane::e2e {

// Runs a shell command and answers its standard output (errors dropped).
std::string sh(const std::string& command);
// Polls the condition every 100 ms until it holds or the seconds pass.
bool waitUntil(const std::function<bool()>& condition, int seconds);
// Starts a program with /dev/null as input and error (and output unless
// `stdoutFd` is given); answers its process id.
pid_t spawn(const std::vector<std::string>& argv, int stdoutFd = -1);
// SIGTERM, then waits for the process.
void stopProcess(pid_t pid);

class VirtualDisplay {
 public:
  // Starts Xvfb on a free display number and openbox with `wmHome` as its
  // home; sets DISPLAY and HOME of this process for xdotool and friends.
  VirtualDisplay(int width, int height, const std::string& wmHome);
  ~VirtualDisplay();
  const std::string& name() const { return display_; }

 private:
  std::string display_;
  pid_t xvfb_ = -1, wm_ = -1;
};

}  // namespace corvane::e2e
