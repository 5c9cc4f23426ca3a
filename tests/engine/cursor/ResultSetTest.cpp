// The result set on its own, over index trees in memory: the range's
// ordinals, stepping through the index inside the range and the result, the
// range bitmap walked either way, and one record's bits after a write.
#include <gtest/gtest.h>

#include <memory>

#include "engine/cursor/ResultSet.h"
#include "engine/storage/IndexTestSupport.h"
#include "support/MemoryPageStore.h"

namespace tessel {
namespace {

using indextest::MakeIndex;
using indextest::TTestFields;
using indextest::TTestRow;

constexpr int kIndex = 1;
constexpr int32_t kRecords = 20;

// Records 1 to 20, none deleted, keyed by record x 10 in a unique index;
// filters pass the even records.
class ResultSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    field = fields.Add(ftInteger, 4);
    store.Header().Indexes[kIndex] = MakeIndex(fields, {field}, true);
    key = std::make_unique<TKeyContext>(store.Header().Indexes[kIndex], kIndex, fields.Fields, nullptr, "T");
    deletedKey = std::make_unique<TKeyContext>(store.Header().Indexes[kSysDeletedSlot], kSysDeletedSlot,
                                               fields.Fields, nullptr, "T");
    for (int32_t r = 1; r <= kRecords; ++r) {
      order().InsertKey(Key(r * 10).data(), r);
      uint8_t system[5];
      TKeyContext::BuildSystemKey(TTestRow(fields).Id(r).data(), system);
      deleted().InsertKey(system, r);
    }
  }
  TIndexTree order() { return TIndexTree(store, *key); }
  TIndexTree deleted() { return TIndexTree(store, *deletedKey); }
  std::vector<uint8_t> Row(int32_t value) {
    TTestRow row(fields);
    row.Int(field, value);
    return std::vector<uint8_t>(row.data(), row.data() + fields.RecordSize);
  }
  std::vector<uint8_t> Key(int32_t value) { return key->BuildKey(TTestRow(fields).Int(field, value).data()); }

  // Bitmap mode with the range [from, to] and a filter of even records.
  void RangeAndEvenFilter(int32_t from, int32_t to) {
    results.SetRange(Key(from), Key(to));
    TIndexTree tree = order();
    results.RecomputeRangeOrdinals(kRecords, &tree, key.get());
    results.SetBitmapMode(true);
    TFilter* even = results.AddFilter(std::make_unique<TCallbackFilter>(nullptr));
    results.Activate(*even);
    results.Build(false, kRecords, deleted(), &tree, false, [&](TFilter& filter) {
      results.EvaluateFilter(filter, kRecords, [](int32_t record) { return record % 2 == 0; });
    });
  }

  TMemoryPageStore store{"T"};
  TTestFields fields;
  int field = 0;
  std::unique_ptr<TKeyContext> key;
  std::unique_ptr<TKeyContext> deletedKey;
  TResultSet results;
};

TEST_F(ResultSetTest, RangeOrdinalsFollowTheKeys) {
  TIndexTree tree = order();
  results.RecomputeRangeOrdinals(kRecords, nullptr, nullptr);
  EXPECT_EQ(results.RangeFirst(), 1);
  EXPECT_EQ(results.RangeLast(), kRecords);

  results.SetRange(Key(45), Key(120));
  results.RecomputeRangeOrdinals(kRecords, &tree, key.get());
  EXPECT_EQ(results.RangeFirst(), 5);
  EXPECT_EQ(results.RangeLast(), 12);
  EXPECT_EQ(results.RecordCount(), 8);

  // A range whose start lies above its end, or between two keys, is empty.
  results.SetRange(Key(120), Key(45));
  results.RecomputeRangeOrdinals(kRecords, &tree, key.get());
  EXPECT_EQ(results.RecordCount(), 0);
  results.SetRange(Key(51), Key(59));
  results.RecomputeRangeOrdinals(kRecords, &tree, key.get());
  EXPECT_EQ(results.RecordCount(), 0);
}

TEST_F(ResultSetTest, StepsStayInsideTheRangeAndTheResult) {
  RangeAndEvenFilter(45, 120);
  EXPECT_EQ(results.Count(), 4);  // 6, 8, 10, 12
  TIndexTree tree = order();
  const TTreePosition fifth = tree.AtOrdinal(5);
  TIndexEntry entry;
  std::vector<int32_t> seen;
  for (TTreePosition at = fifth; results.Step(tree, at, true, entry); at = entry.Position) {
    seen.push_back(entry.Record);
    EXPECT_EQ(entry.Key, Key(entry.Record * 10));
    EXPECT_EQ(entry.Position.Ordinal, entry.Record);
  }
  EXPECT_EQ(seen, (std::vector<int32_t>{6, 8, 10, 12}));
  // Backwards from record 6 the next even record, 4, lies below the range.
  EXPECT_FALSE(results.Step(tree, tree.AtOrdinal(6), false, entry));
  EXPECT_EQ(entry.Record, 12);  // untouched by the failed step
}

// The range bitmap of a range holding most entries is built from the entries
// outside it, inverted; it must mark the same records as the direct walk
// that a table with a locale takes.
TEST_F(ResultSetTest, RangeBitmapWalkedEitherWayMarksTheSameRecords) {
  results.SetBitmapMode(true);
  results.BuildAllRecords(kRecords, deleted());
  for (auto [from, to] : {std::pair{20, 190}, std::pair{10, 200}, std::pair{0, 500}, std::pair{150, 150}}) {
    results.SetRange(Key(from), Key(to));
    TIndexTree tree = order();
    results.RecomputeRangeOrdinals(kRecords, &tree, key.get());
    results.BuildRange(kRecords, order(), false);
    results.Combine(kRecords, true);
    const TRecordsBitmap inverted = results.Bits();
    results.BuildRange(kRecords, order(), true);
    results.Combine(kRecords, true);
    for (int32_t r = 1; r <= kRecords; ++r) {
      EXPECT_EQ(inverted.Test(r), results.Bits().Test(r)) << from << ".." << to << " record " << r;
      EXPECT_EQ(results.Contains(r), r * 10 >= from && r * 10 <= to) << r;
    }
  }
}

TEST_F(ResultSetTest, OneRecordsBitsAfterAWrite) {
  RangeAndEvenFilter(45, 120);
  const size_t value = fields.Fields[0].RecordOffset + 1u;
  auto even = [value](const uint8_t* image) {
    return [image, value](const TFilter&) { return GetI32(image + value) % 20 == 0; };
  };
  // A new slot 21 keyed 100 (inside the range) that the filter passes, one
  // keyed 110 that it does not, and one outside the range.
  std::vector<uint8_t> row = Row(100);
  results.UpdateRecord(21, row.data(), true, 21, key.get(), even(row.data()));
  EXPECT_TRUE(results.Contains(21));
  EXPECT_EQ(results.Count(), 5);
  row = Row(110);
  results.UpdateRecord(21, row.data(), true, 21, key.get(), even(row.data()));
  EXPECT_FALSE(results.Contains(21));
  row = Row(200);
  results.UpdateRecord(21, row.data(), true, 21, key.get(), even(row.data()));
  EXPECT_FALSE(results.Contains(21));
  // Record 8 deleted.
  results.UpdateRecord(8, Row(80).data(), false, 21, key.get(), even(row.data()));
  EXPECT_FALSE(results.Contains(8));
  EXPECT_EQ(results.Count(), 3);
  EXPECT_EQ(results.Bits().Size(), 21);
}

}  // namespace
}  // namespace tessel
