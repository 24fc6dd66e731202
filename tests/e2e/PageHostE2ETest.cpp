// The page host as real applications need it, in the real shell on a
// desktop of the suite's own (a virtual display with a window manager):
// keys typed with xdotool reach the page before the menu, "appActivated"
// comes only with application switches, website data is kept per bundle
// identifier, a custom user agent belongs to the calling page's view, and
// a page keeps its unsaved work on close and quit (menu hooks, beforeunload).
#include "ShellHarness.h"
#include "../app/LiveShell.h"
#include "support/PrivateDesktop.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::life::LiveShell;
using corvane::test::PrivateDesktop;
using corvane::test::countOf;
namespace fs = std::filesystem;

namespace {

class PageHost : public testing::Test {
 protected:
  static void SetUpTestSuite() { desktop = new PrivateDesktop(true); }
  static void TearDownTestSuite() {
    delete desktop;
    desktop = nullptr;
  }

  // The shell on `harness`'s bundle in `mode`, with the home of `homeOf`
  // (two applications may share one user).
  static std::unique_ptr<LiveShell> start(const ShellHarness& harness, const std::string& mode,
                                          const ShellHarness* homeOf = nullptr) {
    auto env = (homeOf ? *homeOf : harness).sessionEnv();
    env["DISPLAY"] = desktop->display();
    env["HOST_MODE"] = mode;
    env["CORVANE_TEST_RESULT"] = harness.root() + "/report.json";
    fs::remove(harness.root() + "/report.json");
    return std::make_unique<LiveShell>(CORVANE_BINARY, harness.bundlePath(), harness.root() + "/" + mode + ".log",
                                       env);
  }

  static void makeBundle(ShellHarness& harness, json config = json::object()) {
    config["AppExInfo"]["startPage"] = "public/index.html";
    harness.makeBundle(config, CORVANE_E2E_HOST_PAGES);
  }

  // The shell's visible top-level windows.
  static std::vector<unsigned long> windowsOf(pid_t pid) {
    std::vector<unsigned long> out;
    std::string list = desktop->run({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)});
    size_t start = 0;
    while (start < list.size()) {
      size_t end = list.find('\n', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) out.push_back(std::stoul(list.substr(start, end - start)));
      start = end + 1;
    }
    return out;
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

  // What one run of the storage page found and left.
  static json runStorage(const ShellHarness& harness, const ShellHarness& home, const std::string& mode) {
    auto app = start(harness, mode, &home);
    const int status = app->waitForExit(180);
    json r = harness.report();
    if (status != 0 || !r.is_object()) r = {{"pageError", "exit " + std::to_string(status) + "\n" + app->log()}};
    return r;
  }

  static std::string windowState(unsigned long window) {
    return desktop->run({"xprop", "-id", std::to_string(window), "_NET_WM_STATE"});
  }

