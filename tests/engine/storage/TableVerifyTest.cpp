// The structure check of a whole table and its repair, on a table with
// records, a primary and a secondary index and memo BLOBs whose files are
// then damaged in known (and in random) ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TableTestSupport.h"
#include "engine/base/Bytes.h"
#include "engine/storage/BlobBuffer.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/FieldValue.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexRebuild.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/TableVerify.h"

namespace tessel {
namespace {

using testing::PatchFileBytes;
using testing::ReadFileBytes;

constexpr const char* kName = "v";
constexpr int kByName = 1;  // slot of the secondary index on name
constexpr uint16_t kByNameKeyLength = 21 + 1 + 4;

// Slot layout of the table: flag, link, identifier, then id (integer), name
// (string 20) and note (memo), each after its null byte.
constexpr int kRecordSize = 9 + 5 + 22 + 9;
constexpr int64_t kDataStart = 127 + 768 * 3;
constexpr int kIdValue = 10;
constexpr int kNoteFirstBlock = 37;
constexpr int kNoteIdentifier = 41;

int64_t SlotAt(int32_t r) { return kDataStart + int64_t{r - 1} * kRecordSize; }
int64_t IndexDescAt(int slot) { return 14 + 120 * slot; }

std::vector<uint8_t> I32Bytes(int32_t value) {
  std::vector<uint8_t> bytes(4);
  PutI32(bytes.data(), value);
  return bytes;
}

void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Note r: no note on every fourth record, else 600 to 900 bytes.
size_t NoteLength(int32_t r) { return r % 4 == 0 ? 0 : 600 + 37 * static_cast<size_t>(r % 9); }
std::vector<uint8_t> Note(int32_t r) {
  std::vector<uint8_t> v(NoteLength(r));
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>((r * 7 + i) % 251 + 1);
  return v;
}

// Inserts or deletes the keys of a record image in every index.
void ForEachIndex(TDataTable& t, const uint8_t* image,
                  const std::function<void(TIndexTree&, const uint8_t*)>& op, bool systemToo = true) {
  for (int slot : UsedIndexSlots(t)) {
    if (slot == kSysDeletedSlot && !systemToo) continue;
    const TKeyContext context(t.Index().Header.Indexes[static_cast<size_t>(slot)], slot, t.Data().Fields,
                              &t.Locale(), kName);
    TIndexTree tree(t.Index(), context);
    const std::vector<uint8_t> key = context.BuildKey(image);
    op(tree, key.data());
  }
}

struct Outcome {
  TVerifySummary Summary;
  std::vector<TVerifyFinding> Findings;

  const TVerifyFinding* Find(TVerifyArea area, const std::string& part, bool afterRepair = false) const {
    for (const TVerifyFinding& f : Findings)
      if (f.Area == area && f.AfterRepair == afterRepair && f.Message.find(part) != std::string::npos)
        return &f;
    return nullptr;
  }
  std::string All() const {
    std::string text;
    for (const TVerifyFinding& f : Findings) text += (f.AfterRepair ? "after: " : "") + f.Message + "\n";
    return text;
  }
};

class TableVerifyTest : public ::testing::Test {
 protected:
  std::string DataName() const { return dir_.Dir() + "v.DAT"; }
  std::string IndexName() const { return dir_.Dir() + "v.IDX"; }
  std::string BlobName() const { return dir_.Dir() + "v.BLB"; }

  // count records with id r, name "name<r % 40>" and note r; then every
  // fifth record is deleted as the cursor deletes it (keys out, BLOB freed,
  // slot on the free chain, "Sys Deleted" key with flag 1). freePages pages
  // of the secondary index go on its free chain.
  void Build(int count, uint32_t blockSize = 512, int freePages = 0) {
    TTableStructure s;
    s.Fields = {testing::Field(1, "id", ftInteger), testing::Field(2, "name", ftString, 20),
                testing::Field(3, "note", ftBlob, 0, fstMemo)};
    s.Primary = testing::Index("", {1}, true);
    s.Secondary = {testing::Index("byname", {2}, false)};
    s.BlobBlockSize = blockSize;
    TDataTable::CheckStructure(s, false, kName);
    TDataTable t(dir_.Dir(), kName);
    t.CreateFiles(s);
    TDataFile& data = t.Data();
    ASSERT_EQ(data.RecordSize(), kRecordSize);
    ASSERT_EQ(data.Fields[2].RecordOffset, kNoteFirstBlock - 1);

    for (int32_t r = 1; r <= count; ++r) {
      TRecord* record = data.AllocateSlot();
      ASSERT_EQ(record->RecordNumber, r);
      data.InitImage(record, true);
      uint8_t* image = record->Data();
      const std::vector<uint8_t> id = I32Bytes(r);
      PutFieldValue(data.Fields[0], image, id.data(), t.Locale());
      std::vector<uint8_t> name(21, 0);
      const std::string text = "name" + std::to_string(r % 40);
      std::memcpy(name.data(), text.data(), text.size());
      PutFieldValue(data.Fields[1], image, name.data(), t.Locale());
      const std::vector<uint8_t> note = Note(r);
      if (!note.empty()) {
        TBlobBuffer buffer(t, nullptr, 3, r, 0, 0);
        buffer.SetSize(note.size());
        std::copy(note.begin(), note.end(), buffer.Data());
        buffer.MarkModified();
        buffer.Store();
        uint8_t value[8];
        PutI32(value, buffer.FirstBlock());
        PutI32(value + 4, buffer.BlobId());
        PutFieldValue(data.Fields[2], image, value, t.Locale());
      }
      record->Modified = true;
      ForEachIndex(t, image, [&](TIndexTree& tree, const uint8_t* key) { tree.InsertKey(key, r); });
      ++t.Index().Header.ActiveRecordCount;
      data.ReleaseRecord(record);
    }
    for (int32_t r = 5; r <= count; r += 5) {
      TRecord* record = data.FetchRecord(r);
      uint8_t* image = record->Data();
      ForEachIndex(t, image, [](TIndexTree& tree, const uint8_t* key) { tree.DeleteKey(key); });
      if (GetI32(image + kNoteFirstBlock) != 0) {
        TBlobBuffer buffer(t, nullptr, 3, r, GetI32(image + kNoteFirstBlock),
                           GetI32(image + kNoteIdentifier));
        buffer.Release();
        PutFieldValue(data.Fields[2], image, nullptr, t.Locale());
      }
      data.FreeSlot(record);
      const TKeyContext sys(t.Index().Header.Indexes[kSysDeletedSlot], kSysDeletedSlot, data.Fields,
                            &t.Locale(), kName);
      TIndexTree(t.Index(), sys).InsertKey(sys.BuildKey(image).data(), r);
      --t.Index().Header.ActiveRecordCount;
      data.ReleaseRecord(record);
    }
    std::vector<TPage*> pages;
    for (int i = 0; i < freePages; ++i) pages.push_back(t.Index().AllocatePage(kByName));
    for (TPage* page : pages) {
      t.Index().FreePage(kByName, page);
      t.Index().ReleasePage(page);
    }
    t.CloseFiles(true);
  }

