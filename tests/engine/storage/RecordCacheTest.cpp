// The record cache: read-ahead runs in the cursor's direction, short runs,
// coalesced write-back, recently-used order and making room, trimming, and
// the change check at a cache miss.
#include <gtest/gtest.h>

#include <vector>

#include "SharedTableSupport.h"
#include "engine/base/Bytes.h"
#include "engine/storage/Scramble.h"

namespace tessel {
namespace {

using testing::ErrorOf;
using testing::kSmallDataStart;
using testing::kSmallRecordSize;
using testing::ReadFileBytes;

// A context that plans a run and tells its direction, and reports a change
// when asked to.
class TPlannedReader : public TReadContext {
 public:
  bool BeforeCacheMiss() override {
    ++Misses;
    return ReportChange;
  }
  int PlanRecordRun(int32_t first, int32_t* out, int max) override {
    PlannedFrom = first;
    int n = 0;
    for (int32_t number : Plan) {
      if (n == max) break;
      out[n++] = number;
    }
    return n;
  }
  bool ReadingBackward() const override { return Backward; }

  std::vector<int32_t> Plan;
  bool Backward = false;
  bool ReportChange = false;
  int Misses = 0;
  int32_t PlannedFrom = 0;
};

class RecordCacheTest : public testing::SharedTableTest {
 protected:
  TDataFile& Data() { return table_->Data(); }

  void Open(bool exclusive = true) {
    table_ = OpenTable(exclusive);
  }
  void TearDown() override {
    if (table_ && table_->IsOpen()) table_->CloseFiles(false);
  }

  // Fetches and releases; answers the holder.
  TRecord* Fetch(int32_t number, TReadContext* context = nullptr, int readAhead = 1) {
    TRecord* r = Data().FetchRecord(number, context, readAhead);
    if (r != nullptr) Data().ReleaseRecord(r);
    return r;
  }

  std::vector<int32_t> Cached(int32_t from, int32_t to) {
    std::vector<int32_t> numbers;
    for (int32_t n = from; n <= to; ++n)
      if (Data().IsRecordCached(n)) numbers.push_back(n);
    return numbers;
  }

