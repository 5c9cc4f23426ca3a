#include "engine/components/TesselDataSet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "dataset/DataSetMessages.h"
#include "dataset/DataSource.h"
#include "dataset/FieldKinds.h"
#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/components/BlobStream.h"
#include "engine/cursor/CursorFilter.h"
#include "engine/storage/ValueText.h"

namespace tessel {

using namespace dataset;

namespace {

std::mutex& HandlerMutex() {
  static std::mutex mutex;
  return mutex;
}

TApplicationExceptionHandler& HandlerSlot() {
  static TApplicationExceptionHandler handler;
  return handler;
}

bool IsCalcField(const TField& field) {
  return field.FieldKind() == fkCalculated || field.FieldKind() == fkLookup;
}

// The record set's field type for an engine field; false when the engine
// type has no field definition.
bool MapFieldType(const TFieldDesc& desc, TFieldType& type, int& size) {
  size = 0;
  switch (desc.Type) {
    case tessel::ftString: type = dataset::ftString; size = desc.DeclaredSize; return true;
    case tessel::ftDate: type = dataset::ftDate; return true;
    case tessel::ftBlob:
      switch (desc.SubType) {
        case fstMemo: type = ftMemo; break;
        case fstFmtMemo: type = ftFmtMemo; break;
        case fstGraphic: type = ftGraphic; break;
        case fstTypedBinary: type = ftTypedBinary; break;
        default: type = dataset::ftBlob; break;
      }
      return true;
    case tessel::ftBoolean: type = dataset::ftBoolean; return true;
    case tessel::ftSmallInt: type = ftSmallint; return true;
    case tessel::ftInteger: type = desc.SubType == fstAutoInc ? ftAutoInc : dataset::ftInteger; return true;
    case tessel::ftFloat: type = desc.SubType == fstMoney ? ftCurrency : dataset::ftFloat; return true;
    case tessel::ftBCD: type = dataset::ftBCD; size = desc.DeclaredDecimals; return true;
    case tessel::ftBytes: type = dataset::ftBytes; size = desc.DeclaredSize; return true;
    case tessel::ftTime: type = dataset::ftTime; return true;
    case tessel::ftTimeStamp: type = ftDateTime; return true;
    case tessel::ftWord: type = dataset::ftWord; return true;
    case tessel::ftRaw4: type = dataset::ftInteger; return true;
    case tessel::ftVarBytes: type = dataset::ftVarBytes; size = desc.DeclaredSize; return true;
    // Codes this engine never stores.
    case 18:
    case 19: type = ftLargeint; return true;
    case 20: type = ftADT; return true;
    case 21: type = ftArray; return true;
    case 22: type = ftReference; return true;
    case 23: type = ftDataSet; return true;
    default: return false;
  }
}

// Calendar date of a day number (day 1 = 0001-01-01) as "YYYY-MM-DD".
std::string DayNumberText(int32_t dayNumber) {
  TDateTime value = static_cast<double>(dayNumber - DateDelta);
  int year = 0, month = 0, day = 0;
  DecodeDate(value, year, month, day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

std::string MillisecondsText(int64_t ms) {
  char text[24];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                static_cast<int>(ms % 1000));
  return text;
}

}  // namespace

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler) {
  std::lock_guard lock(HandlerMutex());
  HandlerSlot() = std::move(handler);
}

void ApplicationHandleException(std::exception_ptr error) {
  TApplicationExceptionHandler handler;
  {
    std::lock_guard lock(HandlerMutex());
    handler = HandlerSlot();
  }
  if (!handler) return;
  try {
    handler(error);
  } catch (...) {
    // The handler of last resort has nobody to pass its own failure to.
  }
}

// ---------------------------------------------------------------------------
// TTesselDataSet: opening and closing

TTesselDataSet::TTesselDataSet() = default;

TTesselDataSet::~TTesselDataSet() {
  try {
    Close();
  } catch (...) {
    ApplicationHandleException(std::current_exception());
  }
}

void TTesselDataSet::SetAutoDisplayLabels(bool value) {
  if (value == autoDisplayLabels_) return;
  autoDisplayLabels_ = value;
  if (value && cursor_ != nullptr && Active()) {
    for (TField* field : Fields()) {
      if (field->FieldKind() == fkData && field->FieldNo() > 0)
        field->SetDisplayLabel(cursor_->Field(field->FieldNo()).Description);
    }
  }
}

void TTesselDataSet::OpenCursor(bool infoQuery) {
  if (cursor_ == nullptr) cursor_ = CreateCursor();
  if (cursor_ == nullptr) DatabaseError(msg::ErrorCreatingTableHandle);
  TDataSet::OpenCursor(infoQuery);
}

void TTesselDataSet::CloseCursor() {
  std::exception_ptr failure;
  try {
    TDataSet::CloseCursor();
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    DestroyCursor();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

void TTesselDataSet::DestroyCursor() {
  CloseLookupCursor();
  if (cursor_ == nullptr) return;
  std::unique_ptr<TDataCursor> cursor = std::move(cursor_);
  cursor->Close();
}

void TTesselDataSet::InternalOpen() {
  recordSize_ = cursor_->RecordSize();
  canModify_ = !cursor_->ReadOnly();
  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  indexFields_ = cursor_->CurrentIndexFields();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  if (autoDisplayLabels_) {
    for (TField* field : Fields()) {
      if (field->FieldKind() == fkData && field->FieldNo() > 0)
        field->SetDisplayLabel(cursor_->Field(field->FieldNo()).Description);
    }
  }
  calcOffset_ = static_cast<std::size_t>(recordSize_);
  infoOffset_ = calcOffset_ + static_cast<std::size_t>(CalcFieldsSize());
  bookmarkOffset_ = infoOffset_ + 8;
  // Room for the bookmark of any index (the longest key with its record
  // identifier), so that switching indexes keeps the rows' size.
  bufferSize_ = bookmarkOffset_ + static_cast<std::size_t>(kMaxFullKeyLength);
  SetBookmarkSize(cursor_->BookmarkSize());
  scratch_.assign(bufferSize_, 0);
  filterRow_.assign(bufferSize_, 0);
  copySource_.assign(static_cast<std::size_t>(recordSize_), 0);
  copySourceValid_ = false;
  keyBuffers_.assign(6, std::vector<uint8_t>(kKeyHeaderSize + static_cast<std::size_t>(recordSize_), 0));
  keyIndex_ = kiLookup;
  cursor_->GotoFirst();
  PrepareCursor();
  CreateFilters();
  if (Filtered()) {
    ActivateFilters();
    cursor_->GotoFirst();
  }
}

void TTesselDataSet::InternalClose() {
  if (cursor_ != nullptr && cursor_->IsOpen()) {
    exprFilter_ = funcFilter_ = nullptr;
    cursor_->DropAllFilters();
  }
  exprFilter_ = funcFilter_ = nullptr;
  keyBuffers_.clear();
  scratch_.clear();
  filterRow_.clear();
  copySource_.clear();
  copySourceValid_ = false;
  indexFields_.clear();
  canModify_ = false;
}

void TTesselDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  for (const TFieldDesc& desc : cursor_->Fields()) {
    TFieldType type = ftUnknown;
    int size = 0;
    if (!MapFieldType(desc, type, size)) continue;
    std::string name = desc.Name;
    for (int n = 1; FieldDefs().IndexOf(name) >= 0; ++n) name = desc.Name + "_" + std::to_string(n);
    TFieldDef& def = FieldDefs().Add(name, type, size, desc.Required != 0);
    def.SetFieldNo(desc.FieldNumber);
    if (type == dataset::ftBCD) def.SetPrecision(20);
  }
}

void TTesselDataSet::IndexChanged() {
  indexFields_ = cursor_->CurrentIndexFields();
  SetBookmarkSize(cursor_->BookmarkSize());
}

void TTesselDataSet::RaiseCode(uint16_t code) const {
  RaiseEngineError(code, cursor_ != nullptr ? cursor_->TableName() : std::string());
}

// ---------------------------------------------------------------------------
// Rows

std::unique_ptr<uint8_t[]> TTesselDataSet::AllocRecordBuffer() {
  return std::make_unique<uint8_t[]>(bufferSize_);
}

TGetResult TTesselDataSet::GetRecord(uint8_t* buffer, TGetMode mode, bool doCheck) {
  uint16_t code = ec::OK;
  try {
    switch (mode) {
      case gmCurrent: code = cursor_->GetCurrent(buffer, false); break;
      case gmNext: code = cursor_->GetNext(buffer); break;
      case gmPrior: code = cursor_->GetPrior(buffer); break;
    }
  } catch (const EDatabaseError&) {
    if (doCheck) throw;
    return grError;
  }
  switch (code) {
    case ec::OK:
      PutI32(buffer + infoOffset_, cursor_->RecordNumber());
      SetBookmarkFlag(buffer, bfCurrent);
      std::memset(buffer + bookmarkOffset_, 0, bufferSize_ - bookmarkOffset_);
      cursor_->GetBookmark(buffer + bookmarkOffset_);
      GetCalcFields(buffer);
      return grOK;
    case ec::BOF: return grBOF;
    case ec::EndOfFile: return grEOF;
    case ec::NoCurrentRecord: return grError;
    default:
      if (doCheck) RaiseCode(code);
      return grError;
  }
}

bool TTesselDataSet::GetCurrentRecord(uint8_t* buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  UpdateCursorPos();
  return cursor_->GetCurrent(buffer, false) == ec::OK;
}

void TTesselDataSet::InternalFirst() { cursor_->GotoFirst(); }

void TTesselDataSet::InternalLast() { cursor_->GotoLast(); }

void TTesselDataSet::InternalInitRecord(uint8_t* buffer) {
  cursor_->InitRecord(buffer);
  PutI32(buffer + infoOffset_, -1);
}

void TTesselDataSet::ClearCalcFields(uint8_t* buffer) {
  std::memset(buffer + calcOffset_, 0, infoOffset_ - calcOffset_);
}

void TTesselDataSet::InternalPost() {
  uint8_t* row = ActiveBuffer();
  if (State() == dsEdit) {
    cursor_->ModifyRecord(row, true, true);
  } else {
    cursor_->InsertRecord(row, true);
  }
  if (copyOnAppend_) {
    std::memcpy(copySource_.data(), cursor_->CurrentRecord(), copySource_.size());
    copySourceValid_ = true;
  }
  CloseUnboundBlobs(row);
}

void TTesselDataSet::CloseUnboundBlobs(uint8_t* row) {
  // BLOB fields with a field object are closed through it when the row
  // leaves edit or insert; the others (a copied BLOB no field shows) here.
  for (const TFieldDesc& desc : cursor_->Fields()) {
    if (desc.Type != tessel::ftBlob) continue;
    TField* field = Fields().FieldByNumber(desc.FieldNumber);
    if (field != nullptr && field->IsBlob() && field->FieldKind() == fkData) continue;
    if (GetI32(row + desc.RecordOffset + 1) < 0) cursor_->CloseBlob(desc.FieldNumber, row);
  }
}

void TTesselDataSet::InternalAddRecord(const uint8_t* buffer, bool /*append*/) {
  std::vector<uint8_t> image(buffer, buffer + recordSize_);
  cursor_->InsertRecord(image.data(), true);
}

void TTesselDataSet::InternalDelete() { cursor_->DeleteRecord(true); }

void TTesselDataSet::InternalEdit() {
  const uint16_t code = cursor_->GetCurrent(ActiveBuffer(), true);
  if (code != ec::OK) RaiseCode(code);
}

void TTesselDataSet::InternalCancel() {
  if (State() == dsEdit) cursor_->UnlockRecord(0);
  CloseUnboundBlobs(ActiveBuffer());
}

void TTesselDataSet::InternalRefresh() { cursor_->Refresh(); }

void TTesselDataSet::InternalHandleException(std::exception_ptr error) { ApplicationHandleException(error); }

// ---------------------------------------------------------------------------
// Bookmarks, record numbers and counts

void TTesselDataSet::GetBookmarkData(const uint8_t* buffer, uint8_t* data) {
  std::memcpy(data, buffer + bookmarkOffset_, static_cast<std::size_t>(BookmarkSize()));
}

void TTesselDataSet::SetBookmarkData(uint8_t* buffer, const uint8_t* data) {
  std::memcpy(buffer + bookmarkOffset_, data, static_cast<std::size_t>(BookmarkSize()));
}

TBookmarkFlag TTesselDataSet::GetBookmarkFlag(const uint8_t* buffer) {
  return static_cast<TBookmarkFlag>(buffer[infoOffset_ + 4]);
}

void TTesselDataSet::SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) { buffer[infoOffset_ + 4] = flag; }

void TTesselDataSet::InternalGotoBookmark(const uint8_t* bookmark) {
  if (!cursor_->GotoBookmark(bookmark, false)) DatabaseError(msg::RecordNotFound);
}

void TTesselDataSet::InternalSetToRecord(uint8_t* buffer) { InternalGotoBookmark(buffer + bookmarkOffset_); }

bool TTesselDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (cursor_ == nullptr || !Active()) return false;
  if (bookmark.size() != static_cast<std::size_t>(BookmarkSize())) return false;
  CursorPosChanged();
  return cursor_->GotoBookmark(reinterpret_cast<const uint8_t*>(bookmark.data()), false);
}

int TTesselDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return 1;
  if (b.empty()) return -1;
  if (cursor_ == nullptr || a.size() != b.size() ||
      a.size() != static_cast<std::size_t>(cursor_->BookmarkSize())) {
    return a == b ? 0 : (a < b ? -1 : 1);
  }
  return cursor_->CompareBookmarks(reinterpret_cast<const uint8_t*>(a.data()),
                                   reinterpret_cast<const uint8_t*>(b.data()));
}

int TTesselDataSet::GetRecordCount() {
  CheckActive();
  return cursor_->RecordCount();
}

int TTesselDataSet::GetRecNo() {
  CheckActive();
  const uint8_t* row = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (row == nullptr || (State() != dsCalcFields && IsEmpty())) return 0;
  return GetI32(row + infoOffset_);
}

void TTesselDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == RecNo()) return;
  DoBeforeScroll();
  cursor_->GotoRecordNumber(value);
  if (cursor_->Bof() || cursor_->Eof()) {
    // No record has that number: the record set stays where it was.
    CursorPosChanged();
    return;
  }
  Resync(rmCenter);
  DoAfterScroll();
}

void TTesselDataSet::DoBeforeScroll() {
  if (BeforeScroll) BeforeScroll(*this);
}

void TTesselDataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(*this);
}

