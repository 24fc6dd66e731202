#include "LiveShell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

namespace corvane::life {

LiveShell::LiveShell(std::string binary, std::string bundle, std::string logPath,
                     std::map<std::string, std::string> env, std::vector<std::string> files,
                     std::string cwd)
    : logPath_(std::move(logPath)) {
  pid_ = fork();
  if (pid_ == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (env.count(kOwnGroup)) setpgid(0, 0);
    int fd = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> argv{binary.data(), const_cast<char*>("--bundle"), bundle.data()};
    for (auto& f : files) argv.push_back(f.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
}

LiveShell::~LiveShell() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::string LiveShell::log() const {
  std::ifstream in(logPath_);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Asks `done` every 50 ms until it holds or the seconds pass.
static bool poll(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (; std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(50)))
    if (done()) return true;
  return false;
}

bool LiveShell::waitForLog(const std::string& text, double seconds) const {
  return poll([&] { return log().find(text) != std::string::npos; }, seconds);
}

bool LiveShell::reap(int options) {
  int status = 0;
  if (pid_ <= 0) return true;
  if (waitpid(pid_, &status, options) != pid_) return false;
  pid_ = -1;
  rawStatus_ = status;
  exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

std::string LiveShell::state() {
  if (running()) return "running";
  if (WIFSIGNALED(rawStatus_)) return "killed by signal " + std::to_string(WTERMSIG(rawStatus_));
  return "exited with " + std::to_string(exitStatus_);
}

int LiveShell::waitForExit(double seconds) { return poll([&] { return reap(WNOHANG); }, seconds) ? exitStatus_ : -1; }

bool LiveShell::running() { return !reap(WNOHANG); }

void LiveShell::signalGroup(int sig) const {
  if (pid_ > 0 && getpgid(pid_) == pid_) kill(-pid_, sig);
}

void LiveShell::signal(int sig) const {
  if (pid_ > 0) kill(pid_, sig);
}

}  // namespace corvane::life
