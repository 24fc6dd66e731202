#include "VirtualDisplay.h"

#include "support/TestFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace corvane::e2e {

std::string sh(const std::string& command) { return test::commandOutput(command); }

bool waitUntil(const std::function<bool()>& condition, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return condition();
}

pid_t spawn(const std::vector<std::string>& argv, int stdoutFd) {
  pid_t pid = fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(stdoutFd >= 0 ? stdoutFd : null, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

void stopProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

VirtualDisplay::VirtualDisplay(int width, int height, const std::string& wmHome) {
  int fds[2];
  if (pipe(fds) != 0) return;
  xvfb_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                 std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp"});
  ::close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  display_ = ":" + number;
  setenv("DISPLAY", display_.c_str(), 1);
  std::filesystem::create_directories(wmHome);
  setenv("HOME", wmHome.c_str(), 1);
  wm_ = spawn({"openbox"});
  waitUntil([] { return sh("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") != std::string::npos; }, 20);
}

VirtualDisplay::~VirtualDisplay() {
  stopProcess(wm_);
  stopProcess(xvfb_);
}

}  // namespace corvane::e2e