  std::unique_ptr<TDataTable> Open(bool exclusive) {
    auto t = std::make_unique<TDataTable>(dir_.Dir(), kName);
    t->Settings.Exclusive = exclusive;
    t->OpenFiles();
    try {
      t->ValidateHeaders(forStructureCheck_);
    } catch (...) {
      t->CloseFiles(false);
      throw;
    }
    return t;
  }

  // progress, when given, receives every progress report of the run.
  Outcome Verify(bool repair, bool exclusive = false, std::vector<int>* progress = nullptr) {
    forStructureCheck_ = true;
    std::unique_ptr<TDataTable> t = Open(repair || exclusive);
    forStructureCheck_ = false;
    Outcome outcome;
    try {
      TVerifyOptions options;
      options.Repair = repair;
      if (progress != nullptr) options.Progress = [progress](int permille) { progress->push_back(permille); };
      outcome.Summary =
          VerifyTable(*t, options, [&](const TVerifyFinding& f) { outcome.Findings.push_back(f); });
      EXPECT_FALSE(t->HoldsReadLock());
    } catch (...) {
      t->CloseFiles(false);
      throw;
    }
    t->CloseFiles(true);
    return outcome;
  }

  struct Files {
    std::vector<uint8_t> Data, Index, Blob;
  };
  Files Save() const {
    return {ReadFileBytes(DataName()), ReadFileBytes(IndexName()), ReadFileBytes(BlobName())};
  }
  void Restore(const Files& files) const {
    WriteFileBytes(DataName(), files.Data);
    WriteFileBytes(IndexName(), files.Index);
    WriteFileBytes(BlobName(), files.Blob);
  }

  // File views of the index pages.
  std::vector<uint8_t> Page(int32_t position) const {
    const std::vector<uint8_t> all = ReadFileBytes(IndexName());
    return std::vector<uint8_t>(all.begin() + position, all.begin() + position + kPageSize);
  }
  int32_t Root(int slot) const { return GetI32(ReadFileBytes(IndexName()).data() + IndexDescAt(slot) + 86); }
  int32_t FreePageHead(int slot) const {
    return GetI32(ReadFileBytes(IndexName()).data() + IndexDescAt(slot) + 90);
  }
  // The leftmost leaf of an index (uncompressed pages).
  int32_t FirstLeaf(int slot, uint16_t keyLength) const {
    int32_t position = Root(slot);
    for (std::vector<uint8_t> page = Page(position); page[0] != 2 && page[0] != 3; page = Page(position))
      position = GetI32(page.data() + 13 + keyLength);
    return position;
  }
  int32_t SlotI32(int32_t r, int offset) const {
    return GetI32(ReadFileBytes(DataName()).data() + SlotAt(r) + offset);
  }

