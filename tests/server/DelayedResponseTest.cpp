// "/unittest.html": answered after five seconds with an empty body, while
// the server goes on answering everything else.
#include "server/HTTPResponseTest.h"
#include "server/HttpServer.h"
#include "ServerTestSupport.h"

#include <chrono>
#include <vector>

using namespace corvane::test;
using corvane::server::HttpServer;
using corvane::server::HTTPResponseTest;
using Clock = std::chrono::steady_clock;

namespace {

bool hasData(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

class DelayedTestPage : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(dir / "a.txt", "A");
    server->setDocumentRoot(dir.path());
    ASSERT_TRUE(server->start());
    port = server->port();
  }
  int park(const char* method = "GET") const {
    const int fd = connectTo(port);
    EXPECT_TRUE(sendAll(fd, std::string(method) + " /unittest.html HTTP/1.1\r\n" + hostLine(port) +
                                "Connection: close\r\n\r\n"));
    return fd;
  }
  TempDir dir;
  std::unique_ptr<HttpServer> server = std::make_unique<HttpServer>();
  uint16_t port = 0;
};

}  // namespace

TEST_F(DelayedTestPage, HundredParkedRequestsDoNotBlockOthers) {
  std::vector<int> parked;
  const auto sentAt = Clock::now();
  for (int i = 0; i < 100; ++i) parked.push_back(park());
  // Ordinary requests, a file and a refusal, are answered while all hundred
  // are still waiting.
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(get(port, "/a.txt").body, "A");
    EXPECT_EQ(get(port, "/missing").status, 404);
  }
  int answeredEarly = 0;
  for (int fd : parked) answeredEarly += hasData(fd) ? 1 : 0;
  EXPECT_EQ(answeredEarly, 0);

  for (int fd : parked) {
    const Reply r = readReply(fd);
    const auto waited = Clock::now() - sentAt;
    ::close(fd);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("content-length"), "0");
    EXPECT_TRUE(r.body.empty());
    EXPECT_GE(waited, std::chrono::seconds(HTTPResponseTest::kDelaySeconds));
  }
}

TEST_F(DelayedTestPage, ClientsLeavingEarlyOrServerStoppingAreHarmless) {
  // These clients go away before the answer is due.
  for (int i = 0; i < 5; ++i) ::close(park());
  // HEAD is parked the same way; this one is still waiting when the server
  // stops, which must end it rather than hang.
  const int waiting = park("HEAD");
  EXPECT_EQ(get(port, "/a.txt").body, "A");
  server->stop();
  const Reply cut = readReply(waiting);
  ::close(waiting);
  EXPECT_EQ(cut.status, 0);
  server.reset();
}
