// The cursor's writes, coordinated around its record writer: the write lock
// and the record locks (an edit's among them), the write-back, the result
// bitmaps kept in step, and the cursor placed again. The writer makes every
// check that can refuse a write before the first index entry or record byte
// changes; locks are released and the cursor placed again on every path.
#include <cstring>
#include <exception>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/cursor/CursorFrame.h"
#include "engine/cursor/DataCursor.h"
#include "engine/cursor/RecordWriter.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/Record.h"

namespace tessel {

namespace {

template <typename F>
void Quietly(F&& f) {
  try {
    f();
  } catch (...) {
  }
}

// A write that fails half-way through its changes (an index page or a BLOB
// block that could not be read, say) leaves part of it in the table's
// buffers, and the next write-back would store that part: keys without
// their record, a slot nobody filled. A shared table's files hold the state
// before the write (each write is written back before its write lock
// goes), so its buffers are dropped and its headers read again, and the
// write leaves no trace. An exclusive table's buffers hold earlier writes
// that reach the files only when it closes; they stay. Answers whether the
// buffers were dropped: only after a write that had begun changing them
// (changing) failed (failure), and never over a failure of its own write-back.
bool AbandonChanges(TDataTable& table, bool exclusive, bool filesReadOnly, bool changing,
                    const std::exception_ptr& failure) {
  if (!changing || failure == nullptr || exclusive || filesReadOnly) return false;
  bool dropped = false;
  Quietly([&] {
    table.DropCaches(false, true);
    dropped = true;
  });
  return dropped;
}

}  // namespace

// ---------------------------------------------------------------------------
// New records and constraints

void TDataCursor::InitRecord(uint8_t* buffer) {
  CheckOpen();
  if (buffer == nullptr) return;
  writer_->InitRecord(buffer);
}

void TDataCursor::CheckConstraints(const uint8_t* image) {
  CheckOpen();
  writer_->CheckConstraints(image);
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

void TDataCursor::InsertRecord(uint8_t* image, bool reposition) {
  CheckOpen();
  CheckReadOnly();
  const TBulkHold hold(*this);
  const bool bulk = BulkLoading();
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
    slot = writer_->PeekInsertSlot();
    LockSlot(slot);
    slotLocked = slot != editLock_;
    writer_->PrepareInsert(image);
    std::memcpy(written.data() + kSlotRecordIdOffset, image + kSlotRecordIdOffset, 4);

    // Nothing has changed so far; from here on the table is written.
    changing = true;
    writer_->Insert(image, slot, current_.data());
    written = current_;
  } catch (...) {
    failure = std::current_exception();
  }
  const bool abandoned = AbandonChanges(*table_, exclusive_, filesReadOnly_, changing, failure);
  if (abandoned) changing = false;

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
    if (changing && bulk) {
      // The trees are laid down when the bulk load ends; the cursor is
      // placed then.
    } else if (changing) {
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
    } else if (abandoned) {
      Reposition();
      GotoBookmarkInternal(before, true);
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
  bool writingBack = false;
  const uint8_t index = indexNumber_;
  const int32_t slot = physical_;
  const std::vector<uint8_t> bookmark = Bookmark();
  try {
    if (!exclusive_ && (Empty() || physical_ != slot || current_ != saved_)) Raise(ec::RecordChanged);
    const TKeyChanges keys = writer_->PrepareModify(image, current_.data());
    changing = true;
    keyChanged = writer_->Modify(keys, image, current_.data(), slot);
    writingBack = true;
    FlushAfterWrite(true, keyChanged);
    if (unlock && editLock_ == slot) {
      table_->UnlockRecord(slot);
      editLock_ = 0;
    }
  } catch (...) {
    failure = std::current_exception();
  }
  const bool abandoned = AbandonChanges(*table_, exclusive_, filesReadOnly_, changing && !writingBack, failure);
  if (abandoned) {
    changing = false;
    current_ = saved_;
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
    } else if (abandoned) {
      Reposition();
      GotoBookmarkInternal(bookmark, true);
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
  bool writingBack = false;
  const std::vector<uint8_t> bookmark = Bookmark();
  try {
    if (!exclusive_ && (Empty() || physical_ != slot || current_ != saved_)) Raise(ec::RecordChanged);
    LockSlot(slot);
    slotLocked = slot != editLock_;
    kept = current_;

    changing = true;
    writer_->Delete(kept.data(), slot, current_.data());
    writingBack = true;
    FlushAfterWrite(true, true);
  } catch (...) {
    failure = std::current_exception();
  }
  const bool abandoned = AbandonChanges(*table_, exclusive_, filesReadOnly_, changing && !writingBack, failure);
  if (abandoned) {
    changing = false;
    current_ = saved_;
  }

  try {
    if (indexNumber_ != index) LoadIndex(index);
    if (abandoned) {
      Reposition();
      GotoBookmarkInternal(bookmark, true);
    } else if (changing) {
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
