// Drops, change watchers, capture and print, the info store and the file
// writer end to end: the real shell on a display of its own (Xvfb with
// openbox), a page that walks through them and compares every answer it can
// know (drops-pages/drops-checks.js), and a driver thread that acts as the
// person at the screen: it drags files from the tests' own drag source with
// xdotool over XTEST, answers alerts and the print dialog, changes watched
// files, and starts the shell a second time with files to open. A second
// suite kills the shell with SIGKILL in the middle of writes, many times.
#include "ProcessHelpers.h"
#include "ShellSuite.h"
#include "support/PrivateDesktop.h"

#include "app/InfoPlist.h"
#include "app/UserDefaults.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <filesystem>
#include <random>
#include <thread>

using nlohmann::json;
using corvane::e2e::sh;
using corvane::e2e::ShellHarness;
using corvane::e2e::waitUntil;
using corvane::test::readFile;
namespace fs = std::filesystem;

namespace {

class DropsE2E : public corvane::e2e::ShellSuite<DropsE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_DROPS_PAGES);
    setenv("HOME", (shell->root() + "/wm-home").c_str(), 1);  // openbox's state
    screen = std::make_unique<corvane::test::PrivateDesktop>(true);
    const std::string s = scratch();
    shell->writeFile(s + "/blocker", "a file where a folder should be");
    shell->writeFile(s + "/a-folder/inside.txt", "stays");
    shell->writeFile(s + "/watched.txt", "w");
    fs::create_directories(s + "/watched-dir");
    shell->writeFile(s + "/drop/a.txt", "aaa");
    shell->writeFile(s + "/drop/b.PNG", "not really");
    shell->writeFile(s + "/drop/folder/one.txt", std::string(1200, '1'));
    shell->writeFile(s + "/drop/folder/sub/two.txt", std::string(300, '2'));
    shell->writeFile(s + "/enc/utf8.txt", "Grüße, мир");
    shell->writeFile(s + "/enc/isolatin1.txt", "Gr\xfc\xdf" "e");
    shell->writeFile(s + "/enc/utf16le.txt", std::string("l\0\x13\x27", 4));  // "l✓"
    env = shell->sessionEnv();
    env["DISPLAY"] = screen->display();
    env["CORVANE_E2E_SCRATCH"] = s;
    env["CORVANE_E2E_BUNDLE"] = shell->bundlePath();
    runShell(env, 400, drive);  // DISPLAY for xdotool and xprop too
  }
  static void TearDownTestSuite() {
    screen.reset();
    ShellSuite::TearDownTestSuite();
  }

  static std::string scratch() { return shell->root() + "/scratch"; }

  // Titles in double quotes: the alert's holds an apostrophe.
  static std::string search(const std::string& title) {
    return "xdotool search --onlyvisible --name \"^" + title + "$\"";
  }
  static bool windowShown(const std::string& title) { return !sh(search(title)).empty(); }
  static corvane::test::PrivateDesktop::Geometry geometry(const std::string& title) {
    return screen->geometry(std::strtoul(corvane::e2e::managedWindowNamed(title).c_str(), nullptr, 10));
  }

  // Drags the paths from the drag source onto the middle of the page, with
  // the button held down while the pointer travels, as a hand does, once
  // the last drag's source has gone and its drop has settled.
  static void drag(const std::vector<std::string>& paths) {
    waitUntil([] { return !windowShown("DragSource"); }, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    std::vector<std::string> argv{CORVANE_E2E_DRAG_SOURCE};
    argv.insert(argv.end(), paths.begin(), paths.end());
    const pid_t source = corvane::e2e::spawn(argv);
    waitUntil([] { return windowShown("DragSource"); }, 30);
    sh("xdotool search --onlyvisible --name '^DragSource$' windowactivate --sync");
    const auto from = geometry("DragSource"), to = geometry("BridgeTest");
    const int x0 = from.x + 40, y0 = from.y + 40, x1 = to.x + to.width / 2, y1 = to.y + to.height / 2;
    sh("xdotool mousemove --sync " + std::to_string(x0) + " " + std::to_string(y0) + " mousedown 1");
    for (int i = 1; i <= 24; ++i)
      sh("xdotool mousemove --sync " + std::to_string(x0 + (x1 - x0) * i / 24) + " " +
         std::to_string(y0 + (y1 - y0) * i / 24) + " sleep 0.03");
    auto deliveries = [] {
      return corvane::test::countOf(shell->log(), "[Window dragDropViewFileList:withView:] [Line");
    };
    const size_t before = deliveries();
    sh("xdotool mousemove --sync " + std::to_string(x1 + 2) + " " + std::to_string(y1 + 2) + " sleep 0.3 mouseup 1");
    // The source hands over the data after the release: it stays until the
    // shell has taken the drop.
    waitUntil([&] { return deliveries() > before; }, 30);
    corvane::e2e::stop(source);
  }

  static void answerAlert(const std::string& title, const std::string& key) {
    if (!waitUntil([&] { return windowShown(title); }, 60)) return;
    seen[title] = true;
    sh(search(title) + " windowactivate --sync");
    sh("xdotool key --delay 80 " + key);
  }

  // Waits for the page's step and lets it go on.
  static bool step(const std::string& name) {
    if (!shell->stepped(name, 120)) return false;
    shell->ack(name);
    return true;
  }

  static void drive(const std::atomic<bool>&) {
    const std::string s = scratch();
    if (!step("writer-alert")) return;
    // Three alerts in a row: each is answered once it is up, after the one
    // before it has gone.
    for (int i = 0; i < 3; ++i) {
      answerAlert("Can't save file", "Return");
      waitUntil([] { return !windowShown("Can't save file"); }, 30);
    }

    if (!shell->stepped("watch-changes", 120)) return;
    const std::string wf = s + "/watched.txt";
    { std::ofstream(wf, std::ios::app) << "more"; }
    shell->writeFile(s + "/watched-dir/new.txt", "n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::unlink(wf.c_str());
    shell->ack("watch-changes");

    const std::string d = s + "/drop";
    if (!step("drop-bare")) return;
    drag({d + "/a.txt"});
    shell->ack("drop-bare-done");
    if (!step("drop-host")) return;
    drag({d + "/a.txt", d + "/missing.txt"});
    if (!step("drop-accept")) return;
    drag({d + "/a.txt", d + "/b.PNG", d + "/folder", d + "/missing.txt"});
    if (!step("drop-reject")) return;
    drag({d + "/folder", d + "/b.PNG"});
    answerAlert("Prompt", "Return");
    shell->ack("drop-reject-done");
    if (!step("drop-none")) return;
    drag({d + "/a.txt"});
    answerAlert("Prompt", "Return");
    shell->ack("drop-none-done");

    if (!step("open-files")) return;
    secondStatus = ShellHarness::wait(shell->start(env, "second.log", {d + "/a.txt", d + "/folder"}), 120);

    if (!step("print")) return;
    answerAlert("Print", "Escape");
  }

  static inline std::unique_ptr<corvane::test::PrivateDesktop> screen;
  static inline std::map<std::string, std::string> env;
  static inline int secondStatus = -1;
  static inline json seen = json::object();
};

TEST_F(DropsE2E, ThePageGotTheAnswersItExpected) {
  EXPECT_EQ(r("mismatches"), json::object());
  // The shell's own bundle, asked without a callback.
  EXPECT_EQ(r("other"), (json{{"success", true},
                              {"info", {{"AppId", shell->identifier()}, {"AppName", "BridgeTest"},
                                        {"AppVersion", "1.2.3"}, {"AppBuildVersion", "7"}}}}));
}

// The files as the writer and the store leave them, and the alerts shown
// where they could not write.
TEST_F(DropsE2E, TheWriterAndTheStoreLeaveTheFilesAsAnswered) {
  const std::string s = scratch();
  for (const auto& [file, bytes] : std::vector<std::pair<std::string, std::string>>{
           {"/out/deep/bytes.bin", std::string("\x00\xff\x00\xff", 4)},
           {"/chunks.bin", std::string("\x01\x02\x03\x04", 4)},
           {"/gap.bin", std::string("\x01\x00\x00\x09", 4)},
           {"/replace.bin", "\x07"},
           {"/b64.txt", "Hello, world!"},
           {"/t.txt", "héllo more"},
           {"/a-folder/inside.txt", "stays"}})
    EXPECT_EQ(readFile(s + file), bytes) << file;
  EXPECT_TRUE(fs::exists(s + "/empty.bin"));
  EXPECT_EQ(fs::status(s + "/out/deep/bytes.bin").permissions() & fs::perms::mask, fs::perms(0600));
  setenv("XDG_CONFIG_HOME", (shell->root() + "/home/.config").c_str(), 1);
  const std::string defaults = corvane::UserDefaults::pathForIdentifier(shell->identifier());
  const json stored = json::parse(readFile(defaults), nullptr, false);
  EXPECT_EQ(stored["e2e.empty"], "");
  EXPECT_FALSE(stored.contains("e2e.flag"));
  EXPECT_NE(log->find("Caught Exception: \"data\" is not an array"), std::string::npos);
  EXPECT_TRUE(seen.value("Can't save file", false));
  EXPECT_NE(log->find("Can't save file: Not a directory"), std::string::npos);
  EXPECT_EQ(corvane::test::countOf(*log, "Can't save file: Is a directory"), 2u) << *log;
}

TEST_F(DropsE2E, RefusedDropsRaiseThePromptAndMissingHooksNoError) {
  EXPECT_TRUE(seen.value("Prompt", false));
  EXPECT_NE(log->find("Prompt: Dragging content, the system does not accept"), std::string::npos);
  EXPECT_NE(log->find("Prompt: Does not support drag and drop files or directories"), std::string::npos);
  for (const char* trace : {"JavaScript console: ReferenceError", "JavaScript console: TypeError"})
    EXPECT_EQ(log->find(trace), std::string::npos) << *log;
  // The second start handed its files to this one and ended.
  EXPECT_EQ(secondStatus, 0);
  EXPECT_NE(log->find("Received notification: "), std::string::npos);
}

TEST_F(DropsE2E, ImagesCapturesAndDocumentsAreMade) {
  const std::string s = scratch();
  auto identify = [&](const std::string& file) { return sh("gm identify -format '%m %wx%h' '" + s + file + "'"); };
  EXPECT_EQ(identify("/img/pic-gif"), "GIF 40x30\n");
  EXPECT_EQ(identify("/shot.png"), "PNG 1280x800\n");  // the screen's size
  for (const char* file : {"/page.pdf", "/page2.pdf"})
    EXPECT_NE(sh("pdftotext '" + s + file + "' -").find("Corvane drops end to end"), std::string::npos) << file;
  EXPECT_TRUE(seen.value("Print", false));
}

// ---- kill -9 in the middle of a stream of writes ------------------------------------------

TEST(DropsE2EKill, KillNineDuringWritesLeavesTheOldOrTheNewContent) {
  ShellHarness shell;
  shell.makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_DROPS_PAGES);
  auto env = shell.sessionEnv();
  const std::string s = shell.root() + "/scratch";
  fs::create_directories(s);
  env["CORVANE_E2E_SCRATCH"] = s;
  env["CORVANE_E2E_PHASE"] = "stream";
  setenv("XDG_CONFIG_HOME", (shell.root() + "/home/.config").c_str(), 1);
  const std::string defaultsFile = corvane::UserDefaults::pathForIdentifier(shell.identifier());
  const std::string big(20000, 'x');
  std::mt19937 rng(4242);
  for (int round = 0; round < 8; ++round) {
    const std::string log = shell.root() + "/stream-" + std::to_string(round) + ".log";
    const pid_t pid = shell.start(env, fs::path(log).filename());
    const bool started =
        waitUntil([&] { return readFile(log).find("E2E-STEP stream-started") != std::string::npos; }, 60);
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + rng() % 1500));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(started) << readFile(log);
    const json stored = json::parse(readFile(defaultsFile), nullptr, false);
    ASSERT_TRUE(stored.is_object()) << "round " << round << ": the defaults file is torn";
    ASSERT_TRUE(stored.contains("stream")) << "round " << round;
    EXPECT_TRUE(stored["stream"]["big"] == big) << "round " << round;
    EXPECT_GT(stored["stream"]["i"].get<int64_t>(), 0);
    std::string why;
    auto plist = corvane::readPropertyList(s + "/stream.plist", &why);
    ASSERT_TRUE(plist && plist->is_object()) << "round " << round << ": " << why;
    EXPECT_TRUE((*plist)["big"] == big) << "round " << round;
  }
  for (const auto& e : fs::directory_iterator(fs::path(defaultsFile).parent_path()))
    EXPECT_EQ(e.path().filename().string().find(".corrupt-"), std::string::npos) << e.path();
}

}  // namespace
