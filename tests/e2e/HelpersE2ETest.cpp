// Helper services end to end: the real shell on a private session bus whose
// service folder holds the agent helper and the test echo helper; the page
// (helpers-pages/helpers-checks.js) registers, sends and waits, and this
// driver kills the echo helper by its pid when the page has armed it. A
// second run loses its session bus (kill -9 of the daemon) and keeps going.
#include "ShellHarness.h"
#include "support/PrivateBus.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <filesystem>
#include <fstream>
#include <thread>

using nlohmann::json;
using corvane::e2e::ShellHarness;
namespace fs = std::filesystem;

namespace {

size_t countLines(const std::string& log, const std::string& ending) {
  size_t n = 0;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);)
    if (line.size() >= ending.size() && line.compare(line.size() - ending.size(), ending.size(), ending) == 0) ++n;
  return n;
}

class HelpersE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shell = new ShellHarness();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_HELPERS_PAGES);
    const std::string pids = shell->root() + "/pids";
    fs::create_directories(pids);
    auto* bus = new corvane::test::PrivateBus(CORVANE_SERVICE_DIR, {{"CORVANE_TEST_HELPER_DIR", pids}});
    auto* http = new corvane::e2e::TinyHttpServer(
        std::map<std::string, std::string>{{"/rate.json", "{\"rate\":\"yes\"}"}});

    auto env = shell->sessionEnv();
    env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
    env["CORVANE_E2E_HTTP"] = "http://127.0.0.1:" + std::to_string(http->port());
    const pid_t pid = shell->start(env);

    // The person with the kill command: once the page armed the helper.
    const std::string pidFile = pids + "/org.corvane.test.EchoHelper.pid";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    int wstatus = 0;
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
      if (!killed && fs::exists(pidFile)) {
        std::ifstream in(pidFile);
        in >> killed;
        if (killed > 0) kill(killed, SIGKILL);
      }
      ended = waitpid(pid, &wstatus, WNOHANG) == pid;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
    }
    status = ended && WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    report = new json(shell->report());
    log = new std::string(shell->log());
    delete http;
    delete bus;
  }
  static void TearDownTestSuite() {
    delete report;
    delete log;
    delete shell;
  }
  void SetUp() override {
    ASSERT_EQ(status, 0) << *log;
    ASSERT_TRUE(report->is_object()) << "the page sent no report\n" << *log;
    ASSERT_FALSE(report->contains("pageError")) << (*report)["pageError"];
  }
  static const json& r(const char* key) { return (*report)[key]; }

  static ShellHarness* shell;
  static int status;
  static pid_t killed;
  static json* report;
  static std::string* log;
};

ShellHarness* HelpersE2E::shell = nullptr;
int HelpersE2E::status = -1;
pid_t HelpersE2E::killed = 0;
json* HelpersE2E::report = nullptr;
std::string* HelpersE2E::log = nullptr;

TEST_F(HelpersE2E, RegistrationAnswers) {
  EXPECT_EQ(r("hasDefault"), true);
  EXPECT_EQ(r("refused"), json({false, false, false, false}));
  EXPECT_EQ(r("register"), json({true, false}));
  EXPECT_EQ(r("hasEcho"), true);
  EXPECT_EQ(r("unreg"), json({true, true, false}));
  EXPECT_EQ(r("hasDefaultAtEnd"), true);
}

TEST_F(HelpersE2E, RepliesReachThePageWithTheKey) {
  EXPECT_EQ(r("first")["success"], true);
  EXPECT_EQ(r("first")["message"]["echo"], json({{"con_id", "echo"}, {"hello", "wörld"}}));
  EXPECT_EQ(r("noDic")["message"]["echo"], json({{"con_id", "echo"}}));
  // The agent's answer is the JSON text of its dictionary.
  ASSERT_EQ(r("agent")["success"], true) << r("agent");
  json agent = json::parse(r("agent")["message"].get<std::string>());
  EXPECT_EQ(agent["success"], true);
  EXPECT_EQ(agent["info"], "{\"rate\":\"yes\"}");
  // Unknown keys and a missing key answer nothing at all.
  EXPECT_EQ(r("strayAnswers"), 0);
}

TEST_F(HelpersE2E, AHelperCallingTheShellIsLoggedAndNotAnswered) {
  EXPECT_EQ(r("callingBack")["message"]["callbackError"], "org.corvane.AgentHelperProtocol.Error.NoReply");
  EXPECT_EQ(countLines(*log, "GetMessage {\"from\":\"helper\"}"), 1u) << *log;
}

TEST_F(HelpersE2E, ManyMessagesInFlightEachGetTheirOwnReply) {
  ASSERT_EQ(r("many").size(), 40u);
  for (int i = 0; i < 40; ++i) {
    const json& one = r("many")[static_cast<size_t>(i)];
    ASSERT_EQ(one["success"], true) << one;
    if (i % 2)
      EXPECT_EQ(one["message"]["echo"]["i"], i);
    else
      EXPECT_EQ(json::parse(one["message"].get<std::string>())["info"], "PONG");
  }
}

