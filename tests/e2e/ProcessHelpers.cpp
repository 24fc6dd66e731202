#include "ProcessHelpers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace corvane::e2e {

std::string sh(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

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

void stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  kill(pid, SIGCONT);  // a test may have stopped it; a stopped process never ends
  waitpid(pid, nullptr, 0);
}

std::vector<pid_t> webProcessesOf(pid_t shell) {
  std::vector<pid_t> out;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    const std::string comm = line.substr(line.find('(') + 1, close - line.find('(') - 1);
    std::istringstream rest(line.substr(close + 2));
    char state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == shell && comm.rfind("WebKitWebProces", 0) == 0) out.push_back(std::stoi(name));
  }
  return out;
}

std::string managedWindowNamed(const std::string& name) {
  std::istringstream ids(sh("xdotool search --name '^" + name + "$'"));
  for (std::string id; ids >> id;)
    if (sh("xprop -id " + id + " WM_STATE").find("window state") != std::string::npos) return id;
  return "";
}

}  // namespace corvane::e2e
