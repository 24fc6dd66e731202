// The launch configuration in the real shell: keys of the wrong type, a
// configuration that breaks while the application runs, start-up tasks as
// their tools see them and around the launch step, the window style, and
// the window-size keys measured on the X window
// (on a display of its own with a window manager, which owns size hints).
#include "LiveApp.h"
#include "support/PrivateDesktop.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::life::LiveShell;
using WmDisplay = corvane::test::PrivateDesktop;
using XGeometry = corvane::test::PrivateDesktop::Geometry;
namespace fs = std::filesystem;

namespace {

bool eventually(const std::function<bool()>& check, double seconds) { return WmDisplay::waitFor(check, seconds); }

class LaunchConfig : public testing::Test {
 protected:
  std::string project() const { return shell.resourcePath() + "/public/project.json"; }
  std::unique_ptr<LiveShell> launch(const json& config, const std::string& mode,
                                    std::map<std::string, std::string> extra = {},
                                    const std::string& workingFolder = "") {
    live.make(config);
    live.extraEnv = std::move(extra);
    return live.start(mode, mode + ".log", {}, workingFolder);
  }
  corvane::life::LiveApp live;
  ShellHarness& shell = live.shell;
};

}  // namespace

TEST_F(LaunchConfig, AKeyOfTheWrongTypeIsNamedInAnAlertAndEndsWith78) {
  WmDisplay wm{true};
  const std::pair<json, std::string> cases[] = {
      {{{"serverPort", "8080"}}, "\"serverPort\" is not a number"},
      {{{"startPage", {"a"}}}, "\"startPage\" is not text"},
  };
  for (const auto& [appExInfo, named] : cases) {
    // Nobody presses the alert's button but the test.
    auto app = launch({{"AppExInfo", appExInfo}}, "wrong-type", {{"DISPLAY", wm.display()}});
    std::string alert;
    ASSERT_TRUE(eventually([&] {
      alert = wm.run({"xdotool", "search", "--onlyvisible", "--name", "BridgeTest cannot start"});
      return !alert.empty();
    }, 60)) << app->log();
    alert = alert.substr(0, alert.find('\n'));
    EXPECT_EQ(app->waitForExit(0.5), -1) << "the alert waits for the user";
    wm.xdotool({"windowactivate", "--sync", alert, "key", "--clearmodifiers", "Return"});
    EXPECT_EQ(app->waitForExit(30), 78) << app->log();
    const std::string log = app->log();
    EXPECT_NE(log.find("error: configuration error: \"AppExInfo\" in " + project() + ": " + named + "."),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("ZavrelonAPP##url"), std::string::npos) << "no window was built";
  }
}

