#include "support/PrivateDesktop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace corvane::test {

void stopProcess(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  kill(pid, SIGCONT);  // a test may have stopped it; a stopped process never ends
  if (!PrivateDesktop::waitFor([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 2)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

pid_t startProcess(const std::vector<std::string>& argv, const std::string& display, int outFd) {
  pid_t pid = fork();
  if (pid == 0) {
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    int null = ::open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(outFd >= 0 ? outFd : null, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

bool PrivateDesktop::waitFor(const std::function<bool()>& test, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (test()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PrivateDesktop::PrivateDesktop(bool windowManager) {
  // Servers started and stopped side by side by parallel suites sometimes
  // hand out a display number that is gone a moment later, and the window
  // manager then cannot open it: such a start is made again, on a new
  // server, a few times before the test fails.
  std::string why;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (start(windowManager, &why)) return;
    stopProcess(wm_);
    stopProcess(xvfb_);
  }
  throw std::runtime_error(why);
}

bool PrivateDesktop::start(bool windowManager, std::string* why) {
  int fds[2];
  if (pipe(fds) != 0) {
    *why = "pipe failed";
    return false;
  }
  xvfb_ = startProcess(
      {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, "", -1);
  // Xvfb writes to the descriptor it was given; keep it open in the child
  // only (the dup2 calls above leave other descriptors alone).
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    if (poll(&p, 1, 200) > 0) {
      char buf[32];
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, static_cast<size_t>(n));
    }
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    *why = "Xvfb did not start";
    return false;
  }
  display_ = ":" + number.substr(0, number.find('\n'));
  if (!windowManager) return true;

  wm_ = startProcess({"openbox", "--sm-disable"}, display_, -1);
  // The window manager is ready once it announces itself on the root
  // window; one that has ended will not.
  bool ended = false;
  const bool up = waitFor(
      [&] {
        ended = waitpid(wm_, nullptr, WNOHANG) == wm_;
        return ended ||
               run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") != std::string::npos;
      },
      60);
  if (ended) wm_ = -1;
  if (!up || ended) {
    *why = "openbox did not start";
    return false;
  }
  return true;
}

PrivateDesktop::~PrivateDesktop() {
  stopProcess(cover_);
  stopProcess(wm_);
  stopProcess(xvfb_);
}

std::string PrivateDesktop::run(const std::vector<std::string>& argv, int* status) const {
  int fds[2];
  if (pipe(fds) != 0) return "";
  // Bounded: an X tool waiting on a server starved by a loaded machine must
  // not hold the test past its own time-out without a word.
  std::vector<std::string> bounded{"timeout", "-k", "2", "60"};
  bounded.insert(bounded.end(), argv.begin(), argv.end());
  pid_t pid = startProcess(bounded, display_, fds[1]);
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

bool PrivateDesktop::xdotool(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  int status = -1;
  run(argv, &status);
  return status == 0;
}

pid_t PrivateDesktop::spawn(const std::vector<std::string>& argv) const { return startProcess(argv, display_, -1); }

unsigned long PrivateDesktop::activeWindow() const {
  int status = -1;
  const std::string out = run({"xdotool", "getactivewindow"}, &status);
  return status == 0 && !out.empty() ? std::strtoul(out.c_str(), nullptr, 10) : 0;
}

pid_t PrivateDesktop::windowPid(unsigned long window) const {
  int status = -1;
  const std::string out = run({"xdotool", "getwindowpid", std::to_string(window)}, &status);
  return status == 0 && !out.empty() ? static_cast<pid_t>(std::atol(out.c_str())) : -1;
}

PrivateDesktop::Geometry PrivateDesktop::geometry(unsigned long window) const {
  Geometry g;
  g.window = window;
  // "WINDOW=..", "X=..", "Y=..", "WIDTH=..", "HEIGHT=..", "SCREEN=.." lines, in this order.
  const std::string out = run({"xdotool", "getwindowgeometry", "--shell", std::to_string(window)});
  std::sscanf(out.c_str(), "WINDOW=%*u X=%d Y=%d WIDTH=%d HEIGHT=%d", &g.x, &g.y, &g.width, &g.height);
  return g;
}

PrivateDesktop::Geometry PrivateDesktop::mainWindowOf(pid_t pid) const {
  Geometry best;
  std::istringstream ids(run({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)}));
  for (unsigned long id; ids >> id;) {
    const Geometry g = geometry(id);
    if (g.width * g.height > best.width * best.height) best = g;
  }
  return best;
}

std::vector<unsigned long> PrivateDesktop::stacking() const {
  // "_NET_CLIENT_LIST_STACKING(WINDOW): window id # 0x200007, 0x400003"
  std::string out = run({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
  std::vector<unsigned long> order;
  for (size_t at = out.find("0x"); at != std::string::npos; at = out.find("0x", at + 2))
    order.push_back(std::strtoul(out.c_str() + at, nullptr, 16));
  return order;
}

bool PrivateDesktop::waitAbove(unsigned long window, unsigned long other, double seconds) const {
  return waitFor([&] {
    const auto order = stacking();
    const auto a = std::find(order.begin(), order.end(), window), b = std::find(order.begin(), order.end(), other);
    return a != order.end() && b != order.end() && a > b;
  }, seconds);
}

unsigned long PrivateDesktop::coverScreen() {
  stopProcess(cover_);
  cover_ = spawn({"xmessage", "-name", "corvanecover", "-geometry", "1280x800+0+0", "another application"});
  unsigned long window = 0;
  waitFor([&] {
    const std::string id = run({"xdotool", "search", "--onlyvisible", "--classname", "corvanecover"});
    window = std::strtoul(id.c_str(), nullptr, 10);
    const auto order = stacking();
    return window != 0 && !order.empty() && order.back() == window;
  }, 20);
  return window;
}

}  // namespace corvane::test
