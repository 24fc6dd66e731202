// The Window object end to end: the real shell on a display of its own
// (Xvfb with openbox, so input and window states belong to this suite
// alone), a page that walks through geometry, menus, file operations and
// dialogs and compares every answer it can know (window-pages/window-checks.js),
// and a driver thread that acts as the person at the screen with xdotool
// over XTEST and reads the real X window with xwininfo and xprop.
#include "ProcessHelpers.h"
#include "ShellSuite.h"

#include "app/UserDefaults.h"
#include "support/PrivateDesktop.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

using nlohmann::json;
using corvane::e2e::ShellHarness;
namespace fs = std::filesystem;

namespace {

using corvane::test::readFile;
using corvane::e2e::sh;
using corvane::e2e::waitUntil;

constexpr int kScreenW = 1280, kScreenH = 800;

json frame(int x, int y, int width, int height) { return {{"x", x}, {"y", y}, {"width", width}, {"height", height}}; }

// The X window as xwininfo sees it (absolute, top-left origin).
json xGeometry(const std::string& id) {
  const std::string info = sh("xwininfo -id " + id);
  auto field = [&info](const char* name) {
    std::smatch m;
    return std::regex_search(info, m, std::regex(std::string(name) + ":\\s+(-?\\d+)")) ? std::stoi(m[1]) : -99999;
  };
  return frame(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
}

class WindowE2E : public corvane::e2e::ShellSuite<WindowE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_WINDOW_PAGES);
    setenv("HOME", (shell->root() + "/wm-home").c_str(), 1);  // openbox's state
    desktop = std::make_unique<corvane::test::PrivateDesktop>(true);
    makeFiles();
    env = shell->sessionEnv();
    env["DISPLAY"] = desktop->display();  // also for xdotool, xwininfo and xprop
    env["GTK_USE_PORTAL"] = "0";  // GTK's own dialog in the process, which xdotool can drive
    env["CORVANE_E2E_SCRATCH"] = scratch();
    env["CORVANE_E2E_DIALOGS"] = dialogsDir();
    env["CORVANE_E2E_PHASE"] = "first";
    firstStart = static_cast<int64_t>(std::time(nullptr));
    runShell(env, 240, drive);
    firstEnd = static_cast<int64_t>(std::time(nullptr));
    defaultsAfterFirst = storedDefaults();