  testing::TempDir dir_;
  bool forStructureCheck_ = false;
};

TEST_F(TableVerifyTest, SoundTableHasNoFindingsAndTheCheckCountsWhatItWalked) {
  Build(300);
  const std::vector<uint8_t> before = ReadFileBytes(IndexName());
  const Outcome shared = Verify(false);
  EXPECT_TRUE(shared.Summary.Sound()) << shared.All();
  EXPECT_EQ(shared.Summary.Total(), 0);
  EXPECT_EQ(shared.Summary.RecordSlots, 300);
  EXPECT_EQ(shared.Summary.ActiveRecords, 240);
  EXPECT_EQ(shared.Summary.IndexesChecked, 3);
  // Notes on records not divisible by 4, of the active ones.
  int notes = 0;
  for (int r = 1; r <= 300; ++r) notes += r % 5 != 0 && r % 4 != 0;
  EXPECT_EQ(shared.Summary.BlobValues, notes);
  EXPECT_EQ(ReadFileBytes(IndexName()), before);

  // A repair of a sound table changes nothing.
  const Files files = Save();
  const Outcome repaired = Verify(true);
  EXPECT_TRUE(repaired.Summary.Sound()) << repaired.All();
  EXPECT_TRUE(repaired.Summary.RebuiltIndexes.empty());
  EXPECT_EQ(Save().Data, files.Data);
  EXPECT_EQ(Save().Index, files.Index);
  EXPECT_EQ(Save().Blob, files.Blob);
}

// One kind of damage: how to do it, what the check says and whether the
// repair leaves a sound table.
struct Damage {
  std::string Name;
  std::function<void()> Apply;
  TVerifyArea Area;
  std::string Text;  // part of the finding's message
  int32_t Record;    // the record the finding names, -1 when not checked
  bool Repairable;
};

TEST_F(TableVerifyTest, EachDamageIsReportedWithoutChangingTheFilesAndRepairedWhereItCanBe) {
  Build(300, 512, 3);
  const Files pristine = Save();

  // Facts of the table that the damages aim at.
  const int32_t leaf = FirstLeaf(kByName, kByNameKeyLength);
  const std::vector<uint8_t> leafPage = Page(leaf);
  const int32_t secondEntryRecord = GetI32(leafPage.data() + 13 + (kByNameKeyLength + 4) + kByNameKeyLength);
  const int32_t byNameRoot = Root(kByName);
  ASSERT_EQ(Page(byNameRoot)[0], 0) << "the secondary index needs a root node";
  const int32_t note2 = SlotI32(2, kNoteFirstBlock);
  ASSERT_NE(note2, 0);
  const int32_t freeHead = FreePageHead(kByName);
  ASSERT_NE(freeHead, 0);
  const int32_t freeSecond = GetI32(Page(freeHead).data() + 7);
  ASSERT_NE(freeSecond, 0);
  const int32_t freeBlockHead = GetI32(pristine.Blob.data() + 9);
  ASSERT_NE(freeBlockHead, 0);

  const std::vector<Damage> damages = {
      {"flipped key byte",
       [&] {
         PatchFileBytes(IndexName(), leaf + 13 + (kByNameKeyLength + 4) + 3,
                        {static_cast<uint8_t>(leafPage[13 + kByNameKeyLength + 4 + 3] ^ 0x20)});
       },
       TVerifyArea::IndexEntries, "is indexed under a key its values do not give", secondEntryRecord, true},
      {"wrong subtree count",
       [&] {
         PatchFileBytes(IndexName(), byNameRoot + 13 + kByNameKeyLength + 4,
                        I32Bytes(GetI32(Page(byNameRoot).data() + 13 + kByNameKeyLength + 4) + 1));
       },
       TVerifyArea::IndexTree, "subtree count", -1, true},
      {"cut BLOB chain", [&] { PatchFileBytes(BlobName(), note2 + 4, I32Bytes(7)); }, TVerifyArea::BlobChain,
       "Invalid intra-block pointer in BLOB file for physical record # 2, error not fixed", 2, true},
      {"BLOB block claims more than it holds",
       [&] { PatchFileBytes(BlobName(), GetI32(pristine.Blob.data() + note2 + 4) + 8, {0x60, 0xEA}); },
       TVerifyArea::BlobChain, "Invalid block length in BLOB file for physical record # 2, error not fixed", 2,
       true},
      {"BLOB owner mismatch",
       [&] { PatchFileBytes(BlobName(), note2 + 10, I32Bytes(SlotI32(2, kNoteIdentifier) + 1)); },
       TVerifyArea::BlobChain, "Invalid BLOB offset in BLOB file for physical record # 2, error not fixed", 2,
       true},
      {"loop in the free-slot chain", [&] { PatchFileBytes(DataName(), SlotAt(5) + 1, I32Bytes(300)); },
       TVerifyArea::FreeSlots, "links back to physical record # 300", 5, true},
      {"free-slot chain into an active record",
       [&] { PatchFileBytes(DataName(), SlotAt(300) + 1, I32Bytes(7)); }, TVerifyArea::FreeSlots,
       "links to physical record # 7, which is not deleted", 300, true},
      {"loop in a free-page chain", [&] { PatchFileBytes(IndexName(), freeSecond + 7, I32Bytes(freeHead)); },
       TVerifyArea::FreePages, "links back to page " + std::to_string(freeHead), -1, true},
      {"free-page chain into the tree",
       [&] { PatchFileBytes(IndexName(), IndexDescAt(kByName) + 90, I32Bytes(leaf)); },
       TVerifyArea::FreePages, "is part of the tree of Index 'byname'", -1, true},
      {"page on two free chains",
       [&] { PatchFileBytes(IndexName(), IndexDescAt(0) + 90, I32Bytes(freeHead)); }, TVerifyArea::FreePages,
       "is also on the free page chain of Index 'Primary'", -1, true},
      {"loop in the free-block chain",
       [&] {
         const int32_t second = GetI32(pristine.Blob.data() + freeBlockHead + 4);
         PatchFileBytes(BlobName(), second + 4, I32Bytes(freeBlockHead));
       },
       TVerifyArea::FreeBlocks, "Recursive free block pointer in BLOB file, error not fixed", -1, true},
      {"wrong active record count", [&] { PatchFileBytes(IndexName(), 3974, I32Bytes(250)); },
       TVerifyArea::Records, "Active record count is 250 in the index header, 240 records are active", -1,
       true},
      {"invalid deleted flag", [&] { PatchFileBytes(DataName(), SlotAt(10), {7}); }, TVerifyArea::Records,
       "Physical record # 10 has deleted flag 7", 10, true},
      {"index end of file cut short",
       [&] {
         PatchFileBytes(IndexName(), 9, I32Bytes(static_cast<int32_t>(pristine.Index.size()) - kPageSize));
       },
       TVerifyArea::Files, "Index file end-of-file position", -1, true},
      {"record missing from an index",
       [&] {
         auto t = Open(true);
         TRecord* record = t->Data().FetchRecord(17);
         const TKeyContext context(t->Index().Header.Indexes[kByName], kByName, t->Data().Fields,
                                   &t->Locale(), kName);
         TIndexTree(t->Index(), context).DeleteKey(context.BuildKey(record->Data()).data());
         t->Data().ReleaseRecord(record);
         t->CloseFiles(true);
       },
       TVerifyArea::IndexEntries, "Index 'byname': physical record # 17 is not indexed", 17, true},
      {"deleted record still indexed",
       [&] {
         auto t = Open(true);
         TRecord* record = t->Data().FetchRecord(20);
         const TKeyContext context(t->Index().Header.Indexes[0], 0, t->Data().Fields, &t->Locale(), kName);
         TIndexTree(t->Index(), context).InsertKey(context.BuildKey(record->Data()).data(), 20);
         t->Data().ReleaseRecord(record);
         t->CloseFiles(true);
       },
       TVerifyArea::IndexEntries, "Index 'Primary': entry for deleted physical record # 20", 20, true},
      {"Sys Deleted entry lost",
       [&] {
         auto t = Open(true);
         TRecord* record = t->Data().FetchRecord(33);
         const TKeyContext context(t->Index().Header.Indexes[kSysDeletedSlot], kSysDeletedSlot,
                                   t->Data().Fields, &t->Locale(), kName);
         TIndexTree(t->Index(), context).DeleteKey(context.BuildKey(record->Data()).data());
         t->Data().ReleaseRecord(record);
         t->CloseFiles(true);
       },
       TVerifyArea::IndexEntries, "Index 'Sys Deleted': physical record # 33 is not indexed", 33, true},
      {"index definition corrupt",
       [&] {
         PatchFileBytes(IndexName(), IndexDescAt(kByName) + 31, {99, 0});
       },
       TVerifyArea::Files, "Index 'byname': definition corrupt (key length 99, the key fields give 26)", -1,
       false},
  };

  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.Name);
    Restore(pristine);
    damage.Apply();
    const Files damaged = Save();

