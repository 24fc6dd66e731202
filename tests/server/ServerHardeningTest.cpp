// The server under the faults found by probing it with real clients: an
// impostor on the other address family (a failed start, which the launch
// step turns into the "Run Error" alert as for a taken port), connections
// the client closes or abandons, descriptor exhaustion, foreign Host names,
// refused bodies, redirects, files changed in place and symbolic links.
#include "server/HttpServer.h"
#include "ServerTestSupport.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <vector>

using namespace corvane::test;
using corvane::server::HttpServer;

namespace {

// True when the server closed `fd` (orderly or by reset) within a minute;
// whatever it sent before is read and dropped.
bool closedByServer(int fd) {
  readReply(fd);  // until the connection ends or stays silent for a minute
  char c;
  const ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN);
}

// Reads one answer from a connection that stays open: the head and as many
// body bytes as it announces. Empty when the connection ends first.
std::string readOneReply(int fd) {
  std::string data;
  auto fill = [&] {
    pollfd p{fd, POLLIN, 0};
    char buffer[4096];
    if (::poll(&p, 1, 60000) <= 0) return false;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<size_t>(n));
    return true;
  };
  while (data.find("\r\n\r\n") == std::string::npos)
    if (!fill()) return {};
  const size_t head = data.find("\r\n\r\n") + 4;
  const size_t at = data.find("Content-Length: ");
  const size_t length = at < head ? std::stoul(data.substr(at + 16)) : 0;
  while (data.size() < head + length)
    if (!fill()) return {};
  return data;
}

class Hardened : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir / "www";
    writeFile(root + "/index.html", "<p>%%ALPHABET%%</p>");
    writeFile(root + "/project.json", R"({"secret":"PROJECT"})");
    writeFile(root + "/a.txt", "A");
  }
  void startServer() {
    server.setDocumentRoot(root);
    ASSERT_TRUE(server.start()) << server.errorText();
    port = server.port();
  }
  std::string get1(const std::string& target, const std::string& host) const {
    return "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
  }

  TempDir dir;
  std::string root;
  HttpServer server;
  uint16_t port = 0;
};

}  // namespace

TEST_F(Hardened, AnImpostorOnTheOtherFamilyMakesTheStartFail) {
  const uint16_t wanted = freeLoopbackPort();
  ASSERT_NE(wanted, 0);
  const int impostor = holdLoopback(AF_INET6, wanted);
  if (impostor < 0) GTEST_SKIP() << "no IPv6 loopback here";

  server.setDocumentRoot(root);
  server.setPort(wanted);
  std::string error;
  EXPECT_FALSE(server.start(&error));
  EXPECT_NE(error.find("[::1]:" + std::to_string(wanted)), std::string::npos) << error;
  EXPECT_NE(error.find("in use"), std::string::npos) << error;
  EXPECT_FALSE(HttpServer::servesLoopbackPort(wanted));
  // Nobody of ours answers on IPv4 either: "localhost" must not be split.
  EXPECT_EQ(get(wanted, "/a.txt").status, 0);
  ::close(impostor);

  // Once it is gone the same port serves, on both families.
  ASSERT_TRUE(server.start(&error)) << error;
  EXPECT_TRUE(HttpServer::servesLoopbackPort(wanted));
  EXPECT_EQ(request(wanted, "GET", "/a.txt", {}, "::1").body, "A");
  EXPECT_EQ(get(wanted, "/a.txt").body, "A");
  server.stop();
  EXPECT_FALSE(HttpServer::servesLoopbackPort(wanted));
}

TEST_F(Hardened, ConnectionsClosedByTheClientAreFreedAtOnce) {
  startServer();
  EXPECT_EQ(get(port, "/a.txt").body, "A");  // threads and buffers set up
  const size_t before = descriptorsOf();
  // Each client asks once on a keep-alive connection and goes away, as a
  // browser does with idle connections.
  for (int i = 0; i < 3000; ++i) {
    const int fd = connectTo(port, i % 2 ? "::1" : "127.0.0.1");
    if (fd < 0) continue;  // no IPv6 here
    ASSERT_TRUE(sendAll(fd, "GET /a.txt HTTP/1.1\r\n" + hostLine(port) + "\r\n"));
    char buffer[512];
    ASSERT_GT(::recv(fd, buffer, sizeof buffer, 0), 0) << "request " << i;
    ::close(fd);
  }
  // Only this process's own client sockets were opened and closed; the
  // server's ends must be gone too (not kept in CLOSE-WAIT).
  EXPECT_TRUE(eventually([&] { return descriptorsOf() <= before + 2; }))
      << descriptorsOf() << " descriptors open, " << before << " before";
  EXPECT_EQ(get(port, "/a.txt").body, "A");
}