// ---------------------------------------------------------------------------
// Field data

uint8_t* TTesselDataSet::StateRow() const {
  switch (State()) {
    case dsSetKey: return keyBuffers_.empty() ? nullptr : KeyRecord(keyIndex_);
    case dsOldValue: return scratch_.empty() ? nullptr : const_cast<uint8_t*>(scratch_.data());
    case dsFilter: return keyRow_ != nullptr ? keyRow_ : StateRecordBuffer();
    default: return StateRecordBuffer();
  }
}

bool TTesselDataSet::GetFieldData(TField& field, uint8_t* buffer) {
  uint8_t* row = StateRow();
  if (row == nullptr) return false;
  if (IsCalcField(field)) {
    const TDataSetState state = State();
    if (state != dsBrowse && state != dsEdit && state != dsInsert && state != dsCalcFields) return false;
    const uint8_t* place = row + calcOffset_ + static_cast<std::size_t>(field.Offset());
    if (place[0] == 0) return false;
    if (buffer != nullptr) std::memcpy(buffer, place + 1, static_cast<std::size_t>(field.DataSize()));
    return true;
  }
  if (field.FieldNo() <= 0) return false;
  // BLOB contents go through streams; only their null state is asked here.
  return !cursor_->GetFieldValue(field.FieldNo(), row, field.IsBlob() ? nullptr : buffer);
}

