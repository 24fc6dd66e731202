// The Notes example as its users meet it: the shipped shell on the staged
// bundle, on a desktop of its own with a notification daemon, driven with
// real keys, dialogs and drags.
#include "ProcessHelpers.h"
#include "ShellHarness.h"
#include "../app/LiveShell.h"
#include "support/PrivateBus.h"
#include "support/PrivateDesktop.h"
#include "support/TestFiles.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using corvane::e2e::sh;
using corvane::e2e::waitUntil;
using corvane::test::readFile;
using corvane::test::writeFile;

namespace {

class NotesE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    harness = new corvane::e2e::ShellHarness();
    const std::string root = harness->root();
    fs::create_directories(root + "/wm-home");
    setenv("HOME", (root + "/wm-home").c_str(), 1);  // openbox keeps its state there
    desktop = new corvane::test::PrivateDesktop(true);
    setenv("DISPLAY", desktop->display().c_str(), 1);  // for xdotool, xclip and the drag source
    fs::create_directories(root + "/services");
    bus = new corvane::test::PrivateBus(root + "/services");
    setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
    writeFile(root + "/dunstrc", "[urgency_normal]\n    timeout = 0\n");
    int fd = ::open((root + "/dunst.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dunst = corvane::e2e::spawn({"stdbuf", "-oL", "dunst", "-config", root + "/dunstrc", "-print"}, fd);
    ::close(fd);
  }
  static void TearDownTestSuite() {
    corvane::e2e::stop(dunst);
    delete bus;
    delete desktop;
    delete harness;
  }

  void SetUp() override {
    folder = harness->root() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(folder + "/docs");
  }

  // Starts Notes in a home of this test's own (kept across starts).
  void start(const std::vector<std::string>& files = {}) {
    auto env = harness->sessionEnv();
    for (auto& [key, value] : env) value.replace(0, harness->root().size(), folder);
    env["GTK_USE_PORTAL"] = "0";        // GTK's own dialogs, in the process, for xdotool
    env["CORVANE_LOG_LEVEL"] = "info";  // the page's console lines in the log
    shell.reset();
    shell = std::make_unique<corvane::life::LiveShell>(
        CORVANE_BINARY, CORVANE_NOTES_APP, folder + "/notes-" + std::to_string(++starts) + ".log", env, files);
    ASSERT_TRUE(waitUntil([] { return !window().empty(); }, 60)) << shell->log();
    sh("xdotool windowactivate --sync " + window());
  }
  void quit() {
    key("ctrl+q");
    EXPECT_EQ(shell->waitForExit(30), 0) << shell->log();
  }

  // Notes' window: the one whose title ends with " — Notes".
  static std::string window() {
    std::string id = sh("xdotool search --onlyvisible --name ' — Notes$' | head -1");
    return id.substr(0, id.find('\n'));
  }
  static std::string title() {
    const std::string id = window();
    return id.empty() ? "" : sh("xdotool getwindowname " + id + " | tr -d '\\n'");
  }
  static bool titled(const std::string& text) {
    return waitUntil([&] { return title() == text; }, 20);
  }
  bool logged(const std::string& text) { return shell->waitForLog(text, 30); }
  static void key(const std::string& keys) { sh("xdotool key --clearmodifiers --delay 100 " + keys); }
  // Types `text` (line breaks too) as the keyboard would.
  static void type(const std::string& text) {
    const std::string file = harness->root() + "/typed.txt";
    for (size_t from = 0;;) {
      const size_t end = text.find('\n', from);
      writeFile(file, text.substr(from, end == std::string::npos ? end : end - from));
      sh("xdotool type --delay 20 --file " + file);
      if (end == std::string::npos) break;
      key("Return");
      from = end + 1;
    }
  }
  // A file dialog of the page: the path typed into its name field, then Enter.
  static bool answerFileDialog(const std::string& dialogTitle, const std::string& path) {
    const std::string search = "xdotool search --onlyvisible --name '^" + dialogTitle + "$'";
    if (!waitUntil([&] { return !sh(search).empty(); }, 30)) return false;
    sh(search + " windowactivate --sync");
    key("ctrl+a");
    type(path);
    key("Return");
    return true;
  }
  // Another program replaces the file the way most editors save: a new
  // file renamed over the old one.
  static void replaceAtomically(const std::string& path, const std::string& text) {
    writeFile(path + ".tmp~", text);
    fs::rename(path + ".tmp~", path);
  }

  static inline corvane::e2e::ShellHarness* harness = nullptr;
  static inline corvane::test::PrivateDesktop* desktop = nullptr;
  static inline corvane::test::PrivateBus* bus = nullptr;
  static inline pid_t dunst = -1;
  std::string folder;
  std::unique_ptr<corvane::life::LiveShell> shell;
  int starts = 0;
};

// Writing a new note, saving it, exporting it, and the file changing under
// the editor: reloaded when the editor has nothing of its own, asked about
// when it has; the person's own edits kept and saved over the other's.
TEST_F(NotesE2E, WritesSavesExportsAndFollowsTheFileOnDisk) {
  start();
  const std::string path = folder + "/docs/list.md";
  key("ctrl+n");
  ASSERT_TRUE(titled("Untitled — Notes")) << title();
  type("# Shopping\n\n- milk");
  EXPECT_TRUE(titled("• Untitled — Notes")) << "the unsaved mark: " << title();
  key("ctrl+s");
  ASSERT_TRUE(answerFileDialog("Save As", path));
  ASSERT_TRUE(waitUntil([&] { return readFile(path) == "# Shopping\n\n- milk"; }, 20)) << readFile(path);
  EXPECT_TRUE(titled("list.md — Notes")) << title();

  replaceAtomically(path, "# Shopping\n\n- bread");
  ASSERT_TRUE(logged("reloaded " + path)) << shell->log();
  EXPECT_TRUE(titled("list.md — Notes")) << title();

  key("ctrl+End");
  type(" and eggs");
  replaceAtomically(path, "# Shopping\n\n- tea");
  ASSERT_TRUE(logged("question: “list.md” was changed by another program")) << shell->log();
  key("alt+k");
  ASSERT_TRUE(logged("answer: keep")) << shell->log();
  EXPECT_TRUE(titled("• list.md — Notes")) << title();
  key("ctrl+s");
  EXPECT_TRUE(waitUntil([&] { return readFile(path) == "# Shopping\n\n- bread and eggs"; }, 20)) << readFile(path);
  EXPECT_TRUE(titled("list.md — Notes")) << title();

  // Copy as HTML, and the export as PDF with its notification.
  key("ctrl+shift+c");
  ASSERT_TRUE(logged("copied as HTML")) << shell->log();
  EXPECT_NE(sh("xclip -o -selection clipboard").find("<h1>Shopping</h1>"), std::string::npos);
  key("ctrl+e");
  ASSERT_TRUE(answerFileDialog("Export as PDF", folder + "/docs/list.pdf"));
  ASSERT_TRUE(logged("exported list.pdf")) << shell->log();
  EXPECT_EQ(readFile(folder + "/docs/list.pdf").substr(0, 5), "%PDF-");
  const std::string daemonLog = harness->root() + "/dunst.out";
  EXPECT_TRUE(waitUntil([&] { return readFile(daemonLog).find("Exported as PDF") != std::string::npos; }, 20))
      << readFile(daemonLog);
  quit();
}

// Unsaved work survives every way out until the person gives it up: Quit
// and Close Window ask the page's own question; Don't Save writes nothing.
TEST_F(NotesE2E, UnsavedWorkIsKeptUntilThePersonLetsItGo) {
  const std::string path = folder + "/docs/draft.md";
  writeFile(path, "draft\n");
  start({path});
  ASSERT_TRUE(titled("draft.md — Notes")) << shell->log();
  key("ctrl+End");
  type("more");
  ASSERT_TRUE(titled("• draft.md — Notes")) << title();

  auto count = [&](const std::string& line) { return corvane::test::countOf(shell->log(), line); };
  size_t asked = 0;
  for (const char* keys : {"ctrl+q", "ctrl+w"}) {
    key(keys);
    ++asked;
    ASSERT_TRUE(waitUntil([&] { return count("question: Save the changes to “draft.md”") == asked; }, 30))
        << keys << "\n" << shell->log();
    key("Escape");
    ASSERT_TRUE(waitUntil([&] { return count("answer: cancel") == asked; }, 30)) << shell->log();
    EXPECT_TRUE(shell->running()) << keys;
  }
  sh("xdotool windowactivate --sync " + window());
  key("ctrl+q");
  ASSERT_TRUE(waitUntil([&] { return count("question: Save the changes to “draft.md”") == 3; }, 30)) << shell->log();
  key("alt+d");
  EXPECT_EQ(shell->waitForExit(30), 0) << shell->log();
  EXPECT_EQ(readFile(path), "draft\n");
}

// Files reach the editor as a person hands them over: on the command line
// (as the desktop opens a document), dropped from another program, and
// from the recent documents the next start opens again.
TEST_F(NotesE2E, OpensHandedOverAndDroppedFilesAndRemembersThem) {
  const std::string first = folder + "/docs/first.md", dropped = folder + "/docs/dropped.md";
  writeFile(first, "# First\n");
  writeFile(dropped, "# Dropped\n");
  start({first});
  ASSERT_TRUE(logged("opened " + first)) << shell->log();

  const pid_t source = corvane::e2e::spawn({CORVANE_E2E_DRAG_SOURCE, dropped});
  ASSERT_TRUE(waitUntil([] { return !sh("xdotool search --onlyvisible --name '^DragSource$'").empty(); }, 30));
  // Side by side: the source at the top left, Notes beside it. The button
  // stays down while the pointer travels, as a hand does.
  sh("xdotool windowmove --sync " + window() + " 300 100");
  sh("xdotool search --onlyvisible --name '^DragSource$' windowactivate --sync");
  sh("xdotool mousemove --sync 40 60 mousedown 1");
  for (int i = 1; i <= 20; ++i)
    sh("xdotool mousemove --sync " + std::to_string(40 + 660 * i / 20) + " " + std::to_string(60 + 340 * i / 20) +
       " sleep 0.03");
  sh("xdotool mousemove --sync 702 402 sleep 0.3 mouseup 1");
  const bool opened = logged("opened " + dropped);
  corvane::e2e::stop(source);
  ASSERT_TRUE(opened) << shell->log();
  EXPECT_TRUE(titled("dropped.md — Notes")) << title();
  quit();
  const auto defaults = nlohmann::json::parse(readFile(folder + "/home/.config/corvane/app.corvane.notes.json"),
                                              nullptr, false);
  EXPECT_EQ(defaults.value("recentDocuments", nlohmann::json()), nlohmann::json({dropped, first})) << defaults;

  start();
  EXPECT_TRUE(logged("opened " + dropped)) << shell->log();
  EXPECT_TRUE(titled("dropped.md — Notes")) << title();
  quit();
}

}  // namespace
