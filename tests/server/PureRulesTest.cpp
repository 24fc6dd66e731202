// The request-independent rules of the server and the launch step: path
// decoding, byte ranges, conditional requests, markers and
// the port format.
#include "app/LaunchPlan.h"
#include "server/ContentTypes.h"
#include "server/DocumentRoot.h"
#include "server/HostPolicy.h"
#include "server/HttpRanges.h"
#include "server/IndexTemplate.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::server;

TEST(RequestPath, DecodesOnceNormalisesAndRefusesEveryTraversalForm) {
  const std::pair<const char*, const char*> decoded[] = {
      {"/a%20b/c.html", "/a b/c.html"}, {"/", "/"},
      {"/%252e%252e/x", "/%2e%2e/x"},  // decoded once: "%252e" is the text "%2e", not a dot
      {"/...", "/..."}, {"/a..b", "/a..b"},  // names, not parents
      {"//index.html", "/index.html"}, {"///indir", "/indir"}, {"/./index.html", "/index.html"},
      {"/%2e/index.html", "/index.html"}, {"/a//b///c", "/a/b/c"}, {"/a/", "/a/"}, {"/a//", "/a/"},
      {"/a/.", "/a/"}, {"//", "/"},
  };
  for (const auto& [in, out] : decoded) EXPECT_EQ(decodeRequestPath(in), out) << in;
  for (const char* refused :
       {"", "relative.html", "/..", "/../x", "/a/../../x", "/a/..", "/%2e%2e/x", "/%2E%2e/x", "/.%2e/x", "/a/%2e%2e",
        "/..%2fx", "/..%2Fx", "/a%5c..%5cx", "/%5C", "/%00", "/index.html%00.png", "/%", "/%4", "/%zz", "/%g0",
        "//.."}) {
    EXPECT_EQ(decodeRequestPath(refused), std::nullopt) << refused;
  }
  EXPECT_EQ(decodeRequestPath(std::string_view("/a\0b", 4)), std::nullopt);

  // Redirect targets stay on our origin whatever the request named.
  EXPECT_EQ(encodeRequestPath("/indir/"), "/indir/");
  EXPECT_EQ(encodeRequestPath("//evil.example/"), "/evil.example/");
  EXPECT_EQ(encodeRequestPath("/\\evil.example/"), "/%5Cevil.example/");
  EXPECT_EQ(encodeRequestPath("/a b/\xc3\xa9?#/"), "/a%20b/%C3%A9%3F%23/");
  EXPECT_EQ(encodeRequestPath("relative/"), "/relative/");
}

TEST(HostHeader, OnlyLoopbackNamesWithOurPortUnlessListeningEverywhere) {
  const HostPolicy local(8123, false);
  for (const char* ok : {"localhost:8123", "LOCALHOST:8123", "127.0.0.1:8123", "[::1]:8123",
                         "[0:0:0:0:0:0:0:1]:8123"}) {
    EXPECT_TRUE(local.allows(ok)) << ok;
  }
  for (const char* refused :
       {"attacker.example:8123", "attacker.example", "localhost", "localhost:80", "localhost:8124",
        "127.0.0.2:8123", "localhost.:8123", "localhost.attacker.example:8123", "[::2]:8123",
        "127.0.0.1:8123:8123", "[::1]8123", "local host:8123", "localhost:", "user@localhost:8123",
        "", ":8123", "localhost:08123x"}) {
    EXPECT_FALSE(local.allows(refused)) << refused;
  }
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  const std::string own = std::string(name) + ":8123";
  EXPECT_FALSE(local.allows(own));
  // Listening everywhere: this machine's names too, still with our port.
  const HostPolicy everywhere(8123, true);
  for (const auto& [host, allowed] : std::vector<std::pair<std::string, bool>>{
           {own, true}, {std::string(name) + ".local:8123", true}, {"localhost:8123", true},
           {"attacker.example:8123", false}, {std::string(name) + ":9999", false}})
    EXPECT_EQ(everywhere.allows(host), allowed) << host;

  EXPECT_EQ(parseHostHeader("Example.COM")->host, "example.com");
  EXPECT_EQ(parseHostHeader("Example.COM")->port, 80);
  EXPECT_EQ(parseHostHeader("[::1]:65535")->port, 65535);
  EXPECT_EQ(parseHostHeader("h:65536"), std::nullopt);
}

TEST(ContentType, FollowsTheRequestedNameWithWebTypesFixed) {
  // .mjs and .webmanifest: through a link, with the running server.
  for (const auto& [path, type] : std::vector<std::pair<std::string, std::string>>{
           {"/lib.cjs", "text/javascript"}, {"/src/main.ts", "text/plain"}, {"/Index.HTML", "text/html"},
           {"/no-extension", "application/octet-stream"}, {"/dir.js/file", "application/octet-stream"}})
    EXPECT_EQ(contentTypeForPath(path), type) << path;
}