void TTesselDataSet::SetFieldData(TField& field, const uint8_t* buffer) {
  const TDataSetState state = State();
  if (state != dsEdit && state != dsInsert && state != dsSetKey && state != dsCalcFields &&
      state != dsFilter && state != dsNewValue && state != dsInternalCalc) {
    DatabaseError(msg::NotEditing);
  }
  if (state == dsSetKey &&
      (IsCalcField(field) ||
       (!indexFields_.empty() && std::find(indexFields_.begin(), indexFields_.end(), field.FieldNo()) ==
                                     indexFields_.end()))) {
    DatabaseErrorFmt(msg::NotIndexField, {field.DisplayName()});
  }
  uint8_t* row = StateRow();
  if (row == nullptr) DatabaseError(msg::NotEditing);
  if (IsCalcField(field)) {
    uint8_t* place = row + calcOffset_ + static_cast<std::size_t>(field.Offset());
    const std::size_t size = static_cast<std::size_t>(field.DataSize());
    place[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) {
      std::memcpy(place + 1, buffer, size);
    } else {
      std::memset(place + 1, 0, size);
    }
  } else {
    if (state == dsCalcFields) DatabaseError(msg::NotEditing);
    if (field.ReadOnly() && state != dsSetKey && state != dsFilter) {
      DatabaseErrorFmt(msg::FieldReadOnly, {field.DisplayName()});
    }
    field.Validate(buffer);
    if (field.FieldNo() <= 0) DatabaseErrorFmt(msg::FieldNotFound, {field.DisplayName()});
    cursor_->PutFieldValue(field.FieldNo(), row, buffer);
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&field));
  }
}

Variant TTesselDataSet::GetStateFieldValue(TDataSetState state, TField& field) {
  if (state == dsOldValue && cursor_ != nullptr && !scratch_.empty()) {
    // The old values: a blank record for a new one, otherwise the current
    // record as the table holds it.
    std::fill(scratch_.begin(), scratch_.end(), 0);
    if (State() != dsInsert && !IsEmpty()) {
      UpdateCursorPos();
      if (cursor_->GetCurrent(scratch_.data(), false) != ec::OK) cursor_->BlankRecord(scratch_.data());
    }
  }
  return TDataSet::GetStateFieldValue(state, field);
}

bool TTesselDataSet::GetIsIndexField(const TField& field) {
  return field.FieldNo() > 0 &&
         std::find(indexFields_.begin(), indexFields_.end(), field.FieldNo()) != indexFields_.end();
}

// ---------------------------------------------------------------------------
// New records copied from the current one

void TTesselDataSet::DataEvent(TDataEvent event, intptr_t info) {
  // The record a new row copies is the one active before the row was made:
  // remembered whenever the record set is about to leave browsing.
  if (event == deCheckBrowseMode && copyOnAppend_ && State() == dsBrowse && cursor_ != nullptr &&
      !copySource_.empty()) {
    copySourceValid_ = !IsEmpty() && GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
    if (copySourceValid_) std::memcpy(copySource_.data(), ActiveBuffer(), copySource_.size());
  }
  TDataSet::DataEvent(event, info);
}

void TTesselDataSet::DoOnNewRecord() {
  if (copyOnAppend_ && copySourceValid_) CopyCurrentInto(ActiveBuffer());
  TDataSet::DoOnNewRecord();
}