    const Outcome check = Verify(false);
    EXPECT_FALSE(check.Summary.Sound());
    const TVerifyFinding* finding = check.Find(damage.Area, damage.Text);
    ASSERT_NE(finding, nullptr) << check.All();
    EXPECT_FALSE(finding->Fixed);
    if (damage.Record >= 0) {
      EXPECT_EQ(finding->RecordNumber, damage.Record);
    }
    EXPECT_EQ(check.Summary.TotalFixed(), 0);
    EXPECT_EQ(check.Summary.NotFixed(), check.Summary.Total());
    // A check changes nothing.
    EXPECT_EQ(Save().Data, damaged.Data);
    EXPECT_EQ(Save().Index, damaged.Index);
    EXPECT_EQ(Save().Blob, damaged.Blob);

    const Outcome repair = Verify(true);
    const TVerifyFinding* fixed =
        repair.Find(damage.Area, damage.Text.substr(0, damage.Text.find(", error")));
    ASSERT_NE(fixed, nullptr) << repair.All();
    EXPECT_EQ(fixed->Fixed, damage.Repairable);
    EXPECT_EQ(repair.Summary.Sound(), damage.Repairable) << repair.All();
    // The repaired files pass a fresh check.
    const Outcome again = Verify(false);
    EXPECT_EQ(again.Summary.Sound(), damage.Repairable) << again.All();
  }
}

