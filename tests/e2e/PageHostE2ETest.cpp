// The page host as real applications need it, in the real shell on a
// desktop of the suite's own (a virtual display with a window manager),
// driven with real input (xdotool); the page is host-pages/host.js.
#include "ProcessHelpers.h"
#include "ShellHarness.h"
#include "../app/LiveShell.h"
#include "support/PrivateDesktop.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::e2e::TinyHttpServer;
using corvane::life::LiveShell;
using corvane::test::PrivateDesktop;
using corvane::test::countOf;
using corvane::test::readFile;
namespace fs = std::filesystem;

namespace {

class PageHost : public testing::Test {
 protected:
  static void SetUpTestSuite() { desktop = new PrivateDesktop(true); }
  static void TearDownTestSuite() {
    delete desktop;
    desktop = nullptr;
  }

  // The shell on `harness`'s bundle (made with `config` the first time) in
  // `mode`, with the home of `homeOf` (two applications may share one user).
  static std::unique_ptr<LiveShell> start(ShellHarness& harness, const std::string& mode,
                                          const std::map<std::string, std::string>& extra = {},
                                          json config = json::object(), const ShellHarness* homeOf = nullptr) {
    if (!fs::exists(harness.bundlePath())) {
      config["AppExInfo"]["startPage"] = "public/index.html";
      harness.makeBundle(config, CORVANE_E2E_HOST_PAGES);
    }
    auto env = (homeOf ? *homeOf : harness).sessionEnv();
    for (const auto& [k, v] : extra) env[k] = v;
    env["DISPLAY"] = desktop->display();
    env["HOST_MODE"] = mode;
    env["CORVANE_TEST_RESULT"] = harness.root() + "/report.json";
    fs::remove(harness.root() + "/report.json");
    return std::make_unique<LiveShell>(CORVANE_BINARY, harness.bundlePath(), harness.root() + "/" + mode + ".log",
                                       env);
  }

  // What the page reported once the shell ended, or the failure as "pageError".
  static json finished(LiveShell& app, const ShellHarness& harness, int seconds = 60) {
    const int status = app.waitForExit(seconds);
    json r = harness.report();
    if (status != 0 || !r.is_object()) r = {{"pageError", "exit " + std::to_string(status) + "\n" + app.log()}};
    return r;
  }

  // The shell's visible top-level windows.
  static std::vector<unsigned long> windowsOf(pid_t pid) {
    std::vector<unsigned long> out;
    std::istringstream list(desktop->run({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)}));
    for (unsigned long id; list >> id;) out.push_back(id);
    return out;
  }
  static bool onlyWindowIs(pid_t pid, unsigned long main) {
    return PrivateDesktop::waitFor([&] { return windowsOf(pid) == std::vector<unsigned long>{main}; }, 10);
  }

  // The main window, made the active one as a person would by clicking it.
  static unsigned long activateMainWindow(pid_t pid) {
    unsigned long main = 0;
    PrivateDesktop::waitFor(
        [&] {
          auto all = windowsOf(pid);
          if (all.size() == 1) main = all.front();
          return main != 0;
        },
        60);
    if (main) {
      desktop->xdotool({"windowactivate", "--sync", std::to_string(main)});
      PrivateDesktop::waitFor([&] { return desktop->activeWindow() == main; }, 30);
    }
    return main;
  }
  static bool activeIs(unsigned long window) {
    return PrivateDesktop::waitFor([&] { return desktop->activeWindow() == window; }, 60);
  }

  // kill -9 of the shell's web processes; answers how many there were.
  static size_t killWebProcesses(pid_t shell) {
    const auto victims = corvane::e2e::webProcessesOf(shell);
    for (pid_t p : victims) kill(p, SIGKILL);
    return victims.size();
  }

