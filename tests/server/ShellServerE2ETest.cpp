// The local server inside the real shell: the origin it leaves behind in
// port mode, and the page's storage across a restart while the last
// instance still ends. The server's own faults are probed without a shell
// in ServerHardeningTest.
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

namespace {

// Another local program: listens on the loopback of one family only and
// counts whoever comes, answering every request with `page`.
class Impostor {
 public:
  Impostor(uint16_t port, int family, std::string page) : fd_(holdLoopback(family, port)) {
    if (fd_ < 0) return;
    thread_ = std::thread([this, page] {
      for (int c; (c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ::close(c)) {
        ++visitors;
        sendAll(c, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                       std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
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
  // The bundle's page runs the scenario `mode` of server.js.
  std::unique_ptr<LiveShell> start(const std::string& mode, const std::string& log) const {
    auto env = shell.sessionEnv();
    env["SERVER_MODE"] = mode;
    env["CORVANE_TEST_RESULT"] = shell.root() + "/report.json";
    env["GO_FILE"] = shell.root() + "/go";
    return std::make_unique<LiveShell>(CORVANE_BINARY, shell.bundlePath(), shell.root() + "/" + log, env);
  }
  // The first number the log line `pattern` captures.
  static std::string found(const LiveShell& app, const std::string& pattern) {
    std::smatch m;
    const std::string log = app.log();
    return std::regex_search(log, m, std::regex(pattern)) ? m[1].str() : "";
  }

  ShellHarness shell;
};

}  // namespace

TEST_F(ShellServer, InPortModeTheLocalOriginIsNoLongerTrustedAfterItsServerStops) {
  // The server is started for its port and stopped; whoever takes the port
  // next is not us, and a frame from there must not get the bridge.
  shell.makeBundle({{"AppExInfo", {{"enableHttpServer", true}, {"onlyBuildInServer", false}}}}, CORVANE_SERVER_PAGES);
  auto app = start("portmode", "live.log");
  ASSERT_TRUE(app->waitForLog("server port ", 90)) << app->log();
  const auto port = static_cast<uint16_t>(std::stoi(found(*app, R"(server port (\d+))")));
  const std::string page =
      "<script>parent.postMessage(typeof corvane === 'undefined' ? 'no bridge' : 'bridge', '*')</script>";
  Impostor v4(port, AF_INET, page);
  Impostor v6(port, AF_INET6, page);
  ASSERT_TRUE(v4.listening());
  shell.writeFile(shell.root() + "/go", "go");
  EXPECT_EQ(app->waitForExit(90), 0) << app->log();
  const json report = shell.report();
  ASSERT_TRUE(report.is_object()) << app->log();
  EXPECT_EQ(report["frame"], "no bridge") << report.dump();
  EXPECT_GT(v4.visitors.load() + v6.visitors.load(), 0);
}

TEST_F(ShellServer, ARestartWhileTheLastInstanceEndsKeepsThePagesOriginAndItsStorage) {
  shell.makeBundle({{"AppExInfo", {{"enableHttpServer", true}}}}, CORVANE_SERVER_PAGES);
  auto ending = start("storage-live", "ending.log");
  ASSERT_TRUE(ending->waitForLog("storage page ready at ", 90)) << ending->log();
  const std::string origin = found(*ending, R"(storage page ready at (\S+))");
  EXPECT_EQ(origin.rfind("http://localhost:", 0), 0u) << origin;
  // The person quits and starts again at once: the new start comes while
  // the ending instance waits its five seconds.
  ending->signal(SIGTERM);
  ASSERT_TRUE(ending->waitForLog("will about to exit", 30)) << ending->log();
  auto restart = start("storage", "restart.log");
  // It waits for the ending instance, which holds the port and, in WebKit's
  // processes, what its page stored.
  EXPECT_TRUE(restart->waitForLog("waiting for the ending instance (pid " + std::to_string(ending->pid()) + ")", 90))
      << restart->log();
  EXPECT_EQ(restart->waitForExit(120), 0) << restart->log();
  const json report = shell.report();
  ASSERT_TRUE(report.is_object()) << restart->log();
  EXPECT_EQ(report["origin"], origin) << restart->log();
  EXPECT_EQ(report["visits"], 2);
  EXPECT_EQ(restart->log().find("is taken; serving on port"), std::string::npos) << restart->log();
  EXPECT_EQ(ending->waitForExit(30), 0) << ending->log();
}