  // The leave question of a page once it is up and has the focus (0 when
  // it does not come).
  static unsigned long leaveQuestion(double seconds = 30) {
    unsigned long found = 0;
    PrivateDesktop::waitFor(
        [&] {
          const std::string id = desktop->run({"xdotool", "search", "--onlyvisible", "--name", "^Leave this page\\?$"});
          found = id.empty() ? 0 : std::stoul(id.substr(0, id.find('\n')));
          return found != 0 && desktop->activeWindow() == found;
        },
        seconds);
    return found;
  }
  static bool questionGone() {
    return PrivateDesktop::waitFor(
        [&] { return desktop->run({"xdotool", "search", "--onlyvisible", "--name", "^Leave this page\\?$"}).empty(); },
        30);
  }
  // A click on the close button of the window's title bar (the header bar
  // draws it at the right end).
  static void clickCloseButton(unsigned long window) {
    std::istringstream geometry(desktop->run({"xdotool", "getwindowgeometry", "--shell", std::to_string(window)}));
    std::map<std::string, int> g;
    for (std::string line; std::getline(geometry, line);)
      if (auto eq = line.find('='); eq != std::string::npos) g[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    desktop->xdotool({"mousemove", std::to_string(g["X"] + g["WIDTH"] - 24), std::to_string(g["Y"] + 28), "click", "1"});
  }
  // Starting the application again brings its hidden main window back.
  static unsigned long startAgain(const ShellHarness& harness, pid_t pid) {
    auto env = harness.sessionEnv();
    env["DISPLAY"] = desktop->display();
    LiveShell second(CORVANE_BINARY, harness.bundlePath(), harness.root() + "/second.log", env);
    second.waitForExit(60);
    return activateMainWindow(pid);
  }

  static PrivateDesktop* desktop;
};
PrivateDesktop* PageHost::desktop = nullptr;

}  // namespace

TEST_F(PageHost, KeysReachThePageFirstAndTheMenuActsOnlyWhenThePageLetsThem) {
  ShellHarness shell;
  makeBundle(shell);
  auto app = start(shell, "keys");
  ASSERT_TRUE(app->waitForLog("host: keys ready", 120)) << app->log();
  const unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();

  // Every menu key, prevented by the page: none of them may act.
  const std::vector<std::string> menuKeys{"ctrl+z", "ctrl+shift+z", "ctrl+a", "ctrl+c",       "ctrl+x",
                                          "ctrl+v", "ctrl+q",       "ctrl+w", "ctrl+p",       "ctrl+r",
                                          "ctrl+m", "ctrl+shift+i", "F11"};
  std::vector<std::string> typed{"key", "--delay", "80"};
  typed.insert(typed.end(), menuKeys.begin(), menuKeys.end());
  typed.push_back("F2");
  ASSERT_TRUE(desktop->xdotool(typed));
  ASSERT_TRUE(app->waitForLog("host: prevented done", 60)) << app->log();
  EXPECT_EQ(windowsOf(app->pid()), std::vector<unsigned long>{main}) << "a window came or went (print, close)";
  const std::string state = windowState(main);
  EXPECT_EQ(state.find("HIDDEN"), std::string::npos) << state;
  EXPECT_EQ(state.find("FULLSCREEN"), std::string::npos) << state;

  // The same Reload key, let pass: the menu reloads the page.
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+r"}));
  ASSERT_TRUE(app->waitForLog("host: text ready", 60)) << app->log();

  // A plain text field: the page sees the keys and editing still works.
  ASSERT_TRUE(desktop->xdotool({"type", "--delay", "60", "hello"}));
  ASSERT_TRUE(desktop->xdotool({"key", "--delay", "150", "ctrl+a", "ctrl+x", "ctrl+v", "ctrl+v", "Return"}));
  ASSERT_EQ(app->waitForExit(60), 0) << app->log();

  const json r = shell.report();
  ASSERT_TRUE(r.is_object()) << app->log();
  std::vector<std::string> expected;
  for (std::string k : menuKeys) expected.push_back(k == "F11" ? "f11" : k);
  EXPECT_EQ(r["prevented"], json(expected));
  EXPECT_EQ(r["visibleAfterPrevented"], "visible");
  EXPECT_EQ(r["let"], json({"ctrl+r"}));
  EXPECT_EQ(r["loads"], 2) << "the page was loaded again by the menu's Reload, once";
  EXPECT_EQ(r["textKeys"], json({"h", "e", "l", "l", "o", "ctrl+a", "ctrl+x", "ctrl+v", "ctrl+v", "enter"}));
  EXPECT_EQ(r["value"], "hellohello") << "cut once, pasted twice: no edit ran twice or not at all";
}

TEST_F(PageHost, AppActivatedComesWithApplicationSwitchesOnly) {
  ShellHarness shell;
  makeBundle(shell);
  auto app = start(shell, "activation");
  ASSERT_TRUE(app->waitForLog("host: activation ready", 120)) << app->log();
  const pid_t pid = app->pid();
  const unsigned long main = activateMainWindow(pid);
  ASSERT_NE(main, 0u) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "F3"}));

  // Own panels take the focus and give it back: no application switch.
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
  ASSERT_NE(nextOwnWindowActive(), 0u) << "no alert\n" << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "Return"}));
  ASSERT_NE(nextOwnWindowActive(), 0u) << "no confirm\n" << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "Return"}));
  ASSERT_TRUE(app->waitForLog("host: dialogs answered", 60)) << app->log();
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return desktop->activeWindow() == main; }, 60));

  // The file chooser, opened from the page's file field with a real key.
  ASSERT_TRUE(desktop->xdotool({"key", "F4"}));
  ASSERT_TRUE(app->waitForLog("host: choosing", 60)) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "space"}));
  ASSERT_NE(nextOwnWindowActive(), 0u) << "no file chooser\n" << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "Escape"}));
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return desktop->activeWindow() == main; }, 60));
  ASSERT_TRUE(desktop->xdotool({"key", "F5"}));
  ASSERT_TRUE(app->waitForLog("host: dialogs done", 60)) << app->log();

  // A real other application takes the focus, then the user comes back.
  const pid_t other = desktop->spawn({"xmessage", "-name", "corvane-other", "another application"});
  const bool otherSeen = app->waitForLog("host: event Xmessage", 60);
  desktop->xdotool({"windowactivate", "--sync", std::to_string(main)});
  const bool backSeen = app->waitForLog("host: event BridgeTest", 60);
  kill(other, SIGTERM);
  waitpid(other, nullptr, 0);
  ASSERT_TRUE(otherSeen) << app->log();
  ASSERT_TRUE(backSeen) << app->log();
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return desktop->activeWindow() == main; }, 60));
  ASSERT_TRUE(desktop->xdotool({"key", "F6"}));
  ASSERT_EQ(app->waitForExit(60), 0) << app->log();

  const json events = shell.report()["events"];
  ASSERT_EQ(events.size(), 2u) << events.dump(1) << "\n" << app->log();
  EXPECT_EQ(events[0]["phase"], "others");
  EXPECT_EQ(events[0]["localizedName"], "Xmessage");
  EXPECT_EQ(events[0]["bundleURL"], "file://" + fs::canonical("/usr/bin/xmessage").string());
  EXPECT_EQ(events[1]["phase"], "others");
  EXPECT_EQ(events[1]["localizedName"], "BridgeTest");
  EXPECT_EQ(events[1]["bundleURL"], "file://" + shell.bundlePath());
}

