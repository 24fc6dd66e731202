#include "app/Relaunch.h"

#include "app/Log.h"

#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace corvane {

bool relaunchDetached(const std::string& executable, const std::string& bundlePath) {
  gchar** envp = g_get_environ();
  envp = g_environ_setenv(envp, kRelaunchPidVariable, std::to_string(getpid()).c_str(), TRUE);
  const gchar* argv[] = {executable.c_str(), "--bundle", bundlePath.c_str(), nullptr};
  GError* error = nullptr;
  // No child watch: the new instance outlives this process and is adopted
  // by init when this one exits.
  const gboolean ok = g_spawn_async(nullptr, const_cast<gchar**>(argv), envp, G_SPAWN_DEFAULT,
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
