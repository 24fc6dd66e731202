// The local server inside the real shell, probed from outside as another
// local program would: an impostor on the other address family, client
// connections by the thousand, a large refused body, a foreign Host name,
// the page's storage across two starts and a module script behind a link.
#include "../app/LiveShell.h"
#include "../e2e/ShellHarness.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <regex>
#include <thread>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::life::LiveShell;
using namespace corvane::test;
using Clock = std::chrono::steady_clock;

namespace {

// The page an impostor serves: it reports itself through the bridge if it
// got one.
constexpr char kImpostorPage[] =
    "<script>corvane.test.finish(JSON.stringify({impostor: true}))</script>";

// Another local program: listens on the loopback of one family only and
// counts whoever comes, answering every request with `page`.
class Impostor {
 public:
  explicit Impostor(uint16_t port, int family = AF_INET6, std::string page = kImpostorPage)
      : fd_(holdLoopback(family, port)) {
    if (fd_ < 0) return;
    thread_ = std::thread([this, page] {
      for (;;) {
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        ++visitors;
        sendAll(c, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                       std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
        ::close(c);
      }
    });
  }
  ~Impostor() {
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  bool listening() const { return fd_ >= 0; }
  std::atomic<int> visitors{0};

 private:
  int fd_ = -1;
  std::thread thread_;
};

class ShellServer : public testing::Test {
 protected:
  void make(const json& appExInfo) {
    shell.makeBundle({{"AppExInfo", appExInfo}}, CORVANE_SERVER_PAGES);
  }
  std::map<std::string, std::string> env(const std::string& mode) const {
    auto env = shell.sessionEnv();
    env["SERVER_MODE"] = mode;
    env["CORVANE_TEST_RESULT"] = shell.root() + "/report.json";
    return env;
  }
  json runUntilReport(const std::string& mode) {
    const int status = shell.run(env(mode), 120);
    EXPECT_EQ(status, 0) << shell.log();
    return shell.report();
  }
  std::string publicDir() const { return shell.resourcePath() + "/public"; }

  ShellHarness shell;
};

}  // namespace

TEST_F(ShellServer, AnImpostorOnIPv6LoopbackNeverGetsThePageOrTheBridge) {
  const uint16_t port = freeLoopbackPort();
  Impostor impostor(port);
  if (!impostor.listening()) GTEST_SKIP() << "no IPv6 loopback here";
  make({{"enableHttpServer", true}, {"serverPort", port}});
  LiveShell app(CORVANE_BINARY, shell.bundlePath(), shell.root() + "/live.log", env("report"));
  // The start failed as for a taken port: the alert waits for the person.
  ASSERT_TRUE(ShellHarness::answerAlert(app.pid(), "Run Error", 90)) << app.log();
  EXPECT_EQ(app.waitForExit(120), 0) << app.log();
  const json report = shell.report();
  ASSERT_TRUE(report.is_object()) << app.log();
  EXPECT_FALSE(report.contains("impostor"));
  // Then the file start page.
  EXPECT_EQ(report["href"].get<std::string>().rfind("file:", 0), 0u) << report.dump();
  EXPECT_NE(app.log().find("Error starting Web Server: cannot listen on [::1]:" + std::to_string(port)),
            std::string::npos)
      << app.log();
  EXPECT_EQ(impostor.visitors.load(), 0);
}

TEST_F(ShellServer, AfterThePortModeStopsItsServerTheLocalOriginIsNoLongerTrusted) {
  // The server is started for its port and stopped; whoever takes the port
  // next is not us, and a frame from there must not get the bridge.
  make({{"enableHttpServer", true}, {"onlyBuildInServer", false}});
  auto env = this->env("portmode");
  env["GO_FILE"] = shell.root() + "/go";
  LiveShell app(CORVANE_BINARY, shell.bundlePath(), shell.root() + "/live.log", env);
  ASSERT_TRUE(app.waitForLog("server port ", 90)) << app.log();
  std::smatch m;
  const std::string log = app.log();
  ASSERT_TRUE(std::regex_search(log, m, std::regex(R"(server port (\d+))")));
  const auto port = static_cast<uint16_t>(std::stoi(m[1]));
  const std::string page =
      "<script>parent.postMessage(typeof corvane === 'undefined' ? 'no bridge' : 'bridge', '*')"
      "</script>";
  Impostor v4(port, AF_INET, page);
  Impostor v6(port, AF_INET6, page);
  ASSERT_TRUE(v4.listening());
  shell.writeFile(shell.root() + "/go", "go");
  EXPECT_EQ(app.waitForExit(90), 0) << app.log();
  const json report = shell.report();
  ASSERT_TRUE(report.is_object()) << app.log();
  EXPECT_EQ(report["frame"], "no bridge") << report.dump();
  EXPECT_GT(v4.visitors.load() + v6.visitors.load(), 0);
}

TEST_F(ShellServer, TwoStartsKeepThePagesOriginAndItsStorage) {
  make({{"enableHttpServer", true}});
  const json first = runUntilReport("storage");
  ASSERT_TRUE(first.is_object()) << shell.log();
  EXPECT_EQ(first["visits"], 1);
  EXPECT_EQ(first["href"].get<std::string>().rfind("http://localhost:", 0), 0u) << first.dump();
  const json second = runUntilReport("storage");
  ASSERT_TRUE(second.is_object()) << shell.log();
  EXPECT_EQ(second["origin"], first["origin"]);
  EXPECT_EQ(second["visits"], 2);
}

TEST_F(ShellServer, ARestartWhileTheLastInstanceEndsKeepsThePagesOriginAndItsStorage) {
  make({{"enableHttpServer", true}});
  LiveShell ending(CORVANE_BINARY, shell.bundlePath(), shell.root() + "/ending.log", env("storage-live"));
  ASSERT_TRUE(ending.waitForLog("storage page ready at ", 90)) << ending.log();
  std::smatch m;
  const std::string log = ending.log();
  ASSERT_TRUE(std::regex_search(log, m, std::regex(R"(storage page ready at (\S+))")));
  const std::string origin = m[1];
  // The person quits and starts again at once: the new start comes while
  // the ending instance waits its five seconds.
  ending.signal(SIGTERM);
  ASSERT_TRUE(ending.waitForLog("will about to exit", 30)) << ending.log();
  LiveShell restart(CORVANE_BINARY, shell.bundlePath(), shell.root() + "/restart.log", env("storage"));
  // It waits for the ending instance, which holds the port and, in WebKit's
  // processes, what its page stored.
  EXPECT_TRUE(restart.waitForLog("waiting for the ending instance (pid " + std::to_string(ending.pid()) + ")", 90))
      << restart.log();
  EXPECT_EQ(restart.waitForExit(120), 0) << restart.log();
  const json report = shell.report();
  ASSERT_TRUE(report.is_object()) << restart.log();
  EXPECT_EQ(report["origin"], origin) << restart.log();
  EXPECT_EQ(report["visits"], 2);
  EXPECT_EQ(restart.log().find("is taken; serving on port"), std::string::npos) << restart.log();
  EXPECT_EQ(ending.waitForExit(30), 0) << ending.log();
}

TEST_F(ShellServer, AModuleScriptBehindALinkLoadsWithItsType) {
  make({{"enableHttpServer", true}});
  shell.writeFile(publicDir() + "/blobs/5e1f0c", "export const value = 42;\n");
  fs::create_symlink("blobs/5e1f0c", publicDir() + "/linked.mjs");
  const json report = runUntilReport("module");
  ASSERT_TRUE(report.is_object()) << shell.log();
  EXPECT_EQ(report["value"], 42) << report.dump();
}

TEST_F(ShellServer, TheRunningShellSurvivesClientsByTheThousandAndRefusesBodiesUnread) {
  make({{"enableHttpServer", true}});
  LiveShell app(CORVANE_BINARY, shell.bundlePath(), shell.root() + "/live.log", env("wait"));
  ASSERT_TRUE(app.waitForLog("server page ready", 90)) << app.log();
  std::smatch m;
  const std::string log = app.log();
  ASSERT_TRUE(std::regex_search(log, m, std::regex(R"(weburl = http://localhost:(\d+)/index\.html)")));
  const auto port = static_cast<uint16_t>(std::stoi(m[1]));
  const std::string host = hostLine(port);

  // Descriptors: thousands of keep-alive connections, each closed by the
  // client after one answer, leave nothing behind in the shell.
  const size_t before = descriptorsOf(app.pid());
  for (int i = 0; i < 3000; ++i) {
    const int fd = connectTo(port, i % 2 ? "::1" : "127.0.0.1");
    if (fd < 0) continue;
    ASSERT_TRUE(sendAll(fd, "GET /server.js HTTP/1.1\r\n" + host + "\r\n"));
    char buffer[4096];
    ASSERT_GT(::recv(fd, buffer, sizeof buffer, 0), 0) << "request " << i;
    ::close(fd);
  }
  EXPECT_TRUE(eventually([&] { return descriptorsOf(app.pid()) <= before + 4; }))
      << descriptorsOf(app.pid()) << " descriptors, " << before << " before";

  // A rebinding page's request: another name for our address.
  const Reply foreign = rawRequest(
      port, "GET /project.json HTTP/1.1\r\nHost: attacker.example:" + std::to_string(port) +
                "\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(foreign.status, 421);
  EXPECT_EQ(foreign.body.find("AppExInfo"), std::string::npos);

  // A large body for a method that is refused: answered after the headers,
  // never read into memory.
  const long rssBefore = residentKiBOf(app.pid());
  const int pusher = connectTo(port);
  ASSERT_TRUE(sendAll(pusher, "POST /index.html HTTP/1.1\r\n" + host +
                                  "Content-Length: 1073741824\r\n\r\n"));
  const std::string chunk(1 << 20, 'x');
  for (int i = 0; i < 256; ++i)
    if (::send(pusher, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
  const Reply refused = readReply(pusher);
  ::close(pusher);
  EXPECT_EQ(refused.status, 405);
  EXPECT_LT(residentKiBOf(app.pid()) - rssBefore, 64 * 1024) << "KiB grown";
  EXPECT_EQ(get(port, "/server.js").status, 200);

  app.signal(SIGTERM);
  EXPECT_EQ(app.waitForExit(60), 0);
}
