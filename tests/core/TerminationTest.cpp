// A relaunch: the new instance waits for the old one, and starts the
// executable as installed now.
#include "TestSupport.h"

#include "app/Relaunch.h"

#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

using namespace corvane;
using namespace corvane::test;

TEST(Relaunch, NewInstanceWaitsForThePredecessor) {
  TempDir tmp;
  EnvGuard env;
  // The "predecessor" is a short-lived child; the successor waits for it.
  pid_t predecessor = fork();
  if (predecessor == 0) {
    g_usleep(400 * 1000);
    _exit(0);
  }
  env.set(kRelaunchPidVariable, std::to_string(predecessor));
  std::thread reaper([&] { waitpid(predecessor, nullptr, 0); });
  const gint64 start = g_get_monotonic_time();
  waitForPredecessor(5);
  const double waited = (g_get_monotonic_time() - start) / 1e6;
  reaper.join();
  EXPECT_GE(waited, 0.3);
  EXPECT_EQ(std::getenv(kRelaunchPidVariable), nullptr) << "not passed on to children";

  const gint64 again = g_get_monotonic_time();
  waitForPredecessor(5);
  EXPECT_LT((g_get_monotonic_time() - again) / 1e6, 1.0) << "a first start does not wait";
}

TEST(Relaunch, TheInstalledExecutableIsTheOneAtTheStartPathNow) {
  TempDir tmp;
  EnvGuard env;
  const std::string exe = tmp / "bin/demo-shell";
  writeFile(exe, "#!/bin/sh\n");
  fs::permissions(exe, fs::perms::owner_all);
  // An update replaces the file: the path is still the one to start.
  writeFile(tmp / "bin/demo-shell.new", "#!/bin/sh\necho new\n");
  fs::permissions(tmp / "bin/demo-shell.new", fs::perms::owner_all);
  fs::rename(tmp / "bin/demo-shell.new", exe);
  EXPECT_EQ(installedExecutable(exe), exe);

  // Removed: the program of that name on PATH, else nothing.
  fs::remove(exe);
  writeFile(tmp / "elsewhere/demo-shell", "#!/bin/sh\n");
  fs::permissions(tmp / "elsewhere/demo-shell", fs::perms::owner_all);
  env.set("PATH", tmp / "elsewhere");
  EXPECT_EQ(installedExecutable(exe), tmp / "elsewhere/demo-shell");
  env.set("PATH", tmp / "nowhere");
  EXPECT_EQ(installedExecutable(exe), std::nullopt);
}
