#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "IndexTestSupport.h"
#include "engine/base/TesselError.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/TableLocale.h"

namespace tessel {
namespace {

using indextest::Bytes;
using indextest::MakeIndex;
using indextest::TTestFields;
using indextest::TTestRow;

int MemSign(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const int c = std::memcmp(a.data(), b.data(), a.size());
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

TEST(IndexKeyTest, IntegerKeysSortNumericallyInByteOrderWithNullFirst) {
  TTestFields table;
  const int f = table.Add(ftInteger, 4);
  const TIndexDesc desc = MakeIndex(table, {f}, true);
  ASSERT_EQ(desc.KeyLength, 5);
  const TKeyContext ctx(desc, 1, table.Fields, nullptr);

  const auto minusOne = ctx.BuildKey(TTestRow(table).Int(f, -1).data());
  const auto zero = ctx.BuildKey(TTestRow(table).Int(f, 0).data());
  const auto one = ctx.BuildKey(TTestRow(table).Int(f, 1).data());
  const auto null = ctx.BuildKey(TTestRow(table).Null(f).data());
  const auto lowest = ctx.BuildKey(TTestRow(table).Int(f, INT32_MIN).data());

  EXPECT_EQ(minusOne, Bytes({1, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(zero, Bytes({1, 0x80, 0, 0, 0}));
  EXPECT_EQ(one, Bytes({1, 0x80, 0, 0, 1}));
  // A null value: null byte 0 and the encoding of zero.
  EXPECT_EQ(null, Bytes({0, 0x80, 0, 0, 0}));
  EXPECT_EQ(lowest, Bytes({1, 0, 0, 0, 0}));

  EXPECT_LT(MemSign(minusOne, zero), 0);
  EXPECT_LT(MemSign(zero, one), 0);
  EXPECT_LT(MemSign(null, lowest), 0);
  EXPECT_EQ(ctx.CompareKeys(minusOne.data(), one.data()), -1);
  EXPECT_EQ(ctx.CompareKeys(one.data(), minusOne.data()), 1);
  EXPECT_EQ(ctx.CompareKeys(one.data(), one.data()), 0);
}

TEST(IndexKeyTest, FloatKeysOrderNegativesAndTreatMinusZeroAsZero) {
  TTestFields table;
  const int f = table.Add(ftFloat, 8);
  const TKeyContext ctx(MakeIndex(table, {f}, true), 1, table.Fields, nullptr);
  auto key = [&](double v) { return ctx.BuildKey(TTestRow(table).Float(f, v).data()); };

  // 1.0 is 3FF0 0000 0000 0000: top bit set. -1.0 is BFF0...: all inverted.
  EXPECT_EQ(key(1.0), Bytes({1, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(key(-1.0), Bytes({1, 0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(key(0.0), Bytes({1, 0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(key(-0.0), key(0.0));

  const double ordered[] = {-1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 1.0, 2.5, 1e300};
  for (size_t i = 1; i < std::size(ordered); ++i) {
    EXPECT_LT(MemSign(key(ordered[i - 1]), key(ordered[i])), 0) << ordered[i];
  }
  EXPECT_LT(MemSign(ctx.BuildKey(TTestRow(table).Null(f).data()), key(-1e300)), 0);
}

TEST(IndexKeyTest, SmallTypesBcdAndRawBytesHaveTheirEncodings) {
  TTestFields table;
  const int small = table.Add(ftSmallInt, 2);
  const int word = table.Add(ftWord, 2);
  const int boolean = table.Add(ftBoolean, 2);
  const int bcd = table.Add(ftBCD, 8);
  const int raw = table.Add(ftBytes, 3);
  const int date = table.Add(ftDate, 4);
  const TIndexDesc desc = MakeIndex(table, {small, word, boolean, bcd, raw, date}, true);
  ASSERT_EQ(desc.KeyLength, 3 + 3 + 3 + 9 + 4 + 5);
  const TKeyContext ctx(desc, 2, table.Fields, nullptr);
  const auto key = ctx.BuildKey(TTestRow(table)
                                    .Small(small, -2)
                                    .Word(word, 0x1234)
                                    .Word(boolean, 1)
                                    .Int64(bcd, -5)
                                    .Bytes(raw, {0xAA, 0x01, 0xFF})
                                    .Int(date, 693594)
                                    .data());
  EXPECT_EQ(key, Bytes({1, 0x7F, 0xFE,                                      // small -2
                        1, 0x12, 0x34,                                      // word
                        1, 0x00, 0x01,                                      // boolean true
                        1, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB,  // BCD -5
                        1, 0xAA, 0x01, 0xFF,                                // bytes as stored
                        1, 0x80, 0x0A, 0x95, 0x5A}));                       // day 693594
}

TEST(IndexKeyTest, StringKeysCutAtZeroAndUpperCaseOnlyAsciiWithoutLocale) {
  TTestFields table;
  const int f = table.Add(ftString, 8);  // declared size 7
  const TIndexDesc sensitive = MakeIndex(table, {f}, true);
  const TIndexDesc insensitive = MakeIndex(table, {f}, true, 0, false, true);
  const TKeyContext exact(sensitive, 1, table.Fields, nullptr);
  const TKeyContext folded(insensitive, 2, table.Fields, nullptr);

  TTestRow row(table);
  row.Bytes(f, {'a', 'B', 'z', 0xE4, 0, 'x', 'y', 0});  // bytes after the zero are ignored
  EXPECT_EQ(exact.BuildKey(row.data()), Bytes({1, 'a', 'B', 'z', 0xE4, 0, 0, 0, 0}));
  // Without a locale only a-z are mapped; 0xE4 stays.
  EXPECT_EQ(folded.BuildKey(row.data()), Bytes({1, 'A', 'B', 'Z', 0xE4, 0, 0, 0, 0}));
  EXPECT_EQ(folded.BuildKey(TTestRow(table).Str(f, "abz").data()),
            folded.BuildKey(TTestRow(table).Str(f, "ABZ").data()));
}

TEST(IndexKeyTest, SiteUrlKeyIsOneHundredAndTwoBytes) {
  TTestFields table;
  table.Add(ftString, 31);
  const int url = table.Add(ftString, 101);
  const TIndexDesc desc = MakeIndex(table, {url}, true);
  EXPECT_EQ(desc.KeyLength, 102);
  const TKeyContext ctx(desc, 0, table.Fields, nullptr);
  const auto key = ctx.BuildKey(TTestRow(table).Str(url, "www.example.com").data());
  ASSERT_EQ(key.size(), 102u);
  EXPECT_EQ(key[0], 1);
  EXPECT_EQ(std::string(key.begin() + 1, key.begin() + 16), "www.example.com");
  EXPECT_EQ(std::vector<uint8_t>(key.begin() + 16, key.end()), std::vector<uint8_t>(86, 0));
}

TEST(IndexKeyTest, NonUniqueKeyEndsWithEncodedRecordIdentifier) {
  TTestFields table;
  const int f = table.Add(ftSmallInt, 2);
  const TIndexDesc desc = MakeIndex(table, {f}, false);
  ASSERT_EQ(desc.KeyLength, 7);
  const TKeyContext ctx(desc, 1, table.Fields, nullptr);
  const auto a = ctx.BuildKey(TTestRow(table).Small(f, 5).Id(7).data());
  const auto b = ctx.BuildKey(TTestRow(table).Small(f, 5).Id(300).data());
  EXPECT_EQ(a, Bytes({1, 0x80, 0x05, 0x80, 0, 0, 7}));
  EXPECT_EQ(b, Bytes({1, 0x80, 0x05, 0x80, 0, 1, 0x2C}));
  EXPECT_EQ(ctx.CompareKeys(a.data(), b.data()), -1);
  // Equal field values compare equal over the field part.
  EXPECT_EQ(ctx.CompareKeys(a.data(), b.data(), 3), 0);
}

TEST(IndexKeyTest, SystemKeyIsDeletedFlagAndRecordIdentifier) {
  TTestFields table;
  table.Add(ftInteger, 4);
  TIndexDesc sys;
  sys.Name = kSysDeletedName;
  sys.KeyLength = 5;
  const TKeyContext ctx(sys, kSysDeletedSlot, table.Fields, nullptr);
  const auto active = ctx.BuildKey(TTestRow(table).Id(9).data());
  const auto deleted = ctx.BuildKey(TTestRow(table).Id(2).Deleted(true).data());
  EXPECT_EQ(active, Bytes({0, 0x80, 0, 0, 9}));
  EXPECT_EQ(deleted, Bytes({1, 0x80, 0, 0, 2}));
  EXPECT_EQ(ctx.CompareKeys(active.data(), deleted.data()), -1);
}

TEST(IndexKeyTest, DescendingFieldIsInvertedOnlyInAscendingIndexWithoutLocale) {
  TTestFields table;
  const int s = table.Add(ftString, 4);
  const int n = table.Add(ftInteger, 4);
  const TTestRow row = TTestRow(table).Str(s, "ab").Int(n, 1);

  const TKeyContext mixed(MakeIndex(table, {s, n}, true, 0, false, false, {0, 1}), 1, table.Fields,
                          nullptr);
  // The string inverts its null byte and 3 of its 4 bytes; the last stays 0.
  EXPECT_EQ(mixed.BuildKey(row.data()),
            Bytes({0xFE, 0x9E, 0x9D, 0xFF, 0x00, 0xFE, 0x7F, 0xFF, 0xFF, 0xFE}));
  const auto higher = mixed.BuildKey(TTestRow(table).Str(s, "ac").Int(n, 1).data());
  EXPECT_EQ(mixed.CompareKeys(higher.data(), mixed.BuildKey(row.data()).data()), -1);
  // A null descending part sorts last.
  const auto null = mixed.BuildKey(TTestRow(table).Null(s).Int(n, 1).data());
  EXPECT_EQ(mixed.CompareKeys(mixed.BuildKey(row.data()).data(), null.data()), -1);

  // A descending index keeps its bytes and negates the comparison.
  const TKeyContext whole(MakeIndex(table, {s, n}, true, 0, true, false, {0, 1}), 1, table.Fields,
                          nullptr);
  const auto plain = whole.BuildKey(row.data());
  EXPECT_EQ(plain, Bytes({1, 'a', 'b', 0, 0, 1, 0x80, 0, 0, 1}));
  const auto other = whole.BuildKey(TTestRow(table).Str(s, "ac").Int(n, 1).data());
  EXPECT_EQ(whole.CompareKeys(other.data(), plain.data()), -1);
}

TEST(IndexKeyTest, KeyFieldBeyondTheTableIsHeaderCorruption) {
  TTestFields table;
  table.Add(ftInteger, 4);
  TIndexDesc desc = MakeIndex(table, {1}, true);
  desc.FieldNumbers[0] = 2;
  try {
    TKeyContext ctx(desc, 1, table.Fields, nullptr, "t");
    FAIL() << "no error";
  } catch (const ETesselEngineError& e) {
    EXPECT_EQ(e.Code(), ec::HeaderCorrupt);
  }
}

class IndexKeyLocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TTableLocale::IsInstalled(0x0409, 0)) GTEST_SKIP() << "no collation for 0x0409";
    locale = std::make_unique<TTableLocale>(0x0409, 0);
  }
  std::unique_ptr<TTableLocale> locale;
};

TEST_F(IndexKeyLocaleTest, StringPartsCompareByCollationAndKeepTheirBytes) {
  TTestFields table;
  const int s = table.Add(ftString, 6);
  const int n = table.Add(ftInteger, 4);
  const TIndexDesc desc = MakeIndex(table, {s, n}, false, 0, false, false, {0});
  const TKeyContext ctx(desc, 1, table.Fields, locale.get());
  const auto lowerA = ctx.BuildKey(TTestRow(table).Str(s, "a").Int(n, 1).Id(1).data());
  const auto upperB = ctx.BuildKey(TTestRow(table).Str(s, "B").Int(n, 1).Id(1).data());
  // No inversion with a locale, even for a descending part.
  EXPECT_EQ(lowerA[1], 'a');
  // The collation puts "a" before "B"; the part is descending, so "B" first.
  EXPECT_EQ(ctx.CompareKeys(upperB.data(), lowerA.data()), -1);

  // Equal strings: the integer part decides, ascending.
  const auto a2 = ctx.BuildKey(TTestRow(table).Str(s, "a").Int(n, 2).Id(1).data());
  EXPECT_EQ(ctx.CompareKeys(lowerA.data(), a2.data()), -1);
  // Then the record identifier, ascending unless the flag after the last
  // key field is set.
  const auto id2 = ctx.BuildKey(TTestRow(table).Str(s, "a").Int(n, 1).Id(2).data());
  EXPECT_EQ(ctx.CompareKeys(lowerA.data(), id2.data()), -1);
  TIndexDesc flagged = desc;
  flagged.FieldDescending[2] = 1;
  const TKeyContext suffixDown(flagged, 1, table.Fields, locale.get());
  EXPECT_EQ(suffixDown.CompareKeys(lowerA.data(), id2.data()), 1);
  // A shorter length stops inside the fields.
  EXPECT_EQ(ctx.CompareKeys(lowerA.data(), id2.data(), 12), 0);
}

TEST_F(IndexKeyLocaleTest, CaseInsensitiveKeysUseTheLocaleUpperCase) {
  TTestFields table;
  const int s = table.Add(ftString, 6);
  const TKeyContext ctx(MakeIndex(table, {s}, true, 0, false, true), 1, table.Fields, locale.get());
  TTestRow row(table);
  row.Bytes(s, {'a', 0xE4, 'z'});
  EXPECT_EQ(ctx.BuildKey(row.data()), Bytes({1, 'A', 0xC4, 'Z', 0, 0, 0}));
}

}  // namespace
}  // namespace tessel
