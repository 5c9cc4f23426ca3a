// Record slots in a real data file: the free chain, slot creation and the
// table limits, reading (read-ahead, links, short runs) and write-back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataFile.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/FieldValue.h"

namespace tessel {
namespace {

// Layout of the test table: name String(10) at offset 9 (indicator + 11
// bytes), flag Boolean at offset 21 (indicator + 2 bytes): 24-byte slots
// starting after the header and two descriptors.
constexpr int kRecordSize = 24;
constexpr int64_t kDataStart = 127 + 768 * 2;

class RecordSlotsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/records-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    CloseTable();
    std::filesystem::remove_all(dir_);
  }

  void CloseTable() {
    if (table_ && table_->IsOpen()) table_->CloseFiles(false);
    table_.reset();
  }

  TDataTable& Create(bool primary, bool encrypted = false, uint8_t nameSize = 10) {
    CloseTable();
    TTableStructure s;
    TFieldDesc name;
    name.FieldNumber = 1;
    name.Name = "name";
    name.Type = ftString;
    name.DeclaredSize = nameSize;
    TFieldDesc flag;
    flag.FieldNumber = 2;
    flag.Name = "flag";
    flag.Type = ftBoolean;
    s.Fields = {name, flag};
    if (primary) {
      s.Primary.FieldCount = 1;
      s.Primary.FieldNumbers[0] = 1;
      s.Primary.Unique = 1;
    }
    if (encrypted) {
      s.Encrypted = true;
      s.Password = "secret";
    }
    TDataTable::CheckStructure(s, true, "t");
    table_ = std::make_unique<TDataTable>(dir_ + "/", "t");
    table_->Settings.Exclusive = true;
    table_->CreateFiles(s);
    return *table_;
  }

  TDataFile& Data() { return table_->Data(); }

  // Inserts a row the way an insert fills its slot; returns its record number.
  int32_t Insert(const std::string& name) {
    TRecord* r = Data().AllocateSlot();
    Data().InitImage(r, true);
    PutFieldValue(Data().Fields[0], r->Data(), reinterpret_cast<const uint8_t*>(name.c_str()),
                  table_->Locale());
    const int32_t number = r->RecordNumber;
    Data().ReleaseRecord(r);
    return number;
  }

  void Delete(int32_t number) {
    TRecord* r = Data().FetchRecord(number);
    Data().FreeSlot(r);
    Data().ReleaseRecord(r);
  }

  TRecord* Fetch(int32_t number, int readAhead = 1) {
    TRecord* r = Data().FetchRecord(number, nullptr, readAhead);
    Data().ReleaseRecord(r);
    return r;
  }

  // The bytes of slot number as they stand in the data file.
  std::vector<uint8_t> FileSlot(int32_t number) {
    std::ifstream in(table_->DataFileName(), std::ios::binary);
    in.seekg(kDataStart + int64_t{number - 1} * kRecordSize);
    std::vector<uint8_t> bytes(kRecordSize);
    in.read(reinterpret_cast<char*>(bytes.data()), kRecordSize);
    EXPECT_TRUE(in.good());
    return bytes;
  }

  void PatchFile(int64_t position, const std::vector<uint8_t>& bytes) {
    std::fstream io(table_->DataFileName(), std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(position);
    io.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  void Flush() { table_->FlushTable(false, true, true); }

  static uint16_t CodeOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const ETesselEngineError& e) {
      return e.Code();
    }
    return 0;
  }

  std::string dir_;
  std::unique_ptr<TDataTable> table_;
};

TEST_F(RecordSlotsTest, LayoutMatchesTheHandComputedSlot) {
  Create(true);
  ASSERT_EQ(Data().RecordSize(), kRecordSize);
  ASSERT_EQ(Data().DataStart(), kDataStart);
  EXPECT_EQ(Insert("ab "), 1);
  EXPECT_EQ(Insert("cd"), 2);
  EXPECT_EQ(Data().PhysicalRecordCount(), 2);
  Flush();
  EXPECT_EQ(std::filesystem::file_size(table_->DataFileName()),
            static_cast<uintmax_t>(kDataStart + 2 * kRecordSize));
  std::vector<uint8_t> expected(kRecordSize, 0);
  expected[1] = 2;  // active, links to itself
  expected[5] = 2;  // identifier 2
  expected[9] = 1;  // name present: "cd", zero-filled
  expected[10] = 'c';
  expected[11] = 'd';  // flag (offset 21) stays null
  EXPECT_EQ(FileSlot(2), expected);
}