TEST(ByteRanges, SingleRangesAreHonouredAndOthersFallBack) {
  const std::tuple<const char*, uint64_t, uint64_t> partial[] = {
      {"bytes=0-99", 0, 99}, {"bytes=100-", 100, 999}, {"bytes=-100", 900, 999},
      {"bytes=-5000", 0, 999},     // suffix longer than the file
      {"bytes=990-5000", 990, 999},  // end clipped
      {" Bytes=5-5 ", 5, 5}};
  for (const auto& [header, first, last] : partial) {
    const RangeDecision d = decideRange(header, 1000);
    EXPECT_EQ(std::tuple(d.kind, d.range.first, d.range.last), std::tuple(RangeKind::Partial, first, last)) << header;
  }
  for (const char* ignored : {"", "bytes", "bytes=", "items=0-1", "bytes=a-b", "bytes=5-1",
                              "bytes=-", "bytes=0-1,4-5", "bytes=1-2-3", "bytes=0x10-"}) {
    EXPECT_EQ(decideRange(ignored, 1000).kind, RangeKind::Full) << ignored;
  }
  for (const char* missing : {"bytes=1000-", "bytes=5000-6000", "bytes=-0"}) {
    EXPECT_EQ(decideRange(missing, 1000).kind, RangeKind::Unsatisfiable) << missing;
  }
  EXPECT_EQ(decideRange("bytes=0-", 0).kind, RangeKind::Unsatisfiable);
}

TEST(ConditionalRequests, ValidatorsDecide304AndIfRange) {
  const std::time_t mtime = 1'700'000'000;  // Tue, 14 Nov 2023 22:13:20 GMT
  const FileStamp stamp{42, 1234, {mtime - 100, 5}, {mtime, 7}};  // inode, size, mtime, ctime
  const struct timespec later = {mtime + 3600, 0};
  const Validators v = validatorsFor(stamp, later);
  ASSERT_TRUE(v.present);
  // The later of the two times: a copy that kept an old modification time
  // is still newer than what a client saw before it.
  EXPECT_EQ(v.lastModified, "Tue, 14 Nov 2023 22:13:20 GMT");
  EXPECT_EQ(parseHttpDate(v.lastModified.c_str()), mtime);

  EXPECT_TRUE(isNotModified(nullptr, v.lastModified.c_str(), v));
  EXPECT_TRUE(isNotModified(nullptr, "Wed, 15 Nov 2023 00:00:00 GMT", v));
  EXPECT_FALSE(isNotModified(nullptr, "Mon, 13 Nov 2023 00:00:00 GMT", v));
  EXPECT_FALSE(isNotModified(nullptr, "not a date", v));
  EXPECT_FALSE(isNotModified(nullptr, nullptr, v));
  EXPECT_TRUE(isNotModified(v.etag.c_str(), nullptr, v));
  EXPECT_TRUE(isNotModified(("\"x\", W/" + v.etag).c_str(), nullptr, v));
  EXPECT_TRUE(isNotModified("*", nullptr, v));
  // A non-matching entity tag wins over a matching date.
  EXPECT_FALSE(isNotModified("\"other\"", v.lastModified.c_str(), v));

  EXPECT_TRUE(ifRangeAllowsPartial(nullptr, v));
  EXPECT_TRUE(ifRangeAllowsPartial(v.etag.c_str(), v));
  EXPECT_TRUE(ifRangeAllowsPartial(v.lastModified.c_str(), v));
  EXPECT_FALSE(ifRangeAllowsPartial("\"stale\"", v));
  EXPECT_FALSE(ifRangeAllowsPartial(("W/" + v.etag).c_str(), v));  // weak never resumes
  EXPECT_FALSE(ifRangeAllowsPartial("Mon, 13 Nov 2023 00:00:00 GMT", v));
}

