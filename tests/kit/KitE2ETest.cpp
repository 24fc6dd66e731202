// corvane-kit with the real shell under the tests' display: a new bundle
// runs, its page has the bridge and the log is as quiet as asked; `dev`
// reloads on save, shows the page's console and refuses a running
// application; `dev --url` gives the bridge to a development server; the
// promise module resolves and rejects as documented.
#include "../e2e/ShellHarness.h"

#include "support/TestFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

using namespace std::chrono_literals;
using corvane::e2e::ShellHarness;
using corvane::e2e::TinyHttpServer;
using corvane::test::countOf;
using corvane::test::readFile;
using corvane::test::TempDir;
using corvane::test::writeFile;
namespace fs = std::filesystem;

namespace {

// A program run with its own home, its stdout and stderr in files.
class Program {
 public:
  Program(const std::vector<std::string>& argv, const std::string& home, const std::string& logs)
      : out_(logs + ".out"), err_(logs + ".err") {
    if ((pid_ = fork()) != 0) return;
    dup2(::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    setenv("HOME", home.c_str(), 1);
    // Its XDG folders are those under that home.
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "CORVANE_LOG_LEVEL",
                             "CORVANE_SCREENSHOT"})
      unsetenv(name);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  ~Program() {
    if (!exited()) kill(pid_, SIGKILL);
    status();
  }

  std::string out() const { return readFile(out_); }
  std::string err() const { return readFile(err_); }
  // Until `text` is in stdout `count` times, the program ends or a minute passes.
  bool waitFor(const std::string& text, size_t count = 1) {
    auto seen = [&] { return countOf(out(), text) >= count; };
    for (const auto end = std::chrono::steady_clock::now() + 60s; !seen() && !exited();) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(50ms);
    }
    return seen();
  }
  bool exited() {
    if (status_ == -2 && waitpid(pid_, &raw_, WNOHANG) == pid_) status_ = WIFEXITED(raw_) ? WEXITSTATUS(raw_) : -1;
    return status_ != -2;
  }
  // The exit status; a program still running after two minutes is killed (-1).
  int status() {
    for (const auto end = std::chrono::steady_clock::now() + 120s; !exited(); std::this_thread::sleep_for(20ms))
      if (std::chrono::steady_clock::now() > end) kill(pid_, SIGKILL);
    return status_;
  }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  int raw_ = 0, status_ = -2;
};

class KitE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "no display: run the tests through scripts/with-session.sh";
    fs::create_directories(dir / "home");
  }
  // A new bundle made by `corvane-kit new`, under an identifier of this test's own.
  std::string kitNew(const std::string& name) {
    std::string id = "org.example.kit.x" + fs::path(dir.path()).filename().string().substr(13);
    for (char& c : id)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
    Program kit({CORVANE_KIT_BINARY, "new", name, "--id", id, dir.path()}, dir / "home", dir / "new");
    EXPECT_EQ(kit.status(), 0) << kit.out() << kit.err();
    return dir / (name + ".app");
  }
  TempDir dir;
};

}  // namespace

TEST_F(KitE2E, AQuietApplicationLogsWarningsAndErrorsOnly) {
  const std::string app = kitNew("Quiet");
  writeFile(app + "/Contents/Resources/public/project.json", R"({"logLevel": "quiet"})");
  auto run = [&](const char* tag, const char* level) {
    std::vector<std::string> argv{"/usr/bin/env", "CORVANE_SCREENSHOT=" + (dir / tag) + ".png",
                                  "CORVANE_SCREENSHOT_QUIT=1"};
    if (level) argv.push_back(std::string("CORVANE_LOG_LEVEL=") + level);
    argv.insert(argv.end(), {CORVANE_BINARY, "--bundle", app});
    auto p = std::make_unique<Program>(argv, dir / "home", dir / tag);
    EXPECT_EQ(p->status(), 0) << p->err();
    return p;
  };
  // From the first line on: not even the process facts.
  const auto quiet = run("quiet", nullptr);
  EXPECT_TRUE(fs::exists(dir / "quiet.png"));
  EXPECT_EQ(quiet->err().find(" info: "), std::string::npos) << quiet->err();
  EXPECT_EQ(quiet->err().find(" debug: "), std::string::npos) << quiet->err();
  // The person running it may still ask for everything.
  const auto loud = run("loud", "debug");
  EXPECT_NE(loud->err().find("info: NSProcessInfo:"), std::string::npos) << loud->err();
  EXPECT_NE(loud->err().find("Quiet 1.0.0 started"), std::string::npos) << loud->err();
}