void TTesselDataSet::CopyCurrentInto(uint8_t* row) {
  std::vector<uint8_t> source = copySource_;
  std::vector<uint8_t> value(static_cast<std::size_t>(std::max(kMaxKeyLength, 256)), 0);
  for (const TFieldDesc& desc : cursor_->Fields()) {
    if (desc.IsAutoInc()) continue;
    const int number = desc.FieldNumber;
    if (desc.Type != tessel::ftBlob) {
      const bool isNull = cursor_->GetFieldValue(number, source.data(), value.data());
      cursor_->PutFieldValue(number, row, isNull ? nullptr : value.data());
      continue;
    }
    // A BLOB is copied by value: the new record gets a chain of its own.
    std::string contents;
    if (cursor_->OpenBlob(number, source.data(), kBlobOpenRead) == ec::OK) {
      uint32_t size = 0;
      cursor_->BlobSize(number, source.data(), &size);
      contents.resize(size);
      uint32_t read = 0;
      if (size > 0) cursor_->ReadBlob(number, source.data(), 0, size, contents.data(), &read);
      contents.resize(read);
      cursor_->CloseBlob(number, source.data());
    }
    cursor_->PutFieldValue(number, row, nullptr);
    if (contents.empty()) continue;
    const uint16_t code = cursor_->OpenBlob(number, row, kBlobOpenReadWrite);
    if (code != ec::OK) RaiseCode(code);
    const uint16_t written =
        cursor_->WriteBlob(number, row, 0, static_cast<uint32_t>(contents.size()), contents.data());
    if (written != ec::OK) RaiseCode(written);
    if (TField* field = Fields().FieldByNumber(number)) {
      if (field->IsBlob()) static_cast<TBlobField*>(field)->SetModified(true);
    }
  }
}

// ---------------------------------------------------------------------------
// BLOBs

std::unique_ptr<TStream> TTesselDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  if (!field.IsBlob()) return TDataSet::CreateBlobStream(field, mode);
  return std::make_unique<TTesselBlobStream>(*this, static_cast<TBlobField&>(field), mode);
}

void TTesselDataSet::CloseBlob(TField& field) {
  uint8_t* row = ActiveBuffer();
  if (cursor_ == nullptr || row == nullptr || field.FieldNo() <= 0) return;
  const TFieldDesc& desc = cursor_->Field(field.FieldNo());
  if (desc.Type != tessel::ftBlob) return;
  // Only a field holding a buffer's handle has anything attached.
  if (GetI32(row + desc.RecordOffset + 1) < 0) cursor_->CloseBlob(field.FieldNo(), row);
}

// ---------------------------------------------------------------------------
// Filters

void TTesselDataSet::CreateFilters() {
  if (!Filter().empty()) {
    tessel::TFilterOptions options;
    options.CaseInsensitive = (FilterOptions() & foCaseInsensitive) != 0;
    options.TrailingStarPrefix = (FilterOptions() & foNoPartialCompare) == 0;
    exprFilter_ = cursor_->AddFilter(TExpressionFilter::Parse(*cursor_, Filter(), options));
  }
  if (OnFilterRecord()) {
    funcFilter_ = cursor_->AddFilter(std::make_unique<TCallbackFilter>([this](const uint8_t* image) {
      std::memcpy(filterRow_.data(), image, static_cast<std::size_t>(recordSize_));
      return RecordFilter(filterRow_.data());
    }));
  }
}

void TTesselDataSet::DropFilters() {
  if (cursor_ == nullptr) return;
  if (exprFilter_ != nullptr) cursor_->DropFilter(exprFilter_);
  if (funcFilter_ != nullptr) cursor_->DropFilter(funcFilter_);
  exprFilter_ = funcFilter_ = nullptr;
}

void TTesselDataSet::ActivateFilters() {
  if (exprFilter_ != nullptr) cursor_->ActivateFilter(exprFilter_);
  if (funcFilter_ != nullptr) cursor_->ActivateFilter(funcFilter_);
}

void TTesselDataSet::DeactivateFilters() {
  if (exprFilter_ != nullptr) cursor_->DeactivateFilter(exprFilter_);
  if (funcFilter_ != nullptr) cursor_->DeactivateFilter(funcFilter_);
}

void TTesselDataSet::SetFiltered(bool value) {
  if (!Active()) {
    TDataSet::SetFiltered(value);
    return;
  }
  CheckBrowseMode();
  if (value == Filtered()) return;
  if (value) {
    ActivateFilters();
  } else {
    DeactivateFilters();
  }
  TDataSet::SetFiltered(value);
  First();
}

void TTesselDataSet::SetFilterText(const std::string& text) {
  if (!Active()) {
    TDataSet::SetFilterText(text);
    return;
  }
  CheckBrowseMode();
  if (text == Filter()) return;
  // The new filter is made first, so that a text that does not parse leaves
  // the old one in force.
  TFilter* replacement = nullptr;
  if (!text.empty()) {
    tessel::TFilterOptions options;
    options.CaseInsensitive = (FilterOptions() & foCaseInsensitive) != 0;
    options.TrailingStarPrefix = (FilterOptions() & foNoPartialCompare) == 0;
    replacement = cursor_->AddFilter(TExpressionFilter::Parse(*cursor_, text, options));
  }
  if (exprFilter_ != nullptr) cursor_->DropFilter(exprFilter_);
  exprFilter_ = replacement;
  TDataSet::SetFilterText(text);
  if (Filtered()) {
    if (exprFilter_ != nullptr) cursor_->ActivateFilter(exprFilter_);
    First();
  }
}

