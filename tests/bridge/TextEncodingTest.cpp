// Texts between the script engine's UTF-16 and native UTF-8: whole, with
// U+0000, and U+FFFD for what UTF-8 cannot hold.
#include "bridge/TextEncoding.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvane::bridge;

namespace {

std::string utf8(const std::u16string& units) {
  std::string out;
  appendUtf16AsUtf8(out, units.data(), units.size());
  return out;
}

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(Utf16ToUtf8, KeepsEveryCharacterAndReplacesUnpairedSurrogates) {
  const struct {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"", ""},
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {u"Grüße 中文 😀", "Grüße 中文 😀"},
      {u"\u007F\u0080\u07FF\u0800\uFFFF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
      {u"/a/abc\xD800" u"def", "/a/abc" + kFFFD + "def"},
      {u"x\xDC00", "x" + kFFFD},
      {u"\xD800", kFFFD},                 // a high one at the very end
      {u"\xDC00\xD800", kFFFD + kFFFD},  // reversed pair
      {u"\xD800\xD800\xDC00", kFFFD + "\xF0\x90\x80\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8(c.in), c.out) << c.out;
    // What UTF-8 holds whole comes back whole.
    EXPECT_TRUE(c.out.find(kFFFD) != std::string::npos || utf16FromUtf8(c.out) == c.in) << c.out;
  }
}

TEST(Utf16ToUtf8, PairsAcrossTheConversionPiecesStayOneCharacter) {
  // The conversion works in pieces of 8192 units; a pair may straddle two.
  // (The ASCII before it varies, as a block copied out of order would show.)
  for (size_t lead : {8190u, 8191u, 8192u, 16383u}) {
    std::string ascii;
    for (size_t i = 0; i < lead; ++i) ascii += static_cast<char>('a' + i % 26);
    std::u16string text(ascii.begin(), ascii.end());
    text += u"\xD83D\xDE00z";
    EXPECT_EQ(utf8(text), ascii + "\xF0\x9F\x98\x80z") << lead;
  }
}

TEST(Utf8Repair, WellFormedTextsPassAndEachMaximalIllFormedPieceBecomesOneReplacement) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"Grüße 中文 😀", "Grüße 中文 😀"},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF
      {std::string(1000, 'x') + "é", std::string(1000, 'x') + "é"},
      {"\xFF", kFFFD},
      {"a\xC3(b", "a" + kFFFD + "(b"},                    // lead without its trail
      {"\xC0\x80", kFFFD + kFFFD},                        // overlong NUL
      {"\xED\xA0\x80", kFFFD + kFFFD + kFFFD},            // an encoded surrogate
      {"\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},  // above U+10FFFF
      {"\xF0\x9F\x98", kFFFD},                            // cut short at the end
      {"\xF0\x9F\x98x", kFFFD + "x"},                     // cut short before a letter
      {"\xE2\x82", kFFFD},
      {std::string(20, 'a') + "\x80" + std::string(20, 'b'), std::string(20, 'a') + kFFFD + std::string(20, 'b')},
      // Past long ASCII stretches, which are checked in blocks.
      {std::string(95, 'a') + "\x80" + std::string(64, 'b'), std::string(95, 'a') + kFFFD + std::string(64, 'b')},
      {std::string(96, 'a') + "\xC3", std::string(96, 'a') + kFFFD},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isWellFormedUtf8(c.in), c.in == c.out) << c.out;
    EXPECT_EQ(wellFormedUtf8(c.in), c.out);
    EXPECT_TRUE(isWellFormedUtf8(wellFormedUtf8(c.in)));
    EXPECT_TRUE(utf16FromUtf8(c.in) == utf16FromUtf8(c.out)) << "the same pieces replaced: " << c.out;
  }
}

TEST(JsonEscapes, LoneSurrogateEscapesBecomeReplacementEscapes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {R"("abc\ud800def")", R"("abc\ufffddef")"},
      {R"(["\udc00","\uD800"])", R"(["\ufffd","\ufffd"])"},
      {R"("\ud83d\ude00")", R"("\ud83d\ude00")"},               // a pair stays
      {R"("\ud800\ud83d\ude00")", R"("\ufffd\ud83d\ude00")"},
      {R"("\\ud800")", R"("\\ud800")"},                          // an escaped backslash, then text
      {R"("\\\ud800")", R"("\\\ufffd")"},
      {R"({"k\ud800":"\u0000\n"})", R"({"k\ufffd":"\u0000\n"})"},
      {R"("\ud800)", R"("\ufffd)"},
      {R"("\u12")", R"("\u12")"},                                // not an escape of four digits
  };
  for (const auto& c : cases) {
    std::string s = c.in;
    replaceLoneSurrogateEscapes(s);
    EXPECT_EQ(s, c.out) << c.in;
  }
}

}  // namespace