TEST_F(RecordSlotsTest, FreeChainWithPrimaryIndexReusesLastDeletedFirst) {
  Create(true);
  for (int i = 1; i <= 8; ++i) Insert("r" + std::to_string(i));
  const int32_t oldId = Fetch(7)->RecordId();
  Delete(3);
  Delete(7);
  EXPECT_EQ(Data().Header.FirstFreeRecord, 7);
  EXPECT_EQ(Fetch(7)->NextFree(), 3);
  EXPECT_EQ(Fetch(3)->NextFree(), 0);
  Flush();
  EXPECT_EQ(FileSlot(7)[0], 1);
  EXPECT_EQ(GetI32(FileSlot(7).data() + 1), 3);
  EXPECT_EQ(FileSlot(3)[0], 1);
  EXPECT_EQ(GetI32(FileSlot(3).data() + 1), 0);

  EXPECT_EQ(Insert("n1"), 7);
  EXPECT_EQ(Data().Header.FirstFreeRecord, 3);
  // The reused slot is active again, with a fresh identifier.
  TRecord* reused = Fetch(7);
  EXPECT_FALSE(reused->IsDeleted());
  EXPECT_EQ(reused->Link(), 7);
  EXPECT_NE(reused->RecordId(), oldId);
  EXPECT_EQ(reused->RecordId(), Data().Header.LastAutoIncValue);
  EXPECT_EQ(Insert("n2"), 3);
  EXPECT_EQ(Data().Header.FirstFreeRecord, 0);
  EXPECT_EQ(Insert("n3"), 9);
  EXPECT_EQ(Data().Header.NextRecordNumber, 10);
}

TEST_F(RecordSlotsTest, FreeChainWithoutPrimaryIndexAlwaysAppends) {
  Create(false);
  ASSERT_EQ(table_->Index().Header.NoPrimaryIndex, 1);
  for (int i = 1; i <= 8; ++i) Insert("r" + std::to_string(i));
  Delete(3);
  Delete(7);
  EXPECT_EQ(Data().Header.FirstFreeRecord, 7);
  EXPECT_TRUE(Fetch(7)->IsDeleted());
  EXPECT_EQ(Fetch(7)->Link(), 0);
  EXPECT_EQ(Insert("n1"), 9);
  EXPECT_EQ(Data().Header.FirstFreeRecord, 0);
  EXPECT_TRUE(Fetch(7)->IsDeleted());
}

TEST_F(RecordSlotsTest, BrokenFreeChainNeverOverwritesALiveRecord) {
  Create(true);
  for (int i = 1; i <= 4; ++i) Insert("r" + std::to_string(i));
  // The chain head names an active slot (a damaged or foreign header).
  Data().Header.FirstFreeRecord = 2;
  EXPECT_EQ(Insert("n1"), 5);
  EXPECT_EQ(Data().Header.FirstFreeRecord, 0);
  EXPECT_FALSE(Fetch(2)->IsDeleted());
  // A head beyond the last slot is no slot either.
  Data().Header.FirstFreeRecord = 40;
  EXPECT_EQ(Insert("n2"), 6);

  // Deleting the chain's head a second time leaves the chain as it was.
  Delete(3);
  Delete(3);
  EXPECT_EQ(Data().Header.FirstFreeRecord, 3);
  EXPECT_EQ(Fetch(3)->NextFree(), 0);
}

TEST_F(RecordSlotsTest, ActiveSlotReadFromFileLinksToItself) {
  Create(true);
  for (int i = 1; i <= 4; ++i) Insert("r" + std::to_string(i));
  Delete(3);
  Delete(4);  // slot 4 links to 3
  Flush();
  table_->CloseFiles();
  // Another link in slot 2 and slot 4 (deleted) linking to 1.
  PatchFile(kDataStart + kRecordSize + 1, {0x39, 0x30, 0, 0});
  PatchFile(kDataStart + 3 * kRecordSize + 1, {1, 0, 0, 0});
  table_->OpenFiles();
  EXPECT_EQ(Fetch(1, 10)->Link(), 1);
  EXPECT_EQ(Fetch(2)->Link(), 2);
  EXPECT_EQ(Fetch(4)->Link(), 1);
  EXPECT_EQ(Fetch(4)->NextFree(), 1);
}

TEST_F(RecordSlotsTest, FetchRefusesSlotsThatDoNotExist) {
  Create(true);
  Insert("a");
  EXPECT_EQ(CodeOf([&] { Data().FetchRecord(0); }), ec::RecordBuffersCorrupt);
  EXPECT_EQ(CodeOf([&] { Data().FetchRecord(-1); }), ec::RecordBuffersCorrupt);
  EXPECT_EQ(CodeOf([&] { Data().FetchRecord(3); }), ec::RecordBuffersCorrupt);
  try {
    Data().FetchRecord(0);
  } catch (const ETesselEngineError& e) {
    EXPECT_NE(std::string(e.what()).find("Data record buffers corrupt in table 't'"),
              std::string::npos)
        << e.what();
  }
}