void TTesselDataSet::SetFilterOptions(dataset::TFilterOptions options) {
  if (!Active() || options == FilterOptions()) {
    TDataSet::SetFilterOptions(options);
    return;
  }
  CheckBrowseMode();
  TDataSet::SetFilterOptions(options);
  if (exprFilter_ != nullptr) {
    cursor_->DropFilter(exprFilter_);
    exprFilter_ = nullptr;
    tessel::TFilterOptions engineOptions;
    engineOptions.CaseInsensitive = (options & foCaseInsensitive) != 0;
    engineOptions.TrailingStarPrefix = (options & foNoPartialCompare) == 0;
    exprFilter_ = cursor_->AddFilter(TExpressionFilter::Parse(*cursor_, Filter(), engineOptions));
    if (Filtered()) cursor_->ActivateFilter(exprFilter_);
  }
  if (Filtered()) First();
}

void TTesselDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  const bool had = static_cast<bool>(OnFilterRecord());
  TDataSet::SetOnFilterRecord(std::move(handler));
  if (!Active()) return;
  CheckBrowseMode();
  const bool has = static_cast<bool>(OnFilterRecord());
  if (had && !has && funcFilter_ != nullptr) {
    cursor_->DropFilter(funcFilter_);
    funcFilter_ = nullptr;
  } else if (!had && has) {
    funcFilter_ = cursor_->AddFilter(std::make_unique<TCallbackFilter>([this](const uint8_t* image) {
      std::memcpy(filterRow_.data(), image, static_cast<std::size_t>(recordSize_));
      return RecordFilter(filterRow_.data());
    }));
    if (Filtered()) cursor_->ActivateFilter(funcFilter_);
  } else if (has && Filtered() && funcFilter_ != nullptr) {
    // Another handler: the records it accepts are evaluated again.
    cursor_->DeactivateFilter(funcFilter_);
    cursor_->ActivateFilter(funcFilter_);
  }
  if (Filtered()) First();
}

bool TTesselDataSet::FindRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  UpdateCursorPos();
  CursorPosChanged();
  const bool filtersOff = !Filtered();
  const std::vector<uint8_t> start = cursor_->Bookmark();
  const bool startBof = cursor_->Bof(), startEof = cursor_->Eof();
  if (filtersOff) ActivateFilters();
  uint16_t code = ec::NoCurrentRecord;
  std::vector<uint8_t> found;
  try {
    if (restart) {
      if (goForward) {
        cursor_->GotoFirst();
        code = cursor_->GetNext(nullptr);
      } else {
        cursor_->GotoLast();
        code = cursor_->GetPrior(nullptr);
      }
    } else if (startBof || startEof) {
      code = goForward ? cursor_->GetNext(nullptr) : cursor_->GetPrior(nullptr);
    } else {
      // Activating the filters keeps the cursor on the record it stood on
      // when that record passes, else on the next one that does.
      cursor_->GotoBookmark(start.data(), true);
      const bool onStart = cursor_->CompareBookmarks(cursor_->Bookmark().data(), start.data()) == 0;
      if (goForward) {
        code = onStart ? cursor_->GetNext(nullptr) : cursor_->GetCurrent(nullptr, false);
      } else {
        code = cursor_->GetPrior(nullptr);
      }
    }
    if (code == ec::OK) found = cursor_->Bookmark();
  } catch (...) {
    if (filtersOff) DeactivateFilters();
    throw;
  }
  if (filtersOff) DeactivateFilters();
  if (code != ec::OK) return false;
  cursor_->GotoBookmark(found.data(), false);
  Resync(rmExact | rmCenter);
  DoAfterScroll();
  return true;
}

// ---------------------------------------------------------------------------
// Locate and Lookup

void TTesselDataSet::CloseLookupCursor() {
  lookupCached_ = false;
  lookupFields_.clear();
  if (lookupCursor_ == nullptr) return;
  std::unique_ptr<TDataCursor> cursor = std::move(lookupCursor_);
  cursor->Close();
}

TDataCursor* TTesselDataSet::OpenLookupCursor(const std::string& keyFields, bool caseInsensitive) {
  if (lookupCached_ && lookupFields_ == keyFields && lookupCaseInsensitive_ == caseInsensitive) {
    if (lookupCursor_ != nullptr && lookupCursor_->CountersChanged()) lookupCursor_->Reposition();
    return lookupCursor_.get();
  }
  CloseLookupCursor();
  lookupFields_ = keyFields;
  lookupCaseInsensitive_ = caseInsensitive;
  lookupCached_ = true;
  // A clone shares the table, which an exclusive cursor cannot; and a clone
  // would search outside the record set's range.
  if (cursor_->Exclusive() || cursor_->RangeActive()) return nullptr;
  std::optional<TCursorIndexInfo> index = cursor_->FindIndexForFields(keyFields, caseInsensitive);
  if (!index || index->CaseInsensitive != caseInsensitive) return nullptr;
  std::unique_ptr<TDataCursor> clone = cursor_->Clone();
  clone->SelectIndex(index->Name);
  lookupCursor_ = std::move(clone);
  return lookupCursor_.get();
}

