// The rate-app reminder's rules, and its flow on a GLib main loop against a
// real HTTP server on the loopback address, directly or through an agent.
// The dialog is the test's function; the real one is tested end to end.
#include "../e2e/ShellHarness.h"
#include "app/UserDefaults.h"
#include "rate/RateReminder.h"
#include "rate/RateRules.h"
#include "server/ServerTestSupport.h"
#include "support/ListeningSocket.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace corvane;
using namespace corvane::rate;
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
  std::vector<std::string> opened;
  rate::Button choice = rate::Button::RemindLater;

  void SetUp() override { defaults.setObject("RateApp_enableInNoSandbox", true); }

  RateEnvironment environment() {
    RateEnvironment env;
    env.appName = "Rate Test";
    env.version = "3.1";
    env.serverAddress = server.address();
    env.defaults = &defaults;
    env.showDialog = [this](const DialogPlan&, std::function<void(Button)> chosen) { chosen(choice); };
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

  {
    test::ListeningSocket silent;  // takes the connection and never answers
    RateEnvironment env = environment();
    env.serverAddress = "http://127.0.0.1:" + std::to_string(silent.port());
    env.requestTimeoutSeconds = 1;
    ASSERT_TRUE(start(env));
    ASSERT_TRUE(spinUntil([&] { return logged("--STHTTPRequest error no answer within 1 s"); }));
  }

  server.answer(std::string(300 * 1024, ' ') + "{}");
  ASSERT_TRUE(start(environment()));
  ASSERT_TRUE(spinUntil([&] { return logged("--STHTTPRequest error the answer is longer than"); }));

  RateEnvironment ftp = environment();
  ftp.serverAddress = "ftp://127.0.0.1";
  ASSERT_TRUE(start(ftp));
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

namespace {

class RateRules : public testing::Test {
 protected:
  test::TempDir dir;
  UserDefaults defaults{dir / "defaults.json"};

  // A fresh reader of the same file: what the next launch sees.
  UserDefaults reread() const { return UserDefaults(dir / "defaults.json"); }
};

Answer enabled(json extra = json::object()) {
  json j = {{"enableRate", true}, {"ReviewURL", "https://example.test/review"}};
  j.update(extra);
  return parseAnswer(j.dump());
}

}  // namespace

TEST(RateQuery, ValuesAreEscapedAsComponentsAndTheServerKeepsItsOwnEscapes) {
  const std::string q = queryAddress("http://127.0.0.1:8080/base path/a%20b", "Tom & Jerry=1 Ü", "2.0 beta#1", 1.0);
  EXPECT_EQ(q.substr(0, q.find("/services/")), "http://127.0.0.1:8080/base%20path/a%20b");
  EXPECT_NE(q.find("appName=Tom%20%26%20Jerry%3D1%20%C3%9C&version=2.0%20beta%231&app_name=Tom%20%26"),
            std::string::npos)
      << q;
  EXPECT_NE(q.find("&_=1.000000"), std::string::npos);
}

TEST(RateAnswerParsing, DefaultsAndTypes) {
  auto fields = [](const Answer& a) {
    return json{{"enableRate", a.enableRate},   {"startRunningSecs", a.startRunningSecs},
                {"maxRunTimes", a.maxRunTimes}, {"enableUserClose", a.enableUserClose},
                {"faqURL", a.faqURL.value_or("-")}, {"reviewURL", a.reviewURL.value_or("-")},
                {"rateMessage", a.rateMessage}};
  };
  const json defaults = {{"enableRate", false}, {"startRunningSecs", 90}, {"maxRunTimes", 3},
                         {"enableUserClose", false}, {"faqURL", "-"}, {"reviewURL", "-"}, {"rateMessage", ""}};
  for (const char* text : {"", "not json", "[1,2]", "\"text\"", "null", "{}"})
    EXPECT_EQ(fields(parseAnswer(text)), defaults) << text;
  // An empty FAQ address hides the button.
  EXPECT_EQ(fields(parseAnswer(R"({"enableRate":1,"startRunningSecs":"7","maxRunTimes":-4,"enableUserClose":"YES",
                                   "FAQURL":"","ReviewURL":"r","rateMessage":"Rate us"})")),
            (json{{"enableRate", true}, {"startRunningSecs", 7}, {"maxRunTimes", 0}, {"enableUserClose", true},
                  {"faqURL", "-"}, {"reviewURL", "r"}, {"rateMessage", "Rate us"}}));
  EXPECT_EQ(parseAnswer(R"({"maxRunTimes":2.9,"startRunningSecs":1e30})").maxRunTimes, 2u);
  EXPECT_EQ(parseAnswer(R"({"startRunningSecs":1e30})").startRunningSecs, UINT64_MAX);
}

TEST(RateAgentReply, TextOrObjectAndOnlySuccessCounts) {
  std::string info;
  EXPECT_EQ(agentAnswerText(json(R"({"success":true,"info":"{\"enableRate\":true}"})"), &info),
            R"({"enableRate":true})");
  EXPECT_EQ(info, R"({"enableRate":true})");
  EXPECT_EQ(agentAnswerText(json{{"success", true}, {"info", "x"}}, &info), "x");
  EXPECT_FALSE(agentAnswerText(json{{"success", false}, {"info", "offline"}}, &info));
  EXPECT_EQ(info, "offline") << "the log line shows the info of a failed fetch too";
  EXPECT_FALSE(agentAnswerText(json{{"success", true}}, &info));
  EXPECT_FALSE(agentAnswerText(json("not json"), &info));
  EXPECT_EQ(agentMessage("http://a/b"), (json{{"ms_type", "HTTP_QUEST"}, {"ms_obj", {{"url", "http://a/b"}}}}));
}

TEST_F(RateRules, LaunchesWithoutEnableRateOrReviewUrlAreNotCounted) {
  EXPECT_FALSE(countLaunch(defaults, "1.0", parseAnswer(R"({"enableRate":false,"ReviewURL":"x"})")).counted);
  EXPECT_FALSE(countLaunch(defaults, "1.0", parseAnswer(R"({"enableRate":true})")).counted);
  EXPECT_FALSE(countLaunch(defaults, "1.0", parseAnswer("<html>busy</html>")).counted);
  EXPECT_FALSE(reread().objectForKey("1.0_RateInfo_runTimes"));
}

// The title, the buttons of a rated version and the choices kept are
// checked end to end.
TEST_F(RateRules, AnEmptyMessageIsTheDefaultAndClosingIsOfferedWhenAllowed) {
  auto plan = planDialog(defaults, "Notes", "1.2", enabled({{"rateMessage", ""}, {"enableUserClose", true}}));
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->message, "Your evaluation, our motivation.");
  EXPECT_EQ(plan->buttons, (std::vector<Button>{Button::RateApp, Button::RemindLater, Button::DontRemind}));
  EXPECT_EQ(buttonCode(*plan, Button::DontRemind), 1002);
  EXPECT_EQ(planDialog(defaults, "Notes", "1.2", enabled({{"rateMessage", "Like it?"}}))->message, "Like it?");
}

TEST(RateOpenAddress, WebAddressesOnly) {
  EXPECT_EQ(webAddressToOpen("  localhost:8080/rate \n"), "https://localhost:8080/rate");
  EXPECT_EQ(webAddressToOpen("https://example.test/a b"), "https://example.test/a%20b");
  std::string why;
  for (const char* bad : {"file:///etc/passwd", "FILE:/etc/passwd", "javascript:alert(1)", "mailto:a@b.test",
                          "corvanetest://x", "ftp://example.test/f", "https:///nohost", "", "   "}) {
    EXPECT_FALSE(webAddressToOpen(bad, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  webAddressToOpen("file:///etc/passwd", &why);
  EXPECT_NE(why.find("\"file:\""), std::string::npos) << why;
}