TEST_F(Hardened, IdleAndHalfSentConnectionsTimeOutAndTheCapHolds) {
  server.setIdleTimeout(1);
  server.setConnectionLimit(4);
  startServer();
  const int idle = connectTo(port);
  const int half = connectTo(port);
  ASSERT_TRUE(sendAll(half, "GET /a.txt HTTP/1.1\r\nHo"));
  const int kept = connectTo(port);  // a finished request, then silence
  ASSERT_TRUE(sendAll(kept, "GET /a.txt HTTP/1.1\r\n" + hostLine(port) + "\r\n"));
  const int fourth = connectTo(port);
  // Over the cap: closed at once rather than kept waiting.
  const int fifth = connectTo(port);
  EXPECT_TRUE(closedByServer(fifth));
  for (int fd : {idle, half, kept, fourth}) EXPECT_TRUE(closedByServer(fd));
  for (int fd : {idle, half, kept, fourth, fifth}) ::close(fd);
  // Room again, once the server has seen the closes (it polls for them).
  EXPECT_TRUE(eventually([&] { return get(port, "/a.txt").body == "A"; }));
}

TEST_F(Hardened, RunningOutOfDescriptorsIsSurvived) {
  startServer();
  ASSERT_EQ(get(port, "/a.txt").body, "A");
  // A connection the server already holds, for a request sent later.
  const int kept = connectTo(port);
  ASSERT_GE(kept, 0);
  ASSERT_TRUE(sendAll(kept, "GET /a.txt HTTP/1.1\r\n" + hostLine(port) + "\r\n"));
  ASSERT_EQ(readOneReply(kept).rfind("HTTP/1.1 200", 0), 0u);
  // Settled: nothing of the server's is still closing.
  const size_t settled = descriptorsOf();
  ASSERT_TRUE(eventually([&] { return descriptorsOf() == settled; }));
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = descriptorsOf() + 64;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  // Fill every descriptor but one, which a new client takes.
  std::vector<int> filler;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
  ::close(filler.back());
  filler.pop_back();
  const int client = connectTo(port);
  ASSERT_GE(client, 0);
  ASSERT_TRUE(sendAll(client, "GET /a.txt HTTP/1.1\r\n" + hostLine(port) + "Connection: close\r\n\r\n"));
  // The server cannot take the new connection now; it waits, not dies. On
  // the one it holds, a file it cannot open is "come back", not "gone".
  pollfd p{client, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 300), 0);
  // (Kept open, so that no descriptor of the server's frees up yet.)
  ASSERT_TRUE(sendAll(kept, "GET /a.txt HTTP/1.1\r\n" + hostLine(port) + "\r\n"));
  const std::string busy = readOneReply(kept);
  EXPECT_EQ(busy.rfind("HTTP/1.1 503", 0), 0u) << busy;
  EXPECT_NE(busy.find("Retry-After: 1"), std::string::npos) << busy;
  for (int fd : filler) ::close(fd);
  const Reply late = readReply(client);
  ::close(client);
  ::close(kept);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(late.body, "A");
  EXPECT_EQ(get(port, "/a.txt").body, "A");
}

TEST_F(Hardened, ForeignHostNamesGetNothing) {
  startServer();
  // Which names are ours is checked without a server; here, that no route
  // skips the check.
  const std::string foreign = "attacker.example:" + std::to_string(port);
  for (const char* path : {"/a.txt", "/index.html", "/", "/project.json", "/unittest.html"}) {
    const Reply r = rawRequest(port, get1(path, foreign));
    EXPECT_EQ(r.status, 421) << path;
    EXPECT_EQ(r.body.find("PROJECT"), std::string::npos);
    EXPECT_EQ(r.body.find("<p>"), std::string::npos);
  }
  const std::string ours = "127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(rawRequest(port, get1("/a.txt", ours)).body, "A");
  // Two Host headers, or none in HTTP/1.1: a bad request.
  EXPECT_EQ(rawRequest(port, "GET /a.txt HTTP/1.1\r\nHost: " + ours +
                                 "\r\nHost: attacker.example\r\nConnection: close\r\n\r\n")
                .status,
            400);
  EXPECT_EQ(rawRequest(port, "GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n").status, 400);
  EXPECT_EQ(rawRequest(port, "GET /a.txt HTTP/1.0\r\n\r\n").body, "A");
}

TEST_F(Hardened, MalformedHeadersAreRefused) {
  startServer();
  const Reply lengths = rawRequest(port, "GET /a.txt HTTP/1.1\r\n" + hostLine(port) +
                                             "Content-Length: 1\r\nContent-Length: 2\r\n"
                                             "Connection: close\r\n\r\nab");
  EXPECT_EQ(lengths.status, 400);
  const Reply huge = rawRequest(port, "GET /a.txt HTTP/1.1\r\n" + hostLine(port) + "X-Big: " +
                                          std::string(100 * 1024, 'x') + "\r\n\r\n");
  EXPECT_EQ(huge.status, 431);
  EXPECT_EQ(get(port, "/a.txt").body, "A");
}

