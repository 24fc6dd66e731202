// Application events in the real shell, probed as they go wrong on a real
// desktop: files opened at and near start-up, racing and bulk second
// starts, odd file arguments, termination signals at every stage, a second
// start while the shell ends, relaunch after an update, a lost system bus,
// windows with a real window manager, and identifiers.
#include "LiveApp.h"
#include "support/PrivateBus.h"
#include "support/PrivateDesktop.h"
#include "support/ListeningSocket.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::life::LiveShell;
using corvane::test::PrivateSystemBus;
namespace fs = std::filesystem;

namespace {

using corvane::test::countOf;

std::string infoPlist(const std::string& identifierEntry) {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleName</key><string>BridgeTest</string>
<key>CFBundleExecutable</key><string>BridgeTest</string>
)" + identifierEntry + R"(<key>CFBundleVersion</key><string>7</string>
</dict></plist>
)";
}

// The events page and the shells started on it.
using App = corvane::life::LiveApp;

std::multiset<std::string> asSet(const json& files) {
  std::multiset<std::string> out;
  for (const auto& f : files) out.insert(f.get<std::string>());
  return out;
}

}  // namespace

// ---- files opened at and near start-up -------------------------------------------

TEST(OpenFiles, SecondStartsRacingTheFirstAllDeliverTheirFiles) {
  App app;
  app.extraEnv["EVENTS_EXPECT"] = "2";
  // Whichever start wins the name runs the page; the other hands over.
  for (int delayMs : {0, 15, 40, 70, 100}) {
    SCOPED_TRACE("second start " + std::to_string(delayMs) + " ms after the first");
    app.clearReport();
    const std::string a = app.file("first-" + std::to_string(delayMs)),
                      b = app.file("second-" + std::to_string(delayMs));
    auto first = app.start("files", "first.log", {a});
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    auto second = app.start("files", "second.log", {b});
    EXPECT_EQ(second->waitForExit(60), 0) << second->log();
    EXPECT_EQ(first->waitForExit(60), 0) << first->log();
    const json report = app.shell.report();
    ASSERT_TRUE(report.is_object()) << first->log() << second->log();
    EXPECT_EQ(asSet(report["files"]), (std::multiset<std::string>{a, b}));
  }
}

TEST(OpenFiles, TwentySimultaneousColdStartsDeliverEveryFileOnce) {
  App app;
  app.extraEnv["EVENTS_EXPECT"] = "20";
  std::multiset<std::string> expected;
  std::vector<std::unique_ptr<LiveShell>> starts;
  for (int i = 0; i < 20; ++i) {
    const std::string f = app.file("cold-" + std::to_string(i) + ".txt");
    expected.insert(f);
    starts.push_back(app.start("files", "cold-" + std::to_string(i) + ".log", {f}));
  }
  for (auto& s : starts) EXPECT_EQ(s->waitForExit(120), 0) << s->log();
  const json report = app.shell.report();
  ASSERT_TRUE(report.is_object());
  EXPECT_EQ(asSet(report["files"]), expected);
}

TEST(OpenFiles, FilesHandedOverDuringTheLaunchAlertArrive) {
  corvane::test::ListeningSocket busy;  // the server cannot listen: the "Run Error" alert comes up
  App app(json{{"AppExInfo", {{"enableHttpServer", true}, {"serverPort", busy.port()}}}});
  app.extraEnv["EVENTS_EXPECT"] = "1";
  auto first = app.start("files", "first.log");
  ASSERT_TRUE(first->waitForLog("Error starting Web Server", 60)) << first->log();
  const std::string f = app.file("during-alert.txt");
  auto second = app.start("files", "second.log", {f});
  EXPECT_EQ(second->waitForExit(60), 0) << second->log();
  // Only now does the person answer the alert.
  EXPECT_TRUE(ShellHarness::answerAlert(first->pid(), "Run Error", 60)) << first->log();
  EXPECT_EQ(first->waitForExit(60), 0) << first->log();
  const std::string log = first->log();
  EXPECT_EQ(app.shell.report()["files"], json({f})) << log;
  // The page runs once the alert is answered.
  EXPECT_LT(log.find("-application:openFiles:"), log.find("events ready")) << "handed over while the alert was up";
}

