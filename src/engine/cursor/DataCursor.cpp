#include "engine/cursor/DataCursor.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "engine/base/Bytes.h"
#include "engine/base/Names.h"
#include "engine/base/TesselError.h"
#include "engine/cursor/CursorFilter.h"
#include "engine/cursor/CursorFrame.h"
#include "engine/cursor/KeySearch.h"
#include "engine/cursor/RecordWriter.h"
#include "engine/storage/BlobHandles.h"
#include "engine/storage/DataDirectory.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/FieldValue.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/Record.h"
#include "engine/storage/TableLocale.h"

namespace tessel {

namespace {

constexpr size_t kMaxTableNameLength = 255;

// Trimmed, cut to 255 characters, extension ".DAT" unless it has it.
std::string NormaliseTableName(const std::string& name) {
  std::string result = TrimBlanks(name);
  if (result.size() > kMaxTableNameLength) result.resize(kMaxTableNameLength);
  const size_t slash = result.find_last_of('/');
  const size_t dot = result.find_last_of('.');
  const bool hasDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  if (hasDot && SameNameIgnoringCase(result.substr(dot), ".DAT")) return result;
  if (hasDot) result.erase(dot);
  return result + ".DAT";
}

template <typename F>
void Quietly(F&& f) {
  try {
    f();
  } catch (...) {
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Frame

TCursorFrame::TCursorFrame(TDataCursor& cursor, bool lockRead, bool detect) : cursor_(cursor) {
  cursor.CheckOpen();
  if (cursor.bulkHold_ == 0 && cursor.BulkLoading()) cursor.EndBulkLoad();
  TIndexFile& index = cursor.table_->Index();
  previousContext_ = index.ReadContext();
  index.SetReadContext(&cursor);
  ++cursor.frameDepth_;
  try {
    cursor.ApplySessionSettings();
    if (lockRead || cursor.Session().StrictChangeDetection) {
      cursor.SyncRead();
    } else if (detect && cursor.CountersChanged()) {
      // Another cursor of this program wrote to the shared table. Catching
      // up may read pages that another user changed as well: the fetch gives
      // up holding the read lock, so the next pass sees a stable table.
      const std::vector<uint8_t> bookmark = cursor.Bookmark();
      const bool bof = cursor.bof_;
      const bool eof = cursor.eof_;
      for (int attempt = 0;; ++attempt) {
        try {
          cursor.Reposition();
          cursor.GotoBookmarkInternal(bookmark, true);
          break;
        } catch (const ETableChanged&) {
          if (attempt >= kMaxRestarts) throw;
        } catch (const TCursorRestart&) {
          if (attempt >= kMaxRestarts) RaiseEngineError(ec::RecordBuffersCorrupt, cursor.TableName());
        }
        cursor.changePending_ = false;
        cursor.bof_ = bof;
        cursor.eof_ = eof;
      }
    }
  } catch (...) {
    --cursor.frameDepth_;
    index.SetReadContext(previousContext_);
    if (cursor.frameDepth_ == 0) Quietly([&] { cursor.table_->EndRead(); });
    throw;
  }
}

TCursorFrame::~TCursorFrame() {
  if (finished_) return;
  --cursor_.frameDepth_;
  if (cursor_.table_ != nullptr) {
    cursor_.table_->Index().SetReadContext(previousContext_);
    if (cursor_.frameDepth_ == 0 && !cursor_.writing_) Quietly([&] { cursor_.table_->EndRead(); });
  }
}

void TCursorFrame::Settle() {
  if (!cursor_.changePending_) return;
  cursor_.changePending_ = false;
  cursor_.ChangeSeen();
}

void TCursorFrame::Finish() {
  if (finished_) return;
  finished_ = true;
  --cursor_.frameDepth_;
  cursor_.table_->Index().SetReadContext(previousContext_);
  if (cursor_.frameDepth_ == 0 && !cursor_.writing_) cursor_.table_->EndRead();
}

// ---------------------------------------------------------------------------
// Construction and properties

TDataCursor::TDataCursor(TDataDirectory& directory) : directory_(directory) {}

TDataCursor::~TDataCursor() { CloseQuietly(); }

TDataSession& TDataCursor::Session() const { return directory_.Session(); }

void TDataCursor::CheckClosed() const {
  if (open_) Raise(ec::TableInUse);
}

void TDataCursor::CheckOpen() const {
  if (!open_ || table_ == nullptr) RaiseEngineError(ec::NotInitialized, tableName_);
}

void TDataCursor::Raise(uint16_t code, const std::string& field, const std::string& index) const {
  RaiseEngineError(code, tableName_, field, {}, index);
}

void TDataCursor::SetTableName(const std::string& name) {
  CheckClosed();
  tableName_ = NormaliseTableName(name);
}

void TDataCursor::SetExclusive(bool on) {
  CheckClosed();
  exclusive_ = on;
}

void TDataCursor::SetReadOnly(bool on) {
  CheckClosed();
  requestedReadOnly_ = on;
  readOnly_ = on;
}

void TDataCursor::SetInMemory(bool on) {
  CheckClosed();
  inMemory_ = on;
}

void TDataCursor::SetPasswordRequest(std::function<bool()> request) { passwordRequest_ = std::move(request); }

void TDataCursor::SetOpenIndexChooser(std::function<std::string(TDataCursor&)> chooser) {
  openIndexChooser_ = std::move(chooser);
}

void TDataCursor::ApplySessionSettings() {
  const TDataSession& session = Session();
  table_->Settings.LockRetryCount = session.LockRetryCount;
  table_->Settings.LockWaitTime = session.LockWaitTime;
  table_->Settings.StrictChangeDetection = session.StrictChangeDetection;
}

// ---------------------------------------------------------------------------
// Open and close

void TDataCursor::Open() {
  if (open_) return;
  TTableOpenOptions options;
  options.Exclusive = exclusive_;
  options.ReadOnly = requestedReadOnly_;
  options.InMemory = inMemory_;
  table_ = &directory_.AcquireTable(tableName_, options);
  try {
    filesReadOnly_ = table_->IsReadOnly();
    readOnly_ = requestedReadOnly_ || filesReadOnly_;
    ApplySessionSettings();

    if (table_->OpenCount() == 1) {
      // The first user checks the headers under the read lock. The lock is
      // kept for the first positioning below, which then needs no read-lock
      // cycle of its own, unless a password question or the repair of a
      // re-created index file comes first (neither may wait under it).
      table_->BeginRead();
      try {
        table_->ValidateHeaders();
      } catch (...) {
        Quietly([&] { table_->EndRead(); });
        throw;
      }
      if (table_->IsEncrypted() || table_->IndexFileRecreated()) table_->EndRead();
    }

    if (table_->IsEncrypted()) CheckTablePassword(*table_, Session(), passwordRequest_);
    // A later user of a table this program has open already takes the read
    // lock now: other programs' changes since this program last looked drop
    // the caches an earlier user filled, so that the counters remembered
    // below and the first positioning see the files as they are. The lock
    // is kept for the first positioning, as the first user's is.
    if (table_->OpenCount() > 1) table_->BeginRead();

    const TDataFile& data = table_->Data();
    recordSize_ = data.Header.RecordSize;
    fields_ = data.Fields;
    RememberCounters();
    current_.assign(recordSize_, 0);
    saved_.assign(recordSize_, 0);
    results_.Reset();
    bof_ = eof_ = false;
    keys_ = std::make_unique<TKeyContexts>(*table_, fields_, tableName_);
    blobs_ = std::make_unique<TBlobHandles>(*table_, this);
    writer_ = std::make_unique<TRecordWriter>(*this, *keys_, *blobs_);
    open_ = true;

    if (table_->IndexFileRecreated()) {
      // The index file was lost and laid down anew: "Sys Deleted" is rebuilt
      // from the record slots, and written, before the table is used.
      table_->CompleteRecreatedIndex();
      RememberCounters();
    }

    // The chosen index from the start: physical order (and its all-records
    // bitmap) only when that is what the cursor is to stand in.
    LoadIndex(openIndexChooser_ ? IndexNumberOf(openIndexChooser_(*this)) : 0);
    TCursorFrame::Run(*this, [&] {
      RecomputeRangeOrdinals();
      UpdateMode();
      if (results_.BitmapMode()) BuildBitmaps(false);
      GotoFirstInternal();
    });
  } catch (...) {
    // A read lock kept for the first positioning is not left behind on a
    // table other cursors still use.
    if (table_ != nullptr && frameDepth_ == 0) Quietly([&] { table_->EndRead(); });
    CloseQuietly();
    throw;
  }
}

void TDataCursor::ResetState() {
  results_.Reset();
  current_.clear();
  saved_.clear();
  pos_ = {};
  key_.clear();
  physical_ = ordinal_ = 0;
  bof_ = eof_ = false;
  indexNumber_ = kNoIndex;
  indexName_.clear();
  keys_.reset();
  fields_.clear();
  recordSize_ = 0;
  editLock_ = 0;
  frameDepth_ = 0;
  writing_ = changePending_ = inMissCheck_ = false;
}

void TDataCursor::Close() {
  if (table_ == nullptr) {
    open_ = false;
    return;
  }
  // A bulk load's trees are laid down before the table is written back; a
  // failure is raised once the cursor is closed.
  std::exception_ptr bulkFailure;
  if (writer_ && writer_->Bulk()) {
    try {
      writer_->EndBulk();
    } catch (...) {
      bulkFailure = std::current_exception();
    }
  }
  if (blobs_) blobs_->CloseAll();
  writer_.reset();
  blobs_.reset();
  if (editLock_ != 0) UnlockSlotQuietly(editLock_);
  if (table_->Index().ReadContext() == this) table_->Index().SetReadContext(nullptr);
  ResetState();
  TDataTable* table = table_;
  table_ = nullptr;
  open_ = false;
  filesReadOnly_ = false;
  readOnly_ = requestedReadOnly_;
  directory_.ReleaseTable(*table);
  if (bulkFailure) std::rethrow_exception(bulkFailure);
}

// ---------------------------------------------------------------------------
// Bulk load

bool TDataCursor::BeginBulkLoad() {
  CheckOpen();
  if (!exclusive_ || readOnly_ || writer_->Bulk() || !writer_->CanBulkLoad()) return false;
  writer_->BeginBulk();
  return true;
}

void TDataCursor::EndBulkLoad() {
  CheckOpen();
  if (!writer_->Bulk()) return;
  writer_->EndBulk();
  TCursorFrame::Run(*this, [&] {
    Reposition();
    GotoFirstInternal();
  });
}

bool TDataCursor::BulkLoading() const { return writer_ != nullptr && writer_->Bulk(); }

void TDataCursor::CloseQuietly() { Quietly([&] { Close(); }); }

// ---------------------------------------------------------------------------
// Table description

const TFieldDesc& TDataCursor::Field(int fieldNumber) const {
  if (fieldNumber < 1 || static_cast<size_t>(fieldNumber) > fields_.size())
    RaiseEngineError(ec::InvalidField, tableName_, std::to_string(fieldNumber));
  return fields_[static_cast<size_t>(fieldNumber - 1)];
}

int TDataCursor::FieldNumber(const std::string& name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (SameNameIgnoringCase(fields_[i].Name, name)) return static_cast<int>(i + 1);
  return 0;
}

bool TDataCursor::HasPrimaryIndex() const {
  return table_ != nullptr && table_->Index().Header.NoPrimaryIndex == 0 &&
         table_->Index().Header.Indexes[0].FieldCount > 0;
}

std::vector<TCursorIndexInfo> TDataCursor::Indexes() const {
  std::vector<TCursorIndexInfo> result;
  if (table_ == nullptr) return result;
  const TIndexHeader& h = table_->Index().Header;
  auto add = [&](int number) {
    const TIndexDesc& d = h.Indexes[static_cast<size_t>(number)];
    TCursorIndexInfo info;
    info.Number = number;
    info.Name = number == 0 ? std::string() : d.Name;
    for (int i = 0; i < d.FieldCount && i < kMaxIndexFields; ++i)
      info.FieldNumbers.push_back(d.FieldNumbers[static_cast<size_t>(i)]);
    info.Primary = number == 0;
    info.Unique = d.Unique != 0;
    info.Descending = d.Descending != 0;
    info.CaseInsensitive = d.CaseInsensitive != 0;
    result.push_back(std::move(info));
  };
  if (HasPrimaryIndex()) add(0);
  for (int n = 1; n <= h.SecondaryCount && n <= kMaxSecondaryIndexes; ++n) add(n);
  return result;
}

std::optional<TCursorIndexInfo> TDataCursor::FindIndexForFields(const std::string& fieldNames,
                                                                std::optional<bool> caseInsensitive) const {
  std::vector<int> wanted;
  size_t start = 0;
  while (start <= fieldNames.size()) {
    size_t end = fieldNames.find(';', start);
    if (end == std::string::npos) end = fieldNames.size();
    const std::string name = TrimBlanks(fieldNames.substr(start, end - start));
    if (!name.empty()) {
      const int number = FieldNumber(name);
      if (number == 0) return std::nullopt;
      wanted.push_back(number);
    }
    start = end + 1;
  }
  if (wanted.empty()) return std::nullopt;
  const std::vector<TCursorIndexInfo> all = Indexes();
  auto usable = [&](const TCursorIndexInfo& i) {
    return !i.Descending && (!caseInsensitive.has_value() || *caseInsensitive == i.CaseInsensitive);
  };
  auto matches = [&](const TCursorIndexInfo& i, bool exact) {
    if (i.FieldNumbers.size() < wanted.size() || (exact && i.FieldNumbers.size() != wanted.size())) return false;
    for (size_t k = 0; k < wanted.size(); ++k)
      if (i.FieldNumbers[k] != wanted[k]) return false;
    return true;
  };
  for (const auto& i : all)
    if (usable(i) && matches(i, true)) return i;
  for (const auto& i : all)
    if (usable(i) && matches(i, false)) return i;
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Indexes

const TKeyContext& TDataCursor::KeyContext(int number) { return keys_->Get(number); }

TIndexTree TDataCursor::Tree(int number) { return keys_->Tree(number); }

TKeySearch TDataCursor::Search() {
  return TKeySearch(CurrentTree(), table_->Index().Header.Indexes[indexNumber_], KeyContext(indexNumber_), fields_,
                    table_->CharacterOrder());
}

void TDataCursor::LoadIndex(uint8_t number) {
  indexNumber_ = number;
  if (number == kNoIndex) {
    indexName_.clear();
  } else {
    indexName_ = number == 0 ? std::string() : table_->Index().Header.Indexes[number].Name;
    KeyContext(number);
  }
  pos_ = {};
  key_.clear();
}

uint8_t TDataCursor::IndexNumberOf(const std::string& indexName) const {
  const TIndexHeader& h = table_->Index().Header;
  for (int n = 0; n <= h.SecondaryCount && n <= kMaxSecondaryIndexes; ++n) {
    const std::string name = n == 0 ? std::string() : h.Indexes[static_cast<size_t>(n)].Name;
    if (SameNameIgnoringCase(name, indexName)) return static_cast<uint8_t>(n);
  }
  RaiseEngineError(ec::InvalidIndexName, tableName_, {}, {}, TrimBlanks(indexName));
}

bool TDataCursor::PhysicalOrder() const {
  return indexNumber_ == kNoIndex || (indexNumber_ == 0 && !HasPrimaryIndex());
}

std::vector<uint16_t> TDataCursor::CurrentIndexFields() const {
  std::vector<uint16_t> result;
  if (table_ == nullptr || PhysicalOrder()) return result;
  const TIndexDesc& d = table_->Index().Header.Indexes[indexNumber_];
  for (int i = 0; i < d.FieldCount && i < kMaxIndexFields; ++i) result.push_back(d.FieldNumbers[static_cast<size_t>(i)]);
  return result;
}

uint16_t TDataCursor::KeyLength() const {
  if (table_ == nullptr || PhysicalOrder()) return 0;
  return table_->Index().Header.Indexes[indexNumber_].KeyLength;
}

bool TDataCursor::IndexUnique() const {
  return table_ != nullptr && !PhysicalOrder() && table_->Index().Header.Indexes[indexNumber_].Unique != 0;
}

bool TDataCursor::IndexDescending() const {
  return table_ != nullptr && !PhysicalOrder() && table_->Index().Header.Indexes[indexNumber_].Descending != 0;
}

bool TDataCursor::IndexCaseInsensitive() const {
  return table_ != nullptr && !PhysicalOrder() &&
         table_->Index().Header.Indexes[indexNumber_].CaseInsensitive != 0;
}

void TDataCursor::UpdateMode() { results_.SetBitmapMode(PhysicalOrder() || Filtered()); }

void TDataCursor::SelectIndex(const std::string& indexName) {
  CheckOpen();
  if (indexNumber_ != kNoIndex && SameNameIgnoringCase(indexName, indexName_)) return;
  TCursorFrame::Run(
      *this,
      [&] {
        if (results_.RangeActive()) CancelRange();
        SelectIndexNumber(IndexNumberOf(indexName));
      },
      true);
}

void TDataCursor::SelectIndexNumber(uint8_t number) {
  CheckOpen();
  const TIndexHeader& h = table_->Index().Header;
  if (number != kNoIndex && number != 0 && (number > h.SecondaryCount || number > kMaxSecondaryIndexes))
    Raise(ec::InvalidIndexName, {}, std::to_string(number));
  if (number == indexNumber_) return;
  TCursorFrame::Run(*this, [&] {
    results_.CancelRange(0);
    const int32_t physical = physical_;
    LoadIndex(number);
    UpdateMode();
    RecomputeRangeOrdinals();
    if (results_.BitmapMode()) BuildBitmaps(false);
    physical_ = physical;
    Refind(current_.data());
  });
}

// ---------------------------------------------------------------------------
// Change detection

void TDataCursor::RememberCounters() {
  counters_[0] = table_->Data().Header.ChangeCounter;
  counters_[1] = table_->Index().Header.ChangeCounter;
  counters_[2] = table_->Data().Header.BlobFieldCount != 0 && table_->HasBlobFile() ? table_->Blob().Header.ChangeCounter : 0;
}

bool TDataCursor::CountersChanged() {
  if (!open_ || exclusive_ || filesReadOnly_) return false;
  const int32_t old[3] = {counters_[0], counters_[1], counters_[2]};
  RememberCounters();
  return old[0] != counters_[0] || old[1] != counters_[1] || old[2] != counters_[2];
}

void TDataCursor::ChangeSeen() {
  const std::vector<uint8_t> bookmark = Bookmark();
  Reposition();
  GotoBookmarkInternal(bookmark, true);
}

bool TDataCursor::SyncRead() {
  CheckOpen();
  const std::vector<uint8_t> bookmark = Bookmark();
  bool changed = table_->BeginRead();
  if (CountersChanged()) changed = true;
  if (changed) {
    Reposition();
    GotoBookmarkInternal(bookmark, true);
  }
  return changed;
}

void TDataCursor::EndRead() {
  if (table_ != nullptr) table_->EndRead();
}

void TDataCursor::Reposition() {
  CheckOpen();
  RecomputeRangeOrdinals();
  if (results_.BitmapMode()) BuildBitmaps(true);
}

void TDataCursor::Refresh() {
  CheckOpen();
  TCursorFrame::Run(*this, [&] {
    // The frame's SyncRead repositions when it saw a change; the positions
    // are recomputed and the record read again all the same.
    ChangeSeen();
  }, true);
}

bool TDataCursor::BeforeCacheMiss() {
  if (!open_ || table_ == nullptr || frameDepth_ == 0 || writing_ || inMissCheck_) return false;
  inMissCheck_ = true;
  bool changed = false;
  try {
    changed = table_->BeginRead();
    if (CountersChanged()) changed = true;
  } catch (...) {
    inMissCheck_ = false;
    throw;
  }
  inMissCheck_ = false;
  if (changed) changePending_ = true;
  return changed;
}

int TDataCursor::PlanRecordRun(int32_t first, int32_t* out, int max) {
  if (!open_ || max <= 0) return 0;
  int n = 0;
  const TRecordsBitmap* bits =
      scanBits_ != nullptr ? scanBits_ : (results_.BitmapMode() && PhysicalOrder() ? &results_.Bits() : nullptr);
  if (bits != nullptr) {
    // Consecutive set bits in the direction of travel.
    out[n++] = first;
    for (int32_t r = backward_ ? first - 1 : first + 1; n < max && r >= 1 && bits->Test(r); r += backward_ ? -1 : 1)
      out[n++] = r;
    return n;
  }
  if (PhysicalOrder() || !pos_.Valid()) return 0;  // no plan: the neighbouring slots
  out[n++] = first;
  // Following entries of the current leaf whose record numbers go on by one.
  TIndexFile& index = table_->Index();
  if (!index.IsPageCached(indexNumber_, pos_.Page)) return n;
  try {
    TPageRef page(index, index.GetPage(indexNumber_, pos_.Page, nullptr));
    if (page.get() == nullptr || !page->IsLeaf()) return n;
    int entry = pos_.Entry;
    if (entry < 1 || entry > page->Count() || page->Value(entry) != first) return n;
    int32_t expect = first;
    for (entry += backward_ ? -1 : 1; n < max && entry >= 1 && entry <= page->Count(); entry += backward_ ? -1 : 1) {
      expect += backward_ ? -1 : 1;
      const int32_t r = page->Value(entry);
      if (r != expect || !InResult(r)) break;
      out[n++] = r;
    }
  } catch (...) {
  }
  return n;
}

// ---------------------------------------------------------------------------
// Other cursors

std::unique_ptr<TDataCursor> TDataCursor::Clone() {
  CheckOpen();
  return TCursorFrame::Run(*this, [&] {
    auto clone = std::make_unique<TDataCursor>(directory_);
    clone->SetTableName(tableName_);
    clone->SetReadOnly(requestedReadOnly_);
    clone->SetInMemory(inMemory_);
    clone->passwordRequest_ = passwordRequest_;
    // The clone may open an encrypted table whose password this cursor was
    // given: it is lent to the session for the open only.
    std::string password;
    bool lent = false;
    if (table_->IsEncrypted()) {
      password = table_->Password();
      if (!Session().HasPassword(password)) {
        Session().AddPassword(password);
        lent = true;
      }
    }
    try {
      clone->Open();
    } catch (...) {
      if (lent) Session().RemovePassword(password);
      throw;
    }
    if (lent) Session().RemovePassword(password);

    clone->fields_ = fields_;
    clone->SelectIndexNumber(indexNumber_);
    if (Ranged()) {
      TCursorFrame::Run(*clone, [&] {
        clone->results_.CopyRange(results_);
        clone->RecomputeRangeOrdinals();
        if (clone->results_.BitmapMode()) clone->BuildBitmaps(false);
      });
    }
    for (const auto& filter : results_.Filters()) {
      TFilter* copy = clone->AddFilter(filter->Copy());
      if (filter->Active()) clone->ActivateFilter(copy);
    }
    clone->GotoSameRecord(*this);
    return clone;
  });
}

// ---------------------------------------------------------------------------
// Record images and fields

const uint8_t* TDataCursor::CurrentRecord() const { return current_.data(); }

void TDataCursor::BlankRecord(uint8_t* buffer) const {
  if (buffer != nullptr) std::memset(buffer, 0, recordSize_);
}

bool TDataCursor::BlobFieldNonEmpty(const TFieldDesc& field, const uint8_t* image) const {
  const int32_t position = GetI32(image + field.RecordOffset + 1);
  if (position >= 0 || !blobs_) return position > 0;
  const TBlobBuffer* buffer = blobs_->Buffer(position);
  return buffer == nullptr || buffer->Size() > 0;
}

bool TDataCursor::GetFieldValue(int fieldNumber, const uint8_t* image, uint8_t* destination) const {
  const TFieldDesc& field = Field(fieldNumber);
  const size_t size = field.Type == ftBlob || field.IsAutoInc() ? 4 : field.PhysicalSize;
  if (destination != nullptr) std::memset(destination, 0, size);
  if (field.Type == ftBlob && field.NotStored == 0) {
    const int32_t position = GetI32(image + field.RecordOffset + 1);
    if (position < 0) {
      // A buffer of this cursor is attached: its content decides.
      if (destination != nullptr) std::memcpy(destination, image + field.RecordOffset + 1, 4);
      return !BlobFieldNonEmpty(field, image);
    }
  }
  return tessel::GetFieldValue(field, image, destination);
}

void TDataCursor::PutFieldValue(int fieldNumber, uint8_t* image, const uint8_t* value) const {
  const TFieldDesc& field = Field(fieldNumber);
  bool nonEmpty = false;
  if (field.Type == ftBlob && value != nullptr && GetI32(value) < 0 && blobs_) {
    const TBlobBuffer* buffer = blobs_->Buffer(GetI32(value));
    nonEmpty = buffer == nullptr || buffer->Size() > 0;
  }
  static const TTableLocale plain;
  tessel::PutFieldValue(field, image, value, table_ != nullptr ? table_->Locale() : plain, nonEmpty);
}

}  // namespace tessel
