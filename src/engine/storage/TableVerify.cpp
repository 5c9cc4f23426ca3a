#include "engine/storage/TableVerify.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>
#include <utility>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/BlobCheck.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/IndexCheck.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexRebuild.h"
#include "engine/storage/IndexTree.h"

namespace tessel {

namespace {

// Deeper than any tree a 2 GB index file can hold.
constexpr int kMaxTreeWalkDepth = 64;
constexpr int kBlobPositionOffset = 1;  // in a BLOB field's area, after the null byte
constexpr int kBlobIdentifierOffset = 5;

std::string Outcome(bool fixed) { return fixed ? ", error fixed" : ", error not fixed"; }

std::string Rec(int32_t record) { return "physical record # " + std::to_string(record); }

// Holds one record slot for a scope.
class THeldRecord {
 public:
  THeldRecord(TDataFile& data, int32_t recordNumber)
      : data_(data), record_(data.FetchRecord(recordNumber, nullptr, data.RecordsPerRead)) {
    if (record_ == nullptr) RaiseEngineError(ec::RecordBuffersCorrupt, data.Table().TableName());
  }
  ~THeldRecord() { data_.ReleaseRecord(record_); }
  THeldRecord(const THeldRecord&) = delete;
  THeldRecord& operator=(const THeldRecord&) = delete;
  TRecord* operator->() const { return record_; }

 private:
  TDataFile& data_;
  TRecord* record_;
};

// The table's read lock for the time of a check of a shared table, so that
// no writer changes the files half-way. Nothing to do while the table is
// exclusive, read-only or already locked.
class TReadLockScope {
 public:
  explicit TReadLockScope(TDataTable& table) : table_(table) {
    const bool before = table.HoldsReadLock() || table.HoldsWriteLock();
    table.BeginRead();
    taken_ = !before && table.HoldsReadLock();
  }
  ~TReadLockScope() {
    if (!taken_) return;
    try {
      table_.EndRead();
    } catch (...) {
    }
  }
  TReadLockScope(const TReadLockScope&) = delete;
  TReadLockScope& operator=(const TReadLockScope&) = delete;

 private:
  TDataTable& table_;
  bool taken_ = false;
};

// The highest identifier met that lies above the last one the data header
// handed out. Identifiers wrap at 2147483647, so only those a little above
// it count (far above is older than the wrap).
struct TIssuedAbove {
  explicit TIssuedAbove(int32_t last) : Last(last) {}
  void See(int32_t id, int32_t record) {
    const int64_t ahead = int64_t{id} - Last;
    if (ahead <= 0 || ahead > (int64_t{1} << 30) || id <= Highest) return;
    Highest = id;
    Record = record;
  }
  int32_t Last;
  int32_t Highest = 0;
  int32_t Record = 0;
};

// One index as the check sees it, and what it found there before any fix.
struct TIndexState {
  int Slot = 0;
  std::string Label;  // "Index 'name'"
  std::set<int32_t> TreePages;
  struct Pending {
    TVerifyArea Area;
    int32_t Record;
    std::string Text;
  };
  std::vector<Pending> Findings;
  bool TreeDamaged = false;   // fixed only by a rebuild
  bool FreeChainCut = false;  // fixed by cutting the free chain
};

// Tells the caller how far the run has come, in thousandths. Each pass
// covers its own span of the thousand; within a pass the record scan
// takes up to the half and the indexes the rest, an equal share each.
class TProgressMeter {
 public:
  explicit TProgressMeter(const TVerifyProgress& report) : report_(report) {}
  // The pass about to run covers [from, to].
  void Span(int from, int to) {
    from_ = from;
    to_ = to;
  }
  // A fraction (0 to 1) of the current pass is done.
  void At(double fraction) {
    if (!report_) return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int value = from_ + static_cast<int>(static_cast<double>(to_ - from_) * fraction);
    if (value <= last_) return;
    last_ = value;
    report_(value);
  }

 private:
  const TVerifyProgress& report_;
  int from_ = 0;
  int to_ = 1000;
  int last_ = -1;
};

constexpr double kScanStart = 0.05;
constexpr double kIndexesStart = 0.5;

// One pass over the table: check-only, or fixing as it goes.
class TVerifier {
 public:
  TVerifier(TDataTable& table, bool fix, bool afterRepair, const TVerifyCallback& onFinding,
            TVerifySummary& summary, TProgressMeter& progress)
      : table_(table),
        data_(table.Data()),
        index_(table.Index()),
        fix_(fix),
        afterRepair_(afterRepair),
        onFinding_(onFinding),
        summary_(summary),
        progress_(progress) {}

