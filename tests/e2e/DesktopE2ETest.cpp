// Menus, the badge, notifications, alerts, sounds, fonts and the clipboard
// end to end, on a desktop of the suite's own (Xvfb, openbox, a private bus
// with the dunst notification daemon and dbus-monitor listening): the page
// (desktop-pages/desktop-checks.js) walks through every member; a driver
// thread acts as the person with xdotool and reads xclip, dunst and the bus.
#include "ShellSuite.h"
#include "ProcessHelpers.h"
#include "support/PrivateBus.h"
#include "support/PrivateDesktop.h"

#include "support/FontList.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::e2e::sh;
using corvane::e2e::spawn;
using corvane::e2e::stop;
using corvane::e2e::waitUntil;
using corvane::test::readFile;
namespace fs = std::filesystem;

namespace {

// A mono 16-bit PCM WAV file of `seconds` of a quiet tone.
std::string wav(double seconds) {
  const uint32_t rate = 8000;
  const uint32_t samples = static_cast<uint32_t>(seconds * rate);
  std::string data;
  for (uint32_t i = 0; i < samples; ++i) {
    const int16_t v = static_cast<int16_t>((i / 8) % 2 ? 800 : -800);
    data.append(reinterpret_cast<const char*>(&v), 2);
  }
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [](uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
  return "RIFF" + u32(36 + static_cast<uint32_t>(data.size())) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(rate) +
         u32(rate * 2) + u16(2) + u16(16) + "data" + u32(static_cast<uint32_t>(data.size())) + data;
}

class DesktopE2E : public corvane::e2e::ShellSuite<DesktopE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_DESKTOP_PAGES);
    shell->writeFile(shell->resourcePath() + "/sounds/short.wav", wav(0.6));  // the page knows the lengths
    shell->writeFile(shell->resourcePath() + "/sounds/long.wav", wav(1.5));
    fs::create_directories(shell->root() + "/wm-home");
    setenv("HOME", (shell->root() + "/wm-home").c_str(), 1);  // openbox's state
    desktop = new corvane::test::PrivateDesktop(true);
    setenv("DISPLAY", desktop->display().c_str(), 1);  // for xdotool, xprop and xclip