// A first start's files reach the page in order, once, with the window
// shown; the shell's toolkit takes none of them for its own options.
TEST(OpenFiles, EverythingAfterTheMarkerAndEveryOddNameIsAFile) {
  App app;
  app.extraEnv["EVENTS_EXPECT"] = "6";
  const std::string cwd = app.shell.root() + "/home";
  // The files exist, as files opened from the desktop do: the Window object
  // answers names of nothing with its "Prompt" alert.
  const std::vector<std::string> names = {"-dash.txt", "--help", "--gapplication-service", "--display=:77",
                                          "a:b.txt", "--"};
  json files = json::array();
  for (const auto& name : names) {
    app.shell.writeFile(cwd + "/" + name, name);
    files.push_back(cwd + "/" + name);
  }
  std::vector<std::string> arguments = {"--"};
  arguments.insert(arguments.end(), names.begin(), names.end() - 1);
  arguments.insert(arguments.end(), {"", "http://example.com/remote.txt", "--"});
  auto shell = app.start("files", "odd.log", arguments, cwd);
  EXPECT_EQ(shell->waitForExit(60), 0) << shell->log();
  EXPECT_EQ(app.shell.report(), json({{"files", files}, {"visible", {true}}})) << shell->log();
  const std::string log = shell->log();
  for (const char* said : {"not opening an empty file argument", "not opening http://example.com/remote.txt"})
    EXPECT_NE(log.find(said), std::string::npos) << log;
  EXPECT_EQ(log.find("Usage:"), std::string::npos) << "no help printed";
}

// ---- termination signals ----------------------------------------------------------

TEST(Termination, EverySignalAtEveryStageEndsInOrderWithZero) {
  struct Case {
    int signal;
    bool duringTask;     // else once the page runs
    bool group = false;  // to the whole process group, the web engine's included, as a terminal's Ctrl+C
  };
  const std::vector<Case> cases{{SIGTERM, true},  {SIGINT, true},  {SIGHUP, true},       {SIGTERM, false},
                                {SIGINT, false}, {SIGHUP, false}, {SIGINT, false, true}};
  std::vector<std::unique_ptr<App>> apps;
  std::vector<std::unique_ptr<LiveShell>> shells;
  std::vector<std::chrono::steady_clock::time_point> sent;
  for (const auto& c : cases) {
    App& a = *apps.emplace_back(std::make_unique<App>());
    if (c.group) a.extraEnv[LiveShell::kOwnGroup] = "1";
    if (c.duringTask) {
      const json project = {{"Tasks",
                             {{{"taskAppPath", "/bin/sh"},
                               {"command", {"-c", "echo $$ > " + a.shell.root() + "/tool.pid; exec sleep 60"}},
                               {"waitUntilExit", true},
                               {"conditionType", "&&"}}}}};
      a.shell.writeFile(a.shell.resourcePath() + "/public/project.json", project.dump());
    }
    shells.push_back(a.start("idle", "signal.log"));
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    ASSERT_TRUE(shells[i]->waitForLog(cases[i].duringTask ? "taskCommand" : "events ready", 60)) << shells[i]->log();
    cases[i].group ? shells[i]->signalGroup(cases[i].signal) : shells[i]->signal(cases[i].signal);
    sent.push_back(std::chrono::steady_clock::now());
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.duringTask ? " during a task" : " with the page up") +
                 (c.group ? " to the group" : ""));
    EXPECT_EQ(shells[i]->waitForExit(40), 0) << shells[i]->log();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent[i]).count();
    EXPECT_LT(seconds, 30.0) << "not held up by the 60-second task";
    EXPECT_TRUE(c.duringTask || c.group || seconds >= 4.9) << "the page gets five seconds to end, not " << seconds;
    const std::string log = shells[i]->log();
    const auto first = log.find("##[App:BridgeTest]## will about to exit...");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_LT(first, log.find("##[App:BridgeTest]## completely exit..."));
    EXPECT_EQ(log.find("App exit"), std::string::npos);
    EXPECT_EQ(log.find("reloading the page"), std::string::npos) << "no page is brought back while ending";
    if (c.duringTask) {
      EXPECT_EQ(log.find("[0x0003]"), std::string::npos) << "no launch step after the signal";
      EXPECT_EQ(log.find("events ready"), std::string::npos) << "no page after the signal";
      // The task's tool is left running by design; it is ours to end.
      std::ifstream pid(apps[i]->shell.root() + "/tool.pid");
      pid_t tool = 0;
      if (pid >> tool && tool > 1) kill(tool, SIGKILL);
    }
  }
}