  void Run() {
    progress_.At(0);
    Phase(TVerifyArea::Files, [this] { CheckFiles(); });
    Phase(TVerifyArea::Files, [this] { CheckDefinitions(); });
    Phase(TVerifyArea::FreeSlots, [this] { CheckFreeSlots(); });
    progress_.At(kScanStart);
    Phase(TVerifyArea::Records, [this] { ScanRecords(); });
    if (scanComplete_ && chainWalked_) Phase(TVerifyArea::FreeSlots, [this] { CheckUnchainedSlots(); });
    if (blobsUsable_) Phase(TVerifyArea::FreeBlocks, [this] { CheckFreeBlocks(); });
    if (scanComplete_) Phase(TVerifyArea::Records, [this] { CheckActiveCount(); });
    progress_.At(kIndexesStart);
    Phase(TVerifyArea::IndexTree, [this] { CheckIndexes(); });
    progress_.At(1);
  }

 private:
  // ---------------------------------------------------------------- findings

  // line is complete (it already carries its outcome).
  void Line(TVerifyArea area, int slot, int32_t record, bool fixed, std::string line) {
    TVerifyFinding finding;
    finding.Area = area;
    finding.IndexSlot = slot;
    finding.RecordNumber = record;
    finding.Fixed = fixed;
    finding.AfterRepair = afterRepair_;
    finding.Message = std::move(line);
    if (afterRepair_) {
      ++summary_.Remaining;
    } else {
      ++summary_.Found[static_cast<size_t>(area)];
      if (fixed) ++summary_.Fixed[static_cast<size_t>(area)];
    }
    if (onFinding_) onFinding_(finding);
  }
  void Report(TVerifyArea area, int slot, int32_t record, bool fixed, const std::string& text) {
    Line(area, slot, record, fixed, text + Outcome(fixed));
  }

  // Runs one part of the check; whatever stops it is a finding, and the
  // other parts still run.
  template <typename F>
  void Phase(TVerifyArea area, F&& part) {
    try {
      part();
    } catch (const std::exception& error) {
      Report(area, -1, 0, false,
             std::string("Check of ") + VerifyAreaName(area) + " stopped: " + error.what());
    }
  }

  std::string IndexLabel(int slot) const {
    return "Index '" + (slot == kSysDeletedSlot ? std::string(kSysDeletedName) : index_.IndexName(slot)) +
           "'";
  }

  // ---------------------------------------------------------------- files

