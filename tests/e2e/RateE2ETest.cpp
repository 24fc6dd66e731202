// The rate-app reminder in the real shell, launch after launch, on a
// desktop of the suite's own, against the test's release server on the
// loopback address; the dialog is answered with real keys.
#include "ShellHarness.h"
#include "../app/LiveShell.h"
#include "app/UserDefaults.h"
#include "support/PrivateDesktop.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>

using nlohmann::json;
using corvane::UserDefaults;
using corvane::e2e::ShellHarness;
using corvane::life::LiveShell;
using corvane::test::PrivateDesktop;
using RateServer = corvane::e2e::TinyHttpServer;
namespace fs = std::filesystem;

namespace {

class RateE2E : public testing::Test {
 protected:
  static void SetUpTestSuite() { desktop = new PrivateDesktop(true); }
  static void TearDownTestSuite() {
    delete desktop;
    desktop = nullptr;
  }

  void SetUp() override {
    shell.makeBundle({{"AppExInfo",
                       {{"startPage", "public/index.html"},
                        {"enableNativeRate", true},
                        {"ReleaseServerAddress", server.address()},
                        {"DebugServerAddress", "http://127.0.0.1:9/never-asked"}}}},
                     CORVANE_E2E_RATE_PAGES);
    // The default handler of web addresses records each address it is given.
    shell.installRecorders(shell.root() + "/handoff", {{"web", {"x-scheme-handler/http", "x-scheme-handler/https"}}});
  }

  std::vector<std::string> openedAddresses() const {
    std::vector<std::string> out;
    std::ifstream in(shell.root() + "/handoff/web.txt");
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

  std::string defaultsPath() const { return shell.root() + "/home/.config/corvane/" + shell.identifier() + ".json"; }
  json defaults() const { return UserDefaults(defaultsPath()).dictionaryRepresentation(); }

  std::unique_ptr<LiveShell> launch() {
    auto env = shell.sessionEnv();
    env["DISPLAY"] = desktop->display();
    return std::make_unique<LiveShell>(CORVANE_BINARY, shell.bundlePath(),
                                       shell.root() + "/launch" + std::to_string(++launches_) + ".log", env);
  }
  // SIGTERM, as the session does at logout; the shell ends with status 0.
  static void quit(LiveShell& app) {
    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(60), 0) << app.log();
  }

  // The visible dialog, 0 when there is none.
  unsigned long dialogWindow() const {
    const std::string ids =
        desktop->run({"xdotool", "search", "--onlyvisible", "--name", "^BridgeTest \\(Ver\\.1\\.2\\.3\\) Tip Info$"});
    return ids.empty() ? 0 : std::stoul(ids.substr(0, ids.find('\n')));
  }

  // One launch that counts as launch `n`. With `buttons`, it shows the
  // dialog with them, which the person brings to the front and answers
  // with `key`, logged as `buttonLine`; without, it shows none.
  void launchCounted(int n, const std::string& buttons = "", const std::string& key = "",
                     const std::string& buttonLine = "") {
    auto app = launch();
    ASSERT_TRUE(app->waitForLog("rate reminder: launch " + std::to_string(n) + " of version 1.2.3 counted", 120))
        << app->log();
    if (!buttons.empty()) {
      unsigned long dialog = 0;
      ASSERT_TRUE(app->waitForLog("Tip Info\" with " + buttons + "\n", 60)) << app->log();
      ASSERT_TRUE(PrivateDesktop::waitFor([&] { return (dialog = dialogWindow()) != 0; }, 60)) << app->log();
      desktop->xdotool({"windowactivate", "--sync", std::to_string(dialog)});
      PrivateDesktop::waitFor([&] { return desktop->activeWindow() == dialog; }, 20);
      EXPECT_TRUE(desktop->xdotool({"key", "--delay", "120", key}));
      ASSERT_TRUE(PrivateDesktop::waitFor([&] { return dialogWindow() == 0; }, 30)) << app->log();
      ASSERT_TRUE(app->waitForLog(buttonLine, 30)) << app->log();
    }
    quit(*app);
    if (buttons.empty()) {
      EXPECT_EQ(corvane::test::countOf(app->log(), "the dialog follows"), 0u) << app->log();
    }
    EXPECT_EQ(defaults()["1.2.3_RateInfo_runTimes"], n);
  }