namespace {

// The keys of this run's local storage that another application wrote.
std::vector<std::string> foreignKeys(const json& local, const std::string& me) {
  std::vector<std::string> out;
  for (const auto& [key, value] : local.items())
    if (key == "owner" ? value != me : key.rfind(me + ":", 0) != 0) out.push_back(key + "=" + value.dump());
  return out;
}

size_t foreignItems(const json& items, const std::string& me) {
  size_t n = 0;
  for (const auto& i : items) n += i["owner"] != me;
  return n;
}

}  // namespace

TEST_F(PageHost, TwoApplicationsOfOneNameKeepTheirOwnWebsiteData) {
  ShellHarness a, b;
  makeBundle(a);
  makeBundle(b);
  ASSERT_NE(a.identifier(), b.identifier());
  const std::string ida = a.identifier(), idb = b.identifier();
  auto run = [&](const ShellHarness& h, const std::string& mode) { return runStorage(h, a, mode); };

  // One after the other.
  const json a1 = run(a, "storage");
  ASSERT_FALSE(a1.contains("pageError")) << a1["pageError"];
  EXPECT_TRUE(a1["before"]["local"].empty());
  EXPECT_TRUE(a1["before"]["items"].empty());
  const json b1 = run(b, "storage");
  ASSERT_FALSE(b1.contains("pageError")) << b1["pageError"];
  EXPECT_TRUE(b1["before"]["local"].empty()) << b1["before"].dump();
  EXPECT_TRUE(b1["before"]["items"].empty()) << b1["before"].dump();
  const json a2 = run(a, "storage");
  ASSERT_FALSE(a2.contains("pageError")) << a2["pageError"];
  EXPECT_EQ(a2["before"]["local"], a1["after"]["local"]);
  EXPECT_EQ(a2["before"]["items"], a1["after"]["items"]);

  // Where it lives: per identifier, never under the shared name.
  const std::string data = a.root() + "/home/.local/share";
  EXPECT_TRUE(fs::is_directory(data + "/corvane/" + ida + "/WebsiteData"));
  EXPECT_TRUE(fs::is_directory(data + "/corvane/" + idb + "/WebsiteData"));
  EXPECT_FALSE(fs::exists(data + "/BridgeTest/WebsiteData"));

  // At once, both writing hard.
  {
    auto appA = start(a, "stress", &a);
    auto appB = start(b, "stress", &a);
    const int sa = appA->waitForExit(240), sb = appB->waitForExit(240);
    ASSERT_EQ(sa, 0) << appA->log();
    ASSERT_EQ(sb, 0) << appB->log();
  }
  for (const ShellHarness* h : {&a, &b}) {
    const json r = h->report();
    ASSERT_TRUE(r.is_object());
    ASSERT_FALSE(r.contains("pageError")) << r["pageError"];
    const std::string me = h->identifier();
    EXPECT_TRUE(foreignKeys(r["after"]["local"], me).empty()) << r["after"]["local"].dump();
    EXPECT_EQ(foreignItems(r["after"]["items"], me), 0u);
    EXPECT_EQ(r["after"]["items"].size(), r["before"]["items"].size() + 150);
    EXPECT_EQ(r["after"]["local"].size(), 151u) << "owner and one key per round";
  }
  const json aAfterStress = a.report(), bAfterStress = b.report();
  const json a3 = run(a, "storage");
  const json b3 = run(b, "storage");
  ASSERT_FALSE(a3.contains("pageError")) << a3["pageError"];
  ASSERT_FALSE(b3.contains("pageError")) << b3["pageError"];
  EXPECT_EQ(a3["before"]["local"], aAfterStress["after"]["local"]);
  EXPECT_EQ(a3["before"]["items"], aAfterStress["after"]["items"]);
  EXPECT_EQ(b3["before"]["local"], bAfterStress["after"]["local"]);
  EXPECT_EQ(b3["before"]["items"], bAfterStress["after"]["items"]);

  // A folder of an earlier version, kept under the name, is taken over by
  // copying: the application finds its data, and the old folder stays.
  const std::string legacy = data + "/BridgeTest/WebsiteData";
  fs::create_directories(data + "/BridgeTest");
  fs::rename(data + "/corvane/" + ida + "/WebsiteData", legacy);
  const json a4 = run(a, "storage");
  ASSERT_FALSE(a4.contains("pageError")) << a4["pageError"];
  EXPECT_EQ(a4["before"]["local"], a3["after"]["local"]);
  EXPECT_EQ(a4["before"]["items"], a3["after"]["items"]);
  EXPECT_TRUE(fs::is_directory(legacy));
  EXPECT_TRUE(fs::is_directory(data + "/corvane/" + ida + "/WebsiteData"));
  // An application that has its own folder already leaves the old one alone.
  const json b4 = run(b, "storage");
  EXPECT_EQ(b4["before"]["local"], b3["after"]["local"]);
}