  // The first visible window titled exactly `title` (0: none).
  static unsigned long titled(const std::string& title) {
    const std::string id = desktop->run({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"});
    return id.empty() ? 0 : std::stoul(id.substr(0, id.find('\n')));
  }
  // The leave question of a page once it is up and has the focus (0 when
  // it does not come).
  static unsigned long leaveQuestion() {
    unsigned long found = 0;
    PrivateDesktop::waitFor(
        [&] { return (found = titled("Leave this page\\?")) != 0 && desktop->activeWindow() == found; }, 30);
    return found;
  }
  // A click on the close button of the window's title bar (the header bar
  // draws it at the right end).
  static void clickCloseButton(unsigned long window) {
    const auto g = desktop->geometry(window);
    desktop->xdotool({"mousemove", std::to_string(g.x + g.width - 24), std::to_string(g.y + 28), "click", "1"});
  }

  static PrivateDesktop* desktop;
};
PrivateDesktop* PageHost::desktop = nullptr;

}  // namespace

TEST_F(PageHost, KeysReachThePageFirstAndTheMenuActsOnlyWhenThePageLetsThem) {
  ShellHarness shell;
  auto app = start(shell, "keys");
  ASSERT_TRUE(app->waitForLog("host: keys ready", 120)) << app->log();
  const unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();

  // Every menu key, prevented by the page (F2 ends the run): none may act.
  const std::vector<std::string> menuKeys{"ctrl+z", "ctrl+shift+z", "ctrl+a", "ctrl+c",       "ctrl+x",
                                          "ctrl+v", "ctrl+q",       "ctrl+w", "ctrl+p",       "ctrl+r",
                                          "ctrl+m", "ctrl+shift+i", "F11",    "F2"};
  std::vector<std::string> typed{"key", "--delay", "80"};
  typed.insert(typed.end(), menuKeys.begin(), menuKeys.end());
  ASSERT_TRUE(desktop->xdotool(typed));
  ASSERT_TRUE(app->waitForLog("host: prevented done", 60)) << app->log();
  EXPECT_EQ(windowsOf(app->pid()), std::vector<unsigned long>{main}) << "a window came or went (print, close)";
  const std::string state = desktop->run({"xprop", "-id", std::to_string(main), "_NET_WM_STATE"});
  EXPECT_EQ(state.find("HIDDEN"), std::string::npos) << state;
  EXPECT_EQ(state.find("FULLSCREEN"), std::string::npos) << state;

  // The same Reload key, let pass: the menu reloads the page (once). Then a
  // plain text field: the page sees the keys and editing still works (cut
  // once, pasted twice: no edit ran twice or not at all).
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+r"}));
  ASSERT_TRUE(app->waitForLog("host: text ready", 60)) << app->log();
  ASSERT_TRUE(desktop->xdotool({"type", "--delay", "60", "hello"}));
  ASSERT_TRUE(desktop->xdotool({"key", "--delay", "150", "ctrl+a", "ctrl+x", "ctrl+v", "ctrl+v", "Return"}));
  json prevented = json::array();
  for (size_t i = 0; i + 1 < menuKeys.size(); ++i) prevented.push_back(menuKeys[i] == "F11" ? "f11" : menuKeys[i]);
  EXPECT_EQ(finished(*app, shell),
            (json{{"phase", "text"},
                  {"loads", 2},
                  {"prevented", prevented},
                  {"visibleAfterPrevented", "visible"},
                  {"let", {"ctrl+r"}},
                  {"textKeys", {"h", "e", "l", "l", "o", "ctrl+a", "ctrl+x", "ctrl+v", "ctrl+v", "enter"}},
                  {"value", "hellohello"}}));
}

TEST_F(PageHost, AppActivatedComesWithApplicationSwitchesOnly) {
  ShellHarness shell;
  auto app = start(shell, "activation");
  ASSERT_TRUE(app->waitForLog("host: activation ready", 120)) << app->log();
  const pid_t pid = app->pid();
  const unsigned long main = activateMainWindow(pid);
  ASSERT_NE(main, 0u) << app->log();

  // Own panels (an alert, a confirm, the file chooser opened from the
  // page's file field with a real key) take the focus and give it back:
  // no application switch.
  std::set<unsigned long> seen{main};
  auto nextOwnWindowActive = [&] {
    unsigned long found = 0;
    PrivateDesktop::waitFor(
        [&] {
          const unsigned long w = desktop->activeWindow();
          if (w && !seen.count(w) && desktop->windowPid(w) == pid) found = w;
          return found != 0;
        },
        60);
    seen.insert(found);
    return found;
  };
  ASSERT_TRUE(desktop->xdotool({"key", "F3"}));
  for (const char* panel : {"alert", "confirm"}) {
    ASSERT_NE(nextOwnWindowActive(), 0u) << "no " << panel << "\n" << app->log();
    ASSERT_TRUE(desktop->xdotool({"key", "Return"}));
  }
  ASSERT_TRUE(app->waitForLog("host: dialogs answered", 60)) << app->log();
  ASSERT_TRUE(activeIs(main));
  ASSERT_TRUE(desktop->xdotool({"key", "F4"}));
  ASSERT_TRUE(app->waitForLog("host: choosing", 60)) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "space"}));
  ASSERT_NE(nextOwnWindowActive(), 0u) << "no file chooser\n" << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "Escape"}));
  ASSERT_TRUE(activeIs(main));
  ASSERT_TRUE(desktop->xdotool({"key", "F5"}));
  ASSERT_TRUE(app->waitForLog("host: dialogs done", 60)) << app->log();

  // A real other application takes the focus, then the user comes back.
  const pid_t other = desktop->spawn({"xmessage", "-name", "corvane-other", "another application"});
  const bool otherSeen = app->waitForLog("host: event Xmessage", 60);
  desktop->xdotool({"windowactivate", "--sync", std::to_string(main)});
  const bool backSeen = app->waitForLog("host: event BridgeTest", 60);
  kill(other, SIGTERM);
  waitpid(other, nullptr, 0);
  ASSERT_TRUE(otherSeen && backSeen) << app->log();
  ASSERT_TRUE(activeIs(main));
  ASSERT_TRUE(desktop->xdotool({"key", "F6"}));
  const std::string xmessage = "file://" + fs::canonical("/usr/bin/xmessage").string(),
                    own = "file://" + shell.bundlePath();
  EXPECT_EQ(finished(*app, shell)["events"],
            (json{{{"phase", "others"}, {"localizedName", "Xmessage"}, {"bundleURL", xmessage}},
                  {{"phase", "others"}, {"localizedName", "BridgeTest"}, {"bundleURL", own}}}));
}

