// Moving the cursor: the crack positions, stepping in index order or through
// the result bitmap, record numbers and counts, key searches and ranges.
#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/cursor/CursorFilter.h"
#include "engine/cursor/CursorFrame.h"
#include "engine/cursor/DataCursor.h"
#include "engine/cursor/KeySearch.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/Record.h"

namespace tessel {

// ---------------------------------------------------------------------------
// Position primitives

void TDataCursor::SetEmpty() {
  pos_ = {};
  key_.assign(PhysicalOrder() ? 0 : KeyLength(), 0);
  physical_ = 0;
  ordinal_ = 0;
  bof_ = eof_ = true;
  std::fill(current_.begin(), current_.end(), uint8_t{0});
}

void TDataCursor::SetEntry(const TTreePosition& p) {
  pos_ = p;
  int32_t recordNumber = 0;
  key_ = CurrentTree().KeyAt(p, &recordNumber);
  physical_ = recordNumber;
  ordinal_ = p.Ordinal;
}

void TDataCursor::TakeEntry(TIndexEntry&& entry) {
  pos_ = entry.Position;
  key_ = std::move(entry.Key);
  physical_ = entry.Record;
  ordinal_ = entry.Position.Ordinal;
}

bool TDataCursor::StepIndex(bool forward) {
  if (!pos_.Valid()) return false;
  TIndexTree tree = CurrentTree();
  TIndexEntry entry;
  if (!results_.Step(tree, pos_, forward, entry)) return false;
  TakeEntry(std::move(entry));
  return true;
}

bool TDataCursor::StepPhysical(bool forward) {
  int32_t r = physical_;
  int32_t ordinal = ordinal_;
  if (!results_.Bits().Seek(r, forward ? 1 : -1, ordinal)) return false;
  physical_ = r;
  ordinal_ = ordinal;
  return true;
}

bool TDataCursor::Step(bool forward) {
  backward_ = !forward;
  if (Empty()) return false;
  return PhysicalOrder() ? StepPhysical(forward) : StepIndex(forward);
}

bool TDataCursor::SettleForward() {
  // A step that finds nothing leaves the cursor on the entry.
  return InResult(physical_) || StepIndex(true);
}

bool TDataCursor::FirstOfSet() {
  backward_ = false;
  if (PhysicalOrder()) {
    const int32_t r = results_.Bits().FirstAtOrAbove(1);
    if (r == 0) return false;
    physical_ = r;
    ordinal_ = 1;
    return true;
  }
  if (RecordCount() == 0) return false;
  TIndexTree tree = CurrentTree();
  TTreePosition p = tree.AtOrdinal(results_.RangeFirst());
  if (!p.Valid()) return false;
  SetEntry(p);
  return SettleForward();
}

bool TDataCursor::LastOfSet() {
  backward_ = true;
  if (PhysicalOrder()) {
    const int32_t r = results_.Bits().LastAtOrBelow(results_.Bits().Size());
    if (r == 0) return false;
    physical_ = r;
    ordinal_ = results_.Count();
    return true;
  }
  if (RecordCount() == 0) return false;
  TIndexTree tree = CurrentTree();
  TTreePosition p = tree.AtOrdinal(results_.RangeLast());
  if (!p.Valid() && !results_.RangeActive()) p = tree.AtOrdinal(tree.EntryCount());
  if (!p.Valid()) return false;
  SetEntry(p);
  if (InResult(physical_)) return true;
  return StepIndex(false);
}

void TDataCursor::FetchImage(int32_t recordNumber, uint8_t* destination) {
  TDataFile& data = table_->Data();
  TRecord* record = data.FetchRecord(recordNumber, this, data.RecordsPerRead);
  if (record == nullptr) throw TCursorRestart{};
  std::memcpy(destination, record->Data(), recordSize_);
  data.ReleaseRecord(record);
}

void TDataCursor::ReadAtPosition() {
  if (Empty() || physical_ <= 0) {
    std::fill(current_.begin(), current_.end(), uint8_t{0});
    return;
  }
  FetchImage(physical_, current_.data());
}

uint16_t TDataCursor::CopyOut(uint16_t code, uint8_t* buffer) const {
  if (buffer == nullptr) return code;
  if (code == 0) {
    std::memcpy(buffer, current_.data(), recordSize_);
  } else {
    std::memset(buffer, 0, recordSize_);
  }
  return code;
}

// ---------------------------------------------------------------------------
// Navigation

void TDataCursor::GotoFirstInternal() {
  if (!FirstOfSet()) {
    SetEmpty();
    return;
  }
  // On the first record with BOF set: the next GetNext reads it.
  bof_ = true;
  eof_ = false;
  ReadAtPosition();
}

void TDataCursor::GotoLastInternal() {
  if (!LastOfSet()) {
    SetEmpty();
    return;
  }
  bof_ = false;
  eof_ = true;
  ReadAtPosition();
}

void TDataCursor::GotoFirst() {
  CheckOpen();
  TCursorFrame::Run(*this, [&] { GotoFirstInternal(); });
}

void TDataCursor::GotoLast() {
  CheckOpen();
  TCursorFrame::Run(*this, [&] { GotoLastInternal(); });
}

// ---------------------------------------------------------------------------
// Record-by-record walking (read-ahead plans)

bool TDataCursor::AtStepEnd() const {
  if (physical_ != stepEndPhysical_) return false;
  return PhysicalOrder() || (pos_.Page == stepEnd_.Page && pos_.Entry == stepEnd_.Entry);
}

bool TDataCursor::ContinuesWalk(bool forward) const {
  return sequentialSteps_ != 0 && stepForward_ == forward && !bof_ && !eof_ && AtStepEnd();
}

void TDataCursor::ReadStepRecord(bool forward, bool continuing) {
  sequentialSteps_ = continuing ? std::min(sequentialSteps_ + 1, 1 << 20) : 1;
  stepForward_ = forward;
  walking_ = true;
  try {
    ReadAtPosition();
  } catch (...) {
    walking_ = false;
    throw;
  }
  walking_ = false;
  stepEnd_ = pos_;
  stepEndPhysical_ = physical_;
}

int TDataCursor::UpcomingRecords(int32_t* out, int max) {
  // From the second step of a walk on; the plan grows with the walk (8, 16,
  // 32, then 64 records), so that a single step costs no extra reads.
  if (!open_ || sequentialSteps_ < 2 || Empty() || physical_ <= 0) return 0;
  // Inside a step, or still standing where the last step stopped.
  if (!walking_ && !AtStepEnd()) return 0;
  max = std::min(max, 8 << std::min(sequentialSteps_ - 2, 3));
  const bool forward = stepForward_;
  int n = 0;
  if (PhysicalOrder()) {
    const TRecordsBitmap* bits = results_.BitmapMode() ? &results_.Bits() : nullptr;
    const int32_t last = table_->Data().PhysicalRecordCount();
    // A sparse result is not searched far: the plan is only a guess.
    int scanned = 0;
    for (int32_t r = forward ? physical_ + 1 : physical_ - 1; n < max && r >= 1 && r <= last && scanned < 1024;
         r += forward ? 1 : -1, ++scanned) {
      if (bits != nullptr && !bits->Test(r)) continue;
      out[n++] = r;
    }
    return n;
  }
  // The following entries of the current leaf.
  TIndexFile& index = table_->Index();
  if (!pos_.Valid() || !index.IsPageCached(indexNumber_, pos_.Page)) return 0;
  try {
    TPageRef page(index, index.GetPage(indexNumber_, pos_.Page, nullptr));
    if (page.get() == nullptr || !page->IsLeaf()) return 0;
    int entry = pos_.Entry;
    if (entry < 1 || entry > page->Count() || page->Value(entry) != physical_) return 0;
    int32_t ordinal = pos_.Ordinal;
    for (entry += forward ? 1 : -1; n < max && entry >= 1 && entry <= page->Count(); entry += forward ? 1 : -1) {
      ordinal += forward ? 1 : -1;
      if (results_.RangeActive() && (ordinal > results_.RangeLast() || ordinal < results_.RangeFirst())) break;
      const int32_t r = page->Value(entry);
      if (!InResult(r)) continue;
      out[n++] = r;
    }
  } catch (...) {
    return 0;
  }
  return n;
}

int TDataCursor::PlanRecordPrefetch(int32_t first, int32_t* out, int max) {
  // Only the record a step reads; physical order reads runs of consecutive
  // slots already.
  if (!walking_ || PhysicalOrder() || first != physical_) return 0;
  return UpcomingRecords(out, max);
}

int TDataCursor::PlanBlockPrefetch(int32_t* out, int max) {
  if (!open_ || table_ == nullptr || max <= 0) return 0;
  // The current record first (its BLOBs are read next), then those after it.
  int32_t records[65];
  max = std::min(max, 64);
  records[0] = physical_;
  const int count = 1 + UpcomingRecords(records + 1, max);
  const TDataFile& data = table_->Data();
  int n = 0;
  for (int i = 0; i < count && n < max; ++i) {
    const uint8_t* image = data.PeekRecordImage(records[i]);
    if (image == nullptr || image[kSlotDeletedOffset] != 0) continue;
    for (const TFieldDesc& field : fields_) {
      if (field.Type != ftBlob || n >= max) continue;
      const uint8_t* value = image + field.RecordOffset;
      if (value[0] == 0) continue;
      const int32_t position = GetI32(value + 1);
      if (position > 0) out[n++] = position;
    }
  }
  return n;
}

uint16_t TDataCursor::GetNext(uint8_t* buffer) {
  CheckOpen();
  return TCursorFrame::Run(*this, [&]() -> uint16_t {
    const bool continuing = ContinuesWalk(true);
    if (bof_) {
      if (!FirstOfSet()) {
        SetEmpty();
        return CopyOut(ec::EndOfFile, buffer);
      }
    } else if (!Step(true)) {
      eof_ = true;
      return CopyOut(ec::EndOfFile, buffer);
    }
    bof_ = eof_ = false;
    ReadStepRecord(true, continuing);
    return CopyOut(ec::OK, buffer);
  });
}

uint16_t TDataCursor::GetPrior(uint8_t* buffer) {
  CheckOpen();
  return TCursorFrame::Run(*this, [&]() -> uint16_t {
    const bool continuing = ContinuesWalk(false);
    if (eof_) {
      if (!LastOfSet()) {
        SetEmpty();
        return CopyOut(ec::BOF, buffer);
      }
    } else if (!Step(false)) {
      bof_ = true;
      return CopyOut(ec::BOF, buffer);
    }
    bof_ = eof_ = false;
    ReadStepRecord(false, continuing);
    return CopyOut(ec::OK, buffer);
  });
}

void TDataCursor::MoveBy(int32_t count) {
  CheckOpen();
  if (count == 0) return;
  TCursorFrame::Run(*this, [&] {
    const bool forward = count > 0;
    for (int32_t i = 0; i < (forward ? count : -count); ++i) {
      if (!Step(forward)) {
        if (Empty()) return;
        (forward ? eof_ : bof_) = true;
        (forward ? bof_ : eof_) = false;
        ReadAtPosition();
        return;
      }
      bof_ = eof_ = false;
    }
    ReadAtPosition();
  });
}

void TDataCursor::GotoRecordNumber(int32_t number) {
  CheckOpen();
  TCursorFrame::Run(*this, [&] {
    if (PhysicalOrder()) {
      const int32_t r = number < 1 ? 0 : results_.Bits().NthSet(number);
      if (r == 0) {
        GotoLastInternal();
        return;
      }
      physical_ = r;
      ordinal_ = number;
      bof_ = eof_ = false;
      ReadAtPosition();
      return;
    }
    if (number < 1) {
      GotoFirstInternal();
      return;
    }
    if (!LastOfSet()) {
      SetEmpty();
      return;
    }
    if (number > RecordNumber()) {
      bof_ = false;
      eof_ = true;
      ReadAtPosition();
      return;
    }
    TIndexTree tree = CurrentTree();
    const TTreePosition p = tree.AtOrdinal(results_.RangeFirst() + number - 1);
    if (!p.Valid()) {
      GotoLastInternal();
      return;
    }
    SetEntry(p);
    if (!SettleForward() && !StepIndex(false)) {
      SetEmpty();
      return;
    }
    bof_ = eof_ = false;
    ReadAtPosition();
  });
}

int32_t TDataCursor::RecordNumber() const {
  if (!open_ || ordinal_ <= 0) return 0;
  if (PhysicalOrder()) return ordinal_;
  const int32_t n = ordinal_ - results_.RangeFirst() + 1;
  return n > 0 ? n : 0;
}

int32_t TDataCursor::RecordCount() const { return open_ ? results_.RecordCount() : 0; }

int32_t TDataCursor::PhysicalRecordNumber() const { return Empty() ? 0 : physical_; }

uint16_t TDataCursor::GetCurrent(uint8_t* buffer, bool lock) {
  CheckOpen();
  return TCursorFrame::Run(*this, [&]() -> uint16_t {
    if (lock && !bof_ && !eof_ && physical_ > 0) {
      const int32_t slot = physical_;
      if (!exclusive_) saved_ = current_;
      const bool alreadyHeld = editLock_ == slot;
      bool changed = false;
      if (!alreadyHeld) changed = table_->LockRecord(slot);
      editLock_ = slot;
      try {
        if (CountersChanged()) changed = true;
        if (changed) ChangeSeen();
        if (!exclusive_ && (bof_ || eof_ || physical_ != slot || current_ != saved_)) {
          // Changed or deleted by another user since it was read: nothing
          // stays locked.
          UnlockSlotQuietly(slot);
          editLock_ = 0;
          Raise(ec::RecordChanged);
        }
      } catch (...) {
        if (editLock_ == slot && !alreadyHeld) {
          UnlockSlotQuietly(slot);
          editLock_ = 0;
        }
        throw;
      }
    }
    if (bof_ && eof_) return CopyOut(ec::NoCurrentRecord, buffer);
    if (bof_) return CopyOut(ec::BOF, buffer);
    if (eof_) return CopyOut(ec::EndOfFile, buffer);
    ReadAtPosition();
    return CopyOut(ec::OK, buffer);
  }, false, !lock);
}

// ---------------------------------------------------------------------------
// Physical order helpers

void TDataCursor::MakePhysicalCurrent(int32_t recordNumber) {
  bof_ = eof_ = false;
  const TRecordsBitmap& bits = results_.Bits();
  int32_t r = bits.FirstAtOrAbove(std::max(recordNumber, 1));
  if (r == 0) r = bits.LastAtOrBelow(recordNumber - 1);
  if (r == 0) {
    SetEmpty();
    return;
  }
  physical_ = r;
  ordinal_ = bits.CountBelow(r) + 1;
}

// ---------------------------------------------------------------------------
// Key searches

std::vector<uint8_t> TDataCursor::BuildSearchKey(const uint8_t* source, bool readyMade, int fieldCount,
                                                 int partialLength, bool high) const {
  CheckOpen();
  if (PhysicalOrder()) return {};
  const TKeyContext& key = *keys_->Made(indexNumber_);
  const TKeySearch search(TIndexTree(table_->Index(), key), table_->Index().Header.Indexes[indexNumber_], key,
                          fields_, table_->CharacterOrder());
  return search.Key(source, readyMade, fieldCount, partialLength, high, nullptr);
}

bool TDataCursor::SearchKey(const std::vector<uint8_t>& key, size_t compareLength, bool exact) {
  TKeySearch search = Search();
  TIndexEntry entry;
  if (exact) {
    if (!search.Find(key, compareLength, results_, entry)) return false;
    TakeEntry(std::move(entry));
    bof_ = eof_ = false;
    return true;
  }
  // Nearest: the first entry not below the key, kept inside the range and
  // the result; past the end the cursor goes to the last record.
  if (RecordCount() == 0) {
    SetEmpty();
    return false;
  }
  if (!search.Seek(key.data(), results_, entry)) {
    if (!LastOfSet()) {
      SetEmpty();
      return false;
    }
    bof_ = eof_ = false;
    return false;
  }
  TakeEntry(std::move(entry));
  bof_ = eof_ = false;
  return KeyContext(indexNumber_).CompareKeys(key_.data(), key.data(), compareLength) == 0;
}

bool TDataCursor::FindKey(const uint8_t* source, bool readyMade, int fieldCount, int partialLength, bool nearest,
                          uint8_t* buffer) {
  CheckOpen();
  if (source == nullptr) return false;
  return TCursorFrame::Run(*this, [&]() -> bool {
    if (PhysicalOrder()) return false;
    size_t prefix = 0;
    const std::vector<uint8_t> key =
        Search().Key(source, readyMade, fieldCount, partialLength, IndexDescending(), &prefix);
    const bool prefixSearch = prefix < key.size();
    const bool found = SearchKey(key, prefix, !prefixSearch && !nearest);
    if (!found && !prefixSearch && !nearest) return false;
    ReadAtPosition();
    if (buffer != nullptr && !Empty()) std::memcpy(buffer, current_.data(), recordSize_);
    return found;
  });
}

uint16_t TDataCursor::GotoSameRecord(TDataCursor& other) {
  CheckOpen();
  return TCursorFrame::Run(*this, [&]() -> uint16_t {
    if (!other.open_ || other.Empty() || other.physical_ <= 0) return ec::RecordNotFound;
    if (PhysicalOrder()) {
      const int32_t r = other.physical_;
      if (!results_.Bits().Test(r)) return ec::RecordNotFound;
      physical_ = r;
      ordinal_ = results_.Bits().CountBelow(r) + 1;
      bof_ = eof_ = false;
    } else {
      const TKeyContext& ctx = KeyContext(indexNumber_);
      const std::vector<uint8_t> key = ctx.BuildKey(other.current_.data());
      if (!SearchKey(key, key.size(), true)) return ec::RecordNotFound;
    }
    ReadAtPosition();
    return ec::OK;
  });
}

// ---------------------------------------------------------------------------
// Ranges

void TDataCursor::RecomputeRangeOrdinals() {
  const int32_t count = table_->Index().Header.ActiveRecordCount;
  if (!Ranged()) {
    results_.RecomputeRangeOrdinals(count, nullptr, nullptr);
    return;
  }
  const TKeyContext& key = KeyContext(indexNumber_);
  TIndexTree tree = CurrentTree();
  results_.RecomputeRangeOrdinals(count, &tree, &key);
}

void TDataCursor::SetRange(const uint8_t* startSource, int startFieldCount, const uint8_t* endSource,
                           int endFieldCount, bool readyMade) {
  CheckOpen();
  if (PhysicalOrder()) return;
  TCursorFrame::Run(*this, [&] {
    const bool descending = IndexDescending();
    const size_t length = KeyLength();
    const TKeySearch search = Search();
    std::vector<uint8_t> start = startSource != nullptr
                                     ? search.Key(startSource, readyMade, startFieldCount, 0, descending, nullptr)
                                     : std::vector<uint8_t>(length, 0x00);
    std::vector<uint8_t> end = endSource != nullptr
                                   ? search.Key(endSource, readyMade, endFieldCount, 0, !descending, nullptr)
                                   : std::vector<uint8_t>(length, 0xFF);
    results_.SetRange(std::move(start), std::move(end));
    RecomputeRangeOrdinals();
    if (results_.BitmapMode()) BuildBitmaps(false);
    Refind(current_.data());
  });
}

void TDataCursor::CancelRange() {
  CheckOpen();
  if (!results_.RangeActive()) return;
  TCursorFrame::Run(*this, [&] {
    results_.CancelRange(KeyLength());
    RecomputeRangeOrdinals();
    if (results_.BitmapMode()) BuildBitmaps(false);
    Refind(current_.data());
  });
}

void TDataCursor::Refind(const uint8_t* image) {
  if (PhysicalOrder()) {
    std::vector<uint8_t> bookmark(4, 0);
    std::memcpy(bookmark.data(), &physical_, 4);
    GotoBookmarkInternal(bookmark, true);
    return;
  }
  const std::vector<uint8_t> key = KeyContext(indexNumber_).BuildKey(image);
  GotoBookmarkInternal(key, true);
}

// ---------------------------------------------------------------------------
// Bitmaps

void TDataCursor::BuildAllRecordsBitmap() {
  results_.BuildAllRecords(table_->Data().PhysicalRecordCount(), Tree(kSysDeletedSlot));
}

void TDataCursor::EvaluateFilter(TFilter& filter) {
  const int32_t slots = table_->Data().PhysicalRecordCount();
  std::vector<uint8_t> image(recordSize_, 0);
  const bool wasBackward = backward_;
  backward_ = false;
  // The read-ahead plan follows the walk over the active records.
  scanBits_ = &results_.AllRecords();
  try {
    results_.EvaluateFilter(filter, slots, [&](int32_t record) {
      FetchImage(record, image.data());
      return filter.Accepts(*this, image.data());
    });
  } catch (...) {
    scanBits_ = nullptr;
    backward_ = wasBackward;
    throw;
  }
  scanBits_ = nullptr;
  backward_ = wasBackward;
}

void TDataCursor::BuildBitmaps(bool reevaluateFilters) {
  if (!results_.BitmapMode()) return;
  const int32_t slots = table_->Data().PhysicalRecordCount();
  const bool ranged = Ranged();
  std::optional<TIndexTree> order;
  if (ranged) order.emplace(CurrentTree());
  const bool locale = ranged && KeyContext(indexNumber_).HasLocale();
  results_.Build(reevaluateFilters, slots, Tree(kSysDeletedSlot), ranged ? &*order : nullptr, locale,
                 [&](TFilter& filter) { EvaluateFilter(filter); });
}

}  // namespace tessel
