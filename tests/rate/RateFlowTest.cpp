// The reminder's whole flow on a GLib main loop, without a display: the
// switches, the request to a real HTTP server on the loopback address
// (directly or through an agent that fetches it on a thread of its own),
// the answer handler, the timer, the dialog's choice and the address it
// opens. The dialog itself is the test's function; the real one is
// exercised end to end in the shell.
#include "../e2e/ShellHarness.h"
#include "app/UserDefaults.h"
#include "rate/RateReminder.h"
#include "server/ServerTestSupport.h"
#include "support/TestFiles.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <glib.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace corvane;
using nlohmann::json;
using RateServer = corvane::e2e::TinyHttpServer;

namespace {

// Spins the default main context until `done` holds (up to `seconds`).
bool spinUntil(const std::function<bool()>& done, double seconds = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Runs everything that is ready now, including the reminder's idle start.
void drain() {
  for (int i = 0; i < 50; ++i) g_main_context_iteration(nullptr, FALSE);
}

class RateFlow : public testing::Test {
 protected:
  test::TempDir dir;
  UserDefaults defaults{dir / "defaults.json"};
  RateServer server{"{}"};
  test::LogCapture logs;
  std::vector<rate::DialogPlan> dialogs;
  std::vector<std::string> opened;
  rate::Button choice = rate::Button::RemindLater;

  void SetUp() override { defaults.setObject("RateApp_enableInNoSandbox", true); }

  RateEnvironment environment() {
    RateEnvironment env;
    env.appName = "Rate Test";
    env.version = "3.1";
    env.serverAddress = server.address();
    env.defaults = &defaults;
    env.showDialog = [this](const rate::DialogPlan& plan, std::function<void(rate::Button)> chosen) {
      dialogs.push_back(plan);
      chosen(choice);
    };
    env.openAddress = [this](const std::string& a) { opened.push_back(a); };
    return env;
  }
  bool start(RateEnvironment env, json appEx = {{"enableNativeRate", true}}) {
    return RateReminder::create(std::move(env))->common_native_app_rate_remind(appEx);
  }
  int64_t runTimes() const { return UserDefaults(dir / "defaults.json").integerForKey("3.1_RateInfo_runTimes"); }
  bool logged(const std::string& text) const { return logs.contains(text); }
  size_t timesLogged(const std::string& text) const {
    size_t n = 0;
    for (const auto& line : logs.lines()) n += line.find(text) != std::string::npos;
    return n;
  }
};

// The agent helper as the test plays it: it fetches the address itself on
// a thread of its own and replies from there.
AgentSender fetchingAgent(std::atomic<int>& messages, bool succeed = true) {
  return [&messages, succeed](const json& message, std::function<void(const json&)> reply,
                              std::function<void(const std::string&)>) {
    ++messages;
    std::thread([message, reply, succeed] {
      const std::string url = message["ms_obj"]["url"];
      const std::string rest = url.substr(url.find("//") + 2);
      const uint16_t port = static_cast<uint16_t>(std::stoi(rest.substr(rest.find(':') + 1)));
      test::Reply r = test::get(port, rest.substr(rest.find('/')));
      reply(json(json{{"success", succeed && r.status == 200}, {"info", r.body}}.dump()));
    }).detach();
    return true;
  };
}

}  // namespace

TEST_F(RateFlow, SwitchesThatSendNoRequest) {
  defaults.removeObject("RateApp_enableInNoSandbox");
  EXPECT_FALSE(start(environment())) << "not sandboxed, no opt-in";
  RateEnvironment sandboxed = environment();
  sandboxed.sandboxed = true;
  EXPECT_FALSE(start(sandboxed, json{{"enableNativeRate", false}}));
  EXPECT_FALSE(start(sandboxed, json::object()));
  EXPECT_FALSE(RateReminder::create(sandboxed)->common_native_app_rate_remind(std::nullopt));
  defaults.setObject("RateApp_CLOSE", true);
  EXPECT_FALSE(start(sandboxed));
  drain();
  EXPECT_TRUE(server.requests().empty());

  defaults.removeObject("RateApp_CLOSE");
  server.answer(R"({"enableRate":false})");
  EXPECT_TRUE(start(sandboxed)) << "sandboxed builds ask without the opt-in";
  ASSERT_TRUE(spinUntil([&] { return logged("launch not counted"); }));
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(RateFlow, AnAddressFromTheServerThatIsNotWebIsRefused) {
  server.answer(R"J({"enableRate":true,"maxRunTimes":0,"startRunningSecs":0,"ReviewURL":"file:///etc/passwd",
                     "FAQURL":"javascript:alert(1)"})J");
  defaults.setObject("3.1_RateInfo_runTimes", 1);
  choice = rate::Button::RateApp;
  ASSERT_TRUE(start(environment()));
  ASSERT_TRUE(spinUntil([&] { return logged("button = 1"); }));
  choice = rate::Button::FAQ;
  ASSERT_TRUE(start(environment()));
  ASSERT_TRUE(spinUntil([&] { return logged("button = -1"); }));
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(logged("not opening \"file:///etc/passwd\""));
  EXPECT_TRUE(logged("not opening \"javascript:alert(1)\""));
  EXPECT_TRUE(UserDefaults(dir / "defaults.json").boolForKey("3.1_RateInfo_ClickRate")) << "the choice is kept";
}

TEST_F(RateFlow, ServerFailuresAreLoggedAndNotCounted) {
  server.answer("busy", 503);
  ASSERT_TRUE(start(environment()));
  ASSERT_TRUE(spinUntil([&] { return logged("--STHTTPRequest error HTTP 503"); }));

  // A server that takes the connection and never answers.
  const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(silent, 4), 0);
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len);
  RateEnvironment env = environment();
  env.serverAddress = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  env.requestTimeoutSeconds = 1;
  ASSERT_TRUE(start(env));
  ASSERT_TRUE(spinUntil([&] { return logged("--STHTTPRequest error no answer within 1 s"); }));
  ::close(silent);

  server.answer(std::string(300 * 1024, ' ') + "{}");
  ASSERT_TRUE(start(environment()));
  ASSERT_TRUE(spinUntil([&] { return logged("--STHTTPRequest error the answer is longer than"); }));

  env.serverAddress = "ftp://127.0.0.1";
  ASSERT_TRUE(start(env));
  ASSERT_TRUE(spinUntil([&] { return logged("not an http or https address"); }));
  EXPECT_FALSE(UserDefaults(dir / "defaults.json").objectForKey("3.1_RateInfo_runTimes"));
}