    // A bus of the suite's own that starts no service by itself: only the
    // daemon started here answers, and stopping it leaves none.
    fs::create_directories(shell->root() + "/no-services");
    bus = new corvane::test::PrivateBus(shell->root() + "/no-services");
    setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);  // for the daemon, the monitor and xdotool
    int fd = ::open((shell->root() + "/monitor.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    monitor = spawn({"dbus-monitor", "--session", "type='signal',interface='com.canonical.Unity.LauncherEntry'"}, fd);
    ::close(fd);
    // Notifications stay until chosen, and a click runs the default action.
    const std::string config = shell->root() + "/dunstrc";
    shell->writeFile(config, R"([global]
    origin = top-right
    offset = 10x40
    width = 300
    follow = none
    mouse_left_click = do_action, close_current
[urgency_low]
    timeout = 0
[urgency_normal]
    timeout = 0
[urgency_critical]
    timeout = 0
)");
    fd = ::open((shell->root() + "/dunst.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dunst = spawn({"stdbuf", "-oL", "dunst", "-config", config, "-print"}, fd);  // each line as it comes
    ::close(fd);
    waitUntil([] { return !sh("dunstctl is-paused").empty(); }, 20);

    std::map<std::string, std::string> env = shell->sessionEnv();
    env["DISPLAY"] = desktop->display();
    env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
    env["CORVANE_AUDIO_SINK"] = "fakesink sync=true";  // no sound device; real decoding and timing
    env["CORVANE_E2E_PHASE"] = "full";

    runShell(env, 240, drive);
    daemonLog = readFile(shell->root() + "/dunst.out");
    busLog = readFile(shell->root() + "/monitor.out");

    // Again without a notification service on the bus.
    stop(dunst);
    dunst = -1;
    env["CORVANE_E2E_PHASE"] = "no-daemon";
    noDaemonStatus = shell->run(env, 120);
    noDaemonReport = shell->report();
    noDaemonLog = shell->log();
  }

  static void TearDownTestSuite() {
    stop(dunst);
    stop(monitor);
    delete bus;
    delete desktop;
    ShellSuite::TearDownTestSuite();
  }

  // ---- the person at the screen ------------------------------------------------

  static void key(const std::string& keys) { sh("xdotool key --delay 120 " + keys); }
  // The first window shown that `search` (xdotool's) finds, or "".
  static std::string firstShown(const std::string& search) {
    std::istringstream ids(sh("xdotool search --onlyvisible " + search));
    std::string id;
    ids >> id;
    return id;
  }
  static std::string mainWindowId() { return corvane::e2e::managedWindowNamed("BridgeTest"); }
  static bool hidden(const std::string& id) {
    return sh("xprop -id " + id + " _NET_WM_STATE").find("_NET_WM_STATE_HIDDEN") != std::string::npos;
  }
  static std::string daemonSaw() { return readFile(shell->root() + "/dunst.out"); }

  static void drive(const std::atomic<bool>& done) {
    auto waitStep = [&done](const std::string& name) { return !done && shell->stepped(name, 90); };
    auto focusMain = [] { sh("xdotool windowactivate --sync " + mainWindowId()); };

    if (!waitStep("menu-key")) return;
    focusMain();
    key("ctrl+shift+h");
    shell->ack("menu-key");
    if (!waitStep("menu-choose")) return;
    focusMain();
    // F10 opens the first menu; Left wraps round to the last one, Tools;
    // its second item is "Click Me".
    key("F10");
    key("Left");
    key("Down Down Return");
    shell->ack("menu-choose");
    if (!waitStep("menu-disabled-key")) return;
    focusMain();
    key("alt+n");
    shell->ack("menu-disabled-key");

    if (!waitStep("dock-signals")) return;
    waitUntil([] { return readFile(shell->root() + "/monitor.out").find("int64 7") != std::string::npos; }, 20);
    shell->ack("dock-signals");

    if (!waitStep("growl-click")) return;
    found["minimizedBeforeClick"] = waitUntil([] { return hidden(mainWindowId()); }, 20);
    waitUntil([] { return daemonSaw().find("Growl title") != std::string::npos; }, 30);
    waitUntil([] { return !firstShown("--class Dunst").empty(); }, 20);
    sh("xdotool mousemove --window " + firstShown("--class Dunst") + " 40 15 click 1");
    found["shownAfterClick"] = waitUntil([] { return !hidden(mainWindowId()); }, 20);
    shell->ack("growl-click");
    if (!waitStep("notice-shown")) return;
    waitUntil([] { return daemonSaw().find("Notice title") != std::string::npos; }, 30);
    shell->ack("notice-shown");
    if (!waitStep("daemon-stop")) return;
    kill(dunst, SIGSTOP);
    shell->ack("daemon-stop");
    if (!waitStep("daemon-cont")) return;
    kill(dunst, SIGCONT);
    found["queuedShown"] = waitUntil([] { return daemonSaw().find("summary: 'Many 61'") != std::string::npos; }, 60);
    shell->ack("daemon-cont");

    auto answer = [&](const std::string& step, const std::string& title, const std::string& keys) {
      if (!waitStep(step)) return false;
      const std::string name = "--name '^" + title + "$'";
      if (!waitUntil([&] { return done || !firstShown(name).empty(); }, 60) || done) return false;
      sh("xdotool windowactivate --sync " + firstShown(name));
      key(keys);
      return true;
    };
    if (!answer("alert-one", "Alert One", "Return")) return;
    if (!answer("alert-second", "Alert Second", "Left Return")) return;
    if (!answer("alert-third", "Alert Third", "Left Left Return")) return;

    if (!waitStep("clip-copied")) return;
    found["xclipRead"] = sh("xclip -o -selection clipboard");
    shell->ack("clip-copied");
    if (!waitStep("clip-xclip-owns")) return;
    sh("printf 'from xclip' | xclip -i -selection clipboard >/dev/null");
    shell->ack("clip-xclip-owns");
  }

  static inline corvane::test::PrivateDesktop* desktop = nullptr;
  static inline corvane::test::PrivateBus* bus = nullptr;
  static inline pid_t monitor = -1, dunst = -1;
  static inline int noDaemonStatus = -1;
  static inline json noDaemonReport, found = json::object();
  static inline std::string daemonLog, busLog, noDaemonLog;
};

TEST_F(DesktopE2E, ThePageGotTheAnswersItExpected) {
  EXPECT_EQ(r("mismatches"), json::object());
  EXPECT_NE(log->find("MIP Cache hit"), std::string::npos);
  // What members and line heights hold is the fonts' unit tests'.
  EXPECT_EQ(r("fonts")["fonts"].get<std::set<std::string>>(), corvane::test::fcList("postscriptname"));
  EXPECT_EQ(r("fonts")["families"].get<std::set<std::string>>(), corvane::test::fcList("family"));
  EXPECT_EQ(found["xclipRead"], "from the page \u00e9");
}

TEST_F(DesktopE2E, TheBadgeIsSentToLaunchersOnTheBus) {
  // Four Update signals, each naming the application's launcher.
  std::regex update("member=Update\\s+string \"application://" + shell->identifier() +
                    "\\.desktop\"[^]*?string \"count\"\\s+variant\\s+int64 (-?\\d+)[^]*?string \"count-visible\"\\s+"
                    "variant\\s+boolean (true|false)");
  std::vector<std::string> seen;
  for (std::sregex_iterator it(busLog.begin(), busLog.end(), update), end; it != end; ++it)
    seen.push_back((*it)[1].str() + "/" + (*it)[2].str());
  EXPECT_EQ(seen, (std::vector<std::string>{"3/true", "0/false", "0/false", "7/true"})) << busLog;
}

TEST_F(DesktopE2E, NotificationsReachTheDaemonAndAClickBringsTheAppBack) {
  EXPECT_NE(daemonLog.find("appname: 'Callback'\n\tsummary: 'Growl title'\n\tbody: 'Growl body'"), std::string::npos)
      << daemonLog;
  EXPECT_NE(daemonLog.find("appname: 'BridgeTest'\n\tsummary: 'Notice title'"), std::string::npos) << daemonLog;
  EXPECT_NE(daemonLog.find("\"default\": \"Open\""), std::string::npos);
  EXPECT_EQ(found["minimizedBeforeClick"], true);
  EXPECT_EQ(found["shownAfterClick"], true) << *log;
  // Nothing sent while the daemon was stopped is lost: all of it is shown, in order.
  EXPECT_EQ(found["queuedShown"], true) << daemonLog;
  EXPECT_LT(daemonLog.find("summary: 'While stopped'"), daemonLog.find("summary: 'Many 0'"));
  EXPECT_LT(daemonLog.find("summary: 'Many 0'"), daemonLog.find("summary: 'Many 61'"));
  EXPECT_NE(daemonLog.find("summary: 'Growl while stopped'"), std::string::npos) << daemonLog;
}

TEST_F(DesktopE2E, WithoutANotificationServiceThereIsNoNoticeMember) {
  ASSERT_EQ(noDaemonStatus, 0) << noDaemonLog;
  EXPECT_EQ(noDaemonReport["mismatches"], json::object()) << noDaemonLog;
  EXPECT_NE(noDaemonLog.find("Could not load Growl.framework"), std::string::npos);
}

}  // namespace
