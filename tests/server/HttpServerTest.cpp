// The running server over real loopback HTTP: routing, the filled index
// page, static files with ranges and validators, containment, the files it
// keeps in memory.
#include "server/HttpServer.h"
#include "ServerTestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <random>
#include <regex>

using namespace corvane::test;
using corvane::server::HttpServer;

namespace {

constexpr char kTemplate[] =
    "<p>%%TIME%%|%%COMPUTER_NAME%%|%%ALPHABET%%|[%%QUACK%%]|%%UNKNOWN%%</p>";

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (auto& c : out) c = static_cast<char>(gen());
  return out;
}

class ServedFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir / "www";
    writeFile(root + "/index.html", kTemplate);
    writeFile(root + "/copy.html", kTemplate);
    writeFile(root + "/sub/index.html", kTemplate);
    writeFile(root + "/style.css", "body{}");
    writeFile(root + "/clip.mp4", "not really a film");
    writeFile(dir / "secret.txt", "TOP-SECRET-OUTSIDE");
    // Shares the root's name as a text prefix: only a component-wise
    // comparison keeps it out.
    writeFile(dir / "www-evil/secret.txt", "TOP-SECRET-SIBLING");
    fs::create_symlink("../secret.txt", root + "/link-out.txt");
    fs::create_symlink("../www-evil", root + "/evil-dir");
    fs::create_symlink("index.html", root + "/alias.html");
    big = randomBytes(10 * 1024 * 1024 + 123, 7);
    writeFile(root + "/big.bin", big);
    server.setDocumentRoot(root);
    ASSERT_TRUE(server.start()) << server.errorText();
    port = server.port();
    ASSERT_NE(port, 0);
  }

  // A file gets validators once it has stayed unchanged for a second;
  // waits for that (the answer has an ETag) and answers the reply.
  Reply settled(const std::string& path) const {
    Reply r;
    eventually([&] { return (r = get(port, path)).has("etag"); }, 30);
    return r;
  }

  TempDir dir;
  std::string root;
  std::string big;
  HttpServer server;
  uint16_t port = 0;
};

std::string hostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

}  // namespace

TEST_F(ServedFolder, IndexPageIsFilledOnlyUnderItsOwnPath) {
  const Reply top = get(port, "/index.html");
  ASSERT_EQ(top.status, 200);
  EXPECT_EQ(top.header("content-type"), "text/html");
  EXPECT_EQ(top.header("content-length"), std::to_string(top.body.size()));
  const std::regex filled(
      R"(<p>\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000\|(.*)\|A\|\[  QUACK  \]\|%%UNKNOWN%%</p>)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(top.body, m, filled)) << top.body;
  EXPECT_EQ(m[1].str(), hostName());
  // The folder request names the same file.
  EXPECT_TRUE(std::regex_match(get(port, "/").body, filled));

  // Another name, a sub-folder's index and a link to it go out unchanged.
  for (const char* path : {"/copy.html", "/sub/index.html", "/sub/", "/alias.html"}) {
    const Reply r = get(port, path);
    EXPECT_EQ(r.status, 200) << path;
    EXPECT_EQ(r.body, kTemplate) << path;
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

TEST_F(ServedFolder, StaticFilesCarryTypeLengthAndValidatorsAndAnswer304) {
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

  const Reply large = get(port, "/big.bin");
  ASSERT_EQ(large.status, 200);
  EXPECT_EQ(large.header("content-length"), std::to_string(big.size()));
  EXPECT_TRUE(large.body == big) << "large body differs, " << large.body.size() << " bytes";

  const Reply head = request(port, "HEAD", "/big.bin");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.header("content-length"), std::to_string(big.size()));
  EXPECT_TRUE(head.body.empty());
}

TEST_F(ServedFolder, ByteRangesLetMediaSeek) {
  const std::string total = std::to_string(big.size());
  const Reply mid = get(port, "/big.bin", {{"Range", "bytes=5000000-5000099"}});
  EXPECT_EQ(mid.status, 206);
  EXPECT_EQ(mid.header("content-range"), "bytes 5000000-5000099/" + total);
  EXPECT_EQ(mid.header("content-length"), "100");
  EXPECT_EQ(mid.body, big.substr(5000000, 100));

  const Reply beyond = get(port, "/big.bin", {{"Range", "bytes=99999999-"}});
  EXPECT_EQ(beyond.status, 416);
  EXPECT_EQ(beyond.header("content-range"), "bytes */" + total);

  const Reply headRange = request(port, "HEAD", "/big.bin", {{"Range", "bytes=0-9"}});
  EXPECT_EQ(headRange.status, 206);
  EXPECT_EQ(headRange.header("content-length"), "10");
  EXPECT_TRUE(headRange.body.empty());
}

TEST_F(ServedFolder, MissingRefusedAndSpecialPathsAnswerNotFound) {
  const Reply missing = get(port, "/nothing-here.html");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, "not found");
  EXPECT_EQ(get(port, "/sub/nothing/").status, 404);

  // Decoding is checked without a server; these reach files through the
  // served folder's links, its sibling and the parser.
  const char* traversals[] = {"/../secret.txt",       "/sub/%2e%2e/%2e%2e/secret.txt", "/secret.txt%00.html",
                              "/link-out.txt",        "/evil-dir/secret.txt",          "/../www-evil/secret.txt",
                              "//../secret.txt"};
  for (const char* path : traversals) {
    const Reply r = get(port, path);
    EXPECT_EQ(r.status, 404) << path;
    EXPECT_EQ(r.body.find("TOP-SECRET"), std::string::npos) << path;
  }
  // What the HTTP parser refuses before routing never reaches a file either.
  for (const char* line : {"GET ../secret.txt HTTP/1.1", "GET /a\x01/../../secret.txt HTTP/1.1",
                           "GET http://localhost/../secret.txt HTTP/1.1"}) {
    const Reply r =
        rawRequest(port, std::string(line) + "\r\n" + hostLine(port) + "Connection: close\r\n\r\n");
    EXPECT_NE(r.status, 200) << line;
    EXPECT_EQ(r.body.find("TOP-SECRET"), std::string::npos) << line;
  }
  ASSERT_EQ(::mkfifo((root + "/pipe.html").c_str(), 0600), 0);
  // A FIFO would block a plain open() forever; the request must still end.
  EXPECT_EQ(get(port, "/pipe.html").status, 404);
  fs::create_directories(root + "/empty-folder");
  EXPECT_EQ(get(port, "/empty-folder/").status, 404);
  writeFile(root + "/empty.txt", "");
  const Reply empty = get(port, "/empty.txt");
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.header("content-length"), "0");
}