TEST_F(PageHost, TwoApplicationsOfOneNameKeepTheirOwnWebsiteData) {
  ShellHarness a, b;
  // One run of `h` as the user of a's home: what it found before and left after.
  auto run = [&](ShellHarness& h) {
    auto app = start(h, "storage", {}, json::object(), &a);
    const json r = finished(*app, h, 180);
    EXPECT_FALSE(r.contains("pageError")) << r["pageError"];
    return r;
  };
  const json a1 = run(a), b1 = run(b), a2 = run(a);
  ASSERT_NE(a.identifier(), b.identifier());
  EXPECT_EQ(a1["before"], (json{{"local", json::object()}, {"items", json::array()}}));
  EXPECT_EQ(b1["before"], a1["before"]) << "b found a's data";
  EXPECT_EQ(a2["before"], a1["after"]);

  // Where it lives: per identifier, never under the shared name.
  const std::string data = a.root() + "/home/.local/share", own = data + "/corvane/" + a.identifier() + "/WebsiteData";
  EXPECT_TRUE(fs::is_directory(own));
  EXPECT_TRUE(fs::is_directory(data + "/corvane/" + b.identifier() + "/WebsiteData"));
  EXPECT_FALSE(fs::exists(data + "/BridgeTest/WebsiteData"));

  // A folder of an earlier version, kept under the name, is taken over by
  // copying: the application finds its data, and the old folder stays.
  const std::string legacy = data + "/BridgeTest/WebsiteData";
  fs::create_directories(data + "/BridgeTest");
  fs::rename(own, legacy);
  EXPECT_EQ(run(a)["before"], a2["after"]);
  EXPECT_TRUE(fs::is_directory(legacy));
  EXPECT_TRUE(fs::is_directory(own));
}