// What a writer killed inside an insert's write-back leaves: its slot in
// the file without the data header that counts it and hands out its
// identifiers.
TEST_F(TableVerifyTest, AnInsertWhoseHeaderWriteNeverHappenedIsCutOrCountedByTheRepair) {
  Build(20);
  const Files pristine = Save();

  // A slot beyond the counted ones: the table does not open, the check
  // opens it and reports the bytes, the repair cuts them.
  std::vector<uint8_t> data = pristine.Data;
  data.insert(data.end(), data.end() - kRecordSize, data.end());
  WriteFileBytes(DataName(), data);
  EXPECT_EQ(testing::ErrorOf([&] { Open(false); }).Code, ec::HeaderCorrupt);
  const std::string text = "Data file holds " + std::to_string(kRecordSize) +
                           " bytes beyond the 20 record slots its header counts";
  const Outcome check = Verify(false);
  ASSERT_NE(check.Find(TVerifyArea::Files, text + ", error not fixed"), nullptr) << check.All();
  EXPECT_EQ(check.Summary.Total(), 1) << check.All();
  EXPECT_EQ(ReadFileBytes(DataName()), data);
  const Outcome repair = Verify(true);
  ASSERT_NE(repair.Find(TVerifyArea::Files, text + ", error fixed"), nullptr) << repair.All();
  EXPECT_TRUE(repair.Summary.Sound()) << repair.All();
  EXPECT_EQ(ReadFileBytes(DataName()).size(), pristine.Data.size());
  EXPECT_NO_THROW(Open(false)->CloseFiles(false));

  // A partial slot is cut as well.
  Restore(pristine);
  data = pristine.Data;
  data.resize(data.size() + 7, 0x41);
  WriteFileBytes(DataName(), data);
  EXPECT_TRUE(Verify(true).Summary.Sound());
  EXPECT_EQ(ReadFileBytes(DataName()).size(), pristine.Data.size());

  // A header whose last identifiers are below those in use (the slot and
  // BLOB of an insert reached the file, its header did not): the next
  // insert would hand them out again. The repair raises both.
  Restore(pristine);
  const int32_t lastId = GetI32(pristine.Data.data() + 17);
  const int32_t lastBlobId = GetI32(pristine.Data.data() + 112);
  ASSERT_EQ(lastId, SlotI32(20, 5));
  ASSERT_EQ(lastBlobId, SlotI32(19, kNoteIdentifier));
  PatchFileBytes(DataName(), 17, I32Bytes(lastId - 2));
  PatchFileBytes(DataName(), 112, I32Bytes(lastBlobId - 1));
  const Outcome stale = Verify(false);
  EXPECT_NE(stale.Find(TVerifyArea::Records,
                       "Last record identifier is " + std::to_string(lastId - 2) +
                           " in the data header, physical record # 20 carries " + std::to_string(lastId)),
            nullptr)
      << stale.All();
  EXPECT_NE(stale.Find(TVerifyArea::Records, "Last BLOB identifier is " + std::to_string(lastBlobId - 1)),
            nullptr)
      << stale.All();
  EXPECT_EQ(stale.Summary.Total(), 2) << stale.All();
  EXPECT_TRUE(Verify(true).Summary.Sound());
  EXPECT_EQ(GetI32(ReadFileBytes(DataName()).data() + 17), lastId);
  EXPECT_EQ(GetI32(ReadFileBytes(DataName()).data() + 112), lastBlobId);
  EXPECT_TRUE(Verify(false).Summary.Sound());
}

// The data header's BLOB field count decides whether a post writes BLOBs
// back; one that disagrees with the descriptors would let a note's buffer
// handle reach the slot. The table does not open, the check reports the
// count and still checks the notes, and the repair counts the descriptors.
TEST_F(TableVerifyTest, BlobFieldCountThatDisagreesWithTheDescriptorsIsReportedAndRepaired) {
  Build(40);
  const Files pristine = Save();
  ASSERT_EQ(GetU16(pristine.Data.data() + 25), 1);
  const Outcome sound = Verify(false);
  ASSERT_TRUE(sound.Summary.Sound()) << sound.All();

  for (const uint16_t count : {uint16_t{0}, uint16_t{2}}) {
    SCOPED_TRACE(count);
    Restore(pristine);
    std::vector<uint8_t> bytes(2);
    PutU16(bytes.data(), count);
    PatchFileBytes(DataName(), 25, bytes);
    const testing::RaisedError refused = testing::ErrorOf([&] { Open(false); });
    EXPECT_EQ(refused.Code, ec::HeaderCorrupt);
    EXPECT_EQ(refused.Message, "Header information corrupt in table 'v'");

    const std::string text = "BLOB field count is " + std::to_string(count) +
                             " in the data header, the field descriptors hold 1";
    const Outcome check = Verify(false);
    ASSERT_NE(check.Find(TVerifyArea::Files, text + ", error not fixed"), nullptr) << check.All();
    EXPECT_EQ(check.Summary.Total(), 1) << check.All();
    EXPECT_EQ(check.Summary.BlobValues, sound.Summary.BlobValues);

    const Outcome repair = Verify(true);
    ASSERT_NE(repair.Find(TVerifyArea::Files, text + ", error fixed"), nullptr) << repair.All();
    EXPECT_TRUE(repair.Summary.Sound()) << repair.All();
    EXPECT_EQ(GetU16(ReadFileBytes(DataName()).data() + 25), 1);
    auto t = Open(false);
    TBlobBuffer buffer(*t, nullptr, 3, 2, SlotI32(2, kNoteFirstBlock), SlotI32(2, kNoteIdentifier));
    buffer.Load();
    const std::vector<uint8_t> note = Note(2);
    EXPECT_EQ(std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Size()), note);
    t->CloseFiles(false);
  }
}