TEST_F(ServedFolder, FileThatShrinksWhileSentEndsTheConnection) {
  // A sparse 64 MiB file: more than loopback buffers hold, so most of it is
  // still unread when the file is cut.
  const std::string path = root + "/growing.bin";
  {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 64 << 20), 0);
    ::close(fd);
  }
  const int fd = connectTo(port);
  ASSERT_GE(fd, 0);
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

TEST_F(ServedFolder, SmallFilesKeptInMemoryFollowEveryChangeOnDisk) {
  // Each file is served until it is kept (validators settled, asked for
  // twice), then changed one way; the very next request must see the change.
  struct Case {
    const char* path;
    std::function<void()> change;
    int status;
    const char* body;
  };
  writeFile(root + "/kept/rewritten.txt", "old-1");
  writeFile(root + "/kept/replaced.txt", "old-2");
  writeFile(root + "/kept/removed.txt", "old-3");
  writeFile(root + "/kept/hard.txt", "old-4");
  fs::create_hard_link(root + "/kept/hard.txt", dir / "outside-hard.txt");
  writeFile(root + "/swapped/inner.txt", "old-5");
  const std::vector<Case> cases = {
      {"/kept/rewritten.txt", [&] { writeFile(root + "/kept/rewritten.txt", "new-1"); }, 200, "new-1"},
      {"/kept/replaced.txt",
       [&] {
         writeFile(dir / "staged.txt", "new-2");
         fs::rename(dir / "staged.txt", root + "/kept/replaced.txt");
       },
       200, "new-2"},
      {"/kept/removed.txt", [&] { fs::remove(root + "/kept/removed.txt"); }, 404, "not found"},
      // Written through a name outside the served folder.
      {"/kept/hard.txt", [&] { writeFile(dir / "outside-hard.txt", "new-4"); }, 200, "new-4"},
      {"/swapped/inner.txt",
       [&] {
         fs::rename(root + "/swapped", dir / "swapped-away");
         writeFile(root + "/swapped/inner.txt", "new-5");
       },
       200, "new-5"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(settled(c.path).has("etag")) << c.path;
    EXPECT_EQ(get(port, c.path).body.substr(0, 3), "old") << c.path;
  }
  for (const auto& c : cases) {
    c.change();
    const Reply r = get(port, c.path);
    EXPECT_EQ(r.status, c.status) << c.path;
    EXPECT_EQ(r.body, c.body) << c.path;
  }
}
