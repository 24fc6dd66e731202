// Arguments, answers, the JSON-file reader and size texts of the bridge.
#include "TestSupport.h"

#include "bridge/UtilTool.h"

#include <glib.h>

using namespace corvane;
using namespace corvane::test;

TEST(FileSizeText, FirstDivisionAlwaysHappens) {
  EXPECT_EQ(UtilTool::getFileSizeString(0, false), "0.1KB");
  EXPECT_EQ(UtilTool::getFileSizeString(1, true), "0.1KB");
  EXPECT_EQ(UtilTool::getFileSizeString(1500000, false), "1.4MB");
  EXPECT_EQ(UtilTool::getFileSizeString(1500000, true), "1.5MB");
  EXPECT_EQ(UtilTool::getFileSizeString(1048576, false), "1024.0KB");
  EXPECT_EQ(UtilTool::getFileSizeString(1048577, false), "1.0MB");
  EXPECT_EQ(UtilTool::getFileSizeString(1000000000000ULL, true), "1000.0GB");
  EXPECT_EQ(UtilTool::getFileSizeString(UINT64_MAX, false), "16.0EB");
}

TEST(FileSizeText, ByteCountsGivenAsTextAreNumbers) {
  using nlohmann::json;
  EXPECT_EQ(UtilTool::byteCount(json("1500000")), 1500000u);
  EXPECT_EQ(UtilTool::getFileSizeString(UtilTool::byteCount(json("1500000")), true), "1.5MB");
  EXPECT_EQ(UtilTool::byteCount(json(" 2e3 ")), 2000u);
  EXPECT_EQ(UtilTool::byteCount(json("0x10")), 16u);
  EXPECT_EQ(UtilTool::byteCount(json(1500000.9)), 1500000u);
  EXPECT_EQ(UtilTool::byteCount(json("1e30")), UINT64_MAX);
  EXPECT_EQ(UtilTool::byteCount(json(true)), 1u);
  // Not a number: 0, as before.
  for (const json& v : {json("12abc"), json(""), json("abc"), json("-5"), json(-5), json("nan"), json(nullptr),
                        json::array({1}), json::object()})
    EXPECT_EQ(UtilTool::byteCount(v), 0u) << v;
}

TEST(ParamsDictionary, ParseLogsTheValueOrTheError) {
  testing::internal::CaptureStderr();
  UtilTool::paramsDictionary(std::string(R"({"a":1})"));
  UtilTool::paramsDictionary(std::string("{oops"));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, testing::HasSubstr("jsonObj = {\"a\":1}"));
  EXPECT_THAT(err, testing::HasSubstr("NSString JSONObject error: "));
}

TEST(CallbackScript, InvalidUtf8IsReplaced) {
  EXPECT_EQ(UtilTool::argumentsAsJSON(std::string("\xff")), "\"\xef\xbf\xbd\"")
      << "invalid UTF-8 is replaced, never thrown across the bridge";
}

TEST(JsonFileReader, PlainBase64AndRejects) {
  TempDir tmp;
  writeFile(tmp / "plain.json", R"({"a": 1, "b": null})");
  auto plain = UtilTool::getDicFromJsonFile(tmp / "plain.json");
  ASSERT_TRUE(plain);
  EXPECT_EQ(*plain, nlohmann::json({{"a", 1}}));

  const std::string json = R"({"secret": "x"})";
  gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(json.data()), json.size());
  writeFile(tmp / "b64.json", b64);
  g_free(b64);
  auto decoded = UtilTool::getDicFromJsonFile(tmp / "b64.json");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->at("secret"), "x");

  writeFile(tmp / "array.json", "[1]");
  writeFile(tmp / "junk.json", "@@@ not json @@@");
  fs::create_directories(tmp / "dir.json");
  for (const char* f : {"array.json", "junk.json", "dir.json", "missing.json"})
    EXPECT_FALSE(UtilTool::getDicFromJsonFile(tmp / f)) << f;
}