    // A second start: the first launch time stays, the others move on.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new second on the clock
    env["CORVANE_E2E_PHASE"] = "second";
    secondStart = static_cast<int64_t>(std::time(nullptr));
    secondStatus = shell->run(env, 120);
    defaultsAfterSecond = storedDefaults();
  }

  static void TearDownTestSuite() {
    desktop.reset();
    ShellSuite::TearDownTestSuite();
  }

  static std::string scratch() { return shell->root() + "/scratch"; }
  static std::string dialogsDir() { return shell->root() + "/dialogs"; }

  static void makeFiles() {
    const std::string s = scratch();
    shell->writeFile(s + "/a.txt", "hello");
    shell->writeFile(s + "/to-move.txt", "move me");
    shell->writeFile(s + "/dir-to-move/f.txt", "f");
    shell->writeFile(s + "/tree/x.txt", "x");
    shell->writeFile(s + "/tree/.hidden", "h");
    shell->writeFile(s + "/tree/sub/y.txt", "yy");
    shell->writeFile(shell->root() + "/outside/keep.txt", "keep");
    fs::create_directory_symlink(shell->root() + "/outside", s + "/tree/out-link");
    fs::create_symlink("x.txt", s + "/tree/x-link");
    fs::create_directory_symlink(shell->root() + "/outside", s + "/link-to-outside");
    shell->writeFile(s + "/find/a/catalog/x.txt", "");
    shell->writeFile(s + "/find/b/plain.txt", "");
    shell->writeFile(s + "/find/blog.md", "");
    shell->writeFile(shell->root() + "/home/home.txt", "at home");
    const std::string d = dialogsDir();
    shell->writeFile(d + "/a.png", std::string(1500, 'p'));
    shell->writeFile(d + "/b.jpg", "jpg");
    shell->writeFile(d + "/notes.txt", "notes");
    shell->writeFile(d + "/old.gif", "old");
    shell->writeFile(d + "/sub/c.png", std::string(2000, 'c'));
    shell->writeFile(d + "/sub/d.txt", std::string(500, 'd'));
  }

  static json storedDefaults() {
    setenv("XDG_CONFIG_HOME", (shell->root() + "/home/.config").c_str(), 1);
    return json::parse(readFile(corvane::UserDefaults::pathForIdentifier(shell->identifier())), nullptr, false);
  }

  // ---- the person at the screen ------------------------------------------------

  static std::string search(const std::string& title) {
    return "xdotool search --onlyvisible --name '^" + title + "$'";
  }
  static bool windowShown(const std::string& title) { return !sh(search(title)).empty(); }
  static void key(const std::string& keys) { sh("xdotool key --delay 80 " + keys); }
  static void type(const std::string& text) { sh("xdotool type --delay 25 '" + text + "'"); }
  // The centre of the dialog's format box on the screen: the last place
  // the test service logged for it, within the dialog's X window.
  static bool formatBoxCentre(const std::string& title, int& x, int& y) {
    const std::string log = shell->log();
    const auto at = log.rfind("E2E-FORMAT-BOX " + title + " ");
    std::istringstream place(at == std::string::npos ? "" : log.substr(at + 16 + title.size()));
    std::istringstream ids(sh(search(title)));
    std::string id;
    int bx = 0, by = 0, bw = 0, bh = 0;
    if (!(place >> bx >> by >> bw >> bh) || !(ids >> id)) return false;
    const json window = xGeometry(id);
    x = window["x"].get<int>() + bx + bw / 2;
    y = window["y"].get<int>() + by + bh / 2;
    return bw > 0 && bh > 0;
  }
  // The pop-ups on the screen: GTK marks a combo box's pop-up (and an
  // entry's completion list) with the combo window type.
  static std::set<std::string> comboPopups() {
    std::set<std::string> out;
    std::istringstream ids(sh("xdotool search --onlyvisible --class ."));
    for (std::string id; ids >> id;)
      if (sh("xprop -id " + id + " _NET_WM_WINDOW_TYPE").find("_NET_WM_WINDOW_TYPE_COMBO") != std::string::npos)
        out.insert(id);
    return out;
  }

  static void drive(const std::atomic<bool>& done) {
    auto waitStep = [&done](const std::string& name) { return !done && shell->stepped(name, 90); };
    for (const char* step : {"geom-initial", "geom-move", "geom-resize", "geom-max", "geom-minimized",
                             "geom-restored", "geom-fullscreen", "geom-windowed"}) {
      if (!waitStep(step)) return;
      const std::string id = corvane::e2e::managedWindowNamed("BridgeTest");
      xRecords[step] = {{"geometry", xGeometry(id)}, {"state", sh("xprop -id " + id + " _NET_WM_STATE")}};
      shell->ack(step);
    }

    // A format-box entry as a person picks it: a click on the box, then
    // the keys in its pop-up. The pointer leaves the pop-up first so that
    // it selects no entry; Home then starts the walk at the first one.
    auto pickFormat = [&](const std::string& title, int entry) {
      int x = 0, y = 0;
      if (!waitUntil([&] { return done || formatBoxCentre(title, x, y); }, 60) || done) return false;
      const auto before = comboPopups();
      sh("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
      std::string popup;
      if (!waitUntil([&] {
            for (const auto& id : comboPopups())
              if (!before.count(id)) popup = id;
            return !popup.empty();
          }, 20))
        return false;
      sh("xdotool mousemove 0 0");
      std::string keys = "Home";
      for (int i = 0; i < entry; ++i) keys += " Down";
      key(keys + " Return");
      return waitUntil([&] { return !comboPopups().count(popup); }, 20);
    };
    // The page asks for a dialog at the step (none: it follows the last
    // one). Once it is up, the person focuses it, picks the format-box
    // entry, presses `before`, types `typed` and presses `after`.
    auto answer = [&](const char* step, const std::string& title, const char* before, const std::string& typed,
                      const char* after, int format = -1) {
      if (step && !waitStep(step)) return false;
      if (step) shell->ack(step);
      if (!waitUntil([&] { return done || windowShown(title); }, 60) || done) return false;
      sh(search(title) + " windowactivate --sync");
      if (format >= 0 && !pickFormat(title, format)) return false;
      if (*before) key(before);
      if (!typed.empty()) type(typed);
      key(after);
      return true;
    };
    const std::string d = dialogsDir();
    if (!answer("open-one", "E2E Open One", "", d + "/a.png", "Return") ||
        !answer("open-many", "E2E Open Many", "", d + "/b.jpg", "Return") ||
        !answer("open-folder", "E2E Open Folder", "", d + "/sub/", "Return"))
      return;
    // The folder is shown; accepting takes it.
    if (!waitUntil([] { return !windowShown("E2E Open Folder"); }, 3)) key("alt+o");
    if (!answer("open-cancel", "E2E Open Cancel", "", "", "Escape") ||
        !answer("open-warned", "API Use Warning", "", "", "Return") ||
        !answer(nullptr, "E2E Open Warned", "", "", "Escape") ||
        !answer("save-one", "E2E Save One", "ctrl+a", "drawing", "Return") ||
        !answer("save-replace", "E2E Save Replace", "ctrl+a", "old.gif", "Return"))
      return;
    // GTK asks before replacing; the question takes the focus.
    waitUntil([] { return sh("xdotool getactivewindow getwindowname").find("E2E Save Replace") == std::string::npos; },
              20);
    key("alt+r");
    // Back to the name field by its mnemonic once the format is picked.
    answer("save-format", "E2E Save Format", "alt+n ctrl+a", "picture", "Return", 1);
  }

  static inline std::unique_ptr<corvane::test::PrivateDesktop> desktop;
  static inline std::map<std::string, std::string> env;
  static inline int secondStatus = -1;
  static inline int64_t firstStart = 0, firstEnd = 0, secondStart = 0;
  static inline json xRecords = json::object(), defaultsAfterFirst, defaultsAfterSecond;
};