TEST_F(Hardened, ALargeRefusedBodyIsNeverRead) {
  startServer();
  // Announced 1 GiB; the answer must come after the headers alone, with no
  // invitation to send the body.
  const int fd = connectTo(port);
  ASSERT_TRUE(sendAll(fd, "POST /a.txt HTTP/1.1\r\n" + hostLine(port) +
                              "Content-Length: 1073741824\r\nExpect: 100-continue\r\n\r\n"));
  const Reply refused = readReply(fd);
  ::close(fd);
  EXPECT_EQ(refused.status, 405);
  EXPECT_EQ(refused.header("allow"), "GET, HEAD");

  // Without Expect: the client pushes as much as it can; the server answers
  // and closes, and its memory does not follow the body.
  const long before = residentKiBOf();
  const int pusher = connectTo(port);
  ASSERT_TRUE(sendAll(pusher, "PUT /a.txt HTTP/1.1\r\n" + hostLine(port) +
                                  "Content-Length: 1073741824\r\n\r\n"));
  const std::string chunk(1 << 20, 'x');
  size_t pushed = 0;
  for (int i = 0; i < 256; ++i) {
    const ssize_t n = ::send(pusher, chunk.data(), chunk.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    pushed += static_cast<size_t>(n);
  }
  const Reply put = readReply(pusher);
  ::close(pusher);
  EXPECT_EQ(put.status, 405);
  EXPECT_LT(pushed, size_t(256) << 20);  // the server stopped taking it
  EXPECT_LT(residentKiBOf() - before, 32 * 1024) << "KiB grown";
  EXPECT_EQ(get(port, "/a.txt").body, "A");
}

TEST_F(Hardened, RedirectsStayOnOurOriginAndPathsAreNormalised) {
  startServer();
  // A folder whose name would read as a host after "//" or "\\".
  writeFile(root + "/evil.example/index.html", "x");
  for (const char* target : {"//evil.example", "/%5Cevil.example"}) {
    const std::string location = get(port, target).header("location");
    EXPECT_TRUE(location.empty() || (location[0] == '/' && location[1] != '/' && location[1] != '\\'))
        << target << " -> " << location;
  }
}

TEST_F(Hardened, AFileRewrittenInPlaceWithinASecondIsNeverServedStale) {
  startServer();
  const std::string path = root + "/data.json";
  writeFile(path, R"({"v":1})");
  // Wait until the file's first version has validators.
  Reply first;
  ASSERT_TRUE(eventually([&] { return (first = get(port, "/data.json")).has("etag"); }));
  ASSERT_EQ(first.body, R"({"v":1})");
  // Two rewrites in place, same size, as fast as the disk allows.
  for (const char* text : {R"({"v":2})", R"({"v":3})"}) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, text, 7, 0), 7);
    ::close(fd);
    const Reply again = get(port, "/data.json", {{"If-None-Match", first.header("etag")},
                                                  {"If-Modified-Since", first.header("last-modified")}});
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, text);
    // A range on the old version must not splice old and new.
    const Reply range = get(port, "/data.json", {{"Range", "bytes=5-6"}, {"If-Range", first.header("etag")}});
    EXPECT_EQ(range.status, 200);
    EXPECT_EQ(range.body, text);
  }
}

TEST_F(Hardened, SymbolicLinksNameTheTypeAndTheRootFollowsItsTarget) {
  // A module under a hashed name, reached through a link with its real name.
  writeFile(root + "/blobs/3f2a", "export const x = 1;");
  fs::create_symlink("blobs/3f2a", root + "/linked.mjs");
  writeFile(root + "/site.webmanifest", "{}");
  const std::string v1 = dir / "v1", v2 = dir / "v2";
  writeFile(v1 + "/a.txt", "one");
  writeFile(v2 + "/a.txt", "two");
  fs::create_symlink(v1, dir / "current");
  server.setDocumentRoot(dir / "current");
  ASSERT_TRUE(server.start());
  port = server.port();
  // Kept in memory once it has validators.
  ASSERT_TRUE(eventually([&] { return get(port, "/a.txt").has("etag"); }));
  EXPECT_EQ(get(port, "/a.txt").body, "one");
  // Repointed while serving: the next request sees the new folder.
  fs::create_symlink(v2, dir / "next");
  fs::rename(dir / "next", dir / "current");
  EXPECT_EQ(get(port, "/a.txt").body, "two");
  server.stop();

  startServer();
  const Reply module = get(port, "/linked.mjs");
  EXPECT_EQ(module.body, "export const x = 1;");
  EXPECT_EQ(module.header("content-type"), "text/javascript");
  EXPECT_EQ(get(port, "/site.webmanifest").header("content-type"), "application/manifest+json");
}
