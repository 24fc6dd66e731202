// Thread names: the main thread's stays ours, so the process keeps its name.
#include "TestSupport.h"

#include "app/ThreadName.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {
std::string kernelName(const std::string& statusPath) {
  std::string name = readFile(statusPath);
  while (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}
}  // namespace

TEST(ThreadName, TheMainThreadsNameNeverRenamesTheProcess) {
  ASSERT_TRUE(isMainThreadOfProcess());
  const std::string processName = kernelName("/proc/self/comm");
  setCurrentThreadName("mainThread");
  EXPECT_EQ(currentThreadName(), "mainThread");
  EXPECT_EQ(kernelName("/proc/self/comm"), processName);

  std::string seen, kernel;
  std::thread([&] {
    EXPECT_FALSE(isMainThreadOfProcess());
    setCurrentThreadName("worker-with-a-long-name");
    seen = currentThreadName();
    kernel = kernelName("/proc/self/task/" + std::to_string(syscall(SYS_gettid)) + "/comm");
  }).join();
  EXPECT_EQ(seen, "worker-with-a-long-name");
  EXPECT_EQ(kernel, "worker-with-a-l") << "the kernel keeps 15 bytes";
  EXPECT_EQ(kernelName("/proc/self/comm"), processName);
}
