// Pieces of the application's life, the termination signal and relaunch in
// real child processes.
#include "TestSupport.h"

#include "app/LoginItem.h"
#include "app/MailtoUrl.h"
#include "app/NotificationCenter.h"
#include "app/PageCrashPolicy.h"
#include "app/Relaunch.h"
#include "app/TerminationSignal.h"
#include "app/WindowStyle.h"

#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <thread>

using namespace corvane;
using namespace corvane::test;
using nlohmann::json;

namespace {

// Runs the default main context until it has nothing more to do.
void drainMainContext() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

}  // namespace

TEST(Notifications, HeldNoticesReachTheFirstObserversInOrderOnce) {
  NotificationCenter center;
  std::vector<std::string> seen;
  center.postOrHold("open", json::array({"/a"}));
  center.postOrHold("open", json::array({"/b", "/c"}));
  center.post("other");
  EXPECT_EQ(center.heldCount("open"), 2u);
  EXPECT_EQ(center.heldCount("other"), 0u) << "plain posts are never kept";

  // Observers added in one go (the page's objects are created together)
  // all receive the kept notices, after their owner has set up.
  center.addObserver("open", [&](auto&, const json& o) { seen.push_back("1" + o.dump()); });
  center.addObserver("open", [&](auto&, const json& o) { seen.push_back("2" + o.dump()); });
  EXPECT_TRUE(seen.empty()) << "not from inside addObserver";
  // A notice posted before the kept ones went out queues behind them.
  center.postOrHold("open", json::array({"/d"}));
  drainMainContext();
  EXPECT_EQ(seen, (std::vector<std::string>{"1[\"/a\"]", "2[\"/a\"]", "1[\"/b\",\"/c\"]", "2[\"/b\",\"/c\"]",
                                            "1[\"/d\"]", "2[\"/d\"]"}));
  EXPECT_EQ(center.heldCount("open"), 0u);

  // Delivered once: a later observer gets only what comes later, at once.
  seen.clear();
  center.addObserver("open", [&](auto&, const json& o) { seen.push_back("3" + o.dump()); });
  drainMainContext();
  EXPECT_TRUE(seen.empty());
  center.postOrHold("open", json::array({"/e"}));
  EXPECT_EQ(seen, (std::vector<std::string>{"1[\"/e\"]", "2[\"/e\"]", "3[\"/e\"]"}));
}

// An observer, or a whole centre, gone before the delivery: nothing is
// delivered to it, and an observer's notices stay kept for the next one.
TEST(Notifications, ObserversAndCentresGoneBeforeDeliveryGetNothing) {
  NotificationCenter center;
  center.postOrHold("open", json::array({"/a"}));
  center.removeObserver(center.addObserver("open", [](auto&, const json&) { ADD_FAILURE() << "removed observer"; }));
  {
    NotificationCenter gone;
    gone.postOrHold("open", json::array({"/a"}));
    gone.addObserver("open", [](auto&, const json&) { ADD_FAILURE() << "delivered by a destroyed centre"; });
  }
  drainMainContext();
  std::vector<json> seen;
  center.addObserver("open", [&](auto&, const json& o) { seen.push_back(o); });
  drainMainContext();
  EXPECT_EQ(seen, std::vector<json>{json::array({"/a"})});
}

TEST(Mailto, AnAddressCannotAddHeaders) {
  EXPECT_EQ(mailtoUrl("x@y?cc=z", "", ""), "mailto:x@y%3Fcc=z?Subject=&body=");
}