  void CheckFiles() {
    // Slots beyond those the header counts: an insert whose slot reached the
    // file but whose header did not. The insert never returned, so the
    // bytes hold nothing anyone was told is stored; cutting them lets the
    // table open again.
    const int64_t uncounted = data_.UncountedBytes();
    if (uncounted > 0) {
      Report(TVerifyArea::Files, -1, 0, fix_,
             "Data file holds " + std::to_string(uncounted) + " bytes beyond the " +
                 std::to_string(data_.PhysicalRecordCount()) + " record slots its header counts");
      if (fix_) data_.WriteAt(data_.SlotPosition(data_.Header.NextRecordNumber), nullptr, 0);
    } else if (uncounted < 0) {
      // Slots the header counts that the file lacks: the header of an insert
      // reached the disk and its slot did not (a power cut in the middle of
      // a write-back, whose writes reach the disk in any order until its
      // flush). The insert never returned. The check goes on over the whole
      // slots there are; the repair counts those and cuts a torn last one.
      const int64_t body = data_.FileLength() - data_.DataStart();
      const int32_t whole = static_cast<int32_t>(body / data_.RecordSize());
      const int64_t rest = body % data_.RecordSize();
      Report(TVerifyArea::Files, -1, 0, fix_,
             "Data file holds " + std::to_string(whole) + " record slots" +
                 (rest != 0 ? " and " + std::to_string(rest) + " bytes" : std::string()) + ", its header counts " +
                 std::to_string(data_.PhysicalRecordCount()));
      data_.Header.NextRecordNumber = whole + 1;
      if (fix_) {
        data_.HeaderModified = true;
        if (rest != 0) data_.WriteAt(data_.SlotPosition(data_.Header.NextRecordNumber), nullptr, 0);
      }
    }

    const int64_t indexLength = index_.FileLength();
    const int64_t indexEnd =
        std::max<int64_t>(kPageSize, (indexLength + kPageSize - 1) / kPageSize * kPageSize);
    if (indexLength % kPageSize != 0) {
      Report(TVerifyArea::Files, -1, 0, false,
             "Index file length " + std::to_string(indexLength) + " is not a whole number of pages");
    }
    if (index_.Header.EndOfFile != indexEnd) {
      const bool fixable = indexEnd < kIndexFileLimit;
      Report(TVerifyArea::Files, -1, 0, fix_ && fixable,
             "Index file end-of-file position " + std::to_string(index_.Header.EndOfFile) +
                 " does not match the file length " + std::to_string(indexLength));
      if (fix_ && fixable) {
        index_.Header.EndOfFile = static_cast<int32_t>(indexEnd);
        index_.HeaderModified = true;
      }
    }
    if (index_.Header.SecondaryCount > kMaxSecondaryIndexes) {
      Report(TVerifyArea::Files, -1, 0, false,
             "Index header names " + std::to_string(index_.Header.SecondaryCount) + " secondary indexes");
    }

    // The descriptors say which fields are BLOBs; the header's count must
    // agree, since posts write BLOB values back only when it is not 0.
    const uint16_t described = data_.DescribedBlobFields();
    if (data_.Header.BlobFieldCount != described) {
      Report(TVerifyArea::Files, -1, 0, fix_,
             "BLOB field count is " + std::to_string(data_.Header.BlobFieldCount) +
                 " in the data header, the field descriptors hold " + std::to_string(described));
      if (fix_) {
        data_.Header.BlobFieldCount = described;
        data_.HeaderModified = true;
      }
    }
    if (described != 0) {
      TBlobFile& blob = table_.Blob();
      if (!table_.HasBlobFile()) {
        Report(TVerifyArea::Files, -1, 0, false, "BLOB file is missing");
      } else if (blob.BlockSize <= static_cast<uint32_t>(kBlockHeaderSize)) {
        Report(TVerifyArea::Files, -1, 0, false,
               "BLOB block size " + std::to_string(blob.BlockSize) + " is too small");
      } else {
        blobsUsable_ = true;
        const int64_t length = blob.FileLength();
        const int64_t size = blob.BlockSize;
        const int64_t body = std::max<int64_t>(0, length - kBlobHeaderSize);
        const int64_t end = kBlobHeaderSize + (body + size - 1) / size * size;
        if (body % size != 0) {
          Report(TVerifyArea::Files, -1, 0, false,
                 "BLOB file length " + std::to_string(length) + " is not a whole number of blocks");
        }
        if (blob.Header.EndOfFile != end) {
          const bool fixable = end < kMaxBlobFilePosition;
          Report(TVerifyArea::Files, -1, 0, fix_ && fixable,
                 "BLOB file end-of-file position " + std::to_string(blob.Header.EndOfFile) +
                     " does not match the file length " + std::to_string(length));
          if (fix_ && fixable) {
            blob.Header.EndOfFile = static_cast<int32_t>(end);
            blob.HeaderModified = true;
          }
        }
      }
    }
  }

  // Index definitions that keys can be built by; the others are left alone.
  void CheckDefinitions() {
    for (int slot : UsedIndexSlots(table_)) {
      std::string problem;
      if (IndexDefinitionSound(table_, slot, &problem)) {
        soundSlots_.push_back(slot);
      } else {
        Report(TVerifyArea::Files, slot, 0, false,
               IndexLabel(slot) + ": definition corrupt (" + problem + ")");
      }
    }
  }

  // ---------------------------------------------------------------- record slots

