// The running server over real loopback HTTP: routing, the filled index
// page, static files with ranges and validators, containment, the files it
// keeps in memory, the delayed test page, and the faults found by probing it
// with real clients: an impostor on the other address family (a failed
// start, which the launch step turns into the "Run Error" alert), closed and
// abandoned connections, descriptor exhaustion, foreign Host names, refused
// bodies, redirects, files changed in place and symbolic links.
#include "server/HTTPResponseTest.h"
#include "server/HttpServer.h"
#include "ServerTestSupport.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <random>
#include <regex>
#include <vector>

using namespace corvane::test;
using corvane::server::HttpServer;

namespace {

constexpr char kTemplate[] = "<p>%%TIME%%|%%COMPUTER_NAME%%|%%ALPHABET%%|[%%QUACK%%]|%%UNKNOWN%%</p>";

// True when the server closed `fd` (orderly or by reset) within a minute;
// whatever it sent before is read and dropped.
bool closedByServer(int fd) {
  readReply(fd);
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
    const ssize_t n = ::poll(&p, 1, 60000) > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
    if (n > 0) data.append(buffer, static_cast<size_t>(n));
    return n > 0;
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

class Served : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir / "www";
    writeFile(root + "/index.html", kTemplate);
    writeFile(root + "/copy.html", kTemplate);
    writeFile(root + "/sub/index.html", kTemplate);
    writeFile(root + "/style.css", "body{}");
    writeFile(root + "/clip.mp4", "not really a film");
    writeFile(root + "/project.json", R"({"secret":"PROJECT"})");
    writeFile(root + "/a.txt", "A");
    writeFile(dir / "secret.txt", "TOP-SECRET-OUTSIDE");
    // Shares the root's name as a text prefix: only a component-wise
    // comparison keeps it out.
    writeFile(dir / "www-evil/secret.txt", "TOP-SECRET-SIBLING");
    fs::create_symlink("../secret.txt", root + "/link-out.txt");
    fs::create_symlink("../www-evil", root + "/evil-dir");
    fs::create_symlink("index.html", root + "/alias.html");
  }
  void start() {
    server.setDocumentRoot(root);
    ASSERT_TRUE(server.start()) << server.errorText();
    port = server.port();
  }
  std::string big() {
    std::mt19937 gen(7);
    std::string out(10 * 1024 * 1024 + 123, '\0');
    for (auto& c : out) c = static_cast<char>(gen());
    writeFile(root + "/big.bin", out);
    return out;
  }
  // A file gets validators once it has stayed unchanged for a second;
  // waits for that (the answer has an ETag) and answers the reply.
  Reply settled(const std::string& path) const {
    Reply r;
    eventually([&] { return (r = get(port, path)).has("etag"); }, 30);
    return r;
  }
  std::string get1(const std::string& target, const std::string& host) const {
    return "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
  }
  int park(const char* method = "GET") const {
    const int fd = connectTo(port);
    EXPECT_TRUE(sendAll(fd, std::string(method) + " /unittest.html HTTP/1.1\r\n" + hostLine(port) +
                                "Connection: close\r\n\r\n"));
    return fd;
  }

  TempDir dir;
  std::string root;
  HttpServer server;
  uint16_t port = 0;
};

}  // namespace

