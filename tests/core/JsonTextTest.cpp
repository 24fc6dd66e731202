// Bounded JSON parsing and the texts of its errors.
#include "TestSupport.h"

#include "app/JsonText.h"

using namespace corvane;
using testing::HasSubstr;

TEST(JsonText, NestingIsCountedOutsideStringsOnly) {
  EXPECT_FALSE(nestingTooDeepAt("[[[]]]", 3));
  EXPECT_EQ(nestingTooDeepAt("[[[[]]]]", 3), 3u);
  EXPECT_EQ(nestingTooDeepAt("{\"a\": [{\"b\": []}]}", 3), 13u);
  EXPECT_FALSE(nestingTooDeepAt(R"(["[[[[", "\"[[[[", {"k\\": "[[["}])", 2));
  EXPECT_FALSE(nestingTooDeepAt("]]]][[[", 3)) << "closers first: the parser reports those";
}

TEST(JsonText, ErrorsCarryTheirPosition) {
  std::string error;
  EXPECT_FALSE(parseJsonText("{\n  \"a\": 1,\n  \"b\" 2\n}", &error));
  EXPECT_THAT(error, HasSubstr("parse error at line 3, column 7"));
  EXPECT_EQ(error.find("[json.exception"), std::string::npos);

  EXPECT_FALSE(parseJsonText("[\n" + std::string(300, '['), &error));
  EXPECT_EQ(error, "nesting deeper than 256 levels at line 2, column 256");

  auto deepest = parseJsonText(std::string(256, '[') + std::string(256, ']'), &error);
  ASSERT_TRUE(deepest);
  EXPECT_EQ(deepest->dump().size(), 512u);
}

TEST(JsonText, SnippetsAndTypeNames) {
  EXPECT_EQ(jsonSnippet("8080"), "\"8080\"");
  EXPECT_EQ(jsonSnippet(std::string(100, 'x'), 10), "\"xxxxxxxxx...");
  EXPECT_EQ(jsonSnippet("\xc3\xa9\xc3\xa9", 2), "\"...") << "never inside a UTF-8 sequence";
  EXPECT_EQ(jsonTypeName(nlohmann::json::array()), "an array");
  EXPECT_EQ(jsonTypeName(5), "a number");
  EXPECT_EQ(jsonTypeName("a"), "text");
}