TEST_F(RecordSlotsTest, NewSlotGrowsTheFileOnlyWhenWrittenBack) {
  Create(true);
  Flush();
  ASSERT_EQ(std::filesystem::file_size(table_->DataFileName()), static_cast<uintmax_t>(kDataStart));
  TRecord* r = Data().FetchRecord(1);
  EXPECT_EQ(r->RecordNumber, 1);
  EXPECT_EQ(r->Link(), 1);
  EXPECT_EQ(r->InUse, 1);
  EXPECT_EQ(Data().Header.NextRecordNumber, 2);
  EXPECT_TRUE(Data().HeaderModified);
  EXPECT_EQ(std::filesystem::file_size(table_->DataFileName()), static_cast<uintmax_t>(kDataStart));
  Data().ReleaseRecord(r);
  EXPECT_EQ(r->InUse, 0);
  Flush();
  EXPECT_EQ(std::filesystem::file_size(table_->DataFileName()),
            static_cast<uintmax_t>(kDataStart + kRecordSize));
}

TEST_F(RecordSlotsTest, TableFullLimits) {
  Create(true, false, 1);  // 15-byte slots: 9 + (1 + 2) + (1 + 2)
  const int size = Data().RecordSize();
  ASSERT_EQ(size, 15);
  // The record number limit: N + 1 may reach but not pass 100000000.
  Data().Header.NextRecordNumber = 100000000;
  EXPECT_EQ(CodeOf([&] { Data().FetchRecord(100000000); }), ec::TableFull);
  EXPECT_EQ(Data().Header.NextRecordNumber, 100000000);
  Data().Header.NextRecordNumber = 99999999;  // x 15 = 1499999985
  EXPECT_EQ(CodeOf([&] { Data().ReleaseRecord(Data().FetchRecord(99999999)); }), 0);
  Data().DropRecords();

  // The size limit: N x record size must stay below 2000000001.
  Create(true, false, 250);  // 9 + 252 + 3 = 264-byte slots
  const int64_t bigSize = Data().RecordSize();
  ASSERT_EQ(bigSize, 264);
  const int32_t lastFitting = 2000000000 / 264;  // 7575757 x 264 = 1999999848
  Data().Header.NextRecordNumber = lastFitting + 1;  // x 264 = 2000000112
  try {
    Data().FetchRecord(lastFitting + 1);
    ADD_FAILURE() << "no error";
  } catch (const ETesselEngineError& e) {
    EXPECT_EQ(e.Code(), ec::TableFull);
    EXPECT_NE(std::string(e.what()).find(
                  "The table 't' is full and cannot contain any more data"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Data().Header.NextRecordNumber, lastFitting + 1);
  Data().Header.NextRecordNumber = lastFitting;
  EXPECT_EQ(CodeOf([&] { Data().ReleaseRecord(Data().FetchRecord(lastFitting)); }), 0);
  Data().DropRecords();
  Data().Header.NextRecordNumber = 1;
}

TEST_F(RecordSlotsTest, ReadAheadReadsARunInOneCall) {
  Create(true);
  for (int i = 1; i <= 7; ++i) Insert("r" + std::to_string(i));
  Flush();
  Data().DropRecords();
  const uint64_t before = Data().ReadCalls();
  for (int i = 1; i <= 7; ++i) {
    TRecord* r = Fetch(i, 10);
    EXPECT_EQ(r->RecordNumber, i);
    EXPECT_EQ(r->RecordId(), i);
  }
  EXPECT_EQ(Data().ReadCalls() - before, 1u);
}

TEST_F(RecordSlotsTest, ReRunKeepsModifiedAndHeldHolders) {
  Create(true);
  for (int i = 1; i <= 5; ++i) Insert("r" + std::to_string(i));
  Flush();
  Data().DropRecords();
  TRecord* changed = Data().FetchRecord(3);
  changed->Data()[10] = 'X';
  changed->Modified = true;
  Data().ReleaseRecord(changed);
  TRecord* held = Data().FetchRecord(4);
  held->Data()[10] = 'Y';
  Fetch(1, 5);  // re-reads slots 1 to 5
  EXPECT_EQ(Fetch(3)->Data()[10], 'X');
  EXPECT_EQ(Fetch(3), changed);
  EXPECT_EQ(held->Data()[10], 'Y');
  Data().ReleaseRecord(held);
  EXPECT_EQ(Fetch(5)->Data()[10], 'r');
}

TEST_F(RecordSlotsTest, ShortRunAcceptedOnlyWhileExclusive) {
  Create(true);
  for (int i = 1; i <= 7; ++i) Insert("r" + std::to_string(i));
  Flush();
  Data().DropRecords();
  // The header claims slots that are not yet in the file.
  Data().Header.NextRecordNumber = 17;
  EXPECT_EQ(Fetch(5, 10)->RecordNumber, 5);
  EXPECT_EQ(CodeOf([&] { Data().FetchRecord(8); }), ec::ReadError);
  Data().DropRecords();
  table_->Settings.Exclusive = false;
  EXPECT_EQ(CodeOf([&] { Data().FetchRecord(5, nullptr, 10); }), ec::ReadError);
  table_->Settings.Exclusive = true;
  Data().Header.NextRecordNumber = 8;
}

TEST_F(RecordSlotsTest, WriteBackCoalescesRunsOfConsecutiveSlots) {
  Create(true);
  for (int i = 1; i <= 10; ++i) Insert("r" + std::to_string(i));
  Flush();
  for (int n : {9, 5, 4, 6}) {
    TRecord* r = Data().FetchRecord(n);
    r->Data()[10] = 'Z';
    r->Modified = true;
    Data().ReleaseRecord(r);
  }
  uint64_t before = Data().WriteCalls();
  Data().WriteBackRecords();
  EXPECT_EQ(Data().WriteCalls() - before, 2u);
  for (int n = 1; n <= 10; ++n) {
    const bool changed = n == 4 || n == 5 || n == 6 || n == 9;
    EXPECT_EQ(FileSlot(n)[10], changed ? 'Z' : 'r') << n;
    EXPECT_FALSE(Fetch(n)->Modified) << n;
  }
  // Nothing left to write: no call at all.
  before = Data().WriteCalls();
  Data().WriteBackRecords();
  EXPECT_EQ(Data().WriteCalls(), before);

  // A holder in use is not written and splits its run.
  for (int n : {4, 5, 6}) {
    TRecord* r = Data().FetchRecord(n);
    r->Data()[10] = 'Q';
    r->Modified = true;
    if (n != 5) Data().ReleaseRecord(r);
  }
  before = Data().WriteCalls();
  Data().WriteBackRecords();
  EXPECT_EQ(Data().WriteCalls() - before, 2u);
  EXPECT_EQ(FileSlot(5)[10], 'Z');
  EXPECT_TRUE(Fetch(5)->Modified);
  Data().ReleaseRecord(Fetch(5));
}

TEST_F(RecordSlotsTest, FullCacheRecyclesOrWritesBack) {
  Create(true);
  for (int i = 1; i <= 6; ++i) Insert("r" + std::to_string(i));
  Flush();
  Data().DropRecords();
  Data().RecordCacheCapacity = 2;
  // Clean holders are recycled.
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(Fetch(i)->RecordNumber, i);
  // Modified holders are written back to make room.
  for (int i = 1; i <= 3; ++i) {
    TRecord* r = Data().FetchRecord(i);
    r->Data()[10] = 'M';
    r->Modified = true;
    Data().ReleaseRecord(r);
  }
  EXPECT_EQ(FileSlot(1)[10], 'M');
  // With every holder held there is no room at all.
  TRecord* a = Data().FetchRecord(4);
  TRecord* b = Data().FetchRecord(5);
  EXPECT_EQ(CodeOf([&] { Data().FetchRecord(6); }), ec::RecordBuffersCorrupt);
  Data().ReleaseRecord(a);
  Data().ReleaseRecord(b);
  EXPECT_EQ(Fetch(6)->RecordNumber, 6);
}

TEST_F(RecordSlotsTest, EncryptedSlotsAreScrambledOneByOne) {
  Create(true, true);
  for (int i = 1; i <= 3; ++i) Insert("s" + std::to_string(i));
  std::vector<std::vector<uint8_t>> plain;
  for (int i = 1; i <= 3; ++i) {
    TRecord* r = Fetch(i);
    plain.emplace_back(r->Data(), r->Data() + kRecordSize);
  }
  Flush();
  // Every slot starts the key stream afresh: byte k is XORed with
  // (0x5A + k) ^ (0xC3 - k), both taken mod 256.
  for (int i = 1; i <= 3; ++i) {
    const std::vector<uint8_t> raw = FileSlot(i);
    EXPECT_EQ(raw[0], 0x99) << i;  // deleted flag 0 under the first key byte
    for (int k = 0; k < kRecordSize; ++k) {
      const uint8_t key = static_cast<uint8_t>((0x5A + k) ^ (0xC3 - k));
      EXPECT_EQ(static_cast<uint8_t>(raw[k] ^ key), plain[i - 1][k]) << i << ":" << k;
    }
  }
  table_->CloseFiles();
  table_->OpenFiles();
  for (int i = 1; i <= 3; ++i) {
    TRecord* r = Fetch(i, 3);
    EXPECT_TRUE(std::equal(plain[i - 1].begin(), plain[i - 1].end(), r->Data())) << i;
  }
}

}  // namespace
}  // namespace tessel
