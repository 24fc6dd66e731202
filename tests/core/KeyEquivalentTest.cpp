// The key-equivalent grammar of page-built menu items.
#include "services/KeyEquivalent.h"

#include <gtest/gtest.h>

using namespace corvane::keys;

TEST(KeyEquivalent, TheKeyIsTheLastCharacterAndModifiersAreWordsAnywhere) {
  EXPECT_EQ(getKeyFromString("cmd+q"), "q");
  EXPECT_EQ(getModifiersFromString("cmd+q"), kCommand);
  EXPECT_EQ(getKeyFromString("shift+cmd+s"), "s");
  EXPECT_EQ(getModifiersFromString("shift+cmd+s"), kShift | kCommand);
  EXPECT_EQ(getModifiersFromString("ctrl-alt-x"), kControl | kOption);
  // Both words for option set it once.
  EXPECT_EQ(getModifiersFromString("opt+alt+x"), kOption);
  EXPECT_EQ(getModifiersFromString("capsshiftx"), kCapsLock | kShift);
  // A bare letter has no modifier, not even command.
  EXPECT_EQ(getKeyFromString("s"), "s");
  EXPECT_EQ(getModifiersFromString("s"), 0u);
  // "cmd" alone: the key is its last letter.
  EXPECT_EQ(getKeyFromString("cmd"), "d");
  EXPECT_EQ(getModifiersFromString("cmd"), kCommand);
  // Case matters for the words.
  EXPECT_EQ(getModifiersFromString("CMD+Q"), 0u);
}

TEST(KeyEquivalent, EmptyTextsAndWholeCharacters) {
  EXPECT_EQ(getKeyFromString(""), "");
  EXPECT_EQ(getModifiersFromString(""), 0u);
  EXPECT_EQ(getKeyFromString("cmd+\xc3\xa9"), "\xc3\xa9");  // é, two bytes
  EXPECT_EQ(getKeyFromString("cmd+\xe2\x80\xa6"), "\xe2\x80\xa6");
}