TEST(LoginItemEntry, AHostileBundlePathStaysOneArgumentOfOneKey) {
  TempDir tmp;
  EnvGuard env;
  env.set("XDG_CONFIG_HOME", tmp / "config");
  // The desktop launches the entry; a recorder standing in for the shell
  // (at a path as awkward as the bundles') writes the arguments it got.
  // (GLib looks the program up before it undoes "%%", so no "%" here.)
  const std::string bin = tmp / "bin \"q\" $x \\ 'a'";
  fs::create_directories(bin);
  const std::string recorder = bin + "/corvane", got = tmp / "got";
  writeFile(recorder, "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"" + got + ".tmp\" && mv \"" + got + ".tmp\" \"" + got + "\"\n");
  fs::permissions(recorder, fs::perms::owner_all);
  const std::string bundles[] = {
      tmp / "Inj\nExec=touch injected\nX-A=.app",
      tmp / "Quote \"it\" `date` $HOME ${HOME} %u %% %.app",
      tmp / "back\\slash\\\\two\\n \\\" and;semi&amp|pipe*?#(x)~<>.app",
      tmp / " \tlead.app",
  };
  for (const std::string& bundle : bundles) {
    SCOPED_TRACE(testing::PrintToString(bundle));
    fs::remove(got);
    LoginItem item("test.login", bundle, "Name\nExec=touch injected", recorder);
    ASSERT_TRUE(item.setStartAtLogin(true));
    EXPECT_TRUE(item.isStartAtLogin()) << "an entry it wrote is its own";
    EXPECT_TRUE(item.setStartAtLogin(true));

    std::istringstream entry(readFile(item.entryPath()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(entry, line);) lines.push_back(line.substr(0, line.find('=')));
    EXPECT_EQ(lines, (std::vector<std::string>{"[Desktop Entry]", "Type", "Name", "Exec", "X-Corvane-Bundle",
                                               "X-GNOME-Autostart-enabled"}));

    GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(item.entryPath().c_str());
    ASSERT_NE(info, nullptr) << readFile(item.entryPath());
    GError* error = nullptr;
    EXPECT_TRUE(g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, &error)) << (error ? error->message : "");
    if (error) g_error_free(error);
    g_object_unref(info);
    for (int i = 0; i < 100 && !fs::exists(got); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string args = readFile(got);
    EXPECT_EQ(args, "--bundle" + std::string(1, '\0') + bundle + std::string(1, '\0'))
        << readFile(item.entryPath());
    EXPECT_TRUE(item.setStartAtLogin(false));
  }
  // The entry belongs to the bundle at its path.
  LoginItem here("test.login", "/opt/Demo.app", "Demo", recorder), moved("test.login", "/elsewhere/Demo.app", "Demo", recorder);
  ASSERT_TRUE(here.setStartAtLogin(true));
  EXPECT_FALSE(moved.isStartAtLogin());
}

TEST(WindowStylePlans, StyleKeysInTableOrderThenButtons) {
  auto p = windowStylePlan(json{{"hasResizeControls", false},
                                {"hasCloseControls", true},
                                {"hasToolbarButtonControls", false},
                                {"hideZoomButton", false},
                                {"hideFullScreenButton", "YES"},
                                {"contentAspectRatio", {16, 9}}});
  // hasToolbarButtonControls comes last in the table: not closable.
  EXPECT_EQ(std::make_tuple(p.resizable, p.closable, p.titled), std::make_tuple(false, false, std::optional<bool>()));
  using B = WindowButton;
  EXPECT_EQ(p.buttons, (std::vector<std::pair<B, bool>>{
                           {B::Close, true}, {B::Zoom, false}, {B::FullScreen, true}}));
  EXPECT_EQ(p.contentAspectRatio, (SizePair{16, 9}));
  EXPECT_THROW(windowStylePlan(json{{"contentAspectRatio", "wide"}}), std::exception);
  EXPECT_THROW(windowStylePlan(json{{"hasShadow", json::array()}}), std::exception);
  EXPECT_TRUE(windowStylePlan(json()).buttons.empty());
}

TEST(WindowStylePlans, SizesAcceptArraysAndBraceTexts) {
  auto s = windowSizePlan(json{{"autoOffset", true}, {"size", "{960, 640}"}, {"minSize", {400, 300}}});
  EXPECT_EQ(std::make_tuple(s.autoOffset, s.size, s.minSize, s.maxSize),
            std::make_tuple(true, std::optional(SizePair{960, 640}), std::optional(SizePair{400, 300}),
                            std::optional<SizePair>()));
  EXPECT_THROW(windowSizePlan(json{{"size", {800}}}), std::exception);
}

TEST(WindowStylePlans, MenuListsAndTitleMethods) {
  auto expand = [](const std::string& s) {
    std::string out = s;
    auto pos = out.find("${APP_NAME}");
    if (pos != std::string::npos) out.replace(pos, 11, "Demo");
    return out;
  };
  auto m = menuPlan(json{{"menuHideList", {{{"tag", 301}}, 5, {{"tag", 302}, {"hide", false}}}},
                         {"menuTitleList", {{{"tag", 101}, {"title", "About ${APP_NAME}"}}, {{"method", "p+"}}}}},
                    expand);
  json plan = json::array();  // hide defaults to true
  for (const auto& h : m.hide) plan.push_back({h.tag, h.hide});
  for (const auto& t : m.titles) plan.push_back({t.tag, t.title, t.method});
  EXPECT_EQ(plan, json::parse(R"([[301, true], [302, false], [101, "About Demo", "rp"], [-9999, "", "p+"]])"));
  for (const auto& [method, title, old, made] : std::vector<std::array<std::string, 4>>{
           {"rp", "New", "Old", "New"}, {"p+", "New ", "Old", "New Old"}, {"+s", " New", "Old", "Old New"},
           {"re", "ignored", "Quit ${APP_NAME}", "Quit Demo"}, {"xx", "New", "Old", ""}})
    EXPECT_EQ(menuTitle(method, title, old, expand), made) << method;
}

TEST(PageCrashPolicy, ReloadsAtOnceThenAfterPausesThenGivesUpUntilTheyAreApart) {
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  PageCrashPolicy policy;
  const auto t0 = PageCrashPolicy::Clock::time_point{} + std::chrono::hours(1);
  struct Case {
    seconds at;  // since t0
    bool reload;
    milliseconds delay;
    int crashes;
  };
  const Case cases[] = {
      {seconds(0), true, milliseconds(0), 1},      {seconds(1), true, milliseconds(1000), 2},
      {seconds(3), true, milliseconds(3000), 3},   {seconds(7), false, milliseconds(0), 4},
      {seconds(20), false, milliseconds(0), 5},    // still stopped: crashes close together
      {seconds(81), true, milliseconds(0), 1},     // a minute of peace starts afresh
      {seconds(82), true, milliseconds(1000), 2},
  };
  for (const auto& c : cases) {
    const auto step = policy.crashed(t0 + c.at);
    EXPECT_EQ(std::make_tuple(step.reload, step.delay, step.crashes), std::make_tuple(c.reload, c.delay, c.crashes))
        << "at " << c.at.count() << " s";
  }
  // The person reloads: the next crash is the first again.
  policy.reset();
  EXPECT_EQ(policy.crashed(t0 + seconds(83)).delay, milliseconds(0));
}

TEST(TerminationSignal, PostsLogsWaitsAndExitsWithZero) {
  TempDir tmp;
  const std::string logPath = tmp / "stderr.txt";
  pid_t child = fork();
  if (child == 0) {
    int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    NotificationCenter::defaultCenter().addObserver(kNoticeAppTerminate, [](auto&, auto&) {
      std::fputs("observed terminate notice\n", stderr);
      std::fflush(stderr);
    });
    installTerminationSignalHandler([] { return std::string("Demo"); }, 1);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    // The loop must keep serving while the process waits to exit.
    g_timeout_add(100, [](gpointer) -> gboolean {
      std::fputs("tick\n", stderr);
      std::fflush(stderr);
      return G_SOURCE_CONTINUE;
    }, nullptr);
    g_main_loop_run(loop);
    _exit(3);  // never reached
  }
  g_usleep(300 * 1000);
  const gint64 sent = g_get_monotonic_time();
  kill(child, SIGTERM);
  g_usleep(100 * 1000);
  kill(child, SIGTERM);  // a second signal does not restart the wait
  int status = 0;
  waitpid(child, &status, 0);
  const double elapsed = (g_get_monotonic_time() - sent) / 1e6;
  EXPECT_EQ(status, 0) << "a status other than exit(0)";
  EXPECT_GE(elapsed, 0.95);

  // The notice, then the first line (once), then the last.
  const std::string err = readFile(logPath);
  const auto notice = err.find("observed terminate notice");
  const auto first = err.find("##[App:Demo]## will about to exit...");
  const auto last = err.find("##[App:Demo]## completely exit...");
  EXPECT_TRUE(notice < first && first < last && last != std::string::npos) << err;
  EXPECT_EQ(countOf(err, "will about to exit"), 1u) << err;
  EXPECT_NE(err.find("tick", first), std::string::npos) << "the main loop ran during the wait";
}

TEST(Relaunch, NewInstanceWaitsForThePredecessor) {
  EnvGuard env;
  // The "predecessor" is a short-lived child; the successor waits for it.
  pid_t predecessor = fork();
  if (predecessor == 0) {
    g_usleep(400 * 1000);
    _exit(0);
  }
  env.set(kRelaunchPidVariable, std::to_string(predecessor));
  std::thread reaper([&] { waitpid(predecessor, nullptr, 0); });
  const gint64 start = g_get_monotonic_time();
  waitForPredecessor(5);
  const double waited = (g_get_monotonic_time() - start) / 1e6;
  reaper.join();
  EXPECT_GE(waited, 0.3);
  EXPECT_EQ(std::getenv(kRelaunchPidVariable), nullptr) << "not passed on to children";

  const gint64 again = g_get_monotonic_time();
  waitForPredecessor(5);
  EXPECT_LT((g_get_monotonic_time() - again) / 1e6, 1.0) << "a first start does not wait";
}

TEST(Relaunch, TheInstalledExecutableIsTheOneAtTheStartPathNow) {
  TempDir tmp;
  EnvGuard env;
  const std::string exe = tmp / "bin/demo-shell";
  writeFile(exe, "#!/bin/sh\n");
  fs::permissions(exe, fs::perms::owner_all);
  // An update replaces the file: the path is still the one to start.
  writeFile(tmp / "bin/demo-shell.new", "#!/bin/sh\necho new\n");
  fs::permissions(tmp / "bin/demo-shell.new", fs::perms::owner_all);
  fs::rename(tmp / "bin/demo-shell.new", exe);
  EXPECT_EQ(installedExecutable(exe), exe);

  // Removed: the program of that name on PATH, else nothing.
  fs::remove(exe);
  writeFile(tmp / "elsewhere/demo-shell", "#!/bin/sh\n");
  fs::permissions(tmp / "elsewhere/demo-shell", fs::perms::owner_all);
  env.set("PATH", tmp / "elsewhere");
  EXPECT_EQ(installedExecutable(exe), tmp / "elsewhere/demo-shell");
  env.set("PATH", tmp / "nowhere");
  EXPECT_EQ(installedExecutable(exe), std::nullopt);
}

// A relaunch knows its predecessor; a hand-over starts at once and passes
// the files after the marker.
TEST(Relaunch, StartsADetachedProcessThatKnowsItsPredecessorUnlessHandingOver) {
  TempDir tmp;
  const std::string script = tmp / "fake-shell";
  writeFile(script, "#!/bin/sh\necho \"$* [$" + std::string(kRelaunchPidVariable) + "]\" >> " + (tmp / "out.txt") + "\n");
  fs::permissions(script, fs::perms::owner_all);
  auto ranAs = [&](const std::string& line) {
    for (int i = 0; i < 100 && readFile(tmp / "out.txt").find(line) == std::string::npos; ++i) g_usleep(20 * 1000);
    return readFile(tmp / "out.txt").find(line) != std::string::npos;
  };
  ASSERT_TRUE(relaunchDetached(script, "/apps/Demo.app"));
  EXPECT_TRUE(ranAs("--bundle /apps/Demo.app [" + std::to_string(getpid()) + "]\n")) << readFile(tmp / "out.txt");
  ASSERT_TRUE(relaunchDetached(script, "/apps/Demo.app", {"-x.txt", "/a b"}, false));
  EXPECT_TRUE(ranAs("--bundle /apps/Demo.app -- -x.txt /a b []\n")) << readFile(tmp / "out.txt");
}
