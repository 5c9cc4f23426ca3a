// The Windows-1252 module that tables, keys, messages and exports share: the
// byte-to-character table every conversion and collation builds on, UTF-8 in
// and out, and the code page's own case rules.
#include <gtest/gtest.h>

#include <string>

#include "platform/core/Windows1252.h"

namespace tessel {
namespace {

TEST(Windows1252Test, EveryByteHasItsOwnCharacterAndComesBack) {
  const auto& characters = Cp1252Characters();
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(Cp1252ByteOf(characters[static_cast<size_t>(b)]), b) << b;
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << b;
  }
  EXPECT_EQ(characters[0x80], u'\u20AC');  // euro sign
  EXPECT_EQ(characters[0x9F], u'\u0178');  // Y with diaeresis
  EXPECT_EQ(characters[0x81], u'\u0081');  // no character: the C1 control
  EXPECT_EQ(Cp1252ByteOf(u'\u0416'), -1);  // Cyrillic Zhe
}

TEST(Windows1252Test, TextOutsideTheCodePageBecomesQuestionMarks) {
  EXPECT_EQ(Cp1252ToUtf8("Caf\xE9 \x80"), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(Utf8ToCp1252("\xD0\x96uk \xE2\x82\xAC"), "?uk \x80");
  EXPECT_EQ(Utf8ToCp1252(""), "");
}

TEST(Windows1252Test, CaseRulesPairEveryLetterAndLeaveTheRest) {
  for (int b = 0; b < 256; ++b) {
    const auto c = static_cast<unsigned char>(b);
    const unsigned char upper = AnsiUpperChar(c);
    if (upper != c) {
      EXPECT_EQ(AnsiLowerChar(upper), c) << b;
    }
    const unsigned char lower = AnsiLowerChar(c);
    if (lower != c) {
      EXPECT_EQ(AnsiUpperChar(lower), c) << b;
    }
  }
  EXPECT_EQ(AnsiUpperCase("\x9A\x9C\x9E\xFF\xE9z"), "\x8A\x8C\x8E\x9F\xC9Z");
  EXPECT_EQ(AnsiLowerCase("\xD7\xDF\xF7"), "\xD7\xDF\xF7");  // signs and sharp s stay
  EXPECT_TRUE(AnsiSameText("\xC9t\xC9", "\xE9T\xE9"));
  EXPECT_FALSE(AnsiSameText("ab", "abc"));
}

}  // namespace
}  // namespace tessel
