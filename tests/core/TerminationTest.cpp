// The termination signal in a real child process (the live-shell suites
// check the order and the exit code end to end), and relaunch: the new
// instance waits for the old one and starts the executable as installed now.
#include "TestSupport.h"

#include "app/NotificationCenter.h"
#include "app/Relaunch.h"
#include "app/TerminationSignal.h"

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

using namespace corvane;
using namespace corvane::test;

TEST(TerminationSignal, PostsLogsWaitsAndExitsWithZero) {
  TempDir tmp;
  const std::string logPath = tmp / "stderr.txt";
  pid_t child = fork();
  if (child == 0) {
    int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    NotificationCenter::defaultCenter().addObserver(kNoticeAppTerminate, [](auto&, auto&) {
      std::fputs("observed terminate notice\n", stderr);
      std::fflush(stderr);
    });
    installTerminationSignalHandler([] { return std::string("Demo"); }, 1);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    // The loop must keep serving while the process waits to exit.
    g_timeout_add(100, [](gpointer) -> gboolean {
      std::fputs("tick\n", stderr);
      std::fflush(stderr);
      return G_SOURCE_CONTINUE;
    }, nullptr);
    g_main_loop_run(loop);
    _exit(3);  // never reached
  }
  g_usleep(300 * 1000);
  const gint64 sent = g_get_monotonic_time();
  kill(child, SIGTERM);
  g_usleep(100 * 1000);
  kill(child, SIGTERM);  // a second signal does not restart the wait
  int status = 0;
  waitpid(child, &status, 0);
  const double elapsed = (g_get_monotonic_time() - sent) / 1e6;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GE(elapsed, 0.95);

  const std::string err = readFile(logPath);
  const auto notice = err.find("observed terminate notice");
  const auto first = err.find("##[App:Demo]## will about to exit...");
  const auto last = err.find("##[App:Demo]## completely exit...");
  ASSERT_NE(notice, std::string::npos);
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  EXPECT_LT(notice, first);
  EXPECT_LT(first, last);
  EXPECT_EQ(err.find("will about to exit", first + 40), std::string::npos) << "logged once";
  EXPECT_NE(err.find("tick", first), std::string::npos) << "the main loop ran during the wait";
}

TEST(Relaunch, NewInstanceWaitsForThePredecessor) {
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

// A relaunch knows its predecessor; a hand-over starts at once and passes
// the files after the marker.
TEST(Relaunch, StartsADetachedProcessThatKnowsItsPredecessorUnlessHandingOver) {
  TempDir tmp;
  const std::string script = tmp / "fake-shell";
  writeFile(script, "#!/bin/sh\necho \"$* [$" + std::string(kRelaunchPidVariable) + "]\" >> " + (tmp / "out.txt") + "\n");
  fs::permissions(script, fs::perms::owner_all);
  auto ranAs = [&](const std::string& line) {
    for (int i = 0; i < 100 && readFile(tmp / "out.txt").find(line) == std::string::npos; ++i) g_usleep(20 * 1000);
    return readFile(tmp / "out.txt").find(line) != std::string::npos;
  };
  ASSERT_TRUE(relaunchDetached(script, "/apps/Demo.app"));
  EXPECT_TRUE(ranAs("--bundle /apps/Demo.app [" + std::to_string(getpid()) + "]\n")) << readFile(tmp / "out.txt");
  ASSERT_TRUE(relaunchDetached(script, "/apps/Demo.app", {"-x.txt", "/a b"}, false));
  EXPECT_TRUE(ranAs("--bundle /apps/Demo.app -- -x.txt /a b []\n")) << readFile(tmp / "out.txt");
}
