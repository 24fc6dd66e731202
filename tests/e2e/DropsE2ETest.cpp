// Drops, change watchers, capture and print, the info store and the file
// writer end to end: the real shell on a display of its own (Xvfb with
// openbox), a page that walks through them (drops-pages/drops-checks.js),
// and a driver thread that acts as the person at the screen: it drags files
// from the tests' own drag source onto the page with xdotool over XTEST,
// answers alerts and the print dialog, changes watched files, and starts
// the shell a second time with files to open. A second suite kills the
// shell with SIGKILL in the middle of a stream of writes, many times.
#include "ShellHarness.h"
#include "ProcessHelpers.h"
#include "support/PrivateDesktop.h"

#include "app/InfoPlist.h"
#include "app/UserDefaults.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

using nlohmann::json;
using corvane::e2e::sh;
using corvane::e2e::ShellHarness;
using corvane::e2e::waitUntil;
using corvane::test::readFile;
namespace fs = std::filesystem;

namespace {

constexpr int kScreenW = 1280, kScreenH = 800;

// The encodings the page reads, with the iconv name that writes the sample
// (nullptr: the bytes are given) and the text.
struct EncodingCase {
  const char* name;
  const char* iconv;
  const char* text;
};
const EncodingCase kEncodings[] = {
    {"ascii", "ASCII", "plain text"},
    {"japaneseeuc", "EUC-JP", "日本語のテキスト"},
    {"utf8", "UTF-8", "Grüße, мир"},
    {"isolatin1", "ISO-8859-1", "Grüße à côté"},
    {"shiftjis", "SHIFT_JIS", "シフトジス"},
    {"isolatin2", "ISO-8859-2", "Zażółć gęślą"},
    {"unicode", "UTF-16", "Unicode ☃"},
    {"utf16", "UTF-16", "also ☃"},
    {"windowscp1251", "CP1251", "Привет"},
    {"windowscp1252", "CP1252", "€ “ok”"},
    {"windowscp1253", "CP1253", "Καλημέρα"},
    {"windowscp1254", "CP1254", "Günaydın ş"},
    {"windowscp1250", "CP1250", "Dobrý den ř"},
    {"iso2022jp", "ISO-2022-JP", "日本語"},
    {"macosroman", "MACINTOSH", "Café π"},
    {"utf16bigendian", "UTF-16BE", "big ✓"},
    {"utf16littleendian", "UTF-16LE", "little ✓"},
    {"nextstep", nullptr, "AÀÆß"},
    {"symbol", nullptr, "αβγ ∞"},
    {"nonlossyascii", nullptr, "café"},
};
std::string givenBytes(const std::string& name) {
  if (name == "nextstep") return "A\x81\xe1\xfb";
  if (name == "symbol") return "abg \xa5";
  return "caf\\u00e9";
}

class DropsE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shell = new ShellHarness();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_DROPS_PAGES);
    // openbox keeps its state in a home of its own; the desktop's screen is
    // kScreenW x kScreenH.
    const std::string home = shell->root() + "/wm-home";
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    screen = new corvane::test::PrivateDesktop(true);
    setenv("DISPLAY", screen->display().c_str(), 1);  // for xdotool and xprop
    makeFiles();
    env = new std::map<std::string, std::string>(shell->sessionEnv());
    (*env)["DISPLAY"] = screen->display();
    (*env)["CORVANE_E2E_ACK"] = shell->root() + "/ack";
    (*env)["CORVANE_E2E_SCRATCH"] = scratch();
    (*env)["CORVANE_E2E_BUNDLE"] = shell->bundlePath();
    json names = json::array();
    for (const auto& c : kEncodings) names.push_back(c.name);
    (*env)["CORVANE_E2E_ENCODINGS"] = names.dump();
    std::atomic<bool> done{false};
    std::thread driver([&done] { drive(done); });
    status = shell->run(*env, 400);
    done = true;
    driver.join();
    report = new json(shell->report());
    log = new std::string(shell->log());
  }

  static void TearDownTestSuite() {
    delete report;
    delete log;
    delete env;
    delete screen;
    delete shell;
  }

  static std::string scratch() { return shell->root() + "/scratch"; }

  static void makeFiles() {
    const std::string s = scratch();
    shell->writeFile(s + "/blocker", "a file where a folder should be");
    shell->writeFile(s + "/a-folder/inside.txt", "stays");
    shell->writeFile(s + "/watched.txt", "w");
    fs::create_directories(s + "/watched-dir");
    shell->writeFile(s + "/drop/a.txt", "aaa");
    shell->writeFile(s + "/drop/b.PNG", "not really");
    shell->writeFile(s + "/drop/folder/one.txt", std::string(1200, '1'));
    shell->writeFile(s + "/drop/folder/sub/two.txt", std::string(300, '2'));
    fs::create_directories(shell->root() + "/ack");
    for (const auto& c : kEncodings) {
      const std::string out = s + "/enc/" + c.name + ".txt";
      if (!c.iconv) {
        shell->writeFile(out, givenBytes(c.name));
        continue;
      }
      shell->writeFile(s + "/enc/src.txt", c.text);
      ASSERT_EQ(std::system(("iconv -f UTF-8 -t " + std::string(c.iconv) + " '" + s + "/enc/src.txt' > '" + out + "'").c_str()), 0);
    }
  }

  // ---- the person at the screen ---------------------------------------------------

  static bool stepLogged(const std::string& name) {
    return shell->log().find("E2E-STEP " + name + " ") != std::string::npos;
  }
  static void ack(const std::string& name) { shell->writeFile(shell->root() + "/ack/" + name, ""); }
  // A window-name pattern for the shell: "^title$" in single quotes.
  static std::string namePattern(const std::string& title) {
    std::string quoted;
    for (char c : title) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return "'^" + quoted + "$'";
  }
  static bool windowShown(const std::string& title) {
    return !sh("xdotool search --onlyvisible --name " + namePattern(title)).empty();
  }
  static json geometry(const std::string& title) {
    const std::string id = corvane::e2e::managedWindowNamed(title);
    std::istringstream in(id.empty() ? std::string() : sh("xdotool getwindowgeometry --shell " + id));
    json g = json::object();
    std::string line;
    while (std::getline(in, line)) {
      const auto eq = line.find('=');
      if (eq != std::string::npos && line.substr(0, eq) != "WINDOW" && line.substr(0, eq) != "SCREEN")
        g[line.substr(0, eq)] = std::stoi(line.substr(eq + 1));
    }
    return g;
  }

  static size_t deliveries() {
    const std::string text = shell->log();
    size_t n = 0;
    for (size_t at = text.find("[Window dragDropViewFileList:withView:] [Line"); at != std::string::npos;
         at = text.find("[Window dragDropViewFileList:withView:] [Line", at + 1))
      ++n;
    return n;
  }

  // Drags the paths from the drag source onto the middle of the page, with
  // the button held down while the pointer travels, as a hand does.
  static void drag(const std::vector<std::string>& paths) {
    // The last drag's source has gone and its drop has settled, as between
    // two drags of a hand.
    waitUntil([] { return !windowShown("DragSource"); }, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    std::vector<std::string> argv{CORVANE_E2E_DRAG_SOURCE};
    argv.insert(argv.end(), paths.begin(), paths.end());
    const pid_t source = corvane::e2e::spawn(argv);
    waitUntil([] { return windowShown("DragSource"); }, 30);
    sh("xdotool search --onlyvisible --name '^DragSource$' windowactivate --sync");
    const json from = geometry("DragSource");
    const json to = geometry("BridgeTest");
    const int x0 = from.value("X", 0) + 40, y0 = from.value("Y", 0) + 40;
    const int x1 = to.value("X", 0) + to.value("WIDTH", 0) / 2, y1 = to.value("Y", 0) + to.value("HEIGHT", 0) / 2;
    sh("xdotool mousemove --sync " + std::to_string(x0) + " " + std::to_string(y0) + " mousedown 1");
    for (int i = 1; i <= 24; ++i) {
      const int x = x0 + (x1 - x0) * i / 24, y = y0 + (y1 - y0) * i / 24;
      sh("xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y) + " sleep 0.03");
    }
    const size_t before = deliveries();
    sh("xdotool mousemove --sync " + std::to_string(x1 + 2) + " " + std::to_string(y1 + 2) + " sleep 0.3 mouseup 1");
    // The source hands over the data after the release: it stays until the
    // shell has taken the drop.
    waitUntil([before] { return deliveries() > before; }, 30);
    corvane::e2e::stop(source);
  }

  static void answerAlert(const std::string& title, const std::string& key) {
    if (!waitUntil([&] { return windowShown(title); }, 60)) return;
    (*seen)[title] = true;
    sh("xdotool search --onlyvisible --name " + namePattern(title) + " windowactivate --sync");
    sh("xdotool key --delay 80 " + key);
  }

  static void drive(const std::atomic<bool>& done) {
    auto waitStep = [&done](const std::string& name) {
      return waitUntil([&] { return done || stepLogged(name); }, 120) && !done;
    };
    const std::string s = scratch();
    if (!waitStep("writer-alert")) return;
    ack("writer-alert");
    // Three alerts in a row: each is answered once it is up, after the one
    // before it has gone.
    for (int i = 0; i < 3; ++i) {
      answerAlert("Can't save file", "Return");
      waitUntil([] { return !windowShown("Can't save file"); }, 30);
    }

    if (!waitStep("watch-changes")) return;
    const std::string wf = s + "/watched.txt", wd = s + "/watched-dir";
    auto pace = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
    shell->writeFile(s + "/append-tmp", "");
    { std::ofstream(wf, std::ios::app) << "more"; }
    pace();
    ::chmod(wf.c_str(), 0600);
    pace();
    ::link(wf.c_str(), (s + "/hard-link").c_str());
    pace();
    shell->writeFile(wd + "/new.txt", "n");
    pace();
    fs::create_directory(wd + "/sub");
    pace();
    fs::rename(wf, s + "/watched-moved.txt");
    pace();
    shell->writeFile(wf, "again");
    pace();
    ::unlink(wf.c_str());
    ack("watch-changes");

    const std::string d = s + "/drop";
    if (!waitStep("drop-bare")) return;
    ack("drop-bare");
    drag({d + "/a.txt"});
    ack("drop-bare-done");

    if (!waitStep("drop-host")) return;
    ack("drop-host");
    drag({d + "/a.txt", d + "/missing.txt"});

    if (!waitStep("drop-accept")) return;
    ack("drop-accept");
    drag({d + "/a.txt", d + "/b.PNG", d + "/folder", d + "/missing.txt"});

    if (!waitStep("drop-reject")) return;
    ack("drop-reject");
    drag({d + "/folder", d + "/b.PNG"});
    answerAlert("Prompt", "Return");
    ack("drop-reject-done");

    if (!waitStep("drop-none")) return;
    ack("drop-none");
    drag({d + "/a.txt"});
    answerAlert("Prompt", "Return");
    ack("drop-none-done");

    if (!waitStep("open-files")) return;
    ack("open-files");
    const int second = shell->start(*env, "second.log", {d + "/a.txt", d + "/folder"});
    int st = 0;
    waitpid(second, &st, 0);
    secondStatus = WIFEXITED(st) ? WEXITSTATUS(st) : -1;

    if (!waitStep("print")) return;
    ack("print");
    answerAlert("Print", "Escape");
  }

  void SetUp() override {
    ASSERT_EQ(status, 0) << *log;
    ASSERT_TRUE(report->is_object()) << "the page sent no report\n" << *log;
    ASSERT_FALSE(report->contains("pageError")) << (*report)["pageError"] << "\n" << *log;
  }
  static const json& r(const char* section, const char* key) { return (*report)[section][key]; }

  static ShellHarness* shell;
  static corvane::test::PrivateDesktop* screen;
  static std::map<std::string, std::string>* env;
  static int status, secondStatus;
  static json* report;
  static json* seen;
  static std::string* log;
};

ShellHarness* DropsE2E::shell = nullptr;
corvane::test::PrivateDesktop* DropsE2E::screen = nullptr;
std::map<std::string, std::string>* DropsE2E::env = nullptr;
int DropsE2E::status = -1;
int DropsE2E::secondStatus = -1;
json* DropsE2E::report = nullptr;
json* DropsE2E::seen = new json(json::object());
std::string* DropsE2E::log = nullptr;

TEST_F(DropsE2E, InfoFilesAndDefaultsAnswerExactly) {
  auto S = [](const char* k) { return r("store", k); };
  EXPECT_EQ(S("saved"), (json{{"success", true}}));
  EXPECT_EQ(S("read"), (json{{"success", true}, {"result", S("info")}}));
  EXPECT_NE(readFile(scratch() + "/info.plist").find("<plist version=\"1.0\">"), std::string::npos);
  EXPECT_EQ(S("savedArray"), (json{{"success", true}}));
  EXPECT_EQ(S("readArray")["success"], false);
  EXPECT_TRUE(S("readArray")["error"].is_string());
  EXPECT_EQ(S("text"), (json{{"success", false}, {"error", "data format type is error."}}));
  EXPECT_EQ(S("missing"), (json{{"success", false}, {"error", "file is not exists."}}));
  EXPECT_EQ(S("setFalse"), (json{{"success", true}}));
  EXPECT_EQ(S("getFalse"), (json{{"success", true}, {"result", false}}));
  EXPECT_EQ(S("getEmpty"), (json{{"success", true}, {"result", ""}}));
  EXPECT_EQ(S("getObject"), (json{{"success", true}, {"result", {{"a", {1, {{"b", "c"}}}}}}}));
  EXPECT_EQ(S("setNoValue"), (json{{"success", false}, {"error", "key and value can't empty!"}}));
  EXPECT_EQ(S("getNever"), (json{{"success", false}, {"error", "map key value no found!"}}));
  EXPECT_EQ(S("removeNever"), (json{{"success", false}, {"error", "map key value no found!"}}));
  EXPECT_EQ(S("remove"), (json{{"success", true}}));
  EXPECT_EQ(S("afterRemove"), (json{{"success", false}, {"error", "map key value no found!"}}));
  EXPECT_EQ(S("noKey"), (json{{"success", false}, {"error", "key can't empty!"}}));
  EXPECT_EQ(S("launch")["success"], true);
  // The shell's own bundle, asked without a callback.
  EXPECT_EQ(S("other"), (json{{"success", true},
                              {"info", {{"AppId", shell->identifier()},
                                        {"AppName", "BridgeTest"},
                                        {"AppVersion", "1.2.3"},
                                        {"AppBuildVersion", "7"}}}}));
  EXPECT_EQ(S("otherPlain"), (json{{"success", false}, {"error", "info is null"}}));
  EXPECT_EQ(S("otherNone"), (json{{"success", false}}));
  // The defaults went to disk.
  setenv("XDG_CONFIG_HOME", (shell->root() + "/home/.config").c_str(), 1);
  const json stored = json::parse(readFile(corvane::UserDefaults::pathForIdentifier(shell->identifier())), nullptr, false);
  EXPECT_EQ(stored["e2e.empty"], "");
  EXPECT_FALSE(stored.contains("e2e.flag"));
}

TEST_F(DropsE2E, TheWriterWritesBytesChunksBase64AndTextExactly) {
  const std::string s = scratch();
  auto X = [](const char* k) { return r("writer", k); };
  EXPECT_EQ(X("bytes"), (json{{"success", true}, {"filePath", s + "/out/deep/bytes.bin"}, {"bytesWritten", 4}}));
  EXPECT_EQ(readFile(s + "/out/deep/bytes.bin"), std::string("\x00\xff\x00\xff", 4));
  struct stat st{};
  ::stat((s + "/out/deep/bytes.bin").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(X("chunk2")["bytesWritten"], 2);
  EXPECT_EQ(X("truncated"), 4);
  // A method that fails with a system error throws its cause in words.
  EXPECT_EQ(X("truncatedFolder"), "cannot open " + s + "/a-folder: it is a folder");
  EXPECT_EQ(readFile(s + "/chunks.bin"), std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(readFile(s + "/gap.bin"), std::string("\x01\x00\x00\x09", 4));
  const json nothing = {{"success", false}, {"error", "bytesWritten = 0; may be set to -1 on error [fileStream streamError]"}};
  EXPECT_EQ(X("empty"), nothing);
  EXPECT_TRUE(fs::exists(s + "/empty.bin"));
  EXPECT_EQ(readFile(s + "/replace.bin"), "\x07");
  EXPECT_EQ(X("base64")["base64Code"], "SGVs\nbG8s\r\nIHdv cmxk\nIQ==");
  EXPECT_EQ(readFile(s + "/b64.txt"), "Hello, world!");
  EXPECT_EQ(readFile(s + "/t.txt"), "héllo more");
  EXPECT_EQ(X("noText"), nothing);
  EXPECT_EQ(X("badData"), nothing);
  EXPECT_NE(log->find("Caught Exception: \"data\" is not an array"), std::string::npos);
  EXPECT_TRUE(X("badParams").is_null());
  EXPECT_EQ(X("innerNullPath"), (json{{"success", false}, {"error", "invalid filePath"}}));
  // The unwritable path: the alert was shown and answered, then the answer.
  EXPECT_TRUE(seen->value("Can't save file", false));
  EXPECT_EQ(X("alert"), (json{{"success", false}}));
  EXPECT_NE(log->find("Can't save file: Not a directory"), std::string::npos);
  // A folder as the target: answered after the alert, and left as it was.
  EXPECT_EQ(X("alertFolder"), (json{{"success", false}}));
  EXPECT_EQ(X("alertFolderReplace"), (json{{"success", false}}));
  EXPECT_EQ(corvane::test::countOf(*log, "Can't save file: Is a directory"), 2u) << *log;
  EXPECT_EQ(readFile(s + "/a-folder/inside.txt"), "stays");
}

TEST_F(DropsE2E, EveryImageTypeIsWrittenAndDecodable) {
  const std::string s = scratch();
  const json& images = r("writer", "images");
  const std::map<std::string, std::string> formats{{"png", "PNG"}, {"gif", "GIF"}, {"tiff", "TIFF"}, {"tif", "TIFF"},
                                                   {"jpg", "JPEG"}, {"bmp", "BMP"}, {"webp", "PNG"}};
  for (const auto& [type, format] : formats) {
    EXPECT_EQ(images[type], (json{{"success", true}, {"filePath", s + "/img/pic-" + type}})) << type;
    EXPECT_EQ(sh("gm identify -format '%m %wx%h' '" + s + "/img/pic-" + type + "'"), format + " 40x30\n") << type;
  }
  EXPECT_EQ(readFile(s + "/img/pic-jpeg").substr(4, 4), "jP  ");
  EXPECT_NE(sh("opj_dump -i '" + s + "/img/pic-jpeg'").find("x1=40, y1=30"), std::string::npos);
  EXPECT_NE(sh("pdfinfo '" + s + "/img/pic-pdf'").find("40 x 30 pts"), std::string::npos);
  EXPECT_NE(readFile(s + "/img/pic-eps").find("%%BoundingBox: 0 0 40 30"), std::string::npos);
  EXPECT_EQ(r("writer", "convert")["success"], true);
  EXPECT_EQ(sh("gm identify -format '%m' '" + s + "/img/conv.gif'"), "GIF\n");
  EXPECT_EQ(r("writer", "convertMissing"), (json{{"success", false}, {"filePath", s + "/img/x.png"}}));
  EXPECT_EQ(r("writer", "notImage")["success"], false);
}

TEST_F(DropsE2E, EveryEncodingReadsAtOnceAndOnAWorker) {
  const json& texts = r("writer", "texts");
  for (const auto& c : kEncodings) EXPECT_EQ(texts[c.name], c.text) << c.name;
  EXPECT_EQ(r("writer", "syncCalledBack"), false);
  EXPECT_EQ(r("writer", "byNumber"), "Grüße à côté");
  EXPECT_EQ(r("writer", "asyncDirect"), "");
  EXPECT_EQ(r("writer", "async"), (json{{"success", true}, {"error", ""}, {"content", "little ✓"}}));
  const json& missing = r("writer", "asyncMissing");
  EXPECT_EQ(missing["success"], false);
  EXPECT_EQ(missing["content"], "");
  EXPECT_NE(missing["error"].get<std::string>().find("No such file"), std::string::npos) << missing;
}

TEST_F(DropsE2E, WatchersReportEveryKindInotifyCanProduce) {
  const std::string s = scratch();
  const json& v = (*report)["watch"];
  EXPECT_EQ(v["fileOnFolder"], false);
  EXPECT_EQ(v["dirOnFile"], false);
  EXPECT_EQ(v["missing"], false);
  EXPECT_EQ(v["noPath"], false);
  EXPECT_EQ(v["file"], true);
  EXPECT_EQ(v["dir"], true);
  EXPECT_EQ(v["deleteOnly"], true);
  auto has = [&](const std::string& kind, const std::string& path, const std::string& flag) {
    for (const auto& e : v["events"])
      if (e[0] == kind && e[1] == path && e[2] == flag) return true;
    return false;
  };
  const std::string wf = s + "/watched.txt", wd = s + "/watched-dir";
  for (const char* flag : {"FileWritten", "FileSizeIncreased", "FileAttributesChanged", "LinkCountChanged", "FileRenamed",
                           "FileDeleted"})
    EXPECT_TRUE(has("file", wf, flag)) << flag << " " << v["events"];
  EXPECT_TRUE(has("dir", wd, "FileWritten")) << v["events"];
  EXPECT_TRUE(has("dir", wd, "LinkCountChanged")) << v["events"];
  // The watcher of deletions alone heard nothing else.
  for (const auto& e : v["events"])
    if (e[0] == "deleteOnly") {
      EXPECT_EQ(e[2], "FileDeleted") << e;
    }
  EXPECT_EQ(v["removeMissing"], false);
  EXPECT_EQ(v["removeFile"], true);
  EXPECT_EQ(v["removeDir"], true);
  EXPECT_EQ(v["removeAgain"], false);  // nothing left to examine
  EXPECT_EQ(v["eventsAfterRemoval"], 0);
}

TEST_F(DropsE2E, RealDropsArriveAsRecordsOrRaiseThePrompt) {
  const std::string d = scratch() + "/drop";
  const json& accepted = r("drops", "accepted");
  ASSERT_TRUE(accepted.is_object()) << *log;
  EXPECT_EQ(accepted["success"], true);
  EXPECT_EQ(accepted["filesCount"], 3);  // the missing file is left out
  ASSERT_EQ(accepted["filesArray"].size(), 3u);
  const json& a = accepted["filesArray"][0];
  EXPECT_EQ(a["filePath"], d + "/a.txt");
  EXPECT_EQ(a["fileUrl"], "file://" + d + "/a.txt");
  EXPECT_EQ(a["fileName"], "a.txt");
  EXPECT_EQ(a["extension"], "txt");
  EXPECT_EQ(a["isFile"], true);
  EXPECT_EQ(a["fileSize"], 3);
  EXPECT_FALSE(a.contains("parentDir"));
  EXPECT_EQ(accepted["filesArray"][1]["fileName"], "b.PNG");
  EXPECT_EQ(accepted["filesArray"][2]["isDir"], true);
  EXPECT_EQ(accepted["filesArray"][2]["fileSize"], 0);  // folder sizes only when asked
  // "png" does not take "PNG" or a folder: the alert, and no call.
  EXPECT_EQ(r("drops", "callsAfterReject"), 0);
  EXPECT_NE(log->find("Prompt: Dragging content, the system does not accept"), std::string::npos);
  EXPECT_EQ(r("drops", "callsAfterNone"), 0);
  EXPECT_NE(log->find("Prompt: Does not support drag and drop files or directories"), std::string::npos);
  EXPECT_TRUE(seen->value("Prompt", false));
  EXPECT_EQ(r("drops", "typesKept"), json::array({"*"}));
  EXPECT_EQ(r("drops", "settings"), (json{true, true, true, "onDrop2"}));
}

TEST_F(DropsE2E, ThePageHostsHookSeesEveryDropAsItCameAndMissingHooksRaiseNoError) {
  const std::string d = scratch() + "/drop";
  EXPECT_EQ(r("drops", "noApp"), "undefined");
  EXPECT_EQ(r("drops", "hookSameUnderEveryName"), true);
  // Alone, without `app`: every path, the missing one too.
  EXPECT_EQ(r("drops", "hostOnly"), json::array({json::array({d + "/a.txt", d + "/missing.txt"})})) << *log;
  // Beside the records: also the drops the settings turn away, and the
  // files a second start hands over.
  EXPECT_EQ(r("drops", "handed"), json::array({json::array({d + "/a.txt", d + "/missing.txt"}),
                                               json::array({d + "/a.txt", d + "/b.PNG", d + "/folder", d + "/missing.txt"}),
                                               json::array({d + "/folder", d + "/b.PNG"}),
                                               json::array({d + "/a.txt"}),
                                               json::array({d + "/a.txt", d + "/folder"})}));
  // No hook the page lacks shows up as an error in its console.
  for (const char* trace : {"JavaScript console: ReferenceError", "JavaScript console: TypeError"})
    EXPECT_EQ(log->find(trace), std::string::npos) << *log;
}

TEST_F(DropsE2E, FilesHandedOverByASecondStartArriveAsRecords) {
  const std::string d = scratch() + "/drop";
  EXPECT_EQ(secondStatus, 0);
  const json& opened = r("drops", "opened");
  ASSERT_TRUE(opened.is_object()) << *log;
  EXPECT_EQ(opened["filesCount"], 2);
  EXPECT_EQ(opened["filesArray"][0]["filePath"], d + "/a.txt");
  EXPECT_EQ(opened["filesArray"][1]["filePath"], d + "/folder");
  EXPECT_EQ(opened["filesArray"][1]["fileSize"], 1500);  // the folder's size, now asked for
  EXPECT_NE(log->find("Received notification: "), std::string::npos);
}

TEST_F(DropsE2E, CaptureWritesAPngOfTheScreensSize) {
  const std::string png = readFile(scratch() + "/shot.png");
  EXPECT_EQ(r("capture", "shot"), (json{{"success", true}}));
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  auto be32 = [&](size_t at) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(png[at])) << 24) |
           (static_cast<unsigned char>(png[at + 1]) << 16) | (static_cast<unsigned char>(png[at + 2]) << 8) |
           static_cast<unsigned char>(png[at + 3]);
  };
  EXPECT_EQ(be32(16), static_cast<uint32_t>(kScreenW));
  EXPECT_EQ(be32(20), static_cast<uint32_t>(kScreenH));
  EXPECT_EQ(r("capture", "noPath"), true);
}

