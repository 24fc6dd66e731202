#include "app/TerminationSignal.h"

#include "app/Log.h"
#include "app/NotificationCenter.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace corvane {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

struct Handler {
  std::function<std::string()> appName;
  unsigned waitSeconds = 5;
  std::function<void()> onBegin;
  bool begun = false;
};

Handler* handler = nullptr;          // lives for the process once installed
std::atomic<int> requestedSignal{0};
int wakeFds[2] = {-1, -1};           // [0] read by the main loop, [1] written by the handler

void onSignal(int sig) {
  const int saved = errno;
  requestedSignal.store(sig);
  if (wakeFds[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFds[1], &byte, 1);
  }
  errno = saved;
}

gboolean onWake(gint fd, GIOCondition, gpointer) {
  char buffer[64];
  while (::read(fd, buffer, sizeof buffer) > 0) {
  }
  beginTerminationIfRequested();
  return G_SOURCE_CONTINUE;  // stays for later signals, which change nothing
}

gboolean finish(gpointer) {
  log().info("##[App:{}]## completely exit...", handler->appName());
  log().flush();
  std::fflush(nullptr);
  // Straight out: no will-terminate steps, no relaunch, and no static
  // destructors racing the web engine's threads.
  _exit(0);
}

}  // namespace

bool installTerminationSignalHandler(std::function<std::string()> appName, unsigned waitSeconds,
                                     std::function<void()> onBegin) {
  if (!handler) {
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
      log().info("Can't register handle for SIGTERM; continuing");
      return false;
    }
    handler = new Handler;
    g_unix_fd_add(wakeFds[0], G_IO_IN, &onWake, nullptr);
  }
  handler->appName = std::move(appName);
  handler->waitSeconds = waitSeconds;
  handler->onBegin = std::move(onBegin);

  struct sigaction action {};
  action.sa_handler = &onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  bool ok = true;
  for (int sig : kSignals) ok = ::sigaction(sig, &action, nullptr) == 0 && ok;
  if (!ok) {
    log().info("Can't register handle for SIGTERM; continuing");
    return false;
  }
  return true;
}

bool terminationRequested() { return requestedSignal.load() != 0; }

bool beginTerminationIfRequested() {
  if (!terminationRequested()) return false;
  if (!handler || handler->begun) return true;
  handler->begun = true;
  if (handler->onBegin) handler->onBegin();
  NotificationCenter::defaultCenter().post(kNoticeAppTerminate);
  log().info("##[App:{}]## will about to exit...", handler->appName());
  // Millisecond timer: the seconds variant may fire up to a second early.
  g_timeout_add(handler->waitSeconds * 1000, &finish, nullptr);
  return true;
}

std::optional<int> waitForChildUnlessTerminated(pid_t pid) {
  // A process file descriptor turns readable when the child ends; without
  // one (an old kernel) the wait checks a few times a second.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  std::optional<int> result;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      result = status;
      break;
    }
    if (done < 0 && errno != EINTR) {
      const int err = errno;
      if (pidfd >= 0) ::close(pidfd);
      throw std::runtime_error(std::strerror(err));
    }
    if (beginTerminationIfRequested()) break;
    pollfd fds[2] = {{pidfd, POLLIN, 0}, {wakeFds[0], POLLIN, 0}};
    ::poll(fds, 2, pidfd >= 0 ? -1 : 200);  // negative descriptors are skipped
  }
  if (pidfd >= 0) ::close(pidfd);
  return result;
}

}  // namespace corvane