  // The chain of deleted slots from the data header: every link names a
  // slot, every slot on it is deleted, none comes twice. Fixing cuts the
  // chain before the damage, or deletes a live slot the header names.
  void CheckFreeSlots() {
    const int32_t count = data_.PhysicalRecordCount();
    std::vector<bool>& seen = chained_;
    seen.assign(static_cast<size_t>(std::max(count, 0)) + 1, false);
    int32_t previous = 0;
    int32_t r = data_.Header.FirstFreeRecord;
    while (r != 0) {
      const std::string from = previous == 0 ? "the data header" : Rec(previous);
      std::string problem;
      int32_t next = 0;
      bool liveHead = false;
      if (r < 1 || r > count) {
        problem = from + " links to " + std::to_string(r) + ", which is no record slot";
      } else if (seen[static_cast<size_t>(r)]) {
        problem = from + " links back to " + Rec(r);
      } else {
        THeldRecord record(data_, r);
        if (!record->IsDeleted()) {
          problem = from + " links to " + Rec(r) + ", which is not deleted";
          liveHead = previous == 0;
        } else {
          next = record->Link();
        }
      }
      if (!problem.empty()) {
        Report(TVerifyArea::FreeSlots, -1, previous, fix_, "Free record chain: " + problem);
        if (fix_ && liveHead) {
          // The header names a live slot as the first free one. A write that
          // returned had its slots and its header on the disk before it
          // did, so the slot's live image comes from one that never did: an
          // insert into the free slot whose header write was lost (its slot
          // perhaps torn at a sector boundary, the deleted flag new and the
          // rest still the deleted record's), or a delete whose slot write
          // was lost. Deleted again, the slot goes back to the chain;
          // keeping it would bring a deleted record back. The slots it
          // linked to are chained anew after the scan.
          THeldRecord record(data_, r);
          record->SetDeleted(true);
          record->SetLink(0);
          record->Modified = true;
          seen[static_cast<size_t>(r)] = true;
        } else if (fix_) {
          if (previous == 0) {
            data_.Header.FirstFreeRecord = 0;
            data_.HeaderModified = true;
          } else {
            THeldRecord last(data_, previous);
            last->SetLink(0);
            last->Modified = true;
          }
        }
        // The slots behind the damage are off the chain: told (and chained
        // anew) after the scan.
        chainWalked_ = true;
        return;
      }
      seen[static_cast<size_t>(r)] = true;
      previous = r;
      r = next;
    }
    chainWalked_ = true;
  }

  // With a primary index inserts reuse deleted slots through the chain
  // alone, so a deleted slot off it would stay unused for ever. (Without
  // one, inserts always append and the chain holds the last deleted slot.)
  // Fixing lays the chain anew through every deleted slot, lowest first.
  void CheckUnchainedSlots() {
    if (index_.Header.NoPrimaryIndex != 0) return;
    std::vector<int32_t> off;
    for (int32_t r : deletedSlots_)
      if (!chained_[static_cast<size_t>(r)]) off.push_back(r);
    if (off.empty()) return;
    const std::string what = off.size() == 1 ? "1 deleted record slot, " + Rec(off.front())
                                             : std::to_string(off.size()) +
                                                   " deleted record slots, the first " + Rec(off.front());
    Report(TVerifyArea::FreeSlots, -1, off.front(), fix_, "Free record chain leaves out " + what);
    if (!fix_) return;
    data_.Header.FirstFreeRecord = deletedSlots_.front();
    data_.HeaderModified = true;
    for (size_t i = 0; i < deletedSlots_.size(); ++i) {
      THeldRecord record(data_, deletedSlots_[i]);
      record->SetLink(i + 1 < deletedSlots_.size() ? deletedSlots_[i + 1] : 0);
      record->Modified = true;
    }
  }

  // Every slot: its deleted flag; every active one: its BLOB values through
  // the chain check.
  void ScanRecords() {
    std::vector<const TFieldDesc*> blobFields;
    if (blobsUsable_) {
      for (const TFieldDesc& field : data_.Fields)
        if (field.Type == ftBlob) blobFields.push_back(&field);
    }
    std::unique_ptr<TBlobChainCheck> chains;
    if (!blobFields.empty()) {
      chains = std::make_unique<TBlobChainCheck>(table_.Blob(), fix_, [this](const std::string& message) {
        Line(TVerifyArea::BlobChain, -1, currentRecord_, fix_, message);
      });
    }

    const int32_t count = data_.PhysicalRecordCount();
    if (!afterRepair_) summary_.RecordSlots = count;
    int32_t active = 0;
    TIssuedAbove recordIds(data_.Header.LastAutoIncValue);
    TIssuedAbove blobIds(data_.Header.LastBlobId);
    deletedSlots_.clear();
    for (int32_t r = 1; r <= count; ++r) {
      progress_.At(kScanStart + (kIndexesStart - kScanStart) * r / count);
      THeldRecord record(data_, r);
      uint8_t* image = record->Data();
      recordIds.See(GetI32(image + kSlotRecordIdOffset), r);
      const uint8_t flag = image[kSlotDeletedOffset];
      if (flag > 1) {
        Report(TVerifyArea::Records, -1, r, fix_,
               "Physical record # " + std::to_string(r) + " has deleted flag " + std::to_string(flag));
        if (fix_) {
          image[kSlotDeletedOffset] = 1;
          record->Modified = true;
        }
      }
      if (record->IsDeleted()) {
        deletedSlots_.push_back(r);
        continue;
      }
      ++active;
      if (CheckStrings(r, image)) record->Modified = true;
      for (const TFieldDesc* field : blobFields) {
        const uint8_t* area = image + field->RecordOffset;
        if (GetI32(area + kBlobPositionOffset) > 0) blobIds.See(GetI32(area + kBlobIdentifierOffset), r);
        if (CheckBlobValue(*chains, r, image + field->RecordOffset)) record->Modified = true;
      }
    }
    CheckIssued(recordIds, "record identifier", data_.Header.LastAutoIncValue);
    CheckIssued(blobIds, "BLOB identifier", data_.Header.LastBlobId);
    activeRecords_ = active;
    if (!afterRepair_) summary_.ActiveRecords = active;
    if (chains) usedBlocks_ = chains->UsedBlocks();
    scanComplete_ = true;
  }