TEST_F(RateFlow, TheAgentFetchesWhenItIsConnected) {
  server.answer(R"({"enableRate":true,"ReviewURL":"https://shop.test/app"})");
  std::atomic<int> messages{0};
  RateEnvironment env = environment();
  env.agent = fetchingAgent(messages);
  ASSERT_TRUE(start(env));
  ASSERT_TRUE(spinUntil([&] { return runTimes() == 1; }));
  EXPECT_EQ(messages.load(), 1);
  EXPECT_EQ(server.requests().size(), 1u) << "only the agent asked";
  EXPECT_TRUE(logged(R"(agentHelper info = {"enableRate":true,"ReviewURL":"https://shop.test/app"})"));

  // A failed fetch is logged and not counted.
  env.agent = fetchingAgent(messages, false);
  ASSERT_TRUE(start(env));
  ASSERT_TRUE(spinUntil([&] { return messages == 2 && server.requests().size() == 2; }));
  ASSERT_TRUE(spinUntil([&] { return timesLogged("agentHelper info = ") == 2; }));
  drain();
  EXPECT_EQ(runTimes(), 1);
}

// Without a default connection, or when the bus cannot start the helper
// (a failure that comes later, from the connection's own thread), the
// shell asks the server itself.
TEST_F(RateFlow, WithoutAReachableAgentTheRequestGoesDirect) {
  server.answer(R"({"enableRate":true,"ReviewURL":"https://shop.test/app"})");
  const struct {
    const char* name;
    AgentSender agent;
    const char* logs;  // nullptr: no agent answer is logged
  } cases[] = {
      {"no connection", [](const json&, auto, auto) { return false; }, nullptr},
      {"unreachable",
       [](const json&, auto, std::function<void(const std::string&)> unreachable) {
         std::thread([unreachable] { unreachable("no such service"); }).detach();
         return true;
       },
       "the agent helper cannot be reached (no such service); asking the server directly"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RateEnvironment env = environment();
    env.agent = c.agent;
    const size_t before = server.requests().size();
    ASSERT_TRUE(start(env));
    ASSERT_TRUE(spinUntil([&] { return server.requests().size() == before + 1; }));
    ASSERT_TRUE(spinUntil([&] { return runTimes() == static_cast<int64_t>(before + 1); }));
    if (c.logs) {
      EXPECT_TRUE(logged(c.logs));
    }
  }
  EXPECT_FALSE(logged("agentHelper info"));
}
