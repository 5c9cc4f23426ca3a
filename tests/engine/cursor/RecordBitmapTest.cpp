#include <gtest/gtest.h>

#include "engine/cursor/RecordBitmap.h"

namespace tessel {
namespace {

TRecordsBitmap Bits(int32_t size, std::initializer_list<int32_t> set) {
  TRecordsBitmap b;
  b.Resize(size);
  for (int32_t r : set) b.Set(r);
  return b;
}

TEST(RecordBitmap, RecordOneIsBitZeroAndStorageGrowsInKilobyteSteps) {
  TRecordsBitmap b;
  b.Resize(1);
  EXPECT_EQ(b.Capacity(), 1024u);
  b.Resize(8193);  // 257 words: two steps
  EXPECT_EQ(b.Capacity(), 2048u);
  b.Set(1);
  b.Set(8193);
  EXPECT_TRUE(b.Test(1));
  EXPECT_TRUE(b.Test(8193));
  EXPECT_FALSE(b.Test(0));
  EXPECT_FALSE(b.Test(8194));
  b.Set(9000);  // beyond the size: ignored
  EXPECT_EQ(b.Count(), 2);
}

TEST(RecordBitmap, NotLeavesNoBitsBeyondTheSizeAndGrowingAddsZeros) {
  TRecordsBitmap b = Bits(35, {2});
  b.Not();
  EXPECT_EQ(b.Count(), 34);
  b.Resize(70);
  EXPECT_EQ(b.Count(), 34);
  EXPECT_FALSE(b.Test(36));
  b.Resize(10);
  EXPECT_EQ(b.Count(), 9);
}

TEST(RecordBitmap, SeekMovesOverSetBitsAndStopsOnTheLastOneReached) {
  const TRecordsBitmap b = Bits(100, {3, 40, 41, 99});
  int32_t r = 0, ordinal = 0;
  EXPECT_TRUE(b.Seek(r, 2, ordinal));
  EXPECT_EQ(r, 40);
  EXPECT_EQ(ordinal, 2);
  EXPECT_FALSE(b.Seek(r, 5, ordinal));
  EXPECT_EQ(r, 99);  // ran out after two more
  EXPECT_EQ(ordinal, 4);
  r = 101;
  ordinal = 5;
  EXPECT_TRUE(b.Seek(r, -1, ordinal));
  EXPECT_EQ(r, 99);
  EXPECT_EQ(ordinal, 4);
  EXPECT_FALSE(b.Seek(r, -4, ordinal));
  EXPECT_EQ(r, 3);
  EXPECT_EQ(ordinal, 1);
}

TEST(RecordBitmap, CountsAndFindsAcrossWordBoundaries) {
  const TRecordsBitmap b = Bits(200, {1, 32, 33, 64, 65, 200});
  EXPECT_EQ(b.CountBelow(1), 0);
  EXPECT_EQ(b.CountBelow(33), 2);
  EXPECT_EQ(b.CountBelow(201), 6);
  EXPECT_EQ(b.NthSet(4), 64);
  EXPECT_EQ(b.NthSet(6), 200);
  EXPECT_EQ(b.NthSet(7), 0);
  EXPECT_EQ(b.FirstAtOrAbove(34), 64);
  EXPECT_EQ(b.LastAtOrBelow(63), 33);
  EXPECT_EQ(b.LastAtOrBelow(0), 0);
  EXPECT_EQ(b.FirstAtOrAbove(201), 0);
}

TEST(RecordBitmap, AndOrWithBitmapsOfOtherSizes) {
  TRecordsBitmap a = Bits(70, {1, 5, 69});
  const TRecordsBitmap shorter = Bits(10, {5, 6});
  a.And(shorter);
  EXPECT_EQ(a.Count(), 1);
  EXPECT_TRUE(a.Test(5));
  a.Or(Bits(100, {6, 70, 99}));
  EXPECT_EQ(a.Count(), 3);  // 99 lies beyond a's size
  EXPECT_TRUE(a.Test(70));
}

}  // namespace
}  // namespace tessel
