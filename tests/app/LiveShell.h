#pragma once
// Runs the shell in the background so that a test can act on it while it
// runs: wait for a log line, send a signal, start a second instance.
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvane::life {

class LiveShell {
 public:
  // Runs `binary --bundle <bundle> <arguments...>` in `cwd` (empty: the
  // test's own), with its output in `logPath`.
  LiveShell(std::string binary, std::string bundle, std::string logPath,
            std::map<std::string, std::string> env, std::vector<std::string> arguments = {},
            std::string cwd = "");
  ~LiveShell();
  LiveShell(const LiveShell&) = delete;
  LiveShell& operator=(const LiveShell&) = delete;

  // True once `text` appears in the log (false after `seconds`).
  bool waitForLog(const std::string& text, double seconds) const;
  // The exit status, or -1 when it has not ended within `seconds` (it runs
  // on; the destructor kills it).
  int waitForExit(double seconds);
  void signal(int sig) const;
  // Signals the shell's whole process group (as a terminal's Ctrl+C does);
  // only for shells started with their own group.
  void signalGroup(int sig) const;
  // Start the shell as the leader of a process group of its own, as a
  // terminal starts a foreground job.
  static constexpr const char* kOwnGroup = "LIVESHELL_OWN_GROUP";
  std::string log() const;
  pid_t pid() const { return pid_; }
  // False once the process has ended (its status is kept for waitForExit).
  bool running();
  // "running", "exited with N" or "killed by signal N", for failure messages.
  std::string state();

 private:
  bool reap(int options);
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  int rawStatus_ = 0;
  std::string logPath_;
};

}  // namespace corvane::life