TEST_F(PageHost, CustomUserAgentBelongsToTheCallingViewAndShowsAtOnce) {
  ShellHarness shell;
  auto app = start(shell, "agent");
  const json r = finished(*app, shell, 120);
  const std::string standard = r.value("standard", "");
  EXPECT_EQ(countOf(standard, "Safari/"), 1u) << standard;
  EXPECT_EQ(standard.rfind("Mozilla/5.0 ", 0), 0u) << standard;
  // Another window's agent stays the standard one.
  EXPECT_EQ(r, (json{{"standard", standard},
                     {"atOnce", "Main/1"},
                     {"appVersionAtOnce", "Main/1"},
                     {"inNewFrame", "Main/1"},
                     {"childBefore", standard},
                     {"childAfter", standard}}));
}

// A page of another server, framed by the application: links aimed at new
// windows (a desktop scheme of its own, mail, the web), a form, window.open
// in a loop, all without the person; and two links that fill the frame's
// halves, for the person's clicks.
const char kForeignPage[] = R"(<!DOCTYPE html><html><head><style>
html, body { margin: 0; height: 100%; }
a.half { position: absolute; top: 0; bottom: 0; width: 50%; }
</style></head><body>
<a class="half" id="web" style="left:0" target="_blank" href="/clicked-web">web</a>
<a class="half" id="mail" style="right:0" target="_blank" href="mailto:clicked@victim.example?subject=clicked">mail</a>
<div style="display:none">
<a id="s1" target="_blank" href="evilx://scripted/link">x</a>
<a id="s2" target="_blank" href="mailto:victim@example.com?subject=Scripted&amp;body=hello">x</a>
<a id="s3" target="_blank" href="/phish">x</a>
<form id="f" target="_blank" action="evilx://scripted/form"><input name="q" value="1"></form>
</div>
<script>
var clicks = 0;
function clicked() { if (++clicks === 2) parent.postMessage("foreign clicked", "*"); }
document.getElementById("web").addEventListener("click", clicked);
document.getElementById("mail").addEventListener("click", clicked);
window.addEventListener("load", function () {
  ["s1", "s2", "s3"].forEach(function (id) { document.getElementById(id).click(); });
  document.getElementById("f").submit();
  var opened = 0;
  for (var i = 0; i < 20; ++i)
    ["/popup", "evilx://popup/" + i, "mailto:popup@victim.example", "", "about:blank"].forEach(function (u) {
      if (window.open(u)) ++opened;
    });
  // Named as the application's own window will be: still not the application's.
  if (window.open("/named", "child")) ++opened;
  parent.postMessage({ foreignOpened: opened }, "*");
});
</script></body></html>)";

