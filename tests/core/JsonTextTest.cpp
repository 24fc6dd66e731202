// Bounded JSON parsing and the texts of its errors.
#include "TestSupport.h"

#include "app/JsonText.h"

using namespace corvane;

TEST(JsonText, NestingIsCountedOutsideStringsOnly) {
  EXPECT_FALSE(nestingTooDeepAt("[[[]]]", 3));
  EXPECT_EQ(nestingTooDeepAt("[[[[]]]]", 3), 3u);
  EXPECT_EQ(nestingTooDeepAt("{\"a\": [{\"b\": []}]}", 3), 13u);
  EXPECT_FALSE(nestingTooDeepAt(R"(["[[[[", "\"[[[[", {"k\\": "[[["}])", 2));
  EXPECT_FALSE(nestingTooDeepAt("]]]][[[", 3)) << "closers first: the parser reports those";
}

TEST(JsonText, TheDeepestAcceptedNestingParses) {
  std::string error;
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
