#include "app/TerminationSignal.h"

#include "app/Log.h"
#include "app/NotificationCenter.h"

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace corvane {
namespace {

struct Handler {
  std::function<std::string()> appName;
  unsigned waitSeconds = 5;
  bool exiting = false;
};

gboolean onSigterm(gpointer data) {
  auto* h = static_cast<Handler*>(data);
  if (h->exiting) return G_SOURCE_CONTINUE;  // already on the way out
  h->exiting = true;
  NotificationCenter::defaultCenter().post(kNoticeAppTerminate);
  const std::string name = h->appName();
  log().info("##[App:{}]## will about to exit...", name);
  // Millisecond timer: the seconds variant may fire up to a second early.
  g_timeout_add(h->waitSeconds * 1000, [](gpointer d) -> gboolean {
    auto* handler = static_cast<Handler*>(d);
    log().info("##[App:{}]## completely exit...", handler->appName());
    log().flush();
    std::fflush(nullptr);
    // Straight out: no will-terminate steps, no relaunch, and no static
    // destructors racing the web engine's threads.
    _exit(0);
  }, h);
  return G_SOURCE_CONTINUE;  // stays installed for the next signal
}

}  // namespace

bool installTerminationSignalHandler(std::function<std::string()> appName, unsigned waitSeconds) {
  auto* handler = new Handler{std::move(appName), waitSeconds, false};  // lives for the process
  if (g_unix_signal_add(SIGTERM, &onSigterm, handler) == 0) {
    log().info("Can't register handle for SIGTERM; continuing");
    delete handler;
    return false;
  }
  return true;
}

}  // namespace corvane