TEST_F(PageHost, CustomUserAgentBelongsToTheCallingViewAndShowsAtOnce) {
  ShellHarness shell;
  makeBundle(shell);
  auto app = start(shell, "agent");
  ASSERT_EQ(app->waitForExit(120), 0) << app->log();
  const std::string log = app->log();
  const json r = shell.report();
  ASSERT_TRUE(r.is_object()) << log;
  ASSERT_FALSE(r.contains("pageError")) << r["pageError"];

  const std::string standard = r["standard"];
  EXPECT_EQ(countOf(standard, "Safari/"), 1u) << standard;
  EXPECT_EQ(standard.rfind("Mozilla/5.0 ", 0), 0u) << standard;
  EXPECT_EQ(r["atOnce"], "Main/1");
  EXPECT_EQ(r["appVersionAtOnce"], "Main/1");
  EXPECT_EQ(r["inNewFrame"], "Main/1");
  EXPECT_EQ(r["childBefore"], standard);
  EXPECT_EQ(r["childAfter"], standard) << "another window's agent changed";

  EXPECT_EQ(r["dropHandlerKept"], true) << "a page cannot set ZVRLabJs.handleDropFiles";

  // Numeric text is a byte count.
  EXPECT_EQ(r["sizes"], json({"1.5MB", "1.4MB", "1.5MB", "0.1KB"}));

  // One sandbox line per placeholder expansion.
  const size_t begin = log.find("\"marker\":\"expand begin\"");
  const size_t end = log.find("\"marker\":\"expand end\"");
  ASSERT_NE(begin, std::string::npos) << log;
  ASSERT_NE(end, std::string::npos) << log;
  EXPECT_EQ(countOf(log.substr(begin, end - begin), "[SandboxEnabled] = "), 20u);
}

