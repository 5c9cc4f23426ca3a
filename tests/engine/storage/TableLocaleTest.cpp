// The table locale: byte order without a language, ICU collation and case
// mapping over Windows-1252 bytes with one, and uninstalled locales.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "engine/storage/TableLocale.h"

namespace tessel {
namespace {

int Cmp(const TTableLocale& l, const std::string& a, const std::string& b) {
  return l.Compare(reinterpret_cast<const uint8_t*>(a.data()), a.size(),
                   reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

size_t PositionOf(const std::array<uint8_t, 256>& order, uint8_t b) {
  return static_cast<size_t>(std::find(order.begin(), order.end(), b) - order.begin());
}

TEST(TableLocaleTest, LanguageZeroKeepsByteOrderAndMapsOnlyAsciiLetters) {
  TTableLocale l(0, 0);
  EXPECT_FALSE(l.HasLocale());
  EXPECT_TRUE(TTableLocale::IsInstalled(0, 0));
  EXPECT_LT(Cmp(l, "B", "a"), 0);
  EXPECT_LT(Cmp(l, "a", "ab"), 0);
  EXPECT_GT(Cmp(l, "\xE4", "b"), 0);
  EXPECT_EQ(Cmp(l, std::string("ab\0x", 4), "ab"), 0);  // up to the first zero byte
  std::array<uint8_t, 256> ascending{};
  std::iota(ascending.begin(), ascending.end(), 0);
  EXPECT_EQ(l.CharacterOrder(), ascending);
  EXPECT_EQ(l.Upper("abz\xE4{"), "ABZ\xE4{");
  EXPECT_EQ(l.Lower("ABZ\xC4@"), "abz\xC4@");
}

TEST(TableLocaleTest, GermanCollatesAndMapsCaseInWindows1252) {
  ASSERT_TRUE(TTableLocale::IsInstalled(0x0407, 0));
  TTableLocale de(0x0407, 0);
  EXPECT_TRUE(de.HasLocale());
  EXPECT_LT(Cmp(de, "a", "\xE4"), 0);
  EXPECT_LT(Cmp(de, "\xE4", "b"), 0);
  EXPECT_GT(Cmp(de, "Zebra", "apple"), 0);
  EXPECT_EQ(Cmp(de, "abc", "abc"), 0);
  const auto order = de.CharacterOrder();
  EXPECT_LT(PositionOf(order, 'a'), PositionOf(order, 0xE4));
  EXPECT_LT(PositionOf(order, 0xE4), PositionOf(order, 'b'));
  std::array<uint8_t, 256> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  std::array<uint8_t, 256> all{};
  std::iota(all.begin(), all.end(), 0);
  EXPECT_EQ(sorted, all);  // a permutation of every byte value

  EXPECT_EQ(de.Upper("\xE4"), "\xC4");
  EXPECT_EQ(de.Lower("\xC4\xD6"), "\xE4\xF6");
  EXPECT_EQ(de.Upper("\xFF"), "\x9F");   // y with diaeresis: its capital lives at 0x9F
  EXPECT_EQ(de.Lower("\x8A"), "\x9A");   // S with caron
  EXPECT_EQ(de.Upper("stra\xDF" "e"), "STRA\xDF" "E");  // sharp s keeps the length
  EXPECT_EQ(de.Upper("\xB5"), "\xB5");   // micro sign: its capital has no Windows-1252 form
}

TEST(TableLocaleTest, SortIdSelectsTheCollationVariant) {
  ASSERT_TRUE(TTableLocale::IsInstalled(0x0407, 1));  // German phone book order
  TTableLocale phone(0x0407, 1);
  // Phone book order sorts a-umlaut as "ae": before "af".
  EXPECT_LT(Cmp(phone, "\xE4z", "af"), 0);
  TTableLocale dictionary(0x0407, 0);
  EXPECT_GT(Cmp(dictionary, "\xE4z", "af"), 0);
}

TEST(TableLocaleTest, CaseMappingWithoutAWindows1252FormKeepsTheCharacter) {
  if (!TTableLocale::IsInstalled(0x041F, 0)) GTEST_SKIP() << "no Turkish collation data";
  TTableLocale tr(0x041F, 0);
  EXPECT_EQ(tr.Upper("i"), "i");  // dotted capital I is not in Windows-1252
  EXPECT_EQ(tr.Upper("a"), "A");
}

TEST(TableLocaleTest, UnknownLanguageIsNotInstalledAndKeepsByteOrder) {
  EXPECT_FALSE(TTableLocale::IsInstalled(0x00FF, 0));
  TTableLocale bad(0x00FF, 0);
  EXPECT_TRUE(bad.HasLocale());
  EXPECT_LT(Cmp(bad, "B", "a"), 0);
  EXPECT_EQ(bad.CharacterOrder()[200], 200);
  EXPECT_EQ(bad.Upper("a\xE4"), "A\xE4");
}

}  // namespace
}  // namespace tessel
