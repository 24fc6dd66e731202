#include "app/ChildProcess.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace corvane {
namespace {

// The working folder is checked first so that a failure names the right
// path: posix_spawn answers ENOENT for a missing folder and a missing tool
// alike.
void checkWorkingFolder(const std::string& folder) {
  struct stat st{};
  if (::stat(folder.c_str(), &st) != 0)
    throw ChildStartError("working folder '" + folder + "' " +
                          (errno == ENOENT ? std::string("does not exist") : std::strerror(errno)));
  if (!S_ISDIR(st.st_mode)) throw ChildStartError("working folder '" + folder + "' is not a folder");
  if (::access(folder.c_str(), X_OK) != 0)
    throw ChildStartError("working folder '" + folder + "' cannot be entered: " + std::strerror(errno));
}

// Owns the spawn attributes and file actions for one start.
struct SpawnSetup {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  SpawnSetup() {
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

pid_t startChild(const ChildSpec& spec) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(spec.tool.c_str()));
  for (const auto& a : spec.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  char** envList = environ;
  if (!spec.env.empty()) {
    for (const auto& [k, v] : spec.env) envStrings.push_back(k + "=" + v);
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    envList = envp.data();
  }

  SpawnSetup setup;
  if (!spec.workingFolder.empty()) {
    checkWorkingFolder(spec.workingFolder);
    posix_spawn_file_actions_addchdir_np(&setup.actions, spec.workingFolder.c_str());
  }
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, spec.tool.c_str(), &setup.actions, &setup.attr, argv.data(), envList);
  if (rc != 0) throw ChildStartError("launch path '" + spec.tool + "' not accessible: " + std::strerror(rc));
  return pid;
}

int waitForChild(pid_t pid) {
  int status = 0;
  pid_t done = 0;
  do {
    done = waitpid(pid, &status, 0);
  } while (done < 0 && errno == EINTR);
  if (done < 0) throw std::runtime_error(std::string("waiting for the tool: ") + std::strerror(errno));
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace corvane