TEST(ConditionalRequests, EveryChangeOfTheFileChangesTheEntityTag) {
  const FileStamp stamp{42, 1234, {1'700'000'000, 100}, {1'700'000'000, 100}};
  const struct timespec later = {1'800'000'000, 0};
  const std::string etag = validatorsFor(stamp, later).etag;
  auto changed = [&](auto edit) {
    FileStamp other = stamp;
    edit(other);
    return validatorsFor(other, later).etag;
  };
  // A rewrite in the same second, at the same size.
  EXPECT_NE(changed([](FileStamp& s) { s.mtime.tv_nsec += 1; s.ctime.tv_nsec += 1; }), etag);
  // A replacement by rename, with the old times kept (as archives do).
  EXPECT_NE(changed([](FileStamp& s) { s.inode += 1; }), etag);
  // A copy over the file that kept its modification time.
  EXPECT_NE(changed([](FileStamp& s) { s.ctime.tv_sec += 5; }), etag);
  EXPECT_NE(changed([](FileStamp& s) { s.size += 1; }), etag);
}

TEST(ConditionalRequests, AFileChangedWithinTheLastSecondGetsNoValidators) {
  const FileStamp stamp{0, 0, {1'700'000'000, 0}, {1'700'000'000, 500'000'000}};
  // Changed 0.9 s ago: a second change within the same clock tick would
  // keep the same times, so nothing is promised yet.
  const Validators recent = validatorsFor(stamp, {1'700'000'001, 400'000'000});
  EXPECT_FALSE(recent.present);
  EXPECT_TRUE(recent.etag.empty());
  EXPECT_FALSE(isNotModified("*", nullptr, recent));
  EXPECT_FALSE(isNotModified(nullptr, "Wed, 15 Nov 2023 00:00:00 GMT", recent));
  EXPECT_TRUE(ifRangeAllowsPartial(nullptr, recent));
  EXPECT_FALSE(ifRangeAllowsPartial("\"anything\"", recent));
  // Times in the future (a clock set back) count as recent too.
  EXPECT_FALSE(validatorsFor(stamp, {1'600'000'000, 0}).present);
  EXPECT_TRUE(validatorsFor(stamp, {1'700'000'001, 600'000'000}).present);
}

TEST(ConditionalRequests, ReadsTheThreeHttpDateForms) {
  const std::time_t when = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
  EXPECT_EQ(parseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), when);
  EXPECT_EQ(parseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), when);
  EXPECT_EQ(parseHttpDate("Sun Nov  6 08:49:37 1994"), when);
  EXPECT_EQ(parseHttpDate(httpDate(when).c_str()), when);
  for (const char* bad : {"", "Sun, 06 Nov 1994", "Sun, 06 Foo 1994 08:49:37 GMT",
                          "Sun, 06 Nov 1994 25:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 GMT x"}) {
    EXPECT_EQ(parseHttpDate(bad), std::nullopt) << bad;
  }
}

TEST(IndexMarkers, FillsKnownKeysAndKeepsTheRest) {
  const Replacements values{{"A", "1"}, {"NAME", "corvane"}};
  EXPECT_EQ(fillMarkers("x%%A%%y", values), "x1y");
  EXPECT_EQ(fillMarkers("%%NAME%%%%A%%", values), "corvane1");
  EXPECT_EQ(fillMarkers("%%NOPE%% %%A%%", values), "%%NOPE%% 1");
  // The closing "%%" of an unknown marker may open a known one.
  EXPECT_EQ(fillMarkers("%%NOPE%%A%%", values), "%%NOPE1");
  EXPECT_EQ(fillMarkers("100%% sure %%", values), "100%% sure %%");
  EXPECT_EQ(fillMarkers("tail %%A", values), "tail %%A");
  EXPECT_EQ(fillMarkers("", values), "");

  // The other markers are read back through the running server.
  const Replacements live = indexReplacements();
  EXPECT_EQ(live.at("STORY"),
            "<br/><br/>I'll tell you a story     <br/>About Jack a Nory;        <br/>And now my "
            "story's begun; <br/>I'll tell you another     <br/>Of Jack and his brother,  <br/>"
            "And now my story is done. <br/>");
  EXPECT_EQ(defaultDateDescription(1'796'501'280), "2026-12-05 20:08:00 +0000");
}

TEST(PortFormat, FillsTheFirstNumericConversion) {
  EXPECT_EQ(formatWithPort("http://localhost:%hu/index.html", 8080),
            "http://localhost:8080/index.html");
  EXPECT_EQ(formatWithPort("http://127.0.0.1:%d/a", 1), "http://127.0.0.1:1/a");
  EXPECT_EQ(formatWithPort("http://h:%@/", 65535), "http://h:65535/");
  EXPECT_EQ(formatWithPort("%lu|%ld", 42), "42|%ld");
  EXPECT_EQ(formatWithPort("100%% at %u", 7), "100% at 7");
  EXPECT_EQ(formatWithPort("%05d", 80), "00080");
  EXPECT_EQ(formatWithPort("no conversion", 80), "no conversion");
  EXPECT_EQ(formatWithPort("%s then %d", 80), "%s then 80");
  EXPECT_EQ(formatWithPort("trailing %", 80), "trailing %");
}