// The page's frame (lower-left origin, visible window) as the X window
// shows it, with the same invisible border on every side.
json pageFrameOf(const json& x, int border) {
  const int height = x["height"].get<int>() - 2 * border;
  return frame(x["x"].get<int>() + border, kScreenH - x["y"].get<int>() - border - height,
               x["width"].get<int>() - 2 * border, height);
}

TEST_F(WindowE2E, ThePageGotTheAnswersItExpected) { EXPECT_EQ(r("mismatches"), json::object()); }

TEST_F(WindowE2E, GeometryAndStatesReachTheRealWindow) {
  const json& g = r("geometry");
  for (const auto& [step, key] :
       {std::pair{"geom-initial", "initial"}, {"geom-move", "moved"}, {"geom-resize", "resized"}}) {
    ASSERT_TRUE(xRecords.contains(step)) << step << "\n" << *log;
    const json& x = xRecords[step]["geometry"];
    const int border = (x["width"].get<int>() - g[key]["width"].get<int>()) / 2;
    EXPECT_GE(border, 0) << step;
    EXPECT_EQ(pageFrameOf(x, border), g[key]) << step << " " << x;
  }
  const json screen = frame(0, 0, kScreenW, kScreenH);
  EXPECT_EQ(xRecords["geom-max"]["geometry"], screen);
  EXPECT_EQ(xRecords["geom-fullscreen"]["geometry"], screen);
  auto has = [](const char* step, const std::string& state) {
    return xRecords.value(step, json()).dump().find("_NET_WM_STATE_" + state) != std::string::npos;
  };
  // Each state on at its step, and off again at the next.
  EXPECT_EQ((json{has("geom-max", "MAXIMIZED_VERT"), has("geom-minimized", "HIDDEN"), has("geom-restored", "HIDDEN"),
                  has("geom-fullscreen", "FULLSCREEN"), has("geom-windowed", "FULLSCREEN")}),
            (json{true, true, false, true, false}))
      << xRecords;
}

