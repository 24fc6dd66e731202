#include "app/Relaunch.h"

#include "app/CommandLine.h"
#include "app/Log.h"

#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace corvane {

namespace {

std::vector<std::pair<std::string, std::string>> g_newInstanceEnvironment;

bool isExecutableFile(const std::string& path) {
  return !path.empty() && g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

void setNewInstanceEnvironment(std::vector<std::pair<std::string, std::string>> variables) {
  g_newInstanceEnvironment = std::move(variables);
}

const std::string& startExecutablePath() {
  static const std::string path = [] {
    std::string p = currentExecutablePath();
    // The kernel marks an executable that is gone by now.
    constexpr std::string_view deleted = " (deleted)";
    if (p.size() > deleted.size() && p.ends_with(deleted) && !g_file_test(p.c_str(), G_FILE_TEST_EXISTS))
      p.resize(p.size() - deleted.size());
    return p;
  }();
  return path;
}

std::optional<std::string> installedExecutable(const std::string& startPath) {
  if (isExecutableFile(startPath)) return startPath;
  gchar* base = g_path_get_basename(startPath.empty() ? "corvane" : startPath.c_str());
  gchar* found = g_find_program_in_path(base);
  std::optional<std::string> out;
  if (found && isExecutableFile(found)) {
    log().info("the executable {} is gone; starting {} instead", startPath, found);
    out = std::string(found);
  } else {
    log().error("relaunch impossible: the executable {} is gone and no {} is on PATH", startPath, base);
  }
  g_free(found);
  g_free(base);
  return out;
}

bool relaunchDetached(const std::string& executable, const std::string& bundlePath,
                      const std::vector<std::string>& files, bool waitForMe) {
  gchar** envp = g_get_environ();
  for (const auto& [name, value] : g_newInstanceEnvironment)
    envp = g_environ_setenv(envp, name.c_str(), value.c_str(), TRUE);
  if (waitForMe)
    envp = g_environ_setenv(envp, kRelaunchPidVariable, std::to_string(getpid()).c_str(), TRUE);
  else
    envp = g_environ_unsetenv(envp, kRelaunchPidVariable);
  std::vector<const gchar*> argv{executable.c_str(), "--bundle", bundlePath.c_str()};
  if (!files.empty()) {
    argv.push_back("--");  // file names are never options
    for (const auto& f : files) argv.push_back(f.c_str());
  }
  argv.push_back(nullptr);
  GError* error = nullptr;
  // No child watch: the new instance outlives this process and is adopted
  // by init when this one exits.
  const gboolean ok = g_spawn_async(nullptr, const_cast<gchar**>(argv.data()), envp, G_SPAWN_DEFAULT,
                                    nullptr, nullptr, nullptr, &error);
  g_strfreev(envp);
  if (!ok) {
    log().error("relaunch failed: {}", error->message);
    g_error_free(error);
  }
  return ok;
}

void waitForPredecessor(double maxSeconds) {
  const char* v = std::getenv(kRelaunchPidVariable);
  if (!v || !*v) return;
  const pid_t pid = static_cast<pid_t>(std::strtol(v, nullptr, 10));
  unsetenv(kRelaunchPidVariable);  // children of this instance are not relaunches
  if (pid <= 1) return;
  const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(maxSeconds * G_USEC_PER_SEC);
  while (g_get_monotonic_time() < deadline) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return;
    g_usleep(50 * 1000);
  }
}

}  // namespace corvane