// With a primary index inserts reuse deleted slots through the free chain
// only: a deleted slot left off it would stay unused for ever. The check
// reports such slots, and the repair chains every deleted slot.
TEST_F(TableVerifyTest, DeletedSlotsOffTheFreeChainAreReportedAndChainedByTheRepair) {
  Build(100);
  const Files pristine = Save();
  // The slots along the chain and the deleted ones, as the data file has them.
  auto chain = [&] {
    const std::vector<uint8_t> data = ReadFileBytes(DataName());
    std::vector<int32_t> slots;
    for (int32_t r = GetI32(data.data() + 9); r != 0 && slots.size() <= 100; r = GetI32(data.data() + SlotAt(r) + 1))
      slots.push_back(r);
    std::sort(slots.begin(), slots.end());
    return slots;
  };
  auto deleted = [&] {
    const std::vector<uint8_t> data = ReadFileBytes(DataName());
    std::vector<int32_t> slots;
    for (int32_t r = 1; r <= 100; ++r)
      if (data[static_cast<size_t>(SlotAt(r))] != 0) slots.push_back(r);
    return slots;
  };
  ASSERT_EQ(chain(), deleted());
  ASSERT_EQ(chain().size(), 20u);

  struct Case {
    const char* Name;
    std::function<void()> Apply;
    std::string Text;
  };
  const std::vector<Case> cases = {
      {"first free record lost", [&] { PatchFileBytes(DataName(), 9, I32Bytes(0)); },
       "Free record chain leaves out 20 deleted record slots, the first physical record # 5"},
      {"deleted slot on the chain marked active",
       [&] { PatchFileBytes(DataName(), SlotAt(50), {0}); },
       "Free record chain leaves out 9 deleted record slots, the first physical record # 5"},
      {"active slot marked deleted", [&] { PatchFileBytes(DataName(), SlotAt(12), {1}); },
       "Free record chain leaves out 1 deleted record slot, physical record # 12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Restore(pristine);
    c.Apply();
    const Outcome check = Verify(false);
    ASSERT_NE(check.Find(TVerifyArea::FreeSlots, c.Text + ", error not fixed"), nullptr) << check.All();
    const Outcome repair = Verify(true);
    ASSERT_NE(repair.Find(TVerifyArea::FreeSlots, c.Text + ", error fixed"), nullptr) << repair.All();
    EXPECT_TRUE(repair.Summary.Sound()) << repair.All();
    EXPECT_EQ(chain(), deleted());
    EXPECT_TRUE(Verify(false).Summary.Sound());

    // The next insert reuses a deleted slot instead of appending.
    auto t = Open(true);
    TRecord* slot = t->Data().AllocateSlot();
    EXPECT_LE(slot->RecordNumber, 100);
    t->Data().ReleaseRecord(slot);
    t->CloseFiles(false);
  }

  // Without a primary index inserts always append and the chain holds the
  // last deleted slot only: nothing to report.
  Restore(pristine);
  PatchFileBytes(IndexName(), 3978, {1});
  const Outcome noPrimary = Verify(false);
  EXPECT_EQ(noPrimary.Summary.FoundIn(TVerifyArea::FreeSlots), 0) << noPrimary.All();
}

// A string value must end with a zero byte inside its field. The repair
// closes a value that runs to the end of its area at the field's size, and
// the keys are then built from what the record keeps.
TEST_F(TableVerifyTest, StringValueNotClosedWithinItsFieldIsClosedByTheRepair) {
  Build(40);
  constexpr int64_t kNameValue = 15;  // the name's 21 bytes in a slot, after its null byte
  // Record 7 gets a name of the full 20 characters.
  {
    auto t = Open(true);
    TRecord* record = t->Data().FetchRecord(7);
    ForEachIndex(*t, record->Data(), [](TIndexTree& tree, const uint8_t* key) { tree.DeleteKey(key); }, false);
    std::vector<uint8_t> name(21, 0);
    std::memcpy(name.data(), "abcdefghijklmnopqrst", 20);
    PutFieldValue(t->Data().Fields[1], record->Data(), name.data(), t->Locale());
    record->Modified = true;
    ForEachIndex(*t, record->Data(), [](TIndexTree& tree, const uint8_t* key) { tree.InsertKey(key, 7); }, false);
    t->Data().ReleaseRecord(record);
    t->CloseFiles(true);
  }
  ASSERT_TRUE(Verify(false).Summary.Sound());
  const Files pristine = Save();
  const std::string text = "String value of field 'name' in physical record # 7 is not closed within the field";

  // Its closing zero overwritten: the key, built from 20 characters, still
  // agrees; only the record's own check finds it.
  PatchFileBytes(DataName(), SlotAt(7) + kNameValue + 20, {'u'});
  Outcome check = Verify(false);
  ASSERT_NE(check.Find(TVerifyArea::Records, text + ", error not fixed"), nullptr) << check.All();
  EXPECT_EQ(check.Summary.Total(), 1) << check.All();
  Outcome repair = Verify(true);
  ASSERT_NE(repair.Find(TVerifyArea::Records, text + ", error fixed"), nullptr) << repair.All();
  EXPECT_TRUE(repair.Summary.Sound()) << repair.All();
  EXPECT_EQ(ReadFileBytes(DataName()), pristine.Data);

  // The whole area filled: the key of the record's 20 characters differs
  // from the one indexed; the repair closes the value and rebuilds the key.
  Restore(pristine);
  PatchFileBytes(DataName(), SlotAt(7) + kNameValue, std::vector<uint8_t>(21, 'x'));
  check = Verify(false);
  ASSERT_NE(check.Find(TVerifyArea::Records, text + ", error not fixed"), nullptr) << check.All();
  repair = Verify(true);
  ASSERT_NE(repair.Find(TVerifyArea::Records, text + ", error fixed"), nullptr) << repair.All();
  EXPECT_TRUE(repair.Summary.Sound()) << repair.All();
  const std::vector<uint8_t> data = ReadFileBytes(DataName());
  EXPECT_EQ(std::string(data.begin() + SlotAt(7) + kNameValue, data.begin() + SlotAt(7) + kNameValue + 21),
            std::string(20, 'x') + '\0');
  EXPECT_TRUE(Verify(false).Summary.Sound());
}

TEST_F(TableVerifyTest, RepairedBlobValuesLoadWithWhatTheirChainsStillHold) {
  Build(40);
  const int32_t note2 = SlotI32(2, kNoteFirstBlock);
  const int32_t note3 = SlotI32(3, kNoteFirstBlock);
  PatchFileBytes(BlobName(), note2 + 4, I32Bytes(7));                                 // cut after one block
  PatchFileBytes(BlobName(), note3 + 10, I32Bytes(SlotI32(3, kNoteIdentifier) + 9));  // another owner

  const Outcome repair = Verify(true);
  EXPECT_NE(repair.Find(TVerifyArea::BlobChain,
                        "Invalid intra-block pointer in BLOB file for physical record # 2, error fixed"),
            nullptr)
      << repair.All();
  EXPECT_NE(repair.Find(TVerifyArea::BlobChain,
                        "Invalid BLOB offset in BLOB file for physical record # 3, error fixed"),
            nullptr);
  EXPECT_TRUE(repair.Summary.Sound()) << repair.All();

  // Record 3's note is gone (null); record 2's keeps its first block.
  EXPECT_EQ(ReadFileBytes(DataName())[SlotAt(3) + kNoteFirstBlock - 1], 0);
  EXPECT_EQ(SlotI32(3, kNoteFirstBlock), 0);
  auto t = Open(true);
  TBlobBuffer buffer(*t, nullptr, 3, 2, SlotI32(2, kNoteFirstBlock), SlotI32(2, kNoteIdentifier));
  buffer.Load();
  const std::vector<uint8_t> note = Note(2);
  ASSERT_EQ(buffer.Size(), 512u - 18u);
  EXPECT_TRUE(std::equal(buffer.Data(), buffer.Data() + buffer.Size(), note.begin()));
  t->CloseFiles(false);
}

TEST_F(TableVerifyTest, RepairNeedsAWritableTableForItsOwnUse) {
  Build(10);
  auto shared = Open(false);
  TVerifyOptions repair;
  repair.Repair = true;
  EXPECT_EQ(testing::ErrorOf([&] { VerifyTable(*shared, repair); }).Code, ec::NeedExclusive);
  EXPECT_EQ(testing::ErrorOf([&] { RebuildIndex(*shared, kByName); }).Code, ec::NeedExclusive);
  shared->CloseFiles(false);

  auto readOnly = std::make_unique<TDataTable>(dir_.Dir(), kName);
  readOnly->Settings.ReadOnly = true;
  readOnly->Settings.Exclusive = true;
  readOnly->OpenFiles();
  EXPECT_EQ(testing::ErrorOf([&] { VerifyTable(*readOnly, repair); }).Code, ec::AccessDenied);
  // A read-only table can still be checked.
  EXPECT_TRUE(VerifyTable(*readOnly, {}).Sound());
  readOnly->CloseFiles(false);
}

TEST_F(TableVerifyTest, RebuildLaysEveryIndexDownAnewAndLeavesOutEqualKeysOfAUniqueIndex) {
  Build(300);
  const int64_t before = static_cast<int64_t>(ReadFileBytes(IndexName()).size());
  // Record 8 gets record 3's id: the primary index cannot hold both.
  PatchFileBytes(DataName(), SlotAt(8) + kIdValue, I32Bytes(3));
  {
    auto t = Open(true);
    const std::vector<TIndexRebuildResult> results = RebuildAllIndexes(*t);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].Slot, 0);
    EXPECT_EQ(results[0].KeysInserted, 239);
    EXPECT_EQ(results[0].LeftOut, std::vector<int32_t>{8});
    EXPECT_EQ(results[1].KeysInserted, 240);
    EXPECT_TRUE(results[1].LeftOut.empty());
    EXPECT_EQ(results[2].Slot, kSysDeletedSlot);
    EXPECT_EQ(results[2].KeysInserted, 300);
    t->CloseFiles(true);
  }
  // The old pages stay behind: the file only grows.
  EXPECT_GT(static_cast<int64_t>(ReadFileBytes(IndexName()).size()), before);

  const Outcome check = Verify(false);
  EXPECT_NE(check.Find(TVerifyArea::IndexEntries, "Index 'Primary': physical record # 8 is not indexed"),
            nullptr)
      << check.All();
  EXPECT_EQ(check.Summary.Total(), 1) << check.All();

  // Repair cannot do better: record 8 stays out and the table unsound.
  const Outcome repair = Verify(true);
  const TVerifyFinding* left = repair.Find(TVerifyArea::IndexEntries, "physical record # 8 is not indexed");
  ASSERT_NE(left, nullptr) << repair.All();
  EXPECT_FALSE(left->Fixed);
  EXPECT_NE(left->Message.find("its key equals another record's"), std::string::npos);
  EXPECT_FALSE(repair.Summary.Sound());
  EXPECT_NE(repair.Find(TVerifyArea::IndexEntries, "physical record # 8 is not indexed", true), nullptr);
}