  std::unique_ptr<TDataTable> table_;
};

TEST_F(RecordCacheTest, ReadAheadRunsStartOrEndAtTheRecordInOneRead) {
  CreateTable(20);
  Open();
  uint64_t reads = Data().ReadCalls();
  // Forward, no plan: the following slots.
  EXPECT_EQ(NameIn(Fetch(3, nullptr, 5)), "r3");
  EXPECT_EQ(Cached(1, 20), (std::vector<int32_t>{3, 4, 5, 6, 7}));
  EXPECT_EQ(Data().ReadCalls() - reads, 1u);
  for (int n = 4; n <= 7; ++n) EXPECT_EQ(NameIn(Fetch(n)), "r" + std::to_string(n));
  EXPECT_EQ(Data().ReadCalls() - reads, 1u);

  // Backward: the run ends at the record.
  Data().DropRecords();
  TPlannedReader backward;
  backward.Backward = true;
  EXPECT_EQ(NameIn(Fetch(10, &backward, 4)), "r10");
  EXPECT_EQ(Cached(1, 20), (std::vector<int32_t>{7, 8, 9, 10}));
  EXPECT_EQ(backward.Misses, 1);
  // ... and stops at slot 1.
  EXPECT_EQ(NameIn(Fetch(2, &backward, 4)), "r2");
  EXPECT_EQ(Cached(1, 6), (std::vector<int32_t>{1, 2}));

  // Forward runs stop at the last slot.
  Data().DropRecords();
  EXPECT_EQ(NameIn(Fetch(18, nullptr, 10)), "r18");
  EXPECT_EQ(Cached(1, 20), (std::vector<int32_t>{18, 19, 20}));
}

TEST_F(RecordCacheTest, PlannedRunCoversTheConsecutiveNumbersTheCursorVisitsNext) {
  CreateTable(20);
  Open();
  TPlannedReader planned;
  planned.Plan = {5, 6, 7, 9, 10};
  Fetch(5, &planned, 10);
  EXPECT_EQ(planned.PlannedFrom, 5);
  EXPECT_EQ(Cached(1, 20), (std::vector<int32_t>{5, 6, 7}));

  Data().DropRecords();
  planned.Backward = true;
  planned.Plan = {12, 11, 10, 4};
  Fetch(12, &planned, 10);
  EXPECT_EQ(Cached(1, 20), (std::vector<int32_t>{10, 11, 12}));

  // A plan that does not start at the record reads the record alone.
  Data().DropRecords();
  planned.Backward = false;
  planned.Plan = {8, 9};
  Fetch(2, &planned, 10);
  EXPECT_EQ(Cached(1, 20), (std::vector<int32_t>{2}));
}

TEST_F(RecordCacheTest, RunIsAtMost65535BytesOfSlots) {
  CreateTable(3000);
  Open();
  ASSERT_EQ(Data().RecordsPerRead, 65535 / kSmallRecordSize);  // 2730
  const uint64_t reads = Data().ReadCalls();
  Fetch(1, nullptr, 100000);
  EXPECT_EQ(Data().ReadCalls() - reads, 1u);
  EXPECT_TRUE(Data().IsRecordCached(2730));
  EXPECT_FALSE(Data().IsRecordCached(2731));
  EXPECT_EQ(Data().CachedRecordCount(), 2730u);
}

TEST_F(RecordCacheTest, ShortRunFromTheEndOfASevenSlotFile) {
  CreateTable(7);
  Open(true);
  // The header claims more slots than the file holds.
  Data().Header.NextRecordNumber = 20;
  EXPECT_EQ(NameIn(Fetch(5, nullptr, 10)), "r5");
  EXPECT_EQ(Cached(1, 19), (std::vector<int32_t>{5, 6, 7}));
  Data().DropRecords();

  table_->Settings.Exclusive = false;
  const auto refused = ErrorOf([&] { Data().FetchRecord(5, nullptr, 10); });
  EXPECT_EQ(refused.Code, ec::ReadError);
  EXPECT_EQ(refused.Message, "Error reading from table 't'");
  EXPECT_EQ(Data().CachedRecordCount(), 0u);
  Data().Header.NextRecordNumber = 8;
}

TEST_F(RecordCacheTest, SharedRunMayReachSlotsMadeInTheCacheOnly) {
  CreateTable(7);
  Open(false);
  // A new slot is in the cache only until it is written back.
  ASSERT_EQ(Insert(*table_, "new"), 8);
  EXPECT_EQ(NameIn(Fetch(5, nullptr, 10)), "r5");
  EXPECT_EQ(Cached(1, 8), (std::vector<int32_t>{5, 6, 7, 8}));
  EXPECT_EQ(NameIn(Fetch(8)), "new");
  EXPECT_TRUE(Fetch(8)->Modified);
  // Once it is dropped, the file is simply short.
  Data().DropRecords();
  EXPECT_EQ(ErrorOf([&] { Data().FetchRecord(5, nullptr, 10); }).Code, ec::ReadError);
  Data().Header.NextRecordNumber = 8;
}

TEST_F(RecordCacheTest, WriteBackOfSlots4569TakesTwoWritesOfScrambledSlots) {
  CreateTable(10, {.Encrypted = true});
  Open();
  for (int n : {9, 5, 4, 6}) Rename(*table_, n, "w" + std::to_string(n));
  const uint64_t writes = Data().WriteCalls();
  Data().WriteBackRecords();
  EXPECT_EQ(Data().WriteCalls() - writes, 2u);

  // Every slot of the run is its own cipher unit: slot 5 in the middle of
  // the first write starts the key stream afresh.
  const std::vector<uint8_t> file = ReadFileBytes(DataName());
  for (int n = 1; n <= 10; ++n) {
    std::vector<uint8_t> slot(file.begin() + kSmallDataStart + (n - 1) * kSmallRecordSize,
                              file.begin() + kSmallDataStart + n * kSmallRecordSize);
    ScrambleData(slot.data(), slot.size());
    const bool changed = n == 4 || n == 5 || n == 6 || n == 9;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot.data() + 10)),
              (changed ? "w" : "r") + std::to_string(n))
        << n;
    EXPECT_EQ(GetI32(slot.data() + 1), n);
    EXPECT_FALSE(Fetch(n)->Modified);
  }
}

TEST_F(RecordCacheTest, LeastRecentlyUsedCleanHolderIsRecycled) {
  CreateTable(10);
  Open();
  Data().RecordCacheCapacity = 3;
  Fetch(1);
  Fetch(2);
  Fetch(3);
  Fetch(1);  // 2 is now the least recently used
  Fetch(4);
  EXPECT_EQ(Cached(1, 10), (std::vector<int32_t>{1, 3, 4}));
  Fetch(5);
  EXPECT_EQ(Cached(1, 10), (std::vector<int32_t>{1, 4, 5}));
}