TEST_F(PageHost, APageFunctionOnABuiltInItemIsItsActionAndNothingElse) {
  ShellHarness shell;
  makeBundle(shell);
  auto app = start(shell, "hooks");
  ASSERT_TRUE(app->waitForLog("host: hooks ready", 120)) << app->log();
  const unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();
  auto hits = [&](const std::string& name) { return countOf(app->log(), "host: hit " + name); };

  // The keys of Quit, Close Window and Reload run the page's functions only.
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+q"}));
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return hits("quit") == 1; }, 60)) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+w"}));
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return hits("close") == 1; }, 60)) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+r"}));
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return hits("reload") == 1; }, 60)) << app->log();
  // Quit chosen in the open application menu (F10 opens it; Up reaches its last item).
  ASSERT_TRUE(desktop->xdotool({"key", "--delay", "300", "F10", "Up", "Return"}));
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return hits("quit") == 2; }, 60)) << app->log();
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return desktop->activeWindow() == main; }, 30));
  EXPECT_TRUE(app->running());
  EXPECT_TRUE(PrivateDesktop::waitFor([&] { return windowsOf(app->pid()) == std::vector<unsigned long>{main}; }, 10))
      << "the window closed";

  ASSERT_TRUE(desktop->xdotool({"key", "F2"}));
  ASSERT_EQ(app->waitForExit(60), 0) << app->log();
  const json r = shell.report();
  ASSERT_TRUE(r.is_object()) << app->log();
  EXPECT_EQ(r["loads"], 1) << "the page was reloaded";
  EXPECT_EQ(r["hits"], json({"quit:Quit", "close:Close Window", "reload:first", "reload:second", "quit:Quit"}));
  EXPECT_EQ(r["visibility"], "visible");
  // Without developer extras View › Developer Tools is not offered.
  EXPECT_EQ(r["developerTools"]["visible"], false);
}

