// Helper services end to end: the real shell on a private session bus whose
// service folder holds the agent helper and the test echo helper; the page
// (helpers-pages/helpers-checks.js) registers, sends and waits. A second
// run loses its session bus (kill -9 of the daemon) and keeps going.
#include "ProcessHelpers.h"
#include "ShellSuite.h"
#include "support/PrivateBus.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

using nlohmann::json;
using corvane::e2e::ShellHarness;
namespace fs = std::filesystem;

namespace {

class HelpersE2E : public corvane::e2e::ShellSuite<HelpersE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_HELPERS_PAGES);
    corvane::test::PrivateBus bus(CORVANE_SERVICE_DIR);
    auto env = shell->sessionEnv();
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
    runShell(env, 240);
  }
};

// The page's own checks (helpers-pages/helpers-checks.js).
TEST_F(HelpersE2E, RegistrationAndManyMessagesFromTwoPagesAndASilentHelper) {
  EXPECT_EQ(r("mismatches"), json::object());
}

// ---- the session bus goes away -------------------------------------------------

class HelpersBusLost : public corvane::e2e::ShellSuite<HelpersBusLost> {
 protected:
  static void SetUpTestSuite() {
    using corvane::e2e::waitUntil;
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_HELPERS_PAGES);
    const std::string dir = shell->root() + "/work";
    fs::create_directories(dir);
    corvane::test::PrivateBus bus(CORVANE_SERVICE_DIR);
    auto env = shell->sessionEnv();
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
    env["HELPERS_DIR"] = dir;
    env["HELPERS_MODE"] = "bus-lost";
    const pid_t pid = shell->start(env);
    auto logged = [](const char* text) { return shell->log().find(text) != std::string::npos; };
    if (waitUntil([&] { return logged("ARM-BUS"); }, 120)) {
      kill(bus.daemonPid(), SIGKILL);
      if (waitUntil([&] { return logged("BUS-LOST-DONE"); }, 120)) {
        // A second start of the same application, on the bus that is gone.
        env["HELPERS_MODE"] = "second";
        secondStatus = ShellHarness::wait(shell->start(env, "second.log"), 120);
        secondReport = shell->report();
        secondLog = corvane::test::readFile(shell->root() + "/second.log");
      }
      shell->writeFile(dir + "/second-done", "");
    }
    keep(ShellHarness::wait(pid, 120));
  }

  static inline int secondStatus = -1;
  static inline json secondReport;
  static inline std::string secondLog;
};

// The page keeps running and its calls answer; helpers fail with an answer
// and their keys go.
TEST_F(HelpersBusLost, ThePageKeepsRunningAndHelpersFailWithAnAnswer) {
  EXPECT_EQ(r("mismatches"), json::object());
  EXPECT_NE(log->find("the session bus went away"), std::string::npos) << *log;
  EXPECT_EQ(log->find("will about to exit"), std::string::npos) << "the lost bus ended the application";
  EXPECT_EQ(corvane::test::countOf(*log, "ZVR_NOTICE_XPC_ON_INTERRUPTION echo\n"), 1u) << *log;
  EXPECT_EQ(corvane::test::countOf(*log, "ZVR_NOTICE_XPC_ON_INVALIDATION late\n"), 1u) << *log;
}

TEST_F(HelpersBusLost, ASecondStartRunsOnItsOwnAndSaysWhy) {
  EXPECT_EQ(secondStatus, 0) << secondLog;
  EXPECT_EQ(secondReport["second"], true);
  EXPECT_NE(secondLog.find("cannot hand over to a running instance"), std::string::npos) << secondLog;
}

}  // namespace