// What the operations left: nothing refused was touched, and removals never
// followed a link out. Moves across file systems are the unit tests'.
TEST_F(WindowE2E, FileOperationsLeaveTheFilesAsAnswered) {
  const std::string s = scratch();
  EXPECT_EQ(readFile(s + "/a.txt"), "hello");
  EXPECT_EQ(readFile(s + "/home-copy.txt"), "at home");
  EXPECT_FALSE(fs::exists(s + "/to-move.txt"));
  EXPECT_EQ(readFile(s + "/moved.txt"), "move me");
  EXPECT_EQ(readFile(s + "/dir-moved/f.txt"), "f");
  EXPECT_FALSE(fs::exists(s + "/tree-copy"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(s + "/link-to-outside")));
  EXPECT_EQ(readFile(shell->root() + "/outside/keep.txt"), "keep");
  EXPECT_EQ(fs::status(s + "/made/deep").permissions() & fs::perms::mask, static_cast<fs::perms>(0700));
  // No file manager on the test's bus: the folder was handed to the desktop.
  EXPECT_NE(log->find("file manager did not answer"), std::string::npos);
}

TEST_F(WindowE2E, RecentDocumentsGoToTheDesktopList) {
  const std::string xbel = readFile(shell->root() + "/home/.local/share/recently-used.xbel");
  const std::string d = dialogsDir();
  EXPECT_NE(xbel.find("file://" + d + "/a.png"), std::string::npos) << xbel;
  EXPECT_NE(xbel.find("file://" + d + "/notes.txt"), std::string::npos) << xbel;
  EXPECT_EQ(xbel.find("missing.txt"), std::string::npos) << xbel;
  // A save typed as "drawing" and saved as drawing.png: one entry, the
  // real name, never the typed one.
  EXPECT_NE(xbel.find("href=\"file://" + d + "/drawing.png\""), std::string::npos) << xbel;
  EXPECT_EQ(xbel.find("href=\"file://" + d + "/drawing\""), std::string::npos) << xbel;
  // Every entry is the application's own, with the command that opens a
  // file with this bundle; none is the bare shell's.
  EXPECT_EQ(xbel.find("name=\"corvane\""), std::string::npos) << xbel;
  EXPECT_NE(xbel.find("name=\"BridgeTest\""), std::string::npos) << xbel;
  EXPECT_NE(xbel.find("--bundle"), std::string::npos) << xbel;
}

TEST_F(WindowE2E, LaunchTimeRecordsAcrossTwoStarts) {
  ASSERT_EQ(secondStatus, 0);
  const json& a = defaultsAfterFirst;
  const json& b = defaultsAfterSecond;
  ASSERT_TRUE(a.is_object() && b.is_object());
  EXPECT_GE(a["sys_firstLaunchTime"].get<int64_t>(), firstStart);
  EXPECT_EQ(a["sys_lastLaunchTime"], a["sys_firstLaunchTime"]);
  EXPECT_GE(a["sys_lastUseTime"].get<int64_t>(), a["sys_lastLaunchTime"].get<int64_t>());
  EXPECT_LE(a["sys_lastUseTime"].get<int64_t>(), firstEnd);
  EXPECT_EQ(b["sys_firstLaunchTime"], a["sys_firstLaunchTime"]);
  EXPECT_GE(b["sys_lastLaunchTime"].get<int64_t>(), secondStart);
  EXPECT_GT(b["sys_lastLaunchTime"].get<int64_t>(), a["sys_lastLaunchTime"].get<int64_t>());
  EXPECT_GE(b["sys_lastUseTime"].get<int64_t>(), b["sys_lastLaunchTime"].get<int64_t>());
}

}  // namespace