  static PrivateDesktop* desktop;
  RateServer server{"{}"};
  ShellHarness shell;
  int launches_ = 0;
};
PrivateDesktop* RateE2E::desktop = nullptr;

}  // namespace

TEST_F(RateE2E, AfterTheOptInTheFifthLaunchAsksUntilThePersonSaysDontRemind) {
  // No "maxRunTimes": the default 3, so stored counts 0 to 3 pass quietly.
  server.answer(R"({"enableRate":true,"startRunningSecs":1,"rateMessage":"","FAQURL":"https://faq.example.test/Help?q=1",
                    "ReviewURL":"HTTPS://Reviews.Example.test/App/Rate?id=X7"})");
  {
    // Outside a sandbox nothing is asked before the opt-in.
    auto app = launch();
    ASSERT_TRUE(app->waitForLog("[SandboxEnabled] = 0", 120)) << app->log();
    ASSERT_TRUE(app->waitForLog("main thread named mainThread", 120)) << app->log();
    quit(*app);
    EXPECT_TRUE(server.requests().empty());
  }
  {
    UserDefaults d(defaultsPath());
    d.setObject("RateApp_enableInNoSandbox", true);
    ASSERT_TRUE(d.synchronize());
  }
  for (int n = 1; n <= 4; ++n) launchCounted(n);
  ASSERT_EQ(server.requests().size(), 4u);
  EXPECT_EQ(server.requests()[0].rfind("/services/get_enable_rate?appName=BridgeTest&version=1.2.3&app_name=BridgeTest"
                                       "&user_id=&token=&expire=&_=",
                                       0),
            0u)
      << server.requests()[0];

  // Escape closes the dialog as "Remind Later": nothing changes.
  const std::string buttons = "Rate App, Remind Later, FAQ";
  launchCounted(5, buttons, "Escape", "button = 0");
  EXPECT_EQ(defaults()["1.2.3_RateInfo_ClickRate"], false);
  launchCounted(6, buttons, "alt+f", "button = -1");
  EXPECT_TRUE(PrivateDesktop::waitFor([&] { return !openedAddresses().empty(); }, 30));
  // Return takes the default button, "Rate App".
  launchCounted(7, buttons, "Return", "button = 1");
  EXPECT_TRUE(PrivateDesktop::waitFor([&] { return openedAddresses().size() == 2; }, 30));
  EXPECT_EQ(openedAddresses(), (std::vector<std::string>{"https://faq.example.test/Help?q=1",
                                                          "https://Reviews.Example.test/App/Rate?id=X7"}));
  json d = defaults();
  EXPECT_EQ(d["1.2.3_RateInfo_ClickRate"], true);
  EXPECT_EQ(d["1.2.3_RateInfo_ClickDontRemid"], false);

  // Having rated once, the person may opt out.
  launchCounted(8, buttons + ", Don't remind", "alt+d", "button = 1003");
  EXPECT_EQ(defaults()["1.2.3_RateInfo_ClickDontRemid"], true);

  // And is not asked again: the timer fires, no dialog comes.
  auto app = launch();
  ASSERT_TRUE(app->waitForLog("the user asked not to be reminded for version 1.2.3", 120)) << app->log();
  EXPECT_EQ(dialogWindow(), 0u);
  quit(*app);
  EXPECT_EQ(defaults()["1.2.3_RateInfo_runTimes"], 9);
  EXPECT_EQ(openedAddresses().size(), 2u);
}
