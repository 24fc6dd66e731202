// The request-independent rules of the server and the launch step: path
// decoding and containment, byte ranges, conditional requests, markers and
// the port format.
#include "app/LaunchPlan.h"
#include "server/DocumentRoot.h"
#include "server/HttpRanges.h"
#include "server/IndexTemplate.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::server;

TEST(RequestPath, DecodesOnceAndRefusesEveryTraversalForm) {
  EXPECT_EQ(decodeRequestPath("/a%20b/c.html"), "/a b/c.html");
  // Decoding happens once: "%252e" stays the text "%2e", not a dot.
  EXPECT_EQ(decodeRequestPath("/%252e%252e/x"), "/%2e%2e/x");
  EXPECT_EQ(decodeRequestPath("/"), "/");
  EXPECT_EQ(decodeRequestPath("/..."), "/...");  // three dots are a name
  EXPECT_EQ(decodeRequestPath("/a..b"), "/a..b");

  for (const char* refused :
       {"", "relative.html", "/..", "/../x", "/a/../../x", "/a/..", "/%2e%2e/x", "/%2E%2e/x",
        "/.%2e/x", "/a/%2e%2e", "/..%2fx", "/..%2Fx", "/a%5c..%5cx", "/%5C", "/%00",
        "/index.html%00.png", "/%", "/%4", "/%zz", "/%g0"}) {
    EXPECT_EQ(decodeRequestPath(refused), std::nullopt) << refused;
  }
  EXPECT_EQ(decodeRequestPath(std::string_view("/a\0b", 4)), std::nullopt);
}

TEST(RequestPath, ContainmentComparesWholeComponents) {
  EXPECT_TRUE(isInsideRoot("/srv/www", "/srv/www"));
  EXPECT_TRUE(isInsideRoot("/srv/www", "/srv/www/index.html"));
  EXPECT_TRUE(isInsideRoot("/srv/www", "/srv/www/a/b/c"));
  EXPECT_TRUE(isInsideRoot("/srv/www/", "/srv/www/a"));
  EXPECT_TRUE(isInsideRoot("/", "/etc/hosts"));
  EXPECT_FALSE(isInsideRoot("/srv/www", "/srv/www-evil/secret"));
  EXPECT_FALSE(isInsideRoot("/srv/www", "/srv/wwwx"));
  EXPECT_FALSE(isInsideRoot("/srv/www", "/srv"));
  EXPECT_FALSE(isInsideRoot("/srv/www", "/etc/passwd"));
}

TEST(ByteRanges, SingleRangesAreHonouredAndOthersFallBack) {
  auto partial = [](const char* header, uint64_t size, uint64_t first, uint64_t last) {
    const RangeDecision d = decideRange(header, size);
    EXPECT_EQ(d.kind, RangeKind::Partial) << header;
    EXPECT_EQ(d.range.first, first) << header;
    EXPECT_EQ(d.range.last, last) << header;
  };
  partial("bytes=0-99", 1000, 0, 99);
  partial("bytes=100-", 1000, 100, 999);
  partial("bytes=-100", 1000, 900, 999);
  partial("bytes=-5000", 1000, 0, 999);   // suffix longer than the file
  partial("bytes=990-5000", 1000, 990, 999);  // end clipped
  partial(" Bytes=5-5 ", 1000, 5, 5);

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
  const Validators v = validatorsFor(mtime, 1234);
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
  EXPECT_NE(validatorsFor(mtime, 1235).etag, v.etag);
  EXPECT_NE(validatorsFor(mtime + 1, 1234).etag, v.etag);

  EXPECT_TRUE(ifRangeAllowsPartial(nullptr, v));
  EXPECT_TRUE(ifRangeAllowsPartial(v.etag.c_str(), v));
  EXPECT_TRUE(ifRangeAllowsPartial(v.lastModified.c_str(), v));
  EXPECT_FALSE(ifRangeAllowsPartial("\"stale\"", v));
  EXPECT_FALSE(ifRangeAllowsPartial(("W/" + v.etag).c_str(), v));  // weak never resumes
  EXPECT_FALSE(ifRangeAllowsPartial("Mon, 13 Nov 2023 00:00:00 GMT", v));
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

  const Replacements live = indexReplacements();
  EXPECT_EQ(live.at("ALPHABET"), "A");
  EXPECT_EQ(live.at("QUACK"), "  QUACK  ");
  EXPECT_EQ(live.at("STORY"),
            "<br/><br/>I'll tell you a story     <br/>About Jack a Nory;        <br/>And now my "
            "story's begun; <br/>I'll tell you another     <br/>Of Jack and his brother,  <br/>"
            "And now my story is done. <br/>");
  EXPECT_FALSE(live.at("COMPUTER_NAME").empty());
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