TEST_F(TableVerifyTest, SeveralDamagesAtOnceAreEachReportedAndRepaired) {
  Build(300, 512, 2);
  const int32_t leaf = FirstLeaf(kByName, kByNameKeyLength);
  const int32_t freeHead = FreePageHead(kByName);
  PatchFileBytes(IndexName(), leaf + 13 + 5, {0x7f});                        // key byte of entry 1
  PatchFileBytes(IndexName(), freeHead + 7, I32Bytes(freeHead));             // free page loop
  PatchFileBytes(BlobName(), SlotI32(6, kNoteFirstBlock) + 4, I32Bytes(3));  // cut chain
  PatchFileBytes(DataName(), SlotAt(295) + 1, I32Bytes(295));                // free slot loop
  PatchFileBytes(IndexName(), 3974, I32Bytes(7));                            // active count

  const Outcome check = Verify(false);
  EXPECT_NE(check.Find(TVerifyArea::IndexEntries, "Index 'byname'"), nullptr) << check.All();
  EXPECT_NE(check.Find(TVerifyArea::FreePages, "Index 'byname': free page chain"), nullptr);
  EXPECT_NE(check.Find(TVerifyArea::BlobChain, "physical record # 6, error not fixed"), nullptr);
  EXPECT_NE(check.Find(TVerifyArea::FreeSlots, "links back to physical record # 295"), nullptr);
  EXPECT_NE(check.Find(TVerifyArea::Records, "Active record count is 7"), nullptr);

  const Outcome repair = Verify(true);
  EXPECT_TRUE(repair.Summary.Sound()) << repair.All();
  EXPECT_EQ(repair.Summary.NotFixed(), 0) << repair.All();
  EXPECT_EQ(repair.Summary.RebuiltIndexes, std::vector<int>{kByName});
  EXPECT_TRUE(Verify(false).Summary.Sound());
}