TEST_F(KitE2E, DevShowsTheConsoleAndReloadsOnceForEachBurstOfSaves) {
  const std::string app = kitNew("Dev");
  const std::string pub = app + "/Contents/Resources/public";
  Program dev({CORVANE_KIT_BINARY, "dev", app}, dir / "home", dir / "dev");
  ASSERT_TRUE(dev.waitFor("Dev 1.0.0 started")) << dev.out() << dev.err();
  const std::string first = dev.out();
  EXPECT_NE(first.find("developer tools on"), std::string::npos) << first;
  EXPECT_NE(first.find("reloading when files change in " + fs::canonical(pub).string()), std::string::npos) << first;
  EXPECT_NE(first.find("log   app.js:"), std::string::npos) << first;  // level, file:line, message
  // The shell's own lines stay out of the terminal unless asked for.
  EXPECT_EQ(dev.out().find("NSProcessInfo"), std::string::npos);
  EXPECT_EQ(dev.err().find("NSProcessInfo"), std::string::npos) << dev.err();
  // Development mode belongs to a start of its own: with the application
  // running, another `dev` says so instead of handing over to it.
  Program again({CORVANE_KIT_BINARY, "dev", app}, dir / "home", dir / "again");
  EXPECT_EQ(again.status(), 1) << again.out() << again.err();
  EXPECT_NE(again.err().find("already runs: quit it first"), std::string::npos) << again.err();

  // One save of several files: one reload. The new page has an error it
  // does not catch and a script that is missing.
  writeFile(pub + "/broken.js", "window.setTimeout(() => { null.x; }, 0);\n");
  std::string index = readFile(pub + "/index.html");
  index.replace(index.find("</body>"), 7, "<script src=\"broken.js\"></script><script src=\"gone.js\"></script></body>");
  writeFile(pub + "/index.html", index);
  ASSERT_TRUE(dev.waitFor("Dev 1.0.0 started", 2)) << dev.out();
  ASSERT_TRUE(dev.waitFor("Uncaught TypeError")) << dev.out();
  ASSERT_TRUE(dev.waitFor("gone.js")) << dev.out();
  const std::string second = dev.out();
  EXPECT_EQ(countOf(second, "changed: reloading"), 1u) << second;
  EXPECT_NE(second.find("ERROR broken.js:1"), std::string::npos) << second;
  EXPECT_NE(second.find("ERROR gone.js"), std::string::npos) << second;

  // Editors' scratch files alone change nothing.
  writeFile(pub + "/.index.html.swp", "x");
  writeFile(pub + "/index.html~", "x");
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(countOf(dev.out(), "changed: reloading"), 1u) << dev.out();
}

TEST_F(KitE2E, DevUrlGivesTheBridgeToTheDevelopmentServerOnly) {
  const std::string app = kitNew("Served");
  TinyHttpServer server(std::map<std::string, std::string>{
      {"/", "<!DOCTYPE html><script>console.log('served page: ' + typeof corvane + ' ' + "
            "(window.corvane ? corvane.app.getAppName() : ''))</script><script src=\"/src/gone.js\"></script>"}});
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
  {
    Program dev({CORVANE_KIT_BINARY, "dev", app, "--url", url}, dir / "home", dir / "url");
    ASSERT_TRUE(dev.waitFor("served page: object Served")) << dev.out() << dev.err();
    EXPECT_NE(dev.out().find("has the bridge there (development only)"), std::string::npos) << dev.out();
    // A file the server does not have: its path and the status.
    ASSERT_TRUE(dev.waitFor("src/gone.js")) << dev.out();
    EXPECT_NE(dev.out().find("ERROR src/gone.js"), std::string::npos) << dev.out();
    EXPECT_NE(dev.out().find("404"), std::string::npos) << dev.out();
  }
  // A page the server answers with 404, and a server that is not running.
  const std::string down = "http://127.0.0.1:" + std::to_string(TinyHttpServer("").port()) + "/";
  for (const auto& [target, says] : std::vector<std::pair<std::string, std::string>>{
           {url + "nothing/", ": HTTP 404"}, {down, " (is the development server running?"}}) {
    Program failed({CORVANE_KIT_BINARY, "dev", app, "--url", target}, dir / "home", dir / "failed");
    EXPECT_TRUE(failed.waitFor("ERROR load failed  " + target)) << failed.out();
    EXPECT_TRUE(failed.waitFor(says)) << failed.out();
  }

  // Only a server on this computer, and never silently.
  for (const std::string bad : {"http://example.com/", "ftp://127.0.0.1/", "http://user@localhost:1/"}) {
    Program refused({CORVANE_KIT_BINARY, "dev", app, "--url", bad}, dir / "home", dir / "refused");
    EXPECT_EQ(refused.status(), 2) << bad;
    EXPECT_NE(refused.err().find("--url " + bad + ": "), std::string::npos) << refused.err();
  }
}

// The promise module in a real page of the real shell.
TEST(PromiseModule, ResolvesWithTheAnswerAndRejectsWithCorvaneErrorOnFailure) {
  ShellHarness shell;
  shell.makeBundle(nlohmann::json::object(), CORVANE_KIT_ASYNC_PAGES);
  shell.writeFile(shell.resourcePath() + "/public/corvane-async.js",
                  readFile(std::string(CORVANE_SOURCE_DIR) + "/data/js/corvane-async.js"));
  ASSERT_EQ(shell.run(shell.sessionEnv(), 120), 0) << shell.log();
  const nlohmann::json report = shell.report();
  ASSERT_TRUE(report.is_object()) << shell.log();
  ASSERT_FALSE(report.contains("pageError")) << report["pageError"];
  EXPECT_EQ(report["mismatches"], nlohmann::json::array());
}
