#include "WmDisplay.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace corvane::life {

WmDisplay::WmDisplay() {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  xvfb_ = fork();
  if (xvfb_ == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // Xvfb writes its display number once it accepts clients.
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
  close(fds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  name_ = ":" + number;

  wm_ = fork();
  if (wm_ == 0) {
    setenv("DISPLAY", name_.c_str(), 1);
    execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
    _exit(127);
  }
  // The window manager is there once it names itself on the root window.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (run("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("openbox did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

WmDisplay::~WmDisplay() {
  for (pid_t p : {wm_, xvfb_}) {
    if (p <= 0) continue;
    kill(p, SIGTERM);
    // A server that does not end within five seconds is killed.
    bool ended = false;
    for (int i = 0; i < 50 && !ended; ++i) {
      ended = waitpid(p, nullptr, WNOHANG) == p;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!ended) {
      kill(p, SIGKILL);
      waitpid(p, nullptr, 0);
    }
  }
}

std::string WmDisplay::run(const std::string& command) const {
  // Bounded: an X tool waiting on a server starved by a loaded machine must
  // not hold the test past its own time-out without a word.
  const std::string full = "DISPLAY=" + name_ + " timeout -k 2 20 " + command + " 2>/dev/null";
  std::string out;
  FILE* p = popen(full.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  pclose(p);
  return out;
}

XGeometry geometryOf(const WmDisplay& display, long window) {
  XGeometry g;
  g.window = window;
  // WINDOW=.. X=.. Y=.. WIDTH=.. HEIGHT=.. SCREEN=..
  std::istringstream lines(display.run("xdotool getwindowgeometry --shell " + std::to_string(window)));
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const int value = std::atoi(line.c_str() + eq + 1);
    if (key == "X") g.x = value;
    else if (key == "Y") g.y = value;
    else if (key == "WIDTH") g.width = value;
    else if (key == "HEIGHT") g.height = value;
  }
  return g;
}

XGeometry mainWindowOf(const WmDisplay& display, pid_t pid) {
  XGeometry best;
  std::istringstream ids(display.run("xdotool search --onlyvisible --pid " + std::to_string(pid)));
  for (long id; ids >> id;) {
    XGeometry g = geometryOf(display, id);
    if (g.width * g.height > best.width * best.height) best = g;
  }
  return best;
}

}  // namespace corvane::life