TEST_F(DropsE2E, PrintToPdfAnswersWhenTheFileIsCompleteAndPrintShowsTheDialog) {
  const std::string s = scratch();
  EXPECT_EQ(r("capture", "pdfAtOnce"), true);
  EXPECT_EQ(r("capture", "pdf"), (json{{"success", true}}));
  EXPECT_EQ(r("capture", "pdf2"), (json{{"success", true}}));
  EXPECT_EQ(r("capture", "pdfThere"), true);
  EXPECT_EQ(r("capture", "relative")["success"], false);
  for (const char* file : {"/page.pdf", "/page2.pdf"})
    EXPECT_NE(sh("pdftotext '" + s + file + "' -").find("Corvane drops end to end"), std::string::npos) << file;
  EXPECT_TRUE(seen->value("Print", false));
  EXPECT_EQ(r("capture", "print"), (json{{"success", true}}));
}

// ---- kill -9 in the middle of a stream of writes ------------------------------------------

TEST(DropsE2EKill, KillNineDuringWritesLeavesTheOldOrTheNewContent) {
  ShellHarness shell;
  shell.makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_DROPS_PAGES);
  auto env = shell.sessionEnv();
  const std::string s = shell.root() + "/scratch";
  fs::create_directories(s);
  env["CORVANE_E2E_SCRATCH"] = s;
  env["CORVANE_E2E_ACK"] = shell.root() + "/ack";
  env["CORVANE_E2E_PHASE"] = "stream";
  setenv("XDG_CONFIG_HOME", (shell.root() + "/home/.config").c_str(), 1);
  const std::string defaultsFile = corvane::UserDefaults::pathForIdentifier(shell.identifier());
  const std::string big(20000, 'x');
  std::mt19937 rng(4242);
  int64_t lastPlist = 0;
  int rounds = 0;
  for (int round = 0; round < 8; ++round) {
    const std::string logName = "stream-" + std::to_string(round) + ".log";
    const pid_t pid = shell.start(env, logName);
    const bool started = waitUntil(
        [&] { return readFile(shell.root() + "/" + logName).find("E2E-STEP stream-started") != std::string::npos; }, 60);
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + rng() % 1500));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(started) << readFile(shell.root() + "/" + logName);
    const json stored = json::parse(readFile(defaultsFile), nullptr, false);
    ASSERT_TRUE(stored.is_object()) << "round " << round << ": the defaults file is torn";
    ASSERT_TRUE(stored.contains("stream")) << "round " << round;
    EXPECT_TRUE(stored["stream"]["big"] == big) << "round " << round;
    EXPECT_GT(stored["stream"]["i"].get<int64_t>(), 0);
    std::string why;
    auto plist = corvane::readPropertyList(s + "/stream.plist", &why);
    ASSERT_TRUE(plist && plist->is_object()) << "round " << round << ": " << why;
    EXPECT_TRUE((*plist)["big"] == big) << "round " << round;
    lastPlist = (*plist)["i"].get<int64_t>();
    ++rounds;
  }
  EXPECT_EQ(rounds, 8);
  EXPECT_GT(lastPlist, 0);
  for (const auto& e : fs::directory_iterator(fs::path(defaultsFile).parent_path()))
    EXPECT_EQ(e.path().filename().string().find(".corrupt-"), std::string::npos) << e.path();
}

}  // namespace