  // Every string value of an active record ends with a zero byte inside its
  // field; fixing closes a value that runs to the end of its area at the
  // field's size (keys are built from the same characters, and any index
  // entry that then disagrees is rebuilt). Answers true when it changed.
  bool CheckStrings(int32_t r, uint8_t* image) {
    bool changed = false;
    for (const TFieldDesc& field : data_.Fields) {
      if (field.Type != ftString || field.NotStored != 0 || field.PhysicalSize == 0) continue;
      uint8_t* value = image + field.RecordOffset + 1;
      if (image[field.RecordOffset] == 0 || std::memchr(value, 0, field.PhysicalSize) != nullptr) continue;
      Report(TVerifyArea::Records, -1, r, fix_,
             "String value of field '" + field.Name + "' in " + Rec(r) + " is not closed within the field");
      if (fix_) {
        value[field.PhysicalSize - 1] = 0;
        changed = true;
      }
    }
    return changed;
  }

  // The data header hands out record and BLOB identifiers from its last
  // ones; a slot carrying a newer one means the header write of its insert
  // never happened, and the next insert would hand the same one out again.
  void CheckIssued(const TIssuedAbove& found, const std::string& what, int32_t& last) {
    if (found.Highest == 0) return;
    Report(TVerifyArea::Records, -1, found.Record, fix_,
           "Last " + what + " is " + std::to_string(last) + " in the data header, " + Rec(found.Record) +
               " carries " + std::to_string(found.Highest));
    if (fix_) {
      last = found.Highest;
      data_.HeaderModified = true;
    }
  }

  // One BLOB field of an active record; answers true when fixing changed
  // the field.
  bool CheckBlobValue(TBlobChainCheck& chains, int32_t r, uint8_t* area) {
    int32_t first = GetI32(area + kBlobPositionOffset);
    if (first == 0) return false;
    if (!afterRepair_) ++summary_.BlobValues;
    bool cleared = false;
    if (first < 0) {
      // A buffer handle of a cursor, never meant to reach the file.
      Line(TVerifyArea::BlobChain, -1, r, fix_,
           "Invalid BLOB offset in BLOB file for physical record # " + std::to_string(r) + Outcome(fix_));
      cleared = fix_;
    } else {
      currentRecord_ = r;
      const size_t before = chains.UsedBlocks().size();
      try {
        const TBlobChainReport report = chains.CheckChain(r, GetI32(area + kBlobIdentifierOffset), first);
        cleared = first == 0;
        const size_t added = chains.UsedBlocks().size() - before;
        if (!report.Damaged && added < static_cast<size_t>(report.Blocks)) {
          Report(TVerifyArea::BlobChain, -1, r, false,
                 "BLOB value of " + Rec(r) + " shares blocks with another value");
        }
      } catch (const std::exception& error) {
        Report(TVerifyArea::BlobChain, -1, r, false,
               "BLOB value of " + Rec(r) + " cannot be checked (" + error.what() + ")");
      }
    }
    if (cleared) {
      area[0] = 0;
      PutI32(area + kBlobPositionOffset, 0);
      PutI32(area + kBlobIdentifierOffset, 0);
    }
    return cleared;
  }

  void CheckFreeBlocks() {
    CheckFreeChain(
        table_.Blob(), fix_,
        [this](const std::string& message) { Line(TVerifyArea::FreeBlocks, -1, 0, fix_, message); },
        scanComplete_ ? &usedBlocks_ : nullptr);
  }

