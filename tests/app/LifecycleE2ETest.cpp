// The application's life in the real shell: start-up tasks around the
// launch step, the window style from the configuration, a second start
// handing over its files or bringing the window back, quitting when the
// main window closes, and relaunching. (Signals: EventsE2ETest.)
#include "LiveApp.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::life::LiveShell;
namespace fs = std::filesystem;

namespace {

using corvane::test::countOf;

class Life : public testing::Test {
 protected:
  void make(const json& project) { live.make(project); }
  std::unique_ptr<LiveShell> start(const std::string& mode, const std::string& logName,
                                   std::vector<std::string> files = {}) const {
    return live.start(mode, logName, std::move(files));
  }
  corvane::life::LiveApp live{json::object(), false};
  ShellHarness& shell = live.shell;
};

}  // namespace

TEST_F(Life, FailingTaskBuildsTheWindowOnceAndStylesApply) {
  const std::string envFile = shell.root() + "/home/task-env.txt";
  make({{"Tasks",
         {{{"index", 2}, {"id", "third"}, {"taskAppPath", "/bin/false"}, {"waitUntilExit", true},
           {"conditionType", "&&"}},
          {{"index", 0}, {"id", "first"}, {"taskAppPath", "/bin/false"}, {"waitUntilExit", true},
           {"conditionType", "&&"}},
          {{"index", 1}, {"id", "second"}, {"taskAppPath", "/bin/sh"},
           {"command", {"-c", "env > " + envFile}}, {"waitUntilExit", true}, {"conditionType", "&&"}}}},
        {"AppExInfo",
         {{"hasResizeControls", false},
          {"hideMiniaturizeButton", true},
          {"hideZoomButton", false},
          {"autoOffset", true},
          {"size", {800, 600}}}}});
  auto app = start("style", "style.log");
  ASSERT_EQ(app->waitForExit(120), 0) << app->log();
  const std::string log = app->log();

  // The first failure starts the launch step before the second task runs,
  // and the third failure does not start it again.
  const auto firstFailed = log.find("<app>process_task [id:first, descript:(null)] failed.");
  const auto launch = log.find("[0x0003] 不使用HttpServer");
  const auto second = log.find("<app>process_task [id:second, descript:(null)] success.");
  ASSERT_NE(firstFailed, std::string::npos) << log;
  ASSERT_NE(launch, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(firstFailed, launch);
  EXPECT_LT(launch, second);
  EXPECT_EQ(countOf(log, "[0x0003] 不使用HttpServer"), 1u);
  EXPECT_NE(log.find("[id:third, descript:(null)] failed."), std::string::npos);

  // The tool saw the folders the configuration reading exported.
  std::ifstream in(envFile);
  std::string taskEnv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(taskEnv.find("ZAVRELONLAB_MAIN_APP_APPLICATIONNAME=BridgeTest"), std::string::npos);
  EXPECT_NE(taskEnv.find("ZAVRELONLAB_MAIN_APP_DESKTOPDIRECTORY=" + shell.root() + "/home/Desktop"),
            std::string::npos);

  const json state = shell.report()["state"];
  ASSERT_TRUE(state.is_object()) << log;
  EXPECT_FALSE(state["resizable"]);
  const std::string layout = state["decorationLayout"];
  EXPECT_EQ(layout.find("close"), std::string::npos) << layout;
  EXPECT_EQ(layout.find("minimize"), std::string::npos) << layout;
  EXPECT_NE(layout.find("maximize"), std::string::npos) << layout;
  EXPECT_EQ(state["width"], 800);
  EXPECT_EQ(state["height"], 600) << "autoOffset: the heights given are the content's";
  EXPECT_GT(state["titleBarHeight"].get<int>(), 0);
}

TEST_F(Life, SecondStartHandsItsFilesToTheFirst) {
  make(json::object());
  auto first = start("open", "first.log");
  ASSERT_TRUE(first->waitForLog("life ready open", 60)) << first->log();
  const std::string a = shell.root() + "/home/a.txt", b = shell.root() + "/home/b b.txt";
  std::ofstream(a) << "a";
  std::ofstream(b) << "b";

  auto second = start("open", "second.log", {a, b});
  EXPECT_EQ(second->waitForExit(30), 0) << second->log();
  EXPECT_EQ(second->log().find("life ready"), std::string::npos) << "the second start shows no window";

  EXPECT_EQ(first->waitForExit(30), 0) << first->log();
  EXPECT_EQ(shell.report()["files"], json({a, b}));
  EXPECT_NE(first->log().find("-application:openFiles:"), std::string::npos);
}

TEST_F(Life, SecondStartWithoutFilesBringsTheClosedWindowBack) {
  make(json::object());
  auto first = start("reopen", "first.log");
  ASSERT_TRUE(first->waitForLog("life closed true", 60)) << first->log();
  auto second = start("reopen", "second.log");
  EXPECT_EQ(second->waitForExit(30), 0) << second->log();
  EXPECT_EQ(first->waitForExit(30), 0) << first->log();
  EXPECT_EQ(shell.report(), json({{"hiddenAfterClose", true}, {"reopened", true}}));
}

TEST_F(Life, ClosingTheMainWindowQuitsWhenConfigured) {
  make({{"AppExInfo", {{"enableShouldTerminateAfterLastWindowClosed", true}}}});
  auto app = start("quit-on-close", "quit.log");
  EXPECT_EQ(app->waitForExit(60), 0) << app->log();
  const std::string log = app->log();
  EXPECT_NE(log.find("-applicationShouldTerminateAfterLastWindowClosed:"), std::string::npos) << log;
  EXPECT_NE(log.find("App exit"), std::string::npos) << log;
}

TEST_F(Life, RelaunchStartsANewInstanceAfterTheOldOneEnds) {
  make(json::object());
  auto app = start("relaunch", "relaunch.log");
  EXPECT_EQ(app->waitForExit(60), 0) << app->log();
  EXPECT_NE(app->log().find("App exit"), std::string::npos);
  // The new instance writes into the same log and reports when its page runs.
  EXPECT_EQ(live.report(60), json({{"relaunched", true}})) << app->log();
  EXPECT_EQ(countOf(app->log(), "<App> process_tasks"), 2u) << "two launches";
}