TEST_F(LaunchConfig, ARunningApplicationKeepsItsConfigurationWhenTheFileBreaks) {
  auto app = launch({{"AppExInfo", {{"HomePageURL", "https://first"}}}}, "keep-config");
  ASSERT_TRUE(app->waitForLog("events url https://first", 60)) << app->log();

  shell.writeFile(project(), R"({"AppExInfo": {"HomePageURL": )");  // a save caught halfway
  ASSERT_TRUE(app->waitForLog("keeping the last good configuration", 30)) << app->log();
  const size_t broken = app->log().size();
  ASSERT_TRUE(eventually([&] { return app->log().find("events url https://first", broken) != std::string::npos; }, 30))
      << "the page goes on with the last good configuration";
  EXPECT_NE(app->log().find("error: main configuration cannot be read (" + project() + ": parse error at line 1"),
            std::string::npos);

  shell.writeFile(project(), R"({"AppExInfo": {"HomePageURL": "https://second"}})");
  EXPECT_TRUE(app->waitForLog("events url https://second", 30)) << "a mended file is read at once";
  EXPECT_EQ(app->waitForExit(0.2), -1) << "still running";
  const std::string log = app->log();
  EXPECT_EQ(log.find("mainconfigDic = nil"), std::string::npos);
  EXPECT_EQ(log.find("App exit"), std::string::npos);
}

TEST_F(LaunchConfig, StartUpTasksAsTheirToolsSeeThem) {
  // The configuration comes from the bundle, whatever lies in the folder
  // the shell is started from under the same relative name.
  const std::string home = shell.root() + "/home";
  const std::string cwd = shell.root() + "/cwd";
  // A task whose tool leaves a file named for it in HOME, unless `extra` says otherwise.
  auto task = [](const std::string& id, const json& extra) {
    json t = {{"index", 4}, {"id", id}, {"taskAppPath", "/bin/sh"}, {"command", {"-c", "touch ${HOME}/" + id}},
              {"waitUntilExit", true}, {"conditionType", "&&"}};
    t.update(extra);
    return t;
  };
  shell.writeFile(cwd + "/conf/main.json", json({{"Tasks", {task("evil", json::object())}}}).dump());
  const json tasks = {
      task("probe", {{"index", 1},
                     {"command",
                      {"-c", "env | grep ^ZAVRELONLAB_MAIN_APP_ > ${HOME}/env.txt; "
                             "env | grep -E '^CORVANE_(TEST_|WEB_EXTENSIONS_DIR)' > ${HOME}/corvane-env.txt"}}}),
      // Never run: a task type, a condition type or a condition that does not exist.
      task("typed", {{"taskType", 7}}),
      task("combined", {{"conditionType", 5}}),
      task("condition",
           {{"conditionType", "||"}, {"conditions", {{{"type", 9}, {"key", "k9"}, {"op", "<"}, {"value", 1}}}}}),
  };
  shell.writeFile(shell.resourcePath() + "/conf/main.json", json({{"Tasks", tasks}}).dump());
  shell.writeFile(shell.resourcePath() + "/public/ian.json", R"({"BootStrapList": ["conf/main.json"]})");

  // HOME written with a trailing slash, as some login setups do.
  auto app = launch(json::object(), "keep-config", {{"HOME", home + "/"}}, cwd);
  ASSERT_TRUE(app->waitForLog("events url", 60)) << app->log();
  // The kernel keeps 15 bytes of the name.
  const std::string name = std::filesystem::path(CORVANE_BINARY).filename().string().substr(0, 15);
  EXPECT_EQ(corvane::test::readFile("/proc/" + std::to_string(app->pid()) + "/comm"), name + "\n")
      << "the process keeps its executable's name";
  const std::string log = app->log();
  EXPECT_NE(log.find("main thread named mainThread"), std::string::npos);

  EXPECT_EQ(log.find("发现错误"), std::string::npos) << log;
  for (const char* never : {"evil", "typed", "combined", "condition"})  // evil: from the working folder
    EXPECT_FALSE(fs::exists(home + "/" + never)) << never;

  // The shell's test variables (it was started with CORVANE_TEST_RESULT)
  // are its own: a tool it starts gets none of them.
  EXPECT_EQ(corvane::test::readFile(home + "/corvane-env.txt"), "");

  const std::string env = corvane::test::readFile(home + "/env.txt");
  EXPECT_EQ(std::count(env.begin(), env.end(), '\n'), 28) << env;
  EXPECT_NE(env.find("ZAVRELONLAB_MAIN_APP_HOMEDIRECTORY=" + home + "\n"), std::string::npos) << env;
  EXPECT_NE(env.find("ZAVRELONLAB_MAIN_APP_BUNDLE_RESOURCE_PATH=" + shell.resourcePath() + "\n"), std::string::npos);
}

TEST_F(LaunchConfig, AFailingTaskStartsTheLaunchOnceAndTheWindowStyleApplies) {
  auto task = [](int index, const std::string& id, const std::string& tool) {
    return json{{"index", index}, {"id", id}, {"taskAppPath", tool}, {"waitUntilExit", true}, {"conditionType", "&&"}};
  };
  auto app = launch({{"Tasks",
                      {task(2, "third", "/bin/false"), task(0, "first", "/bin/false"),
                       task(1, "second", "/bin/true")}},
                     {"AppExInfo",
                      {{"hasResizeControls", false},
                       {"hideMiniaturizeButton", true},
                       {"hideZoomButton", false},
                       {"autoOffset", true},
                       {"size", {800, 600}}}}},
                    "style");
  ASSERT_EQ(app->waitForExit(120), 0) << app->log();
  const std::string log = app->log();

  // The first failure starts the launch step before the second task runs,
  // and the third failure does not start it again.
  const auto firstFailed = log.find("<app>process_task [id:first, descript:(null)] failed.");
  const auto launchStep = log.find("[0x0003] 不使用HttpServer");
  const auto second = log.find("<app>process_task [id:second, descript:(null)] success.");
  ASSERT_NE(firstFailed, std::string::npos) << log;
  ASSERT_NE(launchStep, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(firstFailed, launchStep);
  EXPECT_LT(launchStep, second);
  EXPECT_EQ(corvane::test::countOf(log, "[0x0003] 不使用HttpServer"), 1u);
  EXPECT_NE(log.find("[id:third, descript:(null)] failed."), std::string::npos);

  // No resize border, no close or minimize button, and the content's size.
  const json state = shell.report()["state"];
  ASSERT_TRUE(state.is_object()) << log;
  const std::string layout = state["decorationLayout"];
  EXPECT_EQ(json({state["resizable"], layout.find("close") == std::string::npos,
                  layout.find("minimize") == std::string::npos, layout.find("maximize") != std::string::npos,
                  state["width"], state["height"], state["titleBarHeight"] > 0}),
            json({false, true, true, true, 800, 600, true}))
      << layout;
}

// ---- the window-size keys ------------------------------------------------------

namespace {

// What the page saw and what the X server has, once they agree.
struct Sizes {
  XGeometry x;
  int innerWidth = 0, innerHeight = 0, titleBar = 0, menuBar = 0;
  int border() const { return x.width - innerWidth; }  // left and right together
  // The frame: the X window without the client-side borders.
  int frameWidth() const { return innerWidth; }
  int frameHeight() const { return titleBar + menuBar + innerHeight; }
  int contentHeight() const { return menuBar + innerHeight; }  // below the title bar
};

std::optional<Sizes> lastPageReport(const std::string& log) {
  const std::string cue = "events size ";
  const auto at = log.rfind(cue);
  if (at == std::string::npos) return std::nullopt;
  const auto end = log.find('\n', at);
  const json r = json::parse(log.substr(at + cue.size(), end - at - cue.size()), nullptr, false);
  if (!r.is_object() || !r["state"].is_object()) return std::nullopt;
  Sizes s;
  s.innerWidth = r["inner"][0];
  s.innerHeight = r["inner"][1];
  s.titleBar = r["state"].value("titleBarHeight", 0);
  s.menuBar = r["state"].value("menuBarHeight", 0);
  return s;
}

// Waits until the X window and the page's last report agree: the page spans
// the content's width, and the X window is the frame plus the same border
// on both axes.
Sizes settled(const LiveShell& app, const WmDisplay& wm) {
  std::optional<Sizes> last;
  int stableRounds = 0;
  eventually([&] {
    auto s = lastPageReport(app.log());
    if (!s) return false;
    s->x = wm.mainWindowOf(app.pid());
    const bool agree = s->x.window != 0 && s->border() >= 0 && s->x.height - s->frameHeight() == s->border();
    const bool same = last && last->x.width == s->x.width && last->x.height == s->x.height &&
                      last->innerWidth == s->innerWidth && last->innerHeight == s->innerHeight;
    stableRounds = agree && same ? stableRounds + 1 : 0;
    last = s;
    return stableRounds >= 3;
  }, 60);
  EXPECT_GE(stableRounds, 3) << "the page and the X window never agreed\n" << app.log();
  return last.value_or(Sizes{});
}

std::string normalHints(const WmDisplay& wm, unsigned long window) {
  return wm.run({"xprop", "-id", std::to_string(window), "WM_NORMAL_HINTS"});
}

}  // namespace

TEST_F(LaunchConfig, SizeIsTheFrameTitleBarIncluded) {
  // Alone, and at its maximum (which keeps it).
  for (const json& appExInfo : {json{{"size", {800, 600}}}, json{{"size", {900, 700}}, {"maxSize", {900, 700}}}}) {
    SCOPED_TRACE(appExInfo.dump());
    WmDisplay wm{true};
    auto app = launch({{"AppExInfo", appExInfo}}, "size", {{"DISPLAY", wm.display()}});
    const Sizes s = settled(*app, wm);
    EXPECT_GT(s.titleBar, 0);
    // The frame, and the X window: the frame plus the border on each axis.
    EXPECT_EQ(json({{s.frameWidth(), s.frameHeight()}, {s.x.width - s.border(), s.x.height - s.border()}}),
              json({appExInfo["size"], appExInfo["size"]}));
  }
}

TEST_F(LaunchConfig, AutoOffsetAddsTheTitleBarOnceToEveryHeight) {
  WmDisplay wm{true};
  auto app = launch({{"AppExInfo",
                           {{"autoOffset", true}, {"size", {800, 600}}, {"minSize", {600, 400}},
                            {"maxSize", {1000, 800}}}}},
                         "size", {{"DISPLAY", wm.display()}});
  const Sizes s = settled(*app, wm);
  const int t = s.titleBar, b = s.border();
  // The heights describe the content.
  EXPECT_EQ(json({s.frameWidth(), s.contentHeight(), s.frameHeight()}), json({800, 600, 600 + t}));
  const std::string hints = normalHints(wm, s.x.window);
  EXPECT_NE(hints.find("minimum size: " + std::to_string(600 + b) + " by " + std::to_string(400 + t + b)),
            std::string::npos)
      << hints;
  EXPECT_NE(hints.find("maximum size: " + std::to_string(1000 + b) + " by " + std::to_string(800 + t + b)),
            std::string::npos)
      << hints;
}

TEST_F(LaunchConfig, TheAspectRatioHoldsForTheContentBesideTheLimits) {
  WmDisplay wm{true};
  auto app = launch({{"AppExInfo", {{"contentAspectRatio", {2, 1}}, {"minSize", {500, 300}}, {"size", {800, 600}}}}},
                         "size", {{"DISPLAY", wm.display()}});
  Sizes s = settled(*app, wm);
  const std::string hints = normalHints(wm, s.x.window);
  EXPECT_NE(hints.find("minimum size"), std::string::npos) << hints;
  EXPECT_NE(hints.find("aspect ratio: 65536/32768"), std::string::npos) << "kept beside the limits\n" << hints;
  EXPECT_NEAR(double(s.frameWidth()) / s.contentHeight(), 2.0, 0.01) << s.frameWidth() << "x" << s.contentHeight();

  // The user drags the bottom-right corner (the resize border is the
  // client's, the resizing the window manager's).
  const int cx = s.x.x + s.x.width - 2, cy = s.x.y + s.x.height - 2;
  const auto at = [](int x, int y) { return std::vector<std::string>{"mousemove", std::to_string(x), std::to_string(y)}; };
  std::vector<std::string> drag = at(cx, cy);
  for (const auto& step : {std::vector<std::string>{"sleep", "0.3", "mousedown", "1", "sleep", "0.3"}, at(cx + 80, cy + 10),
                           {"sleep", "0.3"}, at(cx + 160, cy + 20), {"sleep", "0.3", "mouseup", "1"}})
    drag.insert(drag.end(), step.begin(), step.end());
  wm.xdotool(drag);
  const Sizes before = s;
  EXPECT_TRUE(eventually([&] { return wm.geometry(before.x.window).width != before.x.width; }, 30));
  s = settled(*app, wm);
  EXPECT_GT(s.frameWidth(), before.frameWidth()) << "the drag resized the window";
  EXPECT_NEAR(double(s.frameWidth()) / s.contentHeight(), 2.0, 0.01) << s.frameWidth() << "x" << s.contentHeight();
  EXPECT_GE(s.frameHeight(), 300);
}