TEST_F(PageHost, ForeignFramesOpenNoWindowAndReachNoDesktopHandler) {
  ShellHarness shell;
  TinyHttpServer foreign(std::map<std::string, std::string>{{"/evil.html", kForeignPage}});
  // Default handlers for the schemes the foreign page tries, and for the
  // application's own.
  const std::string handoff = shell.root() + "/handoff";
  shell.installRecorders(handoff, {{"evil", {"x-scheme-handler/evilx"}},
                                   {"mail", {"x-scheme-handler/mailto"}},
                                   {"web", {"x-scheme-handler/http", "x-scheme-handler/https"}},
                                   {"own", {"x-scheme-handler/corvanetest"}}});
  auto app = start(shell, "foreign", {{"HOST_FOREIGN_PORT", std::to_string(foreign.port())}});
  ASSERT_TRUE(app->waitForLog("host: foreign ready", 120)) << app->log();
  EXPECT_EQ(windowsOf(app->pid()).size(), 1u) << "windows of the foreign frame";

  // The person clicks each half of the foreign frame: its web link, then
  // its mail link.
  const unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();
  const auto g = desktop->geometry(main);
  for (int x : {g.width / 4, g.width * 3 / 4}) {
    ASSERT_TRUE(desktop->xdotool({"mousemove", "--window", std::to_string(main), std::to_string(x),
                                  std::to_string(g.height * 3 / 4), "click", "1"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  // The foreign frame opened no window; the application's own document
  // keeps what it may do (window.open opens a window).
  EXPECT_EQ(finished(*app, shell, 120),
            (json{{"foreignOpened", 0}, {"windowsAfterForeign", 1}, {"childOpened", true}, {"windowsAfterOwn", 2}}));
  // No handler of the foreign schemes or of mail started; the person's
  // click on its web link went to the browser, the application's own link
  // to the desktop's handler.
  EXPECT_FALSE(fs::exists(handoff + "/evil.txt")) << readFile(handoff + "/evil.txt");
  EXPECT_FALSE(fs::exists(handoff + "/mail.txt")) << readFile(handoff + "/mail.txt");
  const std::string origin = foreign.address();
  EXPECT_EQ(readFile(handoff + "/web.txt"), origin + "/clicked-web\n");
  EXPECT_EQ(readFile(handoff + "/own.txt"), "corvanetest://app/link\n");
  const std::string log = app->log();
  for (const std::string& refused :
       std::vector<std::string>{"evilx://scripted/link", "mailto:victim@example.com", origin + "/phish",
                                "evilx://scripted/form?q=1", "evilx://popup/19", "about:blank", origin + "/named",
                                "mailto:clicked@victim.example"})
    EXPECT_NE(log.find("new window refused for " + refused), std::string::npos) << refused;
  EXPECT_NE(log.find("opening " + origin + "/clicked-web in the browser"), std::string::npos);
}

TEST_F(PageHost, ACallWaitingWhenTheWebProcessDiesEndsQuietlyAndThePageComesBack) {
  // Each wait a call can be in when the page's process is killed: a save
  // dialog (the person then agrees to replace a file), the "Can't save
  // file" alert, a long folder copy. The old call ends after the page came
  // back: the shell lives, the new page answers, the old answer reaches
  // nobody, and the file the dialog named is left as it was.
  for (const std::string kind : {"dialog", "alert", "copy"}) {
    SCOPED_TRACE(kind);
    ShellHarness shell;
    const std::string dir = shell.root() + "/work";
    shell.writeFile(dir + "/keep.txt", "the user's work\n");
    for (int d = 0; kind == "copy" && d < 60; ++d)
      for (int f = 0; f < 250; ++f)
        shell.writeFile(dir + "/tree/d" + std::to_string(d) + "/f" + std::to_string(f), std::string(512, 'x'));
    auto app = start(shell, "crash-wait", {{"CRASH_WAIT", kind}, {"CRASH_DIR", dir}, {"GTK_USE_PORTAL", "0"}});
    ASSERT_TRUE(app->waitForLog("host: waiting " + kind, 120)) << app->log();
    const std::string title = kind == "dialog" ? "Crash Save" : "Can't save file";
    if (kind != "copy") {
      ASSERT_TRUE(PrivateDesktop::waitFor([&] { return titled(title) != 0; }, 60)) << app->log();
    }
    ASSERT_GT(killWebProcesses(app->pid()), 0u);
    ASSERT_TRUE(app->waitForLog("host: reloaded", 120)) << app->log();
    if (kind == "copy") {
      EXPECT_EQ(app->log().find("-[Window copyDir:]"), std::string::npos) << "the copy ended before the page came back";
    } else {
      // The person answers the panel that is still open; for the dialog GTK
      // then asks whether to replace keep.txt, and the person agrees.
      ASSERT_TRUE(desktop->xdotool({"windowactivate", "--sync", std::to_string(titled(title))}));
      ASSERT_TRUE(desktop->xdotool({"key", "Return"}));
      if (kind == "dialog") {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        desktop->xdotool({"key", "Return"});
      }
    }
    const std::string dropped = "answer dropped: the page that made the call is gone";
    PrivateDesktop::waitFor([&] { return !app->running() || app->log().find(dropped) != std::string::npos; }, 180);
    ASSERT_TRUE(app->running()) << app->state() << "\n" << app->log();
    ASSERT_NE(app->log().find(dropped), std::string::npos) << app->log();
    shell.writeFile(dir + "/ack", "");
    // lateAnswers: the old page's answers that reached the new page.
    EXPECT_EQ(finished(*app, shell),
              (json{{"loads", 2}, {"lateAnswers", json::array()}, {"ext", "gz"}, {"after", "zip"}}));
    EXPECT_EQ(readFile(dir + "/keep.txt"), "the user's work\n");
    EXPECT_EQ(app->log().find("host: old call returned"), std::string::npos);
  }
}

// The pauses between reloads are PageCrashPolicy's (tested in core); here
// the shell follows it, gives up, and the person starts it afresh.
TEST_F(PageHost, AWebProcessThatKeepsDyingIsReloadedThenWaitsForThePerson) {
  ShellHarness shell;
  const std::string dir = shell.root() + "/work";
  fs::create_directories(dir);
  auto app = start(shell, "crash-loop", {{"CRASH_DIR", dir}});
  // Kills the page at loads first..last; the shell then gives up.
  auto killRun = [&](int first, int last) {
    for (int n = first; n <= last; ++n) {
      ASSERT_TRUE(app->waitForLog("host: load " + std::to_string(n) + " gz", 120)) << app->log();
      EXPECT_GT(killWebProcesses(app->pid()), 0u);
    }
    ASSERT_TRUE(PrivateDesktop::waitFor(
        [&] { return countOf(app->log(), "stays stopped until it is reloaded") == size_t(last / 4); }, 60))
        << app->log();
  };
  killRun(1, 4);
  std::this_thread::sleep_for(std::chrono::seconds(5));
  EXPECT_EQ(app->log().find("host: load 5"), std::string::npos) << "reloaded after giving up";
  EXPECT_TRUE(app->running());

  // The person reloads with the menu's key: the page is back, and the
  // count starts afresh. Then with the message's own button, which has the focus.
  ASSERT_NE(activateMainWindow(app->pid()), 0u) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+r"}));
  killRun(5, 8);
  ASSERT_NE(activateMainWindow(app->pid()), 0u) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "Return"}));
  ASSERT_TRUE(app->waitForLog("host: load 9 gz", 120)) << app->log();
  shell.writeFile(dir + "/done", "");
  EXPECT_EQ(finished(*app, shell), (json{{"loads", 9}}));
}

TEST_F(PageHost, APageFunctionOnABuiltInItemIsItsActionAndNothingElse) {
  ShellHarness shell;
  auto app = start(shell, "hooks");
  ASSERT_TRUE(app->waitForLog("host: hooks ready", 120)) << app->log();
  const unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();

  // The keys of Quit, Close Window and Reload, then Quit chosen in the open
  // application menu (F10 opens it; Up reaches its last item), run the
  // page's functions only.
  const std::vector<std::pair<std::vector<std::string>, std::string>> presses{
      {{"ctrl+q"}, "quit"},
      {{"ctrl+w"}, "close"},
      {{"ctrl+r"}, "reload"},
      {{"--delay", "300", "F10", "Up", "Return"}, "quit"}};
  std::map<std::string, size_t> expected;
  for (const auto& [keys, hook] : presses) {
    std::vector<std::string> args{"key"};
    args.insert(args.end(), keys.begin(), keys.end());
    ASSERT_TRUE(desktop->xdotool(args));
    const size_t hits = ++expected[hook];
    ASSERT_TRUE(PrivateDesktop::waitFor([&] { return countOf(app->log(), "host: hit " + hook) == hits; }, 60))
        << app->log();
  }
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return desktop->activeWindow() == main; }, 30));
  EXPECT_TRUE(app->running());
  EXPECT_TRUE(onlyWindowIs(app->pid(), main)) << "the window closed";

  ASSERT_TRUE(desktop->xdotool({"key", "F2"}));
  // loads: the page was never reloaded; without developer extras View ›
  // Developer Tools is not offered.
  json r = finished(*app, shell);
  EXPECT_EQ(r["developerTools"]["visible"], false) << r;
  r.erase("developerTools");
  EXPECT_EQ(r, (json{{"loads", 1},
                     {"hits", {"quit:Quit", "close:Close Window", "reload:first", "reload:second", "quit:Quit"}},
                     {"visibility", "visible"}}));
}

