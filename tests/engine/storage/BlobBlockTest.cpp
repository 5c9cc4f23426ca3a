// BLOB blocks: the block layout in the file (plain and scrambled), the block
// cache with read-ahead, refresh, making room, write-back and trimming, and
// allocating and freeing single blocks.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "BlobTestSupport.h"
#include "engine/storage/Scramble.h"

namespace tessel {
namespace {

using testing::BlobTable;
using testing::ErrorOf;
using testing::FakeReadContext;
using testing::Pattern;
using testing::ReadFileBytes;

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> v;
  for (int x : values) v.push_back(static_cast<uint8_t>(x));
  return v;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t count) {
  return std::vector<uint8_t>(v.begin() + static_cast<std::ptrdiff_t>(from),
                              v.begin() + static_cast<std::ptrdiff_t>(from + count));
}

TEST(BlobBlockTest, ValuesOf494And495BytesInTheFile) {
  BlobTable bt(512);
  const auto one = Pattern(494);
  const auto [first1, id1] = bt.Store(one);
  const auto two = Pattern(495, 7);
  const auto [first2, id2] = bt.Store(two);
  bt.Flush();
  EXPECT_EQ(first1, 512);
  EXPECT_EQ(id1, 1);
  EXPECT_EQ(first2, 1024);
  EXPECT_EQ(id2, 2);

  const auto file = ReadFileBytes(bt.BlobName());
  ASSERT_EQ(file.size(), 2048u);
  // BLOB header: free block 0 at 9, end of file 2048 at 13.
  EXPECT_EQ(Slice(file, 9, 8), Bytes({0, 0, 0, 0, 0x00, 0x08, 0, 0}));

  // 494 bytes fill one block: previous 0, next 0, used 494, owner 1, total 494.
  auto b = bt.FileBlock(512);
  EXPECT_EQ(Slice(b, 0, 18), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0xEE, 0x01, 1, 0, 0, 0, 0xEE, 0x01, 0, 0}));
  EXPECT_EQ(Slice(b, 18, 494), one);

  // 495 bytes take two: the second holds one byte and a total length of 0.
  b = bt.FileBlock(1024);
  EXPECT_EQ(Slice(b, 0, 18), Bytes({0, 0, 0, 0, 0x00, 0x06, 0, 0, 0xEE, 0x01, 2, 0, 0, 0, 0xEF, 0x01, 0, 0}));
  EXPECT_EQ(Slice(b, 18, 494), Slice(two, 0, 494));
  b = bt.FileBlock(1536);
  EXPECT_EQ(Slice(b, 0, 18), Bytes({0x00, 0x04, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 2, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b[18], two[494]);
}

TEST(BlobBlockTest, EncryptedBlocksAreScrambledAsTwoUnits) {
  BlobTable bt(64, true);
  const auto value = Pattern(50);
  bt.Store(value);
  bt.Flush();

  auto raw = bt.FileBlock(512);
  ASSERT_EQ(raw.size(), 64u);
  // Each unit starts from the key pair's state: the first byte of the header
  // and the first data byte are XORed with the same value.
  const uint8_t firstMask = kDataKeyLow ^ kDataKeyHigh;
  EXPECT_EQ(raw[0], 0 ^ firstMask);   // previous, low byte
  EXPECT_EQ(raw[18], value[0] ^ firstMask);

  ScrambleData(raw.data(), 18);
  ScrambleData(raw.data() + 18, 46);
  EXPECT_EQ(Slice(raw, 0, 18), Bytes({0, 0, 0, 0, 0x40, 0x02, 0, 0, 46, 0, 1, 0, 0, 0, 50, 0, 0, 0}));
  EXPECT_EQ(Slice(raw, 18, 46), Slice(value, 0, 46));

  // And read back through a cold cache.
  bt.Blob().DropBlocks();
  EXPECT_EQ(bt.Load(512, 1), value);
}

TEST(BlobBlockTest, ReadDataAndWriteDataStayInsideTheDataArea) {
  BlobTable bt(64);
  TBlock* block = bt.Blob().AllocateBlock();
  ASSERT_EQ(block->Capacity(), 46u);
  const auto src = Pattern(46);
  block->WriteData(0, 46, src.data());
  block->Used = 10;

  std::vector<uint8_t> dst(46, 0);
  EXPECT_EQ(block->ReadData(5, 20, dst.data()), 5u);  // only the used bytes
  EXPECT_EQ(Slice(dst, 0, 5), Slice(src, 5, 5));
  EXPECT_EQ(block->ReadData(12, 3, dst.data()), 0u);

  auto e = ErrorOf([&] { block->WriteData(0, 47, src.data()); });
  EXPECT_EQ(e.Code, ec::InvalidBlobLength);
  EXPECT_EQ(e.Message, "Invalid blob length in table 't'");
  EXPECT_EQ(ErrorOf([&] { block->ReadData(40, 7, dst.data()); }).Code, ec::InvalidBlobLength);
  bt.Blob().ReleaseBlock(block);
}

TEST(BlobBlockTest, FetchingByPosition) {
  BlobTable bt(512);
  TBlobFile& f = bt.Blob();
  auto e = ErrorOf([&] { f.GetBlock(0); });
  EXPECT_EQ(e.Code, ec::BlobBuffersCorrupt);
  EXPECT_EQ(e.Message, "BLOB block buffers corrupt in table 't'");

  // The end-of-file position makes a new block.
  f.HeaderModified = false;
  TBlock* b = f.GetBlock(512);
  EXPECT_EQ(b->Position, 512);
  EXPECT_EQ(b->InUse, 1);
  EXPECT_EQ(f.Header.EndOfFile, 1024);
  EXPECT_TRUE(f.HeaderModified);
  f.ReleaseBlock(b);

  EXPECT_EQ(ErrorOf([&] { f.GetBlock(1536); }).Code, ec::BlobBuffersCorrupt);  // beyond the end
  EXPECT_EQ(ErrorOf([&] { f.GetBlock(513); }).Code, ec::BlobBuffersCorrupt);   // between blocks
  EXPECT_EQ(ErrorOf([&] { f.GetBlock(256); }).Code, ec::BlobBuffersCorrupt);   // inside the header

  // New blocks may start below 2000000001 only. A new block follows one the
  // file holds: a sparse file that long stands in for a full one.
  f.DropBlocks();
  std::filesystem::resize_file(bt.BlobName(), 2000000000);
  f.Header.EndOfFile = 2000000000;
  b = f.GetBlock(2000000000);
  EXPECT_EQ(f.Header.EndOfFile, 2000000512);
  f.ReleaseBlock(b);
  e = ErrorOf([&] { f.GetBlock(2000000512); });
  EXPECT_EQ(e.Code, ec::TableFull);
  EXPECT_EQ(e.Message, "The table 't' is full and cannot contain any more data");
  f.DropBlocks();
  f.Header.EndOfFile = 1024;
}

TEST(BlobBlockTest, ReadAheadBringsTheRestOfAChainInOneRead) {
  BlobTable bt(64);
  const auto value = Pattern(460);  // ten blocks of 46
  const auto [first, id] = bt.Store(value);
  bt.Flush();
  bt.Blob().DropBlocks();

  FakeReadContext cursor;
  const uint64_t reads = bt.Blob().ReadCalls();
  EXPECT_EQ(bt.Load(first, id, &cursor), value);
  // The first block alone, then the other nine together.
  EXPECT_EQ(bt.Blob().ReadCalls() - reads, 2u);
  EXPECT_EQ(cursor.Misses, 2);
  EXPECT_EQ(bt.Blob().CachedBlockCount(), 10u);

  // Cached now: no read, no change check.
  EXPECT_EQ(bt.Load(first, id, &cursor), value);
  EXPECT_EQ(bt.Blob().ReadCalls() - reads, 2u);
  EXPECT_EQ(cursor.Misses, 2);

  EXPECT_EQ(bt.Blob().MaxReadAhead(), 1023);
  EXPECT_EQ(bt.Blob().NominalCacheCapacity(), 2047);
}

TEST(BlobBlockTest, AReadRunRefreshesOnlyUnchangedIdleHolders) {
  BlobTable bt(64);
  auto value = Pattern(460);
  const auto [first, id] = bt.Store(value);
  bt.Flush();
  bt.Blob().DropBlocks();
  TBlobFile& f = bt.Blob();
  const int32_t third = 512 + 2 * 64;
  const int32_t fourth = 512 + 3 * 64;

  // The third block is cached and changed in memory only.
  TBlock* b = f.GetBlock(third);
  b->Data[0] = 0xAA;
  b->Modified = true;
  f.ReleaseBlock(b);
  // The fourth is cached unchanged while another program rewrites it.
  f.ReleaseBlock(f.GetBlock(fourth));
  testing::PatchFileBytes(bt.BlobName(), fourth + 18, {0xBB});

  const auto loaded = bt.Load(first, id);
  EXPECT_EQ(loaded[2 * 46], 0xAA);  // kept
  EXPECT_EQ(loaded[3 * 46], 0xBB);  // refreshed from the file
}

TEST(BlobBlockTest, WriteBackIsOneWritePerRunOfAdjacentBlocks) {
  BlobTable bt(64);
  const auto [first, id] = bt.Store(Pattern(4 * 46));  // blocks 512, 576, 640, 704
  TBlobFile& f = bt.Blob();
  uint64_t writes = f.WriteCalls();
  f.WriteBackBlocks();
  EXPECT_EQ(f.WriteCalls() - writes, 1u);

  for (int32_t position : {512, 576, 704}) {
    TBlock* b = f.GetBlock(position);
    b->Modified = true;
    f.ReleaseBlock(b);
  }
  // A block still in use is not written.
  TBlock* held = f.GetBlock(640);
  held->Modified = true;
  writes = f.WriteCalls();
  f.WriteBackBlocks();
  EXPECT_EQ(f.WriteCalls() - writes, 2u);
  EXPECT_TRUE(held->Modified);
  f.ReleaseBlock(held);
  writes = f.WriteCalls();
  f.WriteBackBlocks();
  EXPECT_EQ(f.WriteCalls() - writes, 1u);
  EXPECT_FALSE(held->Modified);
  (void)first;
  (void)id;
}

TEST(BlobBlockTest, MakingRoomRecyclesWritesBackOrFails) {
  // 131070 / 16384 = 7 holders.
  BlobTable bt(16384);
  TBlobFile& f = bt.Blob();
  ASSERT_EQ(f.NominalCacheCapacity(), 7);
  ASSERT_EQ(f.MaxReadAhead(), 3);

  std::vector<TBlock*> held;
  for (int i = 0; i < 7; ++i) held.push_back(f.AllocateBlock());
  // Every holder modified and in use: no room.
  EXPECT_EQ(ErrorOf([&] { f.AllocateBlock(); }).Code, ec::BlobBuffersCorrupt);

  // Modified but idle holders are written back (one run) and recycled.
  for (TBlock* b : held) f.ReleaseBlock(b);
  const uint64_t writes = f.WriteCalls();
  TBlock* b = f.AllocateBlock();
  EXPECT_EQ(f.WriteCalls() - writes, 1u);
  EXPECT_EQ(b->Position, 512 + 7 * 16384);
  EXPECT_EQ(f.CachedBlockCount(), 7u);
  f.ReleaseBlock(b);
}

TEST(BlobBlockTest, AWorkTableGrowsItsCacheAndTrimmingCutsTheHighEnd) {
  BlobTable bt(16384);
  TBlobFile& f = bt.Blob();
  f.GrowCacheWhenFull = true;
  std::vector<TBlock*> held;
  for (int i = 0; i < 9; ++i) held.push_back(f.AllocateBlock());
  EXPECT_EQ(f.CachedBlockCount(), 9u);
  for (TBlock* b : held) f.ReleaseBlock(b);
  f.WriteBackBlocks();

  f.TrimBlocks();
  EXPECT_EQ(f.CachedBlockCount(), 7u);
  EXPECT_NE(f.CachedBlock(512), nullptr);
  EXPECT_NE(f.CachedBlock(512 + 6 * 16384), nullptr);
  EXPECT_EQ(f.CachedBlock(512 + 7 * 16384), nullptr);
  EXPECT_EQ(f.CachedBlock(512 + 8 * 16384), nullptr);
}

TEST(BlobBlockTest, AllocatingAndFreeingBlocks) {
  BlobTable bt(64);
  TBlobFile& f = bt.Blob();
  TBlock* a = f.AllocateBlock();
  TBlock* b = f.AllocateBlock();
  TBlock* c = f.AllocateBlock();
  EXPECT_EQ(a->Position, 512);
  EXPECT_EQ(b->Position, 576);
  EXPECT_EQ(c->Position, 640);
  a->Owner = 5;
  c->Owner = 6;
  c->Used = 3;

  f.FreeBlock(a);
  f.FreeBlock(c);
  EXPECT_EQ(f.Header.FreeBlock, 640);
  EXPECT_EQ(c->Next, 512);
  EXPECT_EQ(a->Next, 0);
  EXPECT_EQ(c->Owner, 6);  // nothing else changes
  EXPECT_EQ(c->Used, 3);
  for (TBlock* x : {a, b, c}) f.ReleaseBlock(x);

  // The last freed comes back first, cleared.
  TBlock* d = f.AllocateBlock();
  EXPECT_EQ(d->Position, 640);
  EXPECT_EQ(d->Next, 0);
  EXPECT_EQ(d->Owner, 0);
  EXPECT_EQ(d->Used, 0);
  EXPECT_EQ(f.Header.FreeBlock, 512);
  TBlock* e = f.AllocateBlock();
  EXPECT_EQ(e->Position, 512);
  EXPECT_EQ(f.Header.FreeBlock, 0);
  TBlock* g = f.AllocateBlock();
  EXPECT_EQ(g->Position, 704);
  for (TBlock* x : {d, e, g}) f.ReleaseBlock(x);

  // A free block that names itself would be handed out twice.
  TBlock* self = f.GetBlock(576);
  f.FreeBlock(self);
  self->Next = 576;
  f.ReleaseBlock(self);
  EXPECT_EQ(ErrorOf([&] { f.AllocateBlock(); }).Code, ec::BlobBuffersCorrupt);
}

}  // namespace
}  // namespace tessel