TEST_F(RecordCacheTest, HoldersInUseOrModifiedAreNeverRecycled) {
  CreateTable(10);
  Open();
  Data().RecordCacheCapacity = 3;
  TRecord* held = Data().FetchRecord(1);
  Rename(*table_, 2, "m2");
  const uint64_t writes = Data().WriteCalls();
  for (int n = 3; n <= 6; ++n) Fetch(n);
  // Only the clean holders took turns.
  EXPECT_EQ(Cached(1, 10), (std::vector<int32_t>{1, 2, 6}));
  EXPECT_EQ(Data().WriteCalls(), writes);
  EXPECT_TRUE(Fetch(2)->Modified);

  // With no clean holder left the modified ones are written back first.
  TRecord* third = Data().FetchRecord(6);
  Fetch(7);
  EXPECT_EQ(Data().WriteCalls() - writes, 1u);
  EXPECT_EQ(Cached(1, 10), (std::vector<int32_t>{1, 6, 7}));
  const std::vector<uint8_t> file = ReadFileBytes(DataName());
  EXPECT_EQ(file[kSmallDataStart + kSmallRecordSize + 10], 'm');

  // Every holder in use: no room at all.
  TRecord* last = Data().FetchRecord(7);
  const auto full = ErrorOf([&] { Data().FetchRecord(8); });
  EXPECT_EQ(full.Code, ec::RecordBuffersCorrupt);
  EXPECT_EQ(full.Message, "Data record buffers corrupt in table 't'");
  EXPECT_EQ(held->RecordNumber, 1);
  for (TRecord* r : {held, third, last}) Data().ReleaseRecord(r);
  EXPECT_EQ(NameIn(Fetch(8)), "r8");
}

TEST_F(RecordCacheTest, WorkTableGrowsAndTrimCutsBackFromTheHighEnd) {
  CreateTable(5470);
  table_ = std::make_unique<TDataTable>(dir_.Dir(), kName);
  table_->Settings.Exclusive = true;
  table_->Settings.WorkTable = true;
  table_->OpenFiles();
  const int nominal = Data().NominalRecordCapacity();
  ASSERT_EQ(nominal, 131070 / kSmallRecordSize);  // 5461
  // A work table keeps its modified holders and grows instead.
  for (int n = 1; n <= 5470; ++n) Rename(*table_, n, "m");
  EXPECT_EQ(Data().RecordCacheCapacity, nominal + 1024);
  EXPECT_EQ(Data().CachedRecordCount(), 5470u);

  const uint64_t writes = Data().WriteCalls();
  table_->FlushTable(true, false, false);
  EXPECT_EQ(Data().WriteCalls() - writes, 1u);
  EXPECT_EQ(Data().RecordCacheCapacity, nominal);
  EXPECT_EQ(Data().CachedRecordCount(), static_cast<size_t>(nominal));
  EXPECT_TRUE(Data().IsRecordCached(1));
  EXPECT_TRUE(Data().IsRecordCached(nominal));
  EXPECT_FALSE(Data().IsRecordCached(nominal + 1));
}

TEST_F(RecordCacheTest, ChangeCheckRunsOnlyAtAMiss) {
  CreateTable(10);
  Open();
  TPlannedReader reader;
  Fetch(3, &reader);
  EXPECT_EQ(reader.Misses, 1);
  Fetch(3, &reader);
  EXPECT_EQ(reader.Misses, 1);

  // A reported change: no holder, nothing left in use.
  reader.ReportChange = true;
  EXPECT_EQ(Data().FetchRecord(4, &reader), nullptr);
  EXPECT_EQ(reader.Misses, 2);
  EXPECT_FALSE(Data().IsRecordCached(4));
  // A new slot is no miss.
  TRecord* slot = Data().AllocateSlot(&reader);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(reader.Misses, 2);
  Data().ReleaseRecord(slot);
  Data().DropRecords();
  Data().Header.NextRecordNumber = 11;
}

TEST_F(RecordCacheTest, DroppedHolderInUseStaysValidUntilReleased) {
  CreateTable(4);
  Open();
  TRecord* held = Data().FetchRecord(2);
  Data().DropRecords();
  EXPECT_FALSE(Data().IsRecordCached(2));
  EXPECT_EQ(NameIn(held), "r2");
  TRecord* fresh = Data().FetchRecord(2);
  EXPECT_NE(fresh, held);
  Data().ReleaseRecord(held);
  Data().ReleaseRecord(fresh);
  EXPECT_EQ(NameIn(Fetch(2)), "r2");
}

}  // namespace
}  // namespace tessel