TEST(Termination, ASecondStartDuringTheWaitBecomesTheNewInstance) {
  // Once right after the signal (racing the name's release), once when the
  // ending instance has said it is ending.
  for (bool afterLog : {false, true}) {
    SCOPED_TRACE(afterLog ? "second start during the wait" : "second start right after the signal");
    App app;
    app.extraEnv["EVENTS_EXPECT"] = "1";
    auto first = app.start("idle", "first.log");
    ASSERT_TRUE(first->waitForLog("events ready", 60)) << first->log();
    first->signal(SIGTERM);
    if (afterLog) {
      ASSERT_TRUE(first->waitForLog("will about to exit", 30));
    }
    const std::string f = app.file("while-ending.txt");
    auto second = app.start("files", "second.log", {f});
    EXPECT_EQ(app.report(60)["files"], json({f})) << first->log() << second->log();
    EXPECT_EQ(first->waitForExit(30), 0) << first->log();
    EXPECT_EQ(second->waitForExit(30), 0) << second->log();
    EXPECT_NE(first->log().find("gave up the single-instance name"), std::string::npos) << first->log();
    if (afterLog) {
      EXPECT_NE(second->log().find("events ready files"), std::string::npos) << "the second start runs itself";
    }
  }
}

// ---- relaunch --------------------------------------------------------------------

TEST(Relaunch, AfterAnUpdateStartsTheExecutableAsInstalledNow) {
  App app;
  const std::string installed = app.shell.root() + "/bin/corvane";
  fs::create_directories(app.shell.root() + "/bin");
  fs::copy_file(CORVANE_BINARY, installed);
  app.extraEnv["CORVANE_WEB_EXTENSIONS_DIR"] = CORVANE_WEBEXT_DIR;
  app.extraEnv["EVENTS_FLAG"] = app.shell.root() + "/updated";
  auto old = app.start("relaunch-update", "relaunch.log", {}, "", installed);
  ASSERT_TRUE(old->waitForLog("events waiting for the update", 60)) << old->log();
  // The update replaces the running executable.
  fs::copy_file(CORVANE_BINARY, installed + ".new");
  fs::rename(installed + ".new", installed);
  std::ofstream(app.shell.root() + "/updated") << "1";
  EXPECT_EQ(old->waitForExit(60), 0) << old->log();
  EXPECT_EQ(app.report(60), json({{"relaunched", true}})) << old->log();
  EXPECT_EQ(old->log().find("relaunch failed"), std::string::npos) << old->log();
}

// ---- the optional system bus -------------------------------------------------------