std::string TTesselDataSet::FieldKeyText(int fieldNumber, const uint8_t* image) const {
  const TFieldDesc& desc = cursor_->Field(fieldNumber);
  uint8_t value[16] = {};
  switch (desc.Type) {
    case tessel::ftFloat: {
      cursor_->GetFieldValue(fieldNumber, image, value);
      char text[40];
      std::snprintf(text, sizeof text, "%.17g", GetF64(value));
      return text;
    }
    case tessel::ftTime:
      cursor_->GetFieldValue(fieldNumber, image, value);
      return MillisecondsText(GetI32(value));
    case tessel::ftTimeStamp: {
      cursor_->GetFieldValue(fieldNumber, image, value);
      const auto total = static_cast<int64_t>(std::floor(GetF64(value)));
      return DayNumberText(static_cast<int32_t>(total / kMillisecondsPerDay)) + " " +
             MillisecondsText(total % kMillisecondsPerDay);
    }
    case tessel::ftBoolean:
      cursor_->GetFieldValue(fieldNumber, image, value);
      return GetU16(value) != 0 ? "TRUE" : "FALSE";
    default:
      return FieldValueText(*cursor_, fieldNumber, image).value_or(std::string());
  }
}

bool TTesselDataSet::SearchWithFilter(const std::vector<TField*>& fields, TLocateOptions options,
                                      uint8_t* buffer) {
  // The key row holds the values as the fields store them; the filter
  // compares each field with that stored value.
  std::vector<TExpressionFilter::TTerm> terms;
  for (TField* field : fields) {
    TExpressionFilter::TTerm term;
    term.FieldNumber = field->FieldNo();
    if (!cursor_->GetFieldValue(term.FieldNumber, buffer, nullptr)) {
      term.Value = FieldKeyText(term.FieldNumber, buffer);
    }
    terms.push_back(std::move(term));
  }
  tessel::TFilterOptions filterOptions;
  filterOptions.CaseInsensitive = (options & loCaseInsensitive) != 0;
  filterOptions.PartialKey = (options & loPartialKey) != 0;
  cursor_->GotoFirst();
  TFilter* filter =
      cursor_->AddFilter(std::make_unique<TExpressionFilter>(std::move(terms), filterOptions));
  uint16_t code = ec::EndOfFile;
  try {
    cursor_->ActivateFilter(filter);
    code = cursor_->GetNext(buffer);
  } catch (...) {
    try {
      cursor_->DropFilter(filter);
    } catch (...) {
    }
    throw;
  }
  // Dropping the filter keeps the cursor on the record found.
  cursor_->DropFilter(filter);
  return code == ec::OK;
}

bool TTesselDataSet::LocateRecord(const std::string& keyFields, const Variant& keyValues,
                                  TLocateOptions options, bool syncCursor) {
  CheckBrowseMode();
  CursorPosChanged();
  uint8_t* buffer = TempBuffer();
  std::vector<TField*> fields;
  GetFieldList(fields, keyFields);
  if (fields.empty()) DatabaseErrorFmt(msg::FieldNotFound, {keyFields});
  for (TField* field : fields) {
    if (field->FieldNo() <= 0 || IsCalcField(*field)) DatabaseErrorFmt(msg::FieldNotFound, {field->DisplayName()});
  }
  const bool caseInsensitive = (options & loCaseInsensitive) != 0;

  // The record set's own cursor serves when its index begins with exactly
  // these fields and compares letters as asked.
  bool mapsToIndex = !fields.empty() && fields.size() <= indexFields_.size() &&
                     cursor_->IndexCaseInsensitive() == caseInsensitive;
  for (std::size_t i = 0; mapsToIndex && i < fields.size(); ++i) {
    mapsToIndex = indexFields_[i] == fields[i]->FieldNo();
  }
  TDataCursor* search = mapsToIndex ? cursor_.get() : OpenLookupCursor(keyFields, caseInsensitive);

  // The key row: a blank record with the key values stored by the fields.
  int fieldCount = static_cast<int>(fields.size());
  int partialLength = 0;
  {
    std::memset(buffer, 0, bufferSize_);
    cursor_->BlankRecord(buffer);
    TDataSetState saved = SetTempState(dsFilter);
    keyRow_ = buffer;
    struct Restore {
      TTesselDataSet& self;
      TDataSetState state;
      ~Restore() {
        self.keyRow_ = nullptr;
        self.RestoreState(state);
      }
    } restore{*this, saved};
    if (fields.size() == 1) {
      fields[0]->SetValue(keyValues.IsArray() && keyValues.Count() == 1 ? keyValues[0] : keyValues);
    } else {
      if (!keyValues.IsArray() || keyValues.Count() != fields.size()) throw EVariantError(msg::InvalidVarCast);
      for (std::size_t i = 0; i < fields.size(); ++i) fields[i]->SetValue(keyValues[i]);
    }
    if ((options & loPartialKey) && fields.back()->DataType() == dataset::ftString) {
      --fieldCount;
      partialLength = static_cast<int>(fields.back()->AsString().size());
    }
  }

  // The cursor cannot take a partial first field of an index with more
  // fields (a field count of 0 means all of them): such a search filters.
  if (search != nullptr && partialLength > 0 && fieldCount == 0 &&
      search->CurrentIndexFields().size() > 1) {
    search = nullptr;
  }

  if (search == nullptr) return SearchWithFilter(fields, options, buffer);

  std::vector<uint8_t> key(buffer, buffer + recordSize_);
  const bool found = search->FindKey(key.data(), false, fieldCount, partialLength, false, buffer);
  if (found && syncCursor && search != cursor_.get()) {
    const uint16_t code = cursor_->GotoSameRecord(*search);
    if (code != ec::OK) RaiseCode(code);
  }
  return found;
}