TEST_F(Served, IndexPageIsFilledOnlyUnderItsOwnPath) {
  start();
  const Reply top = get(port, "/index.html");
  ASSERT_EQ(top.status, 200);
  EXPECT_EQ(top.header("content-type"), "text/html");
  EXPECT_EQ(top.header("content-length"), std::to_string(top.body.size()));
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const std::regex filled(R"(<p>\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000\|(.*)\|A\|\[  QUACK  \]\|%%UNKNOWN%%</p>)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(top.body, m, filled)) << top.body;
  EXPECT_EQ(m[1].str(), host);
  // The folder request names the same file.
  EXPECT_TRUE(std::regex_match(get(port, "/").body, filled));

  // Another name, a sub-folder's index and a link to it go out unchanged.
  for (const char* path : {"/copy.html", "/sub/index.html", "/sub/", "/alias.html"}) {
    EXPECT_EQ(get(port, path).shown(), std::string("200 ") + kTemplate) << path;
  }
  // The folder's own URL ends in "/", so that its relative links work.
  const Reply moved = get(port, "/sub?x=1");
  EXPECT_EQ(moved.status, 301);
  EXPECT_EQ(moved.header("location"), "/sub/?x=1");
  // Filled anew for every request: never cached, its length that of this fill.
  const Reply head = request(port, "HEAD", "/index.html");
  EXPECT_TRUE(head.body.empty());
  EXPECT_EQ(head.header("content-length"), std::to_string(top.body.size()));
  EXPECT_EQ(top.header("cache-control"), "no-cache");
  EXPECT_FALSE(top.has("last-modified"));
}

TEST_F(Served, StaticFilesCarryTypeLengthValidatorsAndRanges) {
  const std::string large = big(), total = std::to_string(large.size());
  start();
  const Reply fresh = get(port, "/style.css");
  EXPECT_FALSE(fresh.has("etag"));  // written just now: nothing to promise yet
  EXPECT_EQ(fresh.header("cache-control"), "no-cache");
  const Reply css = settled("/style.css");
  EXPECT_EQ(css.body, "body{}");
  EXPECT_EQ(css.header("content-type"), "text/css");
  EXPECT_EQ(css.header("accept-ranges"), "bytes");
  EXPECT_FALSE(css.header("last-modified").empty());
  EXPECT_EQ(get(port, "/clip.mp4").header("content-type"), "video/mp4");
  const Reply notModified = get(port, "/style.css", {{"If-Modified-Since", css.header("last-modified")}});
  EXPECT_EQ(notModified.status, 304);
  EXPECT_TRUE(notModified.body.empty());
  EXPECT_EQ(notModified.header("etag"), css.header("etag"));
  EXPECT_EQ(get(port, "/style.css", {{"If-None-Match", "\"old\""}}).body, "body{}");

  const Reply whole = get(port, "/big.bin");
  ASSERT_EQ(whole.status, 200);
  EXPECT_EQ(whole.header("content-length"), total);
  EXPECT_TRUE(whole.body == large) << "large body differs, " << whole.body.size() << " bytes";
  // Ranges let media seek; HEAD says the length it would send.
  struct Case {
    const char* method;
    const char* range;
    int status;
    std::string length, contentRange, body;
  };
  for (const Case& c : std::vector<Case>{
           {"HEAD", "", 200, total, "", ""},
           {"GET", "bytes=5000000-5000099", 206, "100", "bytes 5000000-5000099/" + total, large.substr(5000000, 100)},
           {"GET", "bytes=99999999-", 416, "", "bytes */" + total, ""},
           {"HEAD", "bytes=0-9", 206, "10", "bytes 0-9/" + total, ""}}) {
    std::map<std::string, std::string> headers;
    if (*c.range) headers["Range"] = c.range;
    const Reply r = request(port, c.method, "/big.bin", headers);
    EXPECT_EQ(r.status, c.status) << c.method << " " << c.range;
    EXPECT_TRUE(c.length.empty() || r.header("content-length") == c.length) << c.method << " " << c.range;
    EXPECT_EQ(r.header("content-range"), c.contentRange) << c.method << " " << c.range;
    EXPECT_TRUE(r.body == c.body) << c.method << " " << c.range;
  }
}

TEST_F(Served, MissingRefusedAndSpecialPathsAnswerNotFound) {
  start();
  EXPECT_EQ(get(port, "/nothing-here.html").shown(), "404 not found");
  EXPECT_EQ(get(port, "/sub/nothing/").status, 404);

  // Decoding is checked without a server; these reach files through the
  // served folder's links, its sibling and the parser.
  for (const char* path : {"/../secret.txt", "/sub/%2e%2e/%2e%2e/secret.txt", "/secret.txt%00.html", "/link-out.txt",
                           "/evil-dir/secret.txt", "/../www-evil/secret.txt", "//../secret.txt"}) {
    const Reply r = get(port, path);
    EXPECT_EQ(r.status, 404) << path;
    EXPECT_EQ(r.body.find("TOP-SECRET"), std::string::npos) << path;
  }
  // What the HTTP parser refuses before routing never reaches a file either.
  for (const char* line : {"GET ../secret.txt HTTP/1.1", "GET /a\x01/../../secret.txt HTTP/1.1",
                           "GET http://localhost/../secret.txt HTTP/1.1"}) {
    const Reply r = rawRequest(port, std::string(line) + "\r\n" + hostLine(port) + "Connection: close\r\n\r\n");
    EXPECT_NE(r.status, 200) << line;
    EXPECT_EQ(r.body.find("TOP-SECRET"), std::string::npos) << line;
  }
  ASSERT_EQ(::mkfifo((root + "/pipe.html").c_str(), 0600), 0);
  // A FIFO would block a plain open() forever; the request must still end.
  EXPECT_EQ(get(port, "/pipe.html").status, 404);
  fs::create_directories(root + "/empty-folder");
  EXPECT_EQ(get(port, "/empty-folder/").status, 404);
  writeFile(root + "/empty.txt", "");
  EXPECT_EQ(get(port, "/empty.txt").header("content-length"), "0");
  // A folder whose name would read as a host after "//" or "\\": redirects
  // stay on our origin.
  writeFile(root + "/evil.example/index.html", "x");
  for (const char* target : {"//evil.example", "/%5Cevil.example"}) {
    const std::string location = get(port, target).header("location");
    EXPECT_TRUE(location.empty() || (location[0] == '/' && location[1] != '/' && location[1] != '\\'))
        << target << " -> " << location;
  }
}

TEST_F(Served, FileThatShrinksWhileSentEndsTheConnection) {
  start();
  // A sparse 64 MiB file: more than loopback buffers hold, so most of it is
  // still unread when the file is cut.
  const std::string path = root + "/growing.bin";
  writeFile(path, "");
  ASSERT_EQ(::truncate(path.c_str(), 64 << 20), 0);
  const int fd = connectTo(port);
  ASSERT_TRUE(sendAll(fd, "GET /growing.bin HTTP/1.1\r\n" + hostLine(port) + "Connection: close\r\n\r\n"));
  char buffer[4096];
  ASSERT_GT(::recv(fd, buffer, sizeof buffer, MSG_WAITALL), 0);
  ASSERT_EQ(::truncate(path.c_str(), 1 << 20), 0);
  const Reply rest = readReply(fd);  // headers already consumed: body bytes only
  ::close(fd);
  EXPECT_LT(rest.body.size() + sizeof buffer, size_t(64) << 20);
  // The server goes on serving.
  EXPECT_EQ(get(port, "/style.css").body, "body{}");
}

TEST_F(Served, FilesKeptInMemoryFollowEveryChangeOnDisk) {
  start();
  // Each file is served until it is kept (validators settled, asked for
  // twice), then changed one way; the very next request must see the change.
  struct Case {
    const char* path;
    std::function<void()> change;
    std::string shown;
  };
  writeFile(root + "/kept/rewritten.txt", "old-1");
  writeFile(root + "/kept/replaced.txt", "old-2");
  writeFile(root + "/kept/removed.txt", "old-3");
  writeFile(root + "/kept/hard.txt", "old-4");
  fs::create_hard_link(root + "/kept/hard.txt", dir / "outside-hard.txt");
  writeFile(root + "/swapped/inner.txt", "old-5");
  const std::vector<Case> cases = {
      {"/kept/rewritten.txt", [&] { writeFile(root + "/kept/rewritten.txt", "new-1"); }, "200 new-1"},
      {"/kept/replaced.txt",
       [&] {
         writeFile(dir / "staged.txt", "new-2");
         fs::rename(dir / "staged.txt", root + "/kept/replaced.txt");
       },
       "200 new-2"},
      {"/kept/removed.txt", [&] { fs::remove(root + "/kept/removed.txt"); }, "404 not found"},
      // Written through a name outside the served folder.
      {"/kept/hard.txt", [&] { writeFile(dir / "outside-hard.txt", "new-4"); }, "200 new-4"},
      {"/swapped/inner.txt",
       [&] {
         fs::rename(root + "/swapped", dir / "swapped-away");
         writeFile(root + "/swapped/inner.txt", "new-5");
       },
       "200 new-5"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(settled(c.path).has("etag")) << c.path;
    EXPECT_EQ(get(port, c.path).body.substr(0, 3), "old") << c.path;
  }
  for (const auto& c : cases) {
    c.change();
    EXPECT_EQ(get(port, c.path).shown(), c.shown) << c.path;
  }
}

TEST_F(Served, AFileRewrittenInPlaceWithinASecondIsNeverServedStale) {
  start();
  const std::string path = root + "/data.json";
  writeFile(path, R"({"v":1})");
  const Reply first = settled("/data.json");
  ASSERT_EQ(first.body, R"({"v":1})");
  // Two rewrites in place, same size, as fast as the disk allows.
  for (const char* text : {R"({"v":2})", R"({"v":3})"}) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, text, 7, 0), 7);
    ::close(fd);
    const Reply again = get(port, "/data.json", {{"If-None-Match", first.header("etag")},
                                                  {"If-Modified-Since", first.header("last-modified")}});
    EXPECT_EQ(again.shown(), std::string("200 ") + text);
    // A range on the old version must not splice old and new.
    const Reply range = get(port, "/data.json", {{"Range", "bytes=5-6"}, {"If-Range", first.header("etag")}});
    EXPECT_EQ(range.shown(), std::string("200 ") + text);
  }
}

