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
#include <tuple>

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

TEST_F(HelpersE2E, RegistrationAnswers) {
  EXPECT_EQ(r("hasDefault"), true);
  EXPECT_EQ(r("refused"), json({false, false, false, false}));
  EXPECT_EQ(r("register"), json({true, false}));
  EXPECT_EQ(r("hasEcho"), true);
  EXPECT_EQ(r("unreg"), json({true, true, false}));
  EXPECT_EQ(r("hasDefaultAtEnd"), true);
}

// Odd messages go to the echo helper, even ones to the agent; this page
// and a second one at the same time. (What a reply holds, and that unknown
// keys send nothing, is HelperConnectionTest's.)
TEST_F(HelpersE2E, ManyMessagesInFlightFromTwoPagesEachGetTheirOwnReply) {
  ASSERT_EQ(r("childReported"), true) << *log;
  for (const auto& [key, count, field] : {std::tuple{"many", 40u, "i"}, std::tuple{"childAnswers", 30u, "child"}}) {
    ASSERT_EQ(r(key).size(), count) << key;
    for (size_t i = 0; i < count; ++i) {
      const json& one = r(key)[i];
      ASSERT_EQ(one["success"], true) << key << one;
      if (i % 2)
        EXPECT_EQ(one["message"]["echo"], json({{"con_id", "echo"}, {field, i}})) << key;
      else
        EXPECT_EQ(json::parse(one["message"].get<std::string>())["info"], "PONG") << key;
    }
  }
}

TEST_F(HelpersE2E, AHelperThatNeverAnswersTimesOutAndHoldsUpNobodyElse) {
  EXPECT_EQ(r("hungRegistered"), true);
  EXPECT_EQ(r("defaultWhileHung")["success"], true) << r("defaultWhileHung");
  EXPECT_EQ(r("echoWhileHung")["message"]["echo"]["whileHung"], true) << r("echoWhileHung");
  EXPECT_LT(r("othersWaitedMs").get<double>(), 2000) << "the others waited for the silent helper";
  ASSERT_EQ(r("hung").size(), 70u);
  for (const auto& one : r("hung"))
    EXPECT_EQ(one, json({{"success", false}, {"error", "the helper did not answer within 2 s"}}));
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

TEST_F(HelpersBusLost, ThePageKeepsRunningAndItsCallsAnswer) {
  EXPECT_EQ(r("before")["success"], true);
  EXPECT_EQ(r("ext"), "gz");
  EXPECT_EQ(r("stillAnswering"), "zip");
  EXPECT_EQ(r("badge"), "5");
  EXPECT_NE(log->find("the session bus went away"), std::string::npos) << *log;
  EXPECT_EQ(log->find("will about to exit"), std::string::npos) << "the lost bus ended the application";
}

TEST_F(HelpersBusLost, HelpersFailWithAnAnswerAndTheirKeysGo) {
  EXPECT_EQ(r("echoGone"), true);
  EXPECT_EQ(corvane::test::countOf(*log, "ZVR_NOTICE_XPC_ON_INTERRUPTION echo\n"), 1u) << *log;
  EXPECT_EQ(r("defaultAnswer")["success"], false);
  EXPECT_TRUE(r("defaultAnswer")["error"].is_string());
  EXPECT_EQ(r("defaultGone"), true);
  EXPECT_EQ(r("registerAfter"), true) << "registration never waits for the bus";
  EXPECT_EQ(r("lateGone"), true);
  EXPECT_EQ(corvane::test::countOf(*log, "ZVR_NOTICE_XPC_ON_INVALIDATION late\n"), 1u) << *log;
}

TEST_F(HelpersBusLost, ASecondStartRunsOnItsOwnAndSaysWhy) {
  EXPECT_EQ(secondStatus, 0) << secondLog;
  EXPECT_EQ(secondReport["second"], true);
  EXPECT_NE(secondLog.find("cannot hand over to a running instance"), std::string::npos) << secondLog;
}

}  // namespace