  void CheckActiveCount() {
    const int32_t stored = index_.Header.ActiveRecordCount;
    if (stored == activeRecords_) return;
    Report(TVerifyArea::Records, -1, 0, fix_,
           "Active record count is " + std::to_string(stored) + " in the index header, " +
               std::to_string(activeRecords_) + " records are active");
    if (fix_) {
      index_.Header.ActiveRecordCount = activeRecords_;
      index_.HeaderModified = true;
    }
  }

  // ---------------------------------------------------------------- indexes

  // Each index is walked with an empty page cache: a page that a damaged
  // tree shares with another index must not be found in that index's cache.
  void ResetPages() {
    if (fix_) index_.WriteBackPages();
    index_.DropPages();
  }

  void CheckIndexes() {
    std::vector<TIndexState> states;
    const double share = soundSlots_.empty() ? 0 : (1 - kIndexesStart) / static_cast<double>(soundSlots_.size());
    for (int slot : soundSlots_) {
      indexStart_ = kIndexesStart + share * static_cast<double>(states.size());
      indexShare_ = share;
      progress_.At(indexStart_);
      TIndexState state;
      state.Slot = slot;
      state.Label = IndexLabel(slot);
      if (!afterRepair_) ++summary_.IndexesChecked;
      try {
        ResetPages();
        const TKeyContext context(index_.Header.Indexes[static_cast<size_t>(slot)], slot, data_.Fields,
                                  &table_.Locale(), table_.TableName());
        const TIndexCheckResult tree = CheckIndexTree(index_, context);
        for (const std::string& finding : tree.Findings) {
          state.Findings.push_back({TVerifyArea::IndexTree, 0, state.Label + ": " + finding});
        }
        if (!tree.Ok()) state.TreeDamaged = true;
        state.TreePages = tree.Pages;
        CompareEntries(state, context);
      } catch (const std::exception& error) {
        state.Findings.push_back(
            {TVerifyArea::IndexEntries, 0, state.Label + ": check stopped: " + error.what()});
        state.TreeDamaged = true;
      }
      states.push_back(std::move(state));
    }

    // A page in two trees: the later index gives it up.
    std::map<int32_t, int> owners;
    for (TIndexState& state : states) {
      for (int32_t page : state.TreePages) {
        const auto [at, added] = owners.emplace(page, state.Slot);
        if (added) continue;
        state.Findings.push_back(
            {TVerifyArea::IndexTree, 0,
             state.Label + ": page " + std::to_string(page) + " also belongs to " + IndexLabel(at->second)});
        state.TreeDamaged = true;
      }
    }

    for (TIndexState& state : states) {
      try {
        ResetPages();
        CheckFreePages(state, owners);
      } catch (const std::exception& error) {
        state.Findings.push_back(
            {TVerifyArea::FreePages, 0, state.Label + ": free page check stopped: " + error.what()});
      }
    }

    for (TIndexState& state : states) Settle(state);
  }

  // Rebuilds a damaged index when fixing, then tells what was found.
  void Settle(TIndexState& state) {
    bool rebuilt = false;
    std::string failure;
    TIndexRebuildResult result;
    if (fix_ && state.TreeDamaged) {
      try {
        result = RebuildIndex(table_, state.Slot);
        rebuilt = true;
        summary_.RebuiltIndexes.push_back(state.Slot);
      } catch (const std::exception& error) {
        failure = error.what();
      }
    }
    // A record the rebuilt index had to leave out is not fixed.
    const std::set<int32_t> leftOut(result.LeftOut.begin(), result.LeftOut.end());
    const std::string why = " (the repair cannot index it: its key equals another record's)";
    std::set<int32_t> told;
    for (const TIndexState::Pending& finding : state.Findings) {
      const bool left = finding.Record != 0 && leftOut.count(finding.Record) != 0;
      const bool fixed = (rebuilt && !left) ||
                         (finding.Area == TVerifyArea::FreePages && state.FreeChainCut && !state.TreeDamaged);
      Report(finding.Area, state.Slot, finding.Record, fixed, left ? finding.Text + why : finding.Text);
      if (left) told.insert(finding.Record);
    }
    if (!failure.empty()) {
      Report(TVerifyArea::IndexTree, state.Slot, 0, false,
             state.Label + ": rebuild failed (" + failure + ")");
    }
    for (int32_t r : result.LeftOut) {
      if (told.count(r) != 0) continue;
      Report(TVerifyArea::IndexEntries, state.Slot, r, false,
             state.Label + ": " + Rec(r) + " cannot be indexed, its key equals another record's");
    }
  }

  struct TEntry {
    int32_t Record;
    size_t KeyAt;
  };