TEST_F(Served, SymbolicLinksNameTheTypeAndTheRootFollowsItsTarget) {
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
  ASSERT_TRUE(settled("/a.txt").has("etag"));
  EXPECT_EQ(get(port, "/a.txt").body, "one");
  // Repointed while serving: the next request sees the new folder.
  fs::create_symlink(v2, dir / "next");
  fs::rename(dir / "next", dir / "current");
  EXPECT_EQ(get(port, "/a.txt").body, "two");
  server.stop();

  start();
  const Reply module = get(port, "/linked.mjs");
  EXPECT_EQ(module.body, "export const x = 1;");
  EXPECT_EQ(module.header("content-type"), "text/javascript");
  EXPECT_EQ(get(port, "/site.webmanifest").header("content-type"), "application/manifest+json");
}

// "/unittest.html": answered after five seconds with an empty body, while
// the server goes on answering everything else.
TEST_F(Served, ParkedTestPageRequestsBlockNothingAndEndWithTheServer) {
  start();
  std::vector<int> parked;
  const auto sentAt = std::chrono::steady_clock::now();
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
    const auto waited = std::chrono::steady_clock::now() - sentAt;
    ::close(fd);
    EXPECT_EQ(r.shown() + "length " + r.header("content-length"), "200 length 0");
    EXPECT_GE(waited, std::chrono::seconds(corvane::server::HTTPResponseTest::kDelaySeconds));
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
TEST_F(Served, TestPageRequestsArrivingWhileTheServerStopsNeverOutliveIt) {
  for (int round = 0; round < 30; ++round) {
    HttpServer stopping;
    stopping.setDocumentRoot(root);
    ASSERT_TRUE(stopping.start());
    std::atomic<bool> done{false};
    std::thread clients([&, at = stopping.port()] {
      std::vector<int> open;
      for (int fd; !done && open.size() < 400 && (fd = connectTo(at)) >= 0; open.push_back(fd))
        sendAll(fd, "GET /unittest.html HTTP/1.1\r\n" + hostLine(at) + "\r\n");
      for (int fd : open) ::close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stopping.stop();
    done = true;
    clients.join();
  }
}

TEST_F(Served, AnImpostorOnTheOtherFamilyMakesTheStartFail) {
  // A port the system hands out on IPv6, held there.
  const int impostor = holdLoopback(AF_INET6, 0);
  if (impostor < 0) GTEST_SKIP() << "no IPv6 loopback here";
  sockaddr_in6 a{};
  socklen_t length = sizeof a;
  ::getsockname(impostor, reinterpret_cast<sockaddr*>(&a), &length);
  const uint16_t wanted = ntohs(a.sin6_port);
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

TEST_F(Served, ConnectionsClosedByTheClientAreFreedAtOnce) {
  start();
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

TEST_F(Served, IdleAndHalfSentConnectionsTimeOutAndTheCapHolds) {
  server.setIdleTimeout(1);
  server.setConnectionLimit(4);
  start();
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

TEST_F(Served, RunningOutOfDescriptorsIsSurvived) {
  start();
  ASSERT_EQ(get(port, "/a.txt").body, "A");
  // A connection the server already holds, for a request sent later.
  const int kept = connectTo(port);
  ASSERT_GE(kept, 0);
  ASSERT_TRUE(sendAll(kept, "GET /a.txt HTTP/1.1\r\n" + hostLine(port) + "\r\n"));
  ASSERT_EQ(readOneReply(kept).rfind("HTTP/1.1 200", 0), 0u);
  // Settled: nothing of the server's is still closing.
  const size_t settledCount = descriptorsOf();
  ASSERT_TRUE(eventually([&] { return descriptorsOf() == settledCount; }));
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

TEST_F(Served, ForeignHostNamesAndMalformedHeadersGetNothing) {
  start();
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
  EXPECT_EQ(rawRequest(port, "GET /a.txt HTTP/1.0\r\n\r\n").body, "A");
  // Two Host headers, or none in HTTP/1.1, two lengths, a huge header.
  const std::pair<std::string, int> refused[] = {
      {"GET /a.txt HTTP/1.1\r\nHost: " + ours + "\r\nHost: attacker.example\r\nConnection: close\r\n\r\n", 400},
      {"GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n", 400},
      {"GET /a.txt HTTP/1.1\r\n" + hostLine(port) + "Content-Length: 1\r\nContent-Length: 2\r\n" +
           "Connection: close\r\n\r\nab",
       400},
      {"GET /a.txt HTTP/1.1\r\n" + hostLine(port) + "X-Big: " + std::string(100 * 1024, 'x') + "\r\n\r\n", 431},
  };
  for (const auto& [raw, status] : refused) EXPECT_EQ(rawRequest(port, raw).status, status) << raw.substr(0, 80);
  EXPECT_EQ(get(port, "/a.txt").body, "A");
}

TEST_F(Served, ALargeRefusedBodyIsNeverRead) {
  start();
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
  ASSERT_TRUE(sendAll(pusher, "PUT /a.txt HTTP/1.1\r\n" + hostLine(port) + "Content-Length: 1073741824\r\n\r\n"));
  const std::string chunk(1 << 20, 'x');
  size_t pushed = 0;
  for (ssize_t n; pushed < (size_t(256) << 20) && (n = ::send(pusher, chunk.data(), chunk.size(), MSG_NOSIGNAL)) > 0;)
    pushed += static_cast<size_t>(n);
  const Reply put = readReply(pusher);
  ::close(pusher);
  EXPECT_EQ(put.status, 405);
  EXPECT_LT(pushed, size_t(256) << 20);  // the server stopped taking it
  EXPECT_LT(residentKiBOf() - before, 32 * 1024) << "KiB grown";
  EXPECT_EQ(get(port, "/a.txt").body, "A");
}
