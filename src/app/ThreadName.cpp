#include "app/ThreadName.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvane {
namespace {
thread_local std::string tName;
}

bool isMainThreadOfProcess() { return static_cast<pid_t>(syscall(SYS_gettid)) == getpid(); }

void setCurrentThreadName(const std::string& name) {
  tName = name;
  // The kernel keeps 15 bytes of a thread's name.
  if (!isMainThreadOfProcess()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

std::string currentThreadName() {
  if (!tName.empty()) return tName;
  char buffer[16] = {};
  if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) != 0) return "";
  return buffer;
}

}  // namespace corvane