bool TTesselDataSet::Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options) {
  CheckBrowseMode();
  DoBeforeScroll();
  const bool found = LocateRecord(keyFields, keyValues, options, true);
  if (found) {
    Resync(rmExact | rmCenter);
    DoAfterScroll();
  }
  return found;
}

Variant TTesselDataSet::Lookup(const std::string& keyFields, const Variant& keyValues,
                               const std::string& resultFields) {
  CheckBrowseMode();
  if (!LocateRecord(keyFields, keyValues, 0, false)) return Variant::Null();
  uint8_t* buffer = TempBuffer();
  CalculateFields(buffer);
  TDataSetState saved = SetTempState(dsCalcFields);
  struct Restore {
    TTesselDataSet& self;
    TDataSetState state;
    ~Restore() { self.RestoreState(state); }
  } restore{*this, saved};
  return FieldValues(resultFields);
}

// ---------------------------------------------------------------------------
// Key buffers

uint8_t* TTesselDataSet::KeyBuffer(TKeyIndex index) const {
  return const_cast<uint8_t*>(keyBuffers_.at(static_cast<std::size_t>(index)).data());
}

int32_t TTesselDataSet::KeyFieldCountOf(TKeyIndex index) const { return GetI32(KeyBuffer(index) + 4); }

void TTesselDataSet::SetKeyFieldCountOf(TKeyIndex index, int32_t count) { PutI32(KeyBuffer(index) + 4, count); }

void TTesselDataSet::InitKeyBuffer(TKeyIndex index) {
  std::vector<uint8_t>& buffer = keyBuffers_.at(static_cast<std::size_t>(index));
  std::fill(buffer.begin(), buffer.end(), 0);
}

void TTesselDataSet::CopyKeyBuffer(TKeyIndex from, TKeyIndex to) {
  keyBuffers_.at(static_cast<std::size_t>(to)) = keyBuffers_.at(static_cast<std::size_t>(from));
}

bool TTesselDataSet::KeyBuffersEqual(TKeyIndex a, TKeyIndex b) const {
  return keyBuffers_.at(static_cast<std::size_t>(a)) == keyBuffers_.at(static_cast<std::size_t>(b));
}

void TTesselDataSet::SetKeyBuffer(TKeyIndex index, bool clear) {
  CheckBrowseMode();
  keyIndex_ = index;
  CopyKeyBuffer(index, kiSave);
  if (clear) InitKeyBuffer(index);
  SetState(dsSetKey);
  SetModified(KeyModified(index));
  DataEvent(deDataSetChange, 0);
}

void TTesselDataSet::PostKeyBuffer(bool commit) {
  DataEvent(deCheckBrowseMode, 0);
  if (commit) {
    KeyBuffer(keyIndex_)[0] = Modified() ? 1 : 0;
  } else {
    CopyKeyBuffer(kiSave, keyIndex_);
  }
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
}

}  // namespace tessel

namespace tessel {

// ---------------------------------------------------------------------------
// TTesselDBDataSet

TTesselDBDataSet::TTesselDBDataSet(TComponentOwner* owner) : TSessionBoundComponent(owner) {}

TTesselDBDataSet::~TTesselDBDataSet() {
  try {
    Close();
  } catch (...) {
    ApplicationHandleException(std::current_exception());
  }
}

void TTesselDBDataSet::SetDatabaseName(const std::string& value) {
  if (value == databaseName_) return;
  CheckInactive();
  if (use_.Database() != nullptr && use_.Database()->Connected()) DatabaseError(msg::DatabaseOpen);
  databaseName_ = value;
  DataEvent(dePropertyChange, 0);
}

void TTesselDBDataSet::SetSessionName(const std::string& value) {
  if (value == sessionName_) return;
  CheckInactive();
  sessionName_ = value;
  DataEvent(dePropertyChange, 0);
}

void TTesselDBDataSet::SetDatabaseFlag(int flag, bool on) {
  use_.SetFlag(flag, on, SessionName(), databaseName_, Owner());
}

void TTesselDBDataSet::CloseForDatabase() { Close(); }

void TTesselDBDataSet::OpenCursor(bool infoQuery) {
  SetDatabaseFlag(TDatabaseUse::dbfOpened, true);
  try {
    TTesselDataSet::OpenCursor(infoQuery);
  } catch (...) {
    try {
      SetDatabaseFlag(TDatabaseUse::dbfOpened, false);
    } catch (...) {
    }
    throw;
  }
}

void TTesselDBDataSet::CloseCursor() {
  std::exception_ptr failure;
  try {
    TTesselDataSet::CloseCursor();
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    SetDatabaseFlag(TDatabaseUse::dbfOpened, false);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tessel