TEST_F(HelpersE2E, ASecondPageGetsItsOwnRepliesAtTheSameTime) {
  ASSERT_EQ(r("childReported"), true) << *log;
  ASSERT_EQ(r("childAnswers").size(), 30u);
  for (int i = 0; i < 30; ++i) {
    const json& one = r("childAnswers")[static_cast<size_t>(i)];
    ASSERT_EQ(one["success"], true) << one;
    if (i % 2)
      EXPECT_EQ(one["message"]["echo"], json({{"con_id", "echo"}, {"child", i}}));
    else
      EXPECT_EQ(json::parse(one["message"].get<std::string>())["info"], "PONG");
  }
}

TEST_F(HelpersE2E, SuspendHoldsUntilResume) {
  EXPECT_EQ(r("otherWhileHeld")["success"], true);
  EXPECT_EQ(r("heldBeforeResume"), false);
  EXPECT_EQ(r("held")["message"]["echo"]["held"], 1);
}

TEST_F(HelpersE2E, InvalidateAndUnregister) {
  EXPECT_EQ(r("invRegistered"), true);
  EXPECT_EQ(r("invFirst")["success"], true);
  EXPECT_EQ(r("invGone"), true);
  EXPECT_EQ(countLines(*log, "ZVR_NOTICE_XPC_ON_INVALIDATION inv"), 1u) << *log;
  EXPECT_EQ(countLines(*log, " unreg"), 0u) << *log;
}

TEST_F(HelpersE2E, KilledHelperInterruptsAndTheKeyComesBack) {
  ASSERT_GT(killed, 0) << "the page never armed the helper";
  EXPECT_EQ(r("armed")["message"]["pid"], killed);
  EXPECT_EQ(r("killedGone"), true);
  EXPECT_EQ(countLines(*log, "ZVR_NOTICE_XPC_ON_INTERRUPTION echo"), 1u) << *log;
  EXPECT_EQ(r("reRegister"), true);
  EXPECT_EQ(r("afterKill")["success"], true);
  EXPECT_NE(r("afterKill")["message"]["pid"], killed);
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

// Waits for the shell `pid` to end; its exit status, -1 when it was killed
// (or had to be, after `seconds`).
int waitForShell(pid_t pid, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

bool waitForText(const std::function<std::string()>& read, const std::string& text, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (read().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

class HelpersBusLost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shell = new ShellHarness();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_HELPERS_PAGES);
    const std::string dir = shell->root() + "/work";
    fs::create_directories(dir);
    auto* bus = new corvane::test::PrivateBus(CORVANE_SERVICE_DIR);
    auto env = shell->sessionEnv();
    env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
    env["HELPERS_DIR"] = dir;
    env["HELPERS_MODE"] = "bus-lost";
    const pid_t pid = shell->start(env);
    if (waitForText([] { return shell->log(); }, "ARM-BUS", 120)) {
      kill(bus->daemonPid(), SIGKILL);
      if (waitForText([] { return shell->log(); }, "BUS-LOST-DONE", 120)) {
        // A second start of the same application, on the bus that is gone.
        env["HELPERS_MODE"] = "second";
        secondStatus = waitForShell(shell->start(env, "second.log"), 120);
        secondReport = new json(shell->report());
        secondLog = new std::string(corvane::test::readFile(shell->root() + "/second.log"));
      }
      shell->writeFile(dir + "/second-done", "");
    }
    status = waitForShell(pid, 120);
    report = new json(shell->report());
    log = new std::string(shell->log());
    delete bus;
  }
  static void TearDownTestSuite() {
    delete report;
    delete log;
    delete secondReport;
    delete secondLog;
    delete shell;
  }
  void SetUp() override {
    ASSERT_EQ(status, 0) << *log;
    ASSERT_TRUE(report->is_object()) << "the page sent no report\n" << *log;
    ASSERT_FALSE(report->contains("pageError")) << (*report)["pageError"];
  }
  static const json& r(const char* key) { return (*report)[key]; }

  static inline ShellHarness* shell = nullptr;
  static inline int status = -1, secondStatus = -1;
  static inline json *report = nullptr, *secondReport = nullptr;
  static inline std::string *log = nullptr, *secondLog = nullptr;
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
  EXPECT_EQ(countLines(*log, "ZVR_NOTICE_XPC_ON_INTERRUPTION echo"), 1u) << *log;
  EXPECT_EQ(r("defaultAnswer")["success"], false);
  EXPECT_TRUE(r("defaultAnswer")["error"].is_string());
  EXPECT_EQ(r("defaultGone"), true);
  EXPECT_EQ(r("registerAfter"), true) << "registration never waits for the bus";
  EXPECT_EQ(r("lateGone"), true);
  EXPECT_EQ(countLines(*log, "ZVR_NOTICE_XPC_ON_INVALIDATION late"), 1u) << *log;
}

TEST_F(HelpersBusLost, ASecondStartRunsOnItsOwnAndSaysWhy) {
  EXPECT_EQ(secondStatus, 0) << (secondLog ? *secondLog : "");
  ASSERT_TRUE(secondReport);
  EXPECT_EQ((*secondReport)["second"], true);
  EXPECT_NE(secondLog->find("cannot hand over to a running instance"), std::string::npos) << *secondLog;
}

}  // namespace