TEST_F(PageHost, UnsavedWorkIsKeptUntilThePersonChoosesToLeave) {
  ShellHarness shell;
  auto app = start(shell, "unsaved");
  ASSERT_TRUE(app->waitForLog("host: unsaved ready 1", 120)) << app->log();
  unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();
  ASSERT_TRUE(desktop->xdotool({"type", "--delay", "60", "draft"}));

  // Each way of closing asks; staying keeps the window, the page and its text.
  struct Way {
    const char* what;
    std::function<void()> close;
    std::vector<std::string> stay;
  };
  const std::vector<Way> ways{
      {"Ctrl+W", [] { desktop->xdotool({"key", "ctrl+w"}); }, {"key", "Escape"}},
      {"the title bar's close button", [&] { clickCloseButton(main); }, {"key", "Return"}},
      {"Ctrl+Q", [] { desktop->xdotool({"key", "ctrl+q"}); }, {"key", "Return"}},
  };
  int asked = 0;
  for (const auto& way : ways) {
    way.close();
    ASSERT_NE(leaveQuestion(), 0u) << way.what << " did not ask\n" << app->log();
    EXPECT_NE(app->log().find("host: beforeunload " + std::to_string(++asked) + " draft"), std::string::npos);
    ASSERT_TRUE(desktop->xdotool(way.stay));
    ASSERT_TRUE(PrivateDesktop::waitFor([&] { return titled("Leave this page\\?") == 0; }, 30)) << way.what;
    ASSERT_TRUE(PrivateDesktop::waitFor([&] { return desktop->activeWindow() == main; }, 30)) << way.what;
    EXPECT_TRUE(app->running()) << way.what;
    // Asked again: xdotool's own search fails while a window (the question)
    // goes away under it.
    EXPECT_TRUE(onlyWindowIs(app->pid(), main)) << way.what << "\n" << app->log();
  }
  EXPECT_NE(app->log().find("quit cancelled: the page"), std::string::npos);

  // Leaving on Ctrl+W hides the main window and keeps its page, as closing
  // always did; starting the application again shows the same page.
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+w"}));
  ASSERT_NE(leaveQuestion(), 0u) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "alt+l"}));
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return windowsOf(app->pid()).empty(); }, 30)) << app->log();
  EXPECT_TRUE(app->running());
  auto env = shell.sessionEnv();
  env["DISPLAY"] = desktop->display();
  LiveShell(CORVANE_BINARY, shell.bundlePath(), shell.root() + "/second.log", env).waitForExit(60);
  ASSERT_NE(activateMainWindow(app->pid()), 0u) << app->log();

  // Leaving on Ctrl+Q quits.
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+q"}));
  ASSERT_NE(leaveQuestion(), 0u) << app->log();
  EXPECT_NE(app->log().find("host: beforeunload 5 draft"), std::string::npos) << "the page was not kept";
  ASSERT_TRUE(desktop->xdotool({"key", "alt+l"}));
  EXPECT_EQ(app->waitForExit(60), 0) << app->log();
  EXPECT_EQ(countOf(app->log(), "host: unsaved ready"), 1u) << "the page was loaded again";
}

TEST_F(PageHost, AHungPageDoesNotKeepItsWindowFromClosing) {
  ShellHarness shell;
  const json config = {{"enableDeveloperDebug", true},
                       {"AppExInfo", {{"enableShouldTerminateAfterLastWindowClosed", true}}}};
  auto app = start(shell, "plain", {}, config);
  ASSERT_TRUE(app->waitForLog("host: plain ready", 120)) << app->log();
  // With developer extras on, the inspector's item is offered.
  EXPECT_NE(app->log().find("host: plain ready developer tools true"), std::string::npos);
  const unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();
  // The page's process stops answering (SIGSTOP): keys reach the page
  // first and go nowhere, but the title bar's close button still works.
  const auto web = corvane::e2e::webProcessesOf(app->pid());
  ASSERT_FALSE(web.empty()) << app->log();
  kill(web.front(), SIGSTOP);
  clickCloseButton(main);
  const int status = app->waitForExit(60);
  kill(web.front(), SIGKILL);
  EXPECT_EQ(status, 0) << "the window stayed open\n" << app->log();
}