  // The leaf entries of the tree, found by a bounded walk that skips pages
  // it cannot read or has met before.
  void CollectEntries(int slot, int keyLength, std::vector<TEntry>& entries, std::vector<uint8_t>& keys) {
    const int32_t root = index_.Root(slot);
    if (root == 0) return;
    std::vector<std::pair<int32_t, int>> pending{{root, 0}};
    std::unordered_set<int32_t> visited;
    while (!pending.empty()) {
      const auto [position, depth] = pending.back();
      pending.pop_back();
      if (depth > kMaxTreeWalkDepth || !visited.insert(position).second) continue;
      try {
        TPageRef page(index_, index_.GetPage(slot, position));
        if (page->KeyLength != keyLength) continue;
        if (page->IsLeaf()) {
          for (int i = 1; i <= page->Count(); ++i) {
            entries.push_back({page->Value(i), keys.size()});
            keys.insert(keys.end(), page->Key(i), page->Key(i) + keyLength);
          }
        } else {
          for (int i = page->Count(); i >= 1; --i) pending.emplace_back(page->Value(i), depth + 1);
        }
      } catch (const std::exception&) {
        // The tree check reports pages that cannot be read.
      }
    }
  }

  // Every active record (every slot for "Sys Deleted") indexed exactly once,
  // under the key its values give; no entry for another slot.
  void CompareEntries(TIndexState& state, const TKeyContext& context) {
    const int keyLength = context.KeyLength();
    std::vector<TEntry> entries;
    std::vector<uint8_t> keys;
    CollectEntries(state.Slot, keyLength, entries, keys);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TEntry& a, const TEntry& b) { return a.Record < b.Record; });

    auto find = [&](int32_t record, const std::string& text) {
      state.Findings.push_back({TVerifyArea::IndexEntries, record, state.Label + ": " + text});
      state.TreeDamaged = true;
    };
    const bool system = state.Slot == kSysDeletedSlot;
    const int32_t count = data_.PhysicalRecordCount();
    std::vector<uint8_t> expected(static_cast<size_t>(std::max(keyLength, 5)), 0);
    size_t at = 0;
    for (; at < entries.size() && entries[at].Record < 1; ++at) {
      find(entries[at].Record, "entry for " + Rec(entries[at].Record) + ", which is no record slot");
    }
    for (int32_t r = 1; r <= count; ++r) {
      progress_.At(indexStart_ + indexShare_ * r / count);
      size_t end = at;
      while (end < entries.size() && entries[end].Record == r) ++end;
      const size_t n = end - at;
      bool deleted;
      {
        THeldRecord record(data_, r);
        deleted = record->IsDeleted();
        if (system || !deleted) context.BuildKey(record->Data(), expected.data());
      }
      if (!system && deleted) {
        for (size_t i = at; i < end; ++i) find(r, "entry for deleted " + Rec(r));
      } else if (n == 0) {
        find(r, Rec(r) + " is not indexed");
      } else {
        bool match = false;
        for (size_t i = at; i < end && !match; ++i) {
          match = std::memcmp(keys.data() + entries[i].KeyAt, expected.data(),
                              static_cast<size_t>(keyLength)) == 0;
        }
        if (!match) find(r, Rec(r) + " is indexed under a key its values do not give");
        if (n > 1) find(r, Rec(r) + " is indexed " + std::to_string(n) + " times");
      }
      at = end;
    }
    for (; at < entries.size(); ++at) {
      find(entries[at].Record, "entry for " + Rec(entries[at].Record) + ", which is no record slot");
    }
  }

