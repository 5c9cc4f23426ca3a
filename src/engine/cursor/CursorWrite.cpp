// Writing through the cursor: new record images with defaults, the record
// lock of an edit, the constraint checks and the three writes. Every check
// that can refuse a write runs before the first index entry or record byte
// changes; locks are released and the cursor placed again on every path.
#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/cursor/CursorFilter.h"
#include "engine/cursor/CursorFrame.h"
#include "engine/cursor/DataCursor.h"
#include "engine/storage/BlobHandles.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/Record.h"
#include "engine/storage/TableLocale.h"
#include "engine/storage/ValueText.h"
#include "platform/core/Clock.h"

namespace tessel {

namespace {

template <typename F>
void Quietly(F&& f) {
  try {
    f();
  } catch (...) {
  }
}

// The stored value against a limit of the same type: -1, 0, 1; 0 for types
// that are not compared.
int CompareWithLimit(const TFieldDesc& f, const uint8_t* stored, const uint8_t* limit, const TTableLocale& locale) {
  auto sign = [](auto a, auto b) { return a < b ? -1 : (a > b ? 1 : 0); };
  switch (f.Type) {
    case ftString:
      return locale.Compare(stored, f.PhysicalSize, limit, f.PhysicalSize);
    case ftDate:
    case ftTime:
    case ftInteger:
      return sign(GetI32(stored), GetI32(limit));
    case ftSmallInt:
      return sign(GetI16(stored), GetI16(limit));
    case ftWord:
      return sign(GetU16(stored), GetU16(limit));
    case ftFloat:
    case ftTimeStamp:
      return sign(GetF64(stored), GetF64(limit));
    case ftBCD:
      return sign(GetI64(stored), GetI64(limit));
    default:
      return 0;
  }
}

bool ComparesLimits(uint8_t type) {
  switch (type) {
    case ftString:
    case ftDate:
    case ftTime:
    case ftTimeStamp:
    case ftSmallInt:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftBCD:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// New records and constraints

void TDataCursor::InitRecord(uint8_t* buffer) {
  CheckOpen();
  if (buffer == nullptr) return;
  std::memset(buffer, 0, recordSize_);
  if (!hasDefaults_) return;
  std::vector<uint8_t> value;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const TFieldDesc& f = fields_[i];
    if (f.Default.empty() || f.IsAutoInc() || f.Type == ftBlob) continue;
    if (!EncodeValueTextOrRaise(f, f.Default, platform::Now, value)) continue;
    PutFieldValue(static_cast<int>(i + 1), buffer, value.data());
  }
}

void TDataCursor::CheckConstraints(const uint8_t* image) {
  CheckOpen();
  std::vector<uint8_t> stored;
  std::vector<uint8_t> limit;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const TFieldDesc& f = fields_[i];
    const int number = static_cast<int>(i + 1);
    if (f.Required != 0 && GetFieldValue(number, image, nullptr)) Raise(ec::ValueRequired, f.Name);
    if (!ComparesLimits(f.Type) || (f.Minimum.empty() && f.Maximum.empty())) continue;
    // The stored bytes count whether the field is null or not: a null number
    // is 0 and a null string empty.
    stored.assign(std::max<size_t>(f.PhysicalSize, 8) + 1, 0);
    if (f.IsAutoInc()) {
      std::memcpy(stored.data(), image + kSlotRecordIdOffset, 4);
    } else {
      std::memcpy(stored.data(), image + f.RecordOffset + 1, f.PhysicalSize);
    }
    if (!f.Minimum.empty() && EncodeValueText(f, f.Minimum, platform::Now, limit) &&
        CompareWithLimit(f, stored.data(), limit.data(), table_->Locale()) < 0)
      Raise(ec::BelowMinimum, f.Name);
    if (!f.Maximum.empty() && EncodeValueText(f, f.Maximum, platform::Now, limit) &&
        CompareWithLimit(f, stored.data(), limit.data(), table_->Locale()) > 0)
      Raise(ec::AboveMaximum, f.Name);
  }
}

// ---------------------------------------------------------------------------
// Locks

void TDataCursor::CheckReadOnly() const {
  if (readOnly_) Raise(ec::AccessDenied);
}

void TDataCursor::BeginUpdate() {
  const std::vector<uint8_t> bookmark = Bookmark();
  bool changed = table_->BeginWrite();
  writing_ = true;
  try {
    if (CountersChanged()) changed = true;
    if (changed) {
      Reposition();
      GotoBookmarkInternal(bookmark, true);
    }
  } catch (...) {
    EndUpdateQuietly();
    throw;
  }
}

void TDataCursor::EndUpdateQuietly() {
  writing_ = false;
  Quietly([&] { table_->EndWrite(); });
}

void TDataCursor::LockSlot(int32_t slot) {
  if (slot == editLock_) return;  // the edit holds it already
  table_->LockRecord(slot);
}

void TDataCursor::UnlockSlotQuietly(int32_t slot) {
  if (slot <= 0 || table_ == nullptr) return;
  Quietly([&] { table_->UnlockRecord(slot); });
}

void TDataCursor::UnlockRecord(int32_t slot) {
  CheckOpen();
  if (slot == 0) slot = editLock_ != 0 ? editLock_ : physical_;
  ApplySessionSettings();
  table_->UnlockRecord(slot);
  if (slot == editLock_) editLock_ = 0;
}

void TDataCursor::FlushAfterWrite(bool forceData, bool forceIndex) {
  if (!exclusive_ && !filesReadOnly_) table_->FlushTable(false, forceData, forceIndex);
  // The counters moved by this cursor's own write are no news to it.
  RememberCounters();
}

// ---------------------------------------------------------------------------
// Bitmaps after a write

void TDataCursor::UpdateBitsForRecord(int32_t slot, const uint8_t* image, bool present) {
  if (!results_.BitmapMode()) return;
  results_.UpdateRecord(slot, image, present, table_->Data().PhysicalRecordCount(),
                        Ranged() ? &KeyContext(indexNumber_) : nullptr,
                        [&](const TFilter& filter) { return filter.Accepts(*this, image); });
}

// Places the cursor on the written record (or, after a delete, where it
// stood: on the record that follows, or on the EOF crack).
void TDataCursor::RepositionAfterWrite(const uint8_t* image, bool /*keyWasFound*/) {
  bof_ = eof_ = false;
  if (PhysicalOrder()) {
    std::vector<uint8_t> bookmark(4, 0);
    PutI32(bookmark.data(), physical_);
    GotoBookmarkInternal(bookmark, false);
    return;
  }
  GotoBookmarkInternal(KeyContext(indexNumber_).BuildKey(image), false);
}

// ---------------------------------------------------------------------------
// Insert

int32_t TDataCursor::PeekInsertSlot() {
  // The slot AllocateSlot will hand out, found without changing anything.
  TDataFile& data = table_->Data();
  const int32_t firstFree = data.Header.FirstFreeRecord;
  if (firstFree > 0 && firstFree < data.Header.NextRecordNumber && table_->Index().Header.NoPrimaryIndex == 0) {
    TRecord* record = data.FetchRecord(firstFree, this);
    if (record == nullptr) throw TCursorRestart{};
    const bool deleted = record->IsDeleted();
    data.ReleaseRecord(record);
    if (deleted) return firstFree;
  }
  return data.Header.NextRecordNumber;
}

namespace {

// The indexes a write keeps in step: the primary index when the table has
// one, then the secondary indexes in number order.
std::vector<int> WrittenIndexes(const TIndexHeader& h) {
  std::vector<int> result;
  if (h.NoPrimaryIndex == 0 && h.Indexes[0].FieldCount > 0) result.push_back(0);
  for (int n = 1; n <= h.SecondaryCount && n <= kMaxSecondaryIndexes; ++n) result.push_back(n);
  return result;
}

}  // namespace

void TDataCursor::InsertRecord(uint8_t* image, bool reposition) {
  CheckOpen();
  CheckReadOnly();
  TCursorFrame frame(*this, false, false);
  BeginUpdate();
  int32_t slot = 0;
  bool slotLocked = false;
  bool changing = false;
  std::exception_ptr failure;
  const uint8_t index = indexNumber_;
  const std::vector<uint8_t> before = Bookmark();
  std::vector<uint8_t> written(image, image + recordSize_);
  try {
    slot = PeekInsertSlot();
    LockSlot(slot);
    slotLocked = slot != editLock_;
    if (hasConstraints_) CheckConstraints(image);

    TDataFile& data = table_->Data();
    const int32_t last = data.Header.LastAutoIncValue;
    const int32_t newId = last == std::numeric_limits<int32_t>::max() ? 1 : last + 1;
    PutI32(image + kSlotRecordIdOffset, newId);
    PutI32(written.data() + kSlotRecordIdOffset, newId);

    const std::vector<int> indexes = WrittenIndexes(table_->Index().Header);
    for (int n : indexes) {
      const TKeyContext& ctx = KeyContext(n);
      if (!ctx.Unique()) continue;
      if (Tree(n).KeyExists(ctx.BuildKey(image).data()))
        RaiseEngineError(ec::DuplicateKey, tableName_, {}, {}, ctx.Desc().Name);
    }

    // Nothing has changed so far; from here on the table is written.
    changing = true;
    TRecord* holder = data.AllocateSlot(this);
    if (holder == nullptr || holder->RecordNumber != slot) {
      if (holder != nullptr) data.ReleaseRecord(holder);
      Raise(ec::RecordBuffersCorrupt);
    }
    struct Release {
      TDataFile& data;
      TRecord* record;
      ~Release() { data.ReleaseRecord(record); }
    } release{data, holder};

    const bool reused = holder->IsDeleted();
    uint8_t oldSystemKey[5] = {};
    if (reused) TKeyContext::BuildSystemKey(holder->Data(), oldSystemKey);

    for (int n : indexes) Tree(n).InsertKey(KeyContext(n).BuildKey(image).data(), slot);

    std::vector<uint8_t> active(recordSize_, 0);
    PutI32(active.data() + kSlotRecordIdOffset, newId);
    uint8_t newSystemKey[5] = {};
    TKeyContext::BuildSystemKey(active.data(), newSystemKey);
    TIndexTree system = Tree(kSysDeletedSlot);
    if (reused) system.DeleteKey(oldSystemKey);
    system.InsertKey(newSystemKey, slot);

    data.InitImage(holder, true);
    holder->CopyFields(image, recordSize_);
    holder->SetRecordId(newId);

    table_->Index().Header.ActiveRecordCount += 1;
    table_->Index().HeaderModified = true;

    if (data.Header.BlobFieldCount != 0) blobs_->PostBlobs(holder->Data());

    written.assign(holder->Data(), holder->Data() + recordSize_);
    std::memcpy(current_.data(), holder->Data(), recordSize_);
    holder->Modified = true;
  } catch (...) {
    failure = std::current_exception();
  }

  // Finally: the cursor is placed on the new record, the locks go.
  if (changing && failure == nullptr) {
    try {
      FlushAfterWrite(true, true);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  try {
    if (indexNumber_ != index) LoadIndex(index);
    if (changing) {
      RecomputeRangeOrdinals();
      if (reposition) {
        UpdateBitsForRecord(slot, written.data(), true);
        physical_ = slot;
        RepositionAfterWrite(written.data(), true);
      } else {
        // The cursor stays where it was; the pages under it may have moved.
        if (results_.BitmapMode()) UpdateBitsForRecord(slot, written.data(), true);
        GotoBookmarkInternal(before, true);
      }
    }
  } catch (...) {
    if (failure == nullptr) failure = std::current_exception();
  }
  if (slotLocked) UnlockSlotQuietly(slot);
  EndUpdateQuietly();
  frame.Finish();
  if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------
// Modify

void TDataCursor::ModifyRecord(uint8_t* image, bool unlock, bool reposition) {
  CheckOpen();
  CheckReadOnly();
  TCursorFrame frame(*this, false, false);
  if (Empty() || physical_ <= 0) Raise(ec::NoCurrentRecord);
  if (!exclusive_) saved_ = current_;
  BeginUpdate();
  bool changing = false;
  bool keyChanged = false;
  std::exception_ptr failure;
  const uint8_t index = indexNumber_;
  const int32_t slot = physical_;
  try {
    if (!exclusive_ && (Empty() || physical_ != slot || current_ != saved_)) Raise(ec::RecordChanged);
    if (hasConstraints_) CheckConstraints(image);
    PutI32(image + kSlotRecordIdOffset, GetI32(current_.data() + kSlotRecordIdOffset));

    const std::vector<int> indexes = WrittenIndexes(table_->Index().Header);
    std::vector<std::vector<uint8_t>> newKeys;
    std::vector<std::vector<uint8_t>> oldKeys;
    for (int n : indexes) {
      const TKeyContext& ctx = KeyContext(n);
      newKeys.push_back(ctx.BuildKey(image));
      oldKeys.push_back(ctx.BuildKey(current_.data()));
      if (ctx.Unique() && newKeys.back() != oldKeys.back() && Tree(n).KeyExists(newKeys.back().data()))
        RaiseEngineError(ec::DuplicateKey, tableName_, {}, {}, ctx.Desc().Name);
    }

    changing = true;
    for (size_t i = 0; i < indexes.size(); ++i) {
      if (newKeys[i] == oldKeys[i]) continue;
      TIndexTree tree = Tree(indexes[i]);
      if (!tree.KeyExists(oldKeys[i].data()))
        RaiseEngineError(ec::PageBuffersCorrupt, tableName_, {}, {}, KeyContext(indexes[i]).Desc().Name);
      tree.DeleteKey(oldKeys[i].data());
      tree.InsertKey(newKeys[i].data(), slot);
      keyChanged = true;
    }

    std::memcpy(current_.data() + kSlotFieldsOffset, image + kSlotFieldsOffset, recordSize_ - kSlotFieldsOffset);
    std::memcpy(current_.data() + kSlotRecordIdOffset, image + kSlotRecordIdOffset, 4);
    if (table_->Data().Header.BlobFieldCount != 0) blobs_->PostBlobs(current_.data());

    TDataFile& data = table_->Data();
    TRecord* holder = data.FetchRecord(slot, this);
    if (holder == nullptr) Raise(ec::RecordBuffersCorrupt);
    std::memcpy(holder->Data(), current_.data(), recordSize_);
    holder->Modified = true;
    data.ReleaseRecord(holder);

    FlushAfterWrite(true, keyChanged);
    if (unlock && editLock_ == slot) {
      table_->UnlockRecord(slot);
      editLock_ = 0;
    }
  } catch (...) {
    failure = std::current_exception();
  }

  try {
    if (indexNumber_ != index) LoadIndex(index);
    if (changing) {
      RecomputeRangeOrdinals();
      if (reposition) {
        UpdateBitsForRecord(slot, current_.data(), true);
        RepositionAfterWrite(current_.data(), true);
      } else {
        Refind(current_.data());
      }
    }
  } catch (...) {
    if (failure == nullptr) failure = std::current_exception();
  }
  EndUpdateQuietly();
  frame.Finish();
  if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------
// Delete

void TDataCursor::DeleteRecord(bool reposition) {
  CheckOpen();
  CheckReadOnly();
  TCursorFrame frame(*this, false, false);
  if (Empty() || bof_ || eof_ || physical_ <= 0) Raise(ec::NoCurrentRecord);
  if (!exclusive_) saved_ = current_;
  BeginUpdate();
  bool changing = false;
  bool slotLocked = false;
  std::exception_ptr failure;
  const uint8_t index = indexNumber_;
  const int32_t slot = physical_;
  std::vector<uint8_t> kept;
  try {
    if (!exclusive_ && (Empty() || physical_ != slot || current_ != saved_)) Raise(ec::RecordChanged);
    LockSlot(slot);
    slotLocked = slot != editLock_;
    kept = current_;

    changing = true;
    for (int n : WrittenIndexes(table_->Index().Header)) {
      const TKeyContext& ctx = KeyContext(n);
      const std::vector<uint8_t> key = ctx.BuildKey(kept.data());
      TIndexTree tree = Tree(n);
      if (!tree.KeyExists(key.data())) RaiseEngineError(ec::PageBuffersCorrupt, tableName_, {}, {}, ctx.Desc().Name);
      tree.DeleteKey(key.data());
    }
    uint8_t activeKey[5] = {};
    TKeyContext::BuildSystemKey(kept.data(), activeKey);
    activeKey[0] = 0;
    uint8_t deletedKey[5];
    std::memcpy(deletedKey, activeKey, 5);
    deletedKey[0] = 1;
    TIndexTree system = Tree(kSysDeletedSlot);
    if (!system.KeyExists(activeKey)) RaiseEngineError(ec::PageBuffersCorrupt, tableName_, {}, {}, kSysDeletedName);
    system.DeleteKey(activeKey);
    system.InsertKey(deletedKey, slot);

    table_->Index().Header.ActiveRecordCount -= 1;
    table_->Index().HeaderModified = true;

    TDataFile& data = table_->Data();
    if (data.Header.BlobFieldCount != 0) {
      std::vector<uint8_t> blobImage = kept;
      blobs_->ReleaseRowBlobs(blobImage.data());
    }

    TRecord* holder = data.FetchRecord(slot, this);
    if (holder == nullptr) Raise(ec::RecordBuffersCorrupt);
    std::memcpy(holder->Data(), kept.data(), recordSize_);
    data.FreeSlot(holder);
    std::memcpy(current_.data(), holder->Data(), recordSize_);
    data.ReleaseRecord(holder);

    FlushAfterWrite(true, true);
  } catch (...) {
    failure = std::current_exception();
  }

  try {
    if (indexNumber_ != index) LoadIndex(index);
    if (changing) {
      RecomputeRangeOrdinals();
      if (reposition) UpdateBitsForRecord(slot, kept.data(), false);
      else if (results_.BitmapMode()) BuildBitmaps(false);
      // The deleted record's key leads to the record that followed it.
      physical_ = slot;
      RepositionAfterWrite(kept.data(), false);
    }
  } catch (...) {
    if (failure == nullptr) failure = std::current_exception();
  }
  if (slotLocked) UnlockSlotQuietly(slot);
  if (editLock_ == slot && changing) {
    UnlockSlotQuietly(slot);
    editLock_ = 0;
  }
  EndUpdateQuietly();
  frame.Finish();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tessel