TEST_F(PageHost, UnsavedWorkIsKeptUntilThePersonChoosesToLeave) {
  ShellHarness shell;
  makeBundle(shell);
  auto app = start(shell, "unsaved");
  ASSERT_TRUE(app->waitForLog("host: unsaved ready 1", 120)) << app->log();
  unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();
  ASSERT_TRUE(desktop->xdotool({"type", "--delay", "60", "draft"}));
  ASSERT_TRUE(app->waitForLog("host: unsaved ready 1", 1));

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
    const unsigned long question = leaveQuestion();
    ASSERT_NE(question, 0u) << way.what << " did not ask\n" << app->log();
    ++asked;
    EXPECT_NE(app->log().find("host: beforeunload " + std::to_string(asked) + " draft"), std::string::npos);
    ASSERT_TRUE(desktop->xdotool(way.stay));
    ASSERT_TRUE(questionGone()) << way.what;
    ASSERT_TRUE(PrivateDesktop::waitFor([&] { return desktop->activeWindow() == main; }, 30)) << way.what;
    EXPECT_TRUE(app->running()) << way.what;
    // Asked again: xdotool's own search fails while a window (the question)
    // goes away under it.
    EXPECT_TRUE(PrivateDesktop::waitFor([&] { return windowsOf(app->pid()) == std::vector<unsigned long>{main}; }, 10))
        << way.what << "\n" << app->log();
  }
  EXPECT_NE(app->log().find("quit cancelled: the page"), std::string::npos);

  // Leaving on Ctrl+W hides the main window and keeps its page, as closing
  // always did; starting the application again shows the same page.
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+w"}));
  ASSERT_NE(leaveQuestion(), 0u) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "alt+l"}));
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return windowsOf(app->pid()).empty(); }, 30)) << app->log();
  EXPECT_TRUE(app->running());
  main = startAgain(shell, app->pid());
  ASSERT_NE(main, 0u) << app->log();

  // Leaving on Ctrl+Q quits.
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+q"}));
  ASSERT_NE(leaveQuestion(), 0u) << app->log();
  EXPECT_NE(app->log().find("host: beforeunload 5 draft"), std::string::npos) << "the page was not kept";
  ASSERT_TRUE(desktop->xdotool({"key", "alt+l"}));
  EXPECT_EQ(app->waitForExit(60), 0) << app->log();
  EXPECT_EQ(countOf(app->log(), "host: unsaved ready"), 1u) << "the page was loaded again";
}

TEST_F(PageHost, WithoutHooksClosingHidesAndQuittingQuitsAsBefore) {
  ShellHarness shell;
  makeBundle(shell, {{"enableDeveloperDebug", true}});
  auto app = start(shell, "plain");
  ASSERT_TRUE(app->waitForLog("host: plain ready", 120)) << app->log();
  // With developer extras on, the inspector's item is offered.
  EXPECT_NE(app->log().find("host: plain ready developer tools true"), std::string::npos);
  unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();
  ASSERT_TRUE(desktop->xdotool({"type", "--delay", "60", "typed"}));

  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+w"}));
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return windowsOf(app->pid()).empty(); }, 30)) << app->log();
  EXPECT_TRUE(app->running());
  main = startAgain(shell, app->pid());
  ASSERT_NE(main, 0u) << app->log();
  clickCloseButton(main);
  ASSERT_TRUE(PrivateDesktop::waitFor([&] { return windowsOf(app->pid()).empty(); }, 30)) << app->log();
  EXPECT_TRUE(app->running());
  main = startAgain(shell, app->pid());
  ASSERT_NE(main, 0u) << app->log();
  ASSERT_TRUE(desktop->xdotool({"key", "ctrl+q"}));
  EXPECT_EQ(app->waitForExit(60), 0) << app->log();
  EXPECT_EQ(app->log().find("Leave this page?"), std::string::npos);
  EXPECT_EQ(countOf(app->log(), "host: plain ready"), 1u);
}

TEST_F(PageHost, AHungPageDoesNotKeepItsWindowFromClosing) {
  ShellHarness shell;
  makeBundle(shell, {{"AppExInfo", {{"enableShouldTerminateAfterLastWindowClosed", true}}}});
  auto app = start(shell, "plain");
  ASSERT_TRUE(app->waitForLog("host: plain ready", 120)) << app->log();
  const unsigned long main = activateMainWindow(app->pid());
  ASSERT_NE(main, 0u) << app->log();
  // The page's process stops answering (SIGSTOP): keys reach the page
  // first and go nowhere, but the title bar's close button still works.
  const std::string web = desktop->run({"pgrep", "-P", std::to_string(app->pid()), "WebKitWebProces"});
  ASSERT_FALSE(web.empty()) << app->log();
  const pid_t webPid = std::stoi(web);
  kill(webPid, SIGSTOP);
  clickCloseButton(main);
  const int status = app->waitForExit(60);
  kill(webPid, SIGKILL);
  EXPECT_EQ(status, 0) << "the window stayed open\n" << app->log();
}