// Random bytes of the three files flipped, many times over: the check and
// the repair always come back, with findings or with an engine error.
TEST_F(TableVerifyTest, RandomCorruptionNeverCrashesOrHangs) {
  Build(150, 128, 2);  // "byname" has a root node above its leaves
  const Files pristine = Save();
  int damaged = 0;
  int refused = 0;
  constexpr int kSeeds = 160;
  for (int seed = 0; seed < kSeeds; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(static_cast<uint32_t>(seed));
    Files files = pristine;
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i) {
      // Each file is cut into its header and its units (slots, pages,
      // blocks); most flips go to the start of a unit, where the links,
      // counts and keys are.
      const int target = static_cast<int>(random() % 3);
      std::vector<uint8_t>& bytes = target == 0 ? files.Data : target == 1 ? files.Index : files.Blob;
      const size_t header = target == 0 ? static_cast<size_t>(kDataStart) : target == 1 ? kPageSize : 512;
      const size_t unit = target == 0 ? kRecordSize : target == 1 ? kPageSize : 128;
      const size_t head = target == 0 ? kRecordSize : target == 1 ? 13 + 3 * (kByNameKeyLength + 8) : 18;
      size_t at;
      if (random() % 4 == 0 || bytes.size() <= header) {
        at = random() % bytes.size();
      } else {
        const size_t units = (bytes.size() - header) / unit;
        at = header + (random() % units) * unit + random() % head;
      }
      bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
    }
    Restore(files);
    try {
      const Outcome check = Verify(false, seed % 2 == 0);
      if (!check.Summary.Sound()) ++damaged;
      const Outcome repair = Verify(true);
      // What the repair reports as left is what a fresh check finds.
      const Outcome again = Verify(false);
      EXPECT_EQ(again.Summary.Total(), repair.Summary.Remaining) << repair.All() << again.All();
    } catch (const ETesselEngineError&) {
      ++refused;
    }
  }
  EXPECT_GT(damaged, kSeeds / 2);
  EXPECT_LT(refused, kSeeds / 4);
}

// Progress rises from 0 to 1000 in small steps, through the record scan
// and each index; a repair's two passes share the range.
TEST_F(TableVerifyTest, ProgressRisesInSmallStepsToTheEndOfTheWholeRun) {
  Build(400);
  auto checkSteps = [](const std::vector<int>& steps) {
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.front(), 0);
    EXPECT_EQ(steps.back(), 1000);
    for (size_t i = 1; i < steps.size(); ++i) {
      EXPECT_GT(steps[i], steps[i - 1]);
      EXPECT_LE(steps[i] - steps[i - 1], 60) << "at " << steps[i - 1];
    }
  };
  std::vector<int> check;
  EXPECT_TRUE(Verify(false, false, &check).Summary.Sound());
  checkSteps(check);
  // Tens of reports, not one per record.
  EXPECT_GT(check.size(), 100u);
  EXPECT_LE(check.size(), 1001u);

  PatchFileBytes(IndexName(), 3974, I32Bytes(7));  // a wrong active record count
  std::vector<int> repair;
  const Outcome repaired = Verify(true, false, &repair);
  EXPECT_TRUE(repaired.Summary.Sound()) << repaired.All();
  checkSteps(repair);
  // The first pass ends at 600, the check after the repair takes the rest.
  EXPECT_NE(std::find(repair.begin(), repair.end(), 600), repair.end());

  // Without a listener the run is the same.
  EXPECT_TRUE(Verify(false).Summary.Sound());
}

}  // namespace
}  // namespace tessel