TEST(SystemBus, LosingItStopsOnlyTheSleepEventsUntilItIsBack) {
  App app;
  PrivateSystemBus bus(app.shell.root());
  ASSERT_TRUE(bus.start());
  app.extraEnv["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address();
  auto shell = app.start("sleep", "sleep.log");
  ASSERT_TRUE(shell->waitForLog("events ready", 60)) << shell->log();
  // Announced until the page hears it: the shell subscribes as it starts.
  for (int i = 0; i < 40 && shell->log().find("events event sleep") == std::string::npos; ++i) {
    bus.announceSleep(true);
    shell->waitForLog("events event sleep", 0.5);
  }
  ASSERT_TRUE(shell->waitForLog("events event sleep", 5)) << shell->log();

  bus.stop();
  ASSERT_TRUE(shell->waitForLog("system bus lost", 30)) << shell->log();
  // Still alive, page and all.
  const size_t beats = countOf(shell->log(), "events beat");
  ASSERT_TRUE(shell->waitForLog("events beat " + std::to_string(beats + 3), 30)) << shell->log();
  EXPECT_TRUE(shell->running());

  ASSERT_TRUE(bus.start());
  ASSERT_TRUE(shell->waitForLog("system bus connected", 60)) << shell->log();
  for (int i = 0; i < 40 && app.shell.report().is_null(); ++i) {
    bus.announceSleep(false);
    app.report(0.5);
  }
  EXPECT_EQ(shell->waitForExit(60), 0) << shell->log();
  const json events = app.shell.report()["events"];
  ASSERT_TRUE(events.is_array()) << shell->log();
  EXPECT_EQ(json({events.front(), events.back()}), json({"sleep", "wake"})) << "the page was not reloaded";
  EXPECT_EQ(shell->log().find("web process crashed"), std::string::npos) << shell->log();
}

// ---- windows --------------------------------------------------------------------

TEST(Windows, ClosingTheLastWindowQuitsWhenConfigured) {
  // The main window alone, and a page-opened window closed after the main one.
  for (const std::string mode : {"quit-on-close", "popup-quit"}) {
    SCOPED_TRACE(mode);
    App app(json{{"AppExInfo", {{"enableShouldTerminateAfterLastWindowClosed", true}}}});
    auto shell = app.start(mode, mode + ".log");
    EXPECT_EQ(shell->waitForExit(60), 0) << shell->log();
    const std::string log = shell->log();
    EXPECT_NE(log.find("-applicationShouldTerminateAfterLastWindowClosed:"), std::string::npos) << log;
    const auto closing = mode == "popup-quit" ? log.find("test service: closing 1 other window(s)") : 0;
    ASSERT_NE(closing, std::string::npos) << log;
    EXPECT_NE(log.find("App exit", closing), std::string::npos) << log;
  }
}

class ManagedWindows : public testing::Test {
 protected:
  void SetUp() override { app.extraEnv["DISPLAY"] = display.display(); }
  App app;
  corvane::test::PrivateDesktop display{true};
};

TEST_F(ManagedWindows, ASecondStartBringsAMinimisedWindowBack) {
  auto first = app.start("minimize", "first.log");
  ASSERT_TRUE(first->waitForLog("events minimized", 60)) << first->log();
  auto second = app.start("minimize", "second.log");
  EXPECT_EQ(second->waitForExit(60), 0) << second->log();
  EXPECT_EQ(first->waitForExit(60), 0) << first->log();
  const json state = app.shell.report()["state"];
  EXPECT_EQ(json({state["iconified"], state["active"]}), json({false, true})) << "[iconified, active]";
}

TEST_F(ManagedWindows, ASecondStartRaisesTheWindowAboveOtherApplications) {
  auto first = app.start("cover", "first.log");
  ASSERT_TRUE(first->waitForLog("events xid ", 60)) << first->log();
  const std::string log = first->log();
  const unsigned long ours = std::stoul(log.substr(log.find("events xid ") + 11));
  const unsigned long cover = display.coverScreen();
  ASSERT_TRUE(display.waitAbove(cover, ours, 10)) << "the other application's window is on top";
  auto second = app.start("cover", "second.log");
  EXPECT_EQ(second->waitForExit(60), 0) << second->log();
  EXPECT_TRUE(display.waitAbove(ours, cover, 20)) << first->log();
}

TEST_F(ManagedWindows, FilesOpenedWhileTheWindowIsClosedShowIt) {
  auto first = app.start("hidden-files", "first.log");
  ASSERT_TRUE(first->waitForLog("events hidden", 60)) << first->log();
  const std::string f = app.file("shown.txt");
  auto second = app.start("hidden-files", "second.log", {f});
  EXPECT_EQ(second->waitForExit(60), 0) << second->log();
  EXPECT_EQ(first->waitForExit(60), 0) << first->log();
  // The files, and the page on screen when they arrived.
  const json report = app.shell.report();
  EXPECT_EQ(json({report["files"], report["visible"]}), json({{f}, {true}})) << first->log();
}

// ---- identifiers ------------------------------------------------------------------

TEST(Identifiers, ASecondStartOfAnotherBundleWithTheSameIdentifierSaysWhereItWent) {
  App app;
  App other;  // another folder, given the first bundle's identifier
  other.shell.writeFile(other.shell.bundlePath() + "/Contents/Info.plist",
                        infoPlist("<key>CFBundleIdentifier</key><string>" + app.shell.identifier() + "</string>\n"));
  auto first = app.start("idle", "first.log");
  ASSERT_TRUE(first->waitForLog("events ready", 60)) << first->log();
  auto second = other.start("idle", "second.log");
  EXPECT_EQ(second->waitForExit(60), 0) << second->log();
  EXPECT_NE(second->log().find("another bundle, " + app.shell.bundlePath() + ", runs under that identifier"),
            std::string::npos)
      << second->log();

  // The same bundle started again says where it went too.
  auto again = app.start("idle", "again.log");
  EXPECT_EQ(again->waitForExit(60), 0) << again->log();
  EXPECT_NE(again->log().find("handing over to the running instance of " + app.shell.identifier() + " at " +
                              app.shell.bundlePath()),
            std::string::npos)
      << again->log();
}

TEST(Identifiers, BundlesWithoutIdentifierRunAsInstancesOfTheirOwn) {
  App one, two;
  for (App* a : {&one, &two}) {
    a->shell.writeFile(a->shell.bundlePath() + "/Contents/Info.plist", infoPlist(""));
    a->extraEnv["HOME"] = one.shell.root() + "/home";  // one home, one defaults folder
    a->extraEnv["XDG_CONFIG_HOME"] = one.shell.root() + "/home/.config";
  }
  auto first = one.start("idle", "one.log");
  ASSERT_TRUE(first->waitForLog("events ready", 60)) << first->state() << "\n" << first->log();
  auto second = two.start("idle", "two.log");
  ASSERT_TRUE(second->waitForLog("events ready", 60)) << "handed over instead of running: " << second->log();
  EXPECT_TRUE(first->running());
}
