#include "engine/storage/Record.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tessel {
namespace {

TEST(RecordTest, ResetGrowsInStepsOf510AndZeroes) {
  TRecord r;
  r.Reset(3, 9);
  EXPECT_EQ(r.RecordNumber, 3);
  EXPECT_EQ(r.Image.size(), 510u);
  r.Reset(4, 510);
  EXPECT_EQ(r.Image.size(), 510u);
  std::fill(r.Image.begin(), r.Image.end(), uint8_t{0xAB});
  r.Reset(5, 511);
  EXPECT_EQ(r.Image.size(), 1020u);
  EXPECT_TRUE(std::all_of(r.Image.begin(), r.Image.end(), [](uint8_t b) { return b == 0; }));
  // A smaller record size keeps the larger buffer.
  r.Reset(6, 20);
  EXPECT_EQ(r.Image.size(), 1020u);
}

TEST(RecordTest, SlotHeaderFieldsSitAtFixedOffsets) {
  TRecord r;
  r.Reset(1, 30);
  r.SetLink(0x01020304);
  r.SetRecordId(-2);
  EXPECT_EQ(r.Image[1], 0x04);
  EXPECT_EQ(r.Image[2], 0x03);
  EXPECT_EQ(r.Image[3], 0x02);
  EXPECT_EQ(r.Image[4], 0x01);
  EXPECT_EQ(r.Image[5], 0xFE);
  for (int i = 6; i < 9; ++i) EXPECT_EQ(r.Image[i], 0xFF) << i;
  EXPECT_EQ(r.Link(), 0x01020304);
  EXPECT_EQ(r.RecordId(), -2);

  // An active slot has no next free slot, whatever its link.
  EXPECT_FALSE(r.IsDeleted());
  EXPECT_EQ(r.NextFree(), 0);
  r.SetDeleted(true);
  EXPECT_EQ(r.Image[0], 1);
  EXPECT_TRUE(r.IsDeleted());
  EXPECT_EQ(r.NextFree(), 0x01020304);
  r.SetDeleted(false);
  EXPECT_EQ(r.Image[0], 0);
}

TEST(RecordTest, SameImageComparesRecordSizeBytesOnly) {
  TRecord a, b;
  a.Reset(1, 40);
  b.Reset(2, 40);
  EXPECT_TRUE(a.SameImage(b, 40));
  b.Image[39] = 7;
  EXPECT_FALSE(a.SameImage(b, 40));
  b.Image[39] = 0;
  b.Image[40] = 7;  // beyond the slot
  EXPECT_TRUE(a.SameImage(b, 40));
  b.SetDeleted(true);
  EXPECT_FALSE(a.SameImage(b, 40));
}

TEST(RecordTest, CopyFromAndCopyFields) {
  TRecord source, target;
  source.Reset(7, 20);
  for (int i = 0; i < 20; ++i) source.Image[i] = static_cast<uint8_t>(i + 1);
  source.Modified = true;
  target.Reset(2, 20);
  target.Image[20] = 0x55;
  target.CopyFrom(source, 20);
  EXPECT_EQ(target.RecordNumber, 7);
  EXPECT_TRUE(target.Modified);
  EXPECT_TRUE(std::equal(source.Image.begin(), source.Image.begin() + 20, target.Image.begin()));
  EXPECT_EQ(target.Image[20], 0x55);

  TRecord row;
  row.Reset(3, 20);
  row.SetDeleted(true);
  row.SetLink(3);
  row.SetRecordId(99);
  row.CopyFields(source.Data(), 20);
  EXPECT_TRUE(row.IsDeleted());
  EXPECT_EQ(row.Link(), 3);
  EXPECT_EQ(row.RecordId(), 99);
  for (int i = 9; i < 20; ++i) EXPECT_EQ(row.Image[i], i + 1) << i;
}

TEST(RecordStackTest, TakeHandsOutClearedRecycledHolders) {
  TRecordStack pool;
  TRecord* r = pool.Take(5, 100);
  EXPECT_EQ(r->RecordNumber, 5);
  EXPECT_EQ(r->Link(), 5);
  EXPECT_FALSE(r->Modified);
  EXPECT_EQ(r->InUse, 0);

  r->SetDeleted(true);
  r->SetRecordId(44);
  r->Image[99] = 9;
  r->Modified = true;
  r->InUse = 2;
  pool.Give(r);
  EXPECT_EQ(pool.FreeCount(), 1u);

  TRecord* again = pool.Take(12, 100);
  EXPECT_EQ(again, r);
  EXPECT_EQ(pool.FreeCount(), 0u);
  EXPECT_EQ(again->RecordNumber, 12);
  EXPECT_FALSE(again->IsDeleted());
  EXPECT_EQ(again->Link(), 12);
  EXPECT_EQ(again->RecordId(), 0);
  EXPECT_EQ(again->Image[99], 0);
  EXPECT_FALSE(again->Modified);
  EXPECT_EQ(again->InUse, 0);
  // Holders still handed out when the pool goes are freed with it.
  pool.Take(13, 100);
}

}  // namespace
}  // namespace tessel