  // The index's free chain: positions of pages in the file, no loop, pages
  // without entries and in no tree. Fixing cuts the chain before the damage
  // (a damaged tree is rebuilt instead, which resets its chain).
  void CheckFreePages(TIndexState& state, const std::map<int32_t, int>& treePages) {
    const int slot = state.Slot;
    TIndexDesc& desc = index_.Header.Indexes[static_cast<size_t>(slot)];
    std::unordered_set<int32_t> seen;
    int32_t previous = 0;
    int32_t position = desc.FreePage;
    while (position != 0) {
      const std::string from = previous == 0 ? "the index header" : "page " + std::to_string(previous);
      std::string problem;
      int32_t next = 0;
      if (position < kPageSize || position % kPageSize != 0 || position >= index_.Header.EndOfFile) {
        problem = from + " links to " + std::to_string(position) + ", which is no page of the file";
      } else if (!seen.insert(position).second) {
        problem = from + " links back to page " + std::to_string(position);
      } else if (const auto owner = treePages.find(position); owner != treePages.end()) {
        problem = "page " + std::to_string(position) + " is part of the tree of " + IndexLabel(owner->second);
      } else if (const auto other = freePages_.find(position); other != freePages_.end()) {
        problem = "page " + std::to_string(position) + " is also on the free page chain of " +
                  IndexLabel(other->second);
      } else {
        try {
          TPageRef page(index_, index_.GetPage(slot, position));
          if (page->Count() != 0) {
            problem =
                "page " + std::to_string(position) + " holds " + std::to_string(page->Count()) + " entries";
          } else {
            next = page->Right;
          }
        } catch (const std::exception& error) {
          problem = "page " + std::to_string(position) + " cannot be read (" + error.what() + ")";
        }
      }
      if (!problem.empty()) {
        state.Findings.push_back({TVerifyArea::FreePages, 0, state.Label + ": free page chain: " + problem});
        if (fix_ && !state.TreeDamaged) {
          if (previous == 0) {
            desc.FreePage = 0;
            index_.HeaderModified = true;
          } else {
            TPageRef page(index_, index_.GetPage(slot, previous));
            page->Right = 0;
            page->Modified = true;
          }
          state.FreeChainCut = true;
        }
        return;
      }
      freePages_.emplace(position, slot);
      previous = position;
      position = next;
    }
  }

  TDataTable& table_;
  TDataFile& data_;
  TIndexFile& index_;
  const bool fix_;
  const bool afterRepair_;
  const TVerifyCallback& onFinding_;
  TVerifySummary& summary_;
  TProgressMeter& progress_;
  double indexStart_ = kIndexesStart;  // the current index's share of the pass
  double indexShare_ = 0;

  bool blobsUsable_ = false;
  bool scanComplete_ = false;
  bool chainWalked_ = false;            // the free chain was walked to its end or cut
  std::vector<bool> chained_;           // by slot: on the free chain as walked
  std::vector<int32_t> deletedSlots_;   // ascending
  int32_t activeRecords_ = 0;
  int32_t currentRecord_ = 0;
  std::unordered_set<int32_t> usedBlocks_;
  std::vector<int> soundSlots_;
  std::map<int32_t, int> freePages_;  // pages on the free chains walked so far, by index
};

}  // namespace

const char* VerifyAreaName(TVerifyArea area) {
  switch (area) {
    case TVerifyArea::Files:
      return "file headers";
    case TVerifyArea::Records:
      return "record slots";
    case TVerifyArea::FreeSlots:
      return "free record chain";
    case TVerifyArea::IndexTree:
      return "index trees";
    case TVerifyArea::IndexEntries:
      return "index entries";
    case TVerifyArea::FreePages:
      return "free page chains";
    case TVerifyArea::BlobChain:
      return "BLOB chains";
    case TVerifyArea::FreeBlocks:
      return "free block chain";
  }
  return "table";
}

int TVerifySummary::Total() const {
  int total = 0;
  for (int n : Found) total += n;
  return total;
}

int TVerifySummary::TotalFixed() const {
  int total = 0;
  for (int n : Fixed) total += n;
  return total;
}

TVerifySummary VerifyTable(TDataTable& table, const TVerifyOptions& options,
                           const TVerifyCallback& onFinding) {
  TVerifySummary summary;
  summary.Repaired = options.Repair;
  if (options.Repair) {
    if (table.IsReadOnly()) RaiseEngineError(ec::AccessDenied, table.TableName());
    if (!table.IsExclusive()) RaiseEngineError(ec::NeedExclusive, table.TableName());
  }
  TReadLockScope lock(table);
  // What this process still holds unwritten of a table for its own use goes
  // to the files first, so that the check sees the table as the files have
  // it. (A shared table is written back after every change.)
  if (table.IsExclusive() && !table.IsReadOnly()) table.FlushTable(false, false, false);

  // A repair's first pass does the work; the check after it reads.
  TProgressMeter progress(options.Progress);
  progress.Span(0, options.Repair ? 600 : 1000);
  TVerifier(table, options.Repair, false, onFinding, summary, progress).Run();
  if (options.Repair) {
    table.FlushTable(true, false, false);
    // The second pass reads everything back from the files.
    table.DropCaches(true, true);
    progress.Span(600, 1000);
    TVerifier(table, false, true, onFinding, summary, progress).Run();
  }
  return summary;
}

}  // namespace tessel
