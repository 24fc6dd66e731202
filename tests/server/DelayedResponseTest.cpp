// "/unittest.html": answered after five seconds with an empty body, while
// the server goes on answering everything else.
#include "server/HTTPResponseTest.h"
#include "server/HttpServer.h"
#include "ServerTestSupport.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace corvane::test;
using corvane::server::HttpServer;
using corvane::server::HTTPResponseTest;
using Clock = std::chrono::steady_clock;

TEST(DelayedTestPage, ParkedRequestsBlockNothingAndEndWithTheServer) {
  TempDir dir;
  writeFile(dir / "a.txt", "A");
  HttpServer server;
  server.setDocumentRoot(dir.path());
  ASSERT_TRUE(server.start());
  const uint16_t port = server.port();
  auto park = [&](const char* method = "GET") {
    const int fd = connectTo(port);
    EXPECT_TRUE(sendAll(fd, std::string(method) + " /unittest.html HTTP/1.1\r\n" + hostLine(port) +
                                "Connection: close\r\n\r\n"));
    return fd;
  };
  std::vector<int> parked;
  const auto sentAt = Clock::now();
  for (int i = 0; i < 100; ++i) parked.push_back(park());
  // These clients go away before the answer is due.
  for (int i = 0; i < 5; ++i) ::close(park());
  // Ordinary requests, a file and a refusal, are answered while all hundred
  // are still waiting.
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(get(port, "/a.txt").body, "A");
    EXPECT_EQ(get(port, "/missing").status, 404);
  }
  for (int fd : parked) {
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "answered early";
  }
  for (int fd : parked) {
    const Reply r = readReply(fd);
    const auto waited = Clock::now() - sentAt;
    ::close(fd);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("content-length"), "0");
    EXPECT_TRUE(r.body.empty());
    EXPECT_GE(waited, std::chrono::seconds(HTTPResponseTest::kDelaySeconds));
  }
  // HEAD is parked the same way (answered request after it: it is parked by
  // now); stopping the server ends it rather than hang.
  const int waiting = park("HEAD");
  EXPECT_EQ(get(port, "/a.txt").body, "A");
  server.stop();
  EXPECT_EQ(readReply(waiting).status, 0);
  ::close(waiting);
}

// Requests for the delayed page keep arriving while the server stops: none
// may be parked after the stop released the parked ones, since the library
// cannot stop with a parked connection and ends the process instead.
TEST(DelayedTestPage, RequestsArrivingWhileTheServerStopsNeverOutliveIt) {
  TempDir dir;
  for (int round = 0; round < 30; ++round) {
    HttpServer server;
    server.setDocumentRoot(dir.path());
    ASSERT_TRUE(server.start());
    const uint16_t port = server.port();
    std::atomic<bool> done{false};
    std::thread clients([&] {
      std::vector<int> open;
      while (!done && open.size() < 400) {
        const int fd = connectTo(port);
        if (fd < 0) break;
        sendAll(fd, "GET /unittest.html HTTP/1.1\r\n" + hostLine(port) + "\r\n");
        open.push_back(fd);
      }
      for (int fd : open) ::close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server.stop();
    done = true;
    clients.join();
  }
}
