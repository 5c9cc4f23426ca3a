#include "dataset/DataSet.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "dataset/DataSetMessages.h"
#include "dataset/DataSource.h"
#include "dataset/FieldKinds.h"
#include "dataset/TextConvert.h"

namespace dataset {

namespace {

// Runs a function when the scope ends, also on an exception. While an
// exception is already on its way out, a second one from the function is
// dropped so that the first one reaches the caller.
template <class F>
class TFinally {
 public:
  explicit TFinally(F f) : f_(std::move(f)), exceptions_(std::uncaught_exceptions()) {}
  ~TFinally() noexcept(false) {
    if (std::uncaught_exceptions() > exceptions_) {
      try {
        f_();
      } catch (...) {
      }
    } else {
      f_();
    }
  }

 private:
  F f_;
  int exceptions_;
};

bool IsStringType(TFieldType type) {
  return type == ftString || type == ftFixedChar || type == ftWideString || type == ftMemo ||
         type == ftFmtMemo;
}

// Field types whose values share one encoding and so may be bound to each
// other's definitions.
int CompatibilityClass(TFieldType type) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString: return 1000;
    case ftInteger:
    case ftAutoInc: return 1001;
    case ftFloat:
    case ftCurrency: return 1002;
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary: return 1003;
    default: return static_cast<int>(type);
  }
}

bool HasSizeToMatch(TFieldType type) {
  return type == ftString || type == ftFixedChar || type == ftWideString || type == ftBytes ||
         type == ftVarBytes || type == ftBCD;
}

}  // namespace

TDataSet::TDataSet() : fieldDefs_(*this) {}

TDataSet::~TDataSet() {
  // A descendant closes itself in its own destructor; by now its part is
  // gone, so nothing virtual may run. The links are told the record set is
  // inactive, and what the base class owns is released.
  state_ = dsInactive;
  while (!dataSources_.empty()) {
    TDataSource* source = dataSources_.back();
    dataSources_.pop_back();
    source->dataSet_ = nullptr;
    source->DataEvent(deUpdateState, 0);
  }
  fields_.list_.clear();
  for (auto& field : ownedFields_) field->dataSet_ = nullptr;
  ownedFields_.clear();
  buffers_.clear();
}

// ---- Opening and closing

void TDataSet::SetActive(bool active) {
  if (Active() == active) return;
  if (active) {
    Fire(BeforeOpen);
    try {
      OpenCursor(false);
    } catch (...) {
      try {
        CloseCursor();
      } catch (...) {
        InternalHandleException(std::current_exception());
      }
      throw;
    }
    SetState(dsBrowse);
    Fire(AfterOpen);
    if (!IsEmpty()) Fire(AfterScroll);
  } else {
    Fire(BeforeClose);
    SetState(dsInactive);
    CloseCursor();
    Fire(AfterClose);
  }
}

void TDataSet::OpenCursor(bool infoQuery) {
  if (infoQuery) {
    InternalInitFieldDefs();
  } else {
    DoInternalOpen();
  }
}

void TDataSet::DoInternalOpen() {
  defaultFields_ = fields_.Count() == 0;
  InternalOpen();
  internalOpenComplete_ = true;
  ClearBuffers();
  UpdateBufferCount();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  if (internalOpenComplete_) FreeFieldBuffers();
  internalOpenComplete_ = false;
  ClearBuffers();
  for (auto& buffer : buffers_) FreeRecordBuffer(buffer);
  buffers_.clear();
  bufferCount_ = 0;
  calcBuffer_ = filterBuffer_ = nullptr;
  InternalClose();
  BindFields(false);
  if (defaultFields_) DestroyFields();
  defaultFields_ = false;
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  try {
    OpenCursor(true);
  } catch (...) {
    CloseCursor();
    throw;
  }
  CloseCursor();
}

// ---- States and notifications

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  TDataSetState old = state_;
  state_ = value;
  ++disableCount_;
  return old;
}

void TDataSet::RestoreState(TDataSetState value) {
  state_ = value;
  --disableCount_;
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  bool notify = !(ControlsDisabled() || state_ == dsBlockRead);
  switch (event) {
    case deFieldChange: {
      TField* field = reinterpret_cast<TField*>(info);
      if (field != nullptr &&
          (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc)) {
        SetModified(true);
      }
      UpdateCalcFields();
      if (field != nullptr && field->OnChange) field->OnChange(*field);
      break;
    }
    case dePropertyChange:
      fieldDefs_.SetUpdated(false);
      break;
    default:
      break;
  }
  if (notify) {
    std::vector<TDataSource*> sources = dataSources_;
    for (TDataSource* source : sources) {
      if (std::find(dataSources_.begin(), dataSources_.end(), source) != dataSources_.end()) {
        source->DataEvent(event, info);
      }
    }
  } else if ((event == deUpdateState && state_ == dsInactive) || event == deLayoutChange) {
    enableEvent_ = deLayoutChange;
  }
}

void TDataSet::DisableControls() {
  if (disableCount_ == 0) {
    disableState_ = state_;
    enableEvent_ = deDataSetChange;
  }
  ++disableCount_;
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ != 0) return;
  if (disableState_ != state_) DataEvent(deUpdateState, 0);
  if (disableState_ != dsInactive && state_ != dsInactive) DataEvent(enableEvent_, 0);
}

void TDataSet::AddDataSource(TDataSource* source) {
  dataSources_.push_back(source);
  source->dataSet_ = this;
  UpdateBufferCount();
  source->DataEvent(deUpdateState, 0);
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  source->dataSet_ = nullptr;
  dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source),
                     dataSources_.end());
  source->DataEvent(deUpdateState, 0);
  UpdateBufferCount();
}

// ---- The window of buffered records

uint8_t* TDataSet::BufferAt(int index) const {
  if (index < 0 || index >= static_cast<int>(buffers_.size())) return nullptr;
  return buffers_[static_cast<std::size_t>(index)].get();
}

void TDataSet::UpdateBufferCount() {
  if (!internalOpenComplete_ || !IsCursorOpen()) return;
  int maxCount = 1;
  for (TDataSource* source : dataSources_) {
    for (TDataLink* link : source->dataLinks_) maxCount = std::max(maxCount, link->bufferCount_);
  }
  SetBufferCount(maxCount);
}

void TDataSet::SetBufferCount(int value) {
  if (bufferCount_ == value) return;
  auto adjustFirstRecord = [this](int delta) {
    if (delta == 0) return;
    for (TDataSource* source : dataSources_) {
      for (TDataLink* link : source->dataLinks_) {
        if (link->active_) link->firstRecord_ += delta;
      }
    }
  };
  if (bufferCount_ > value && recordCount_ > 0) {
    // Keep the records the links still show, starting at the first of them.
    int delta = activeRecord_;
    for (TDataSource* source : dataSources_) {
      for (TDataLink* link : source->dataLinks_) {
        if (link->active_ && link->firstRecord_ < delta) delta = link->firstRecord_;
      }
    }
    for (int i = 0; i < value; ++i) MoveBuffer(i + delta, i);
    activeRecord_ -= delta;
    if (currentRecord_ != -1) {
      currentRecord_ -= delta;
      if (currentRecord_ < 0 || currentRecord_ >= value) currentRecord_ = -1;
    }
    recordCount_ = std::min(recordCount_ - delta, value);
    adjustFirstRecord(-delta);
  }
  std::size_t wanted = static_cast<std::size_t>(value) + 1;
  while (buffers_.size() < wanted) buffers_.push_back(AllocRecordBuffer());
  while (buffers_.size() > wanted) {
    FreeRecordBuffer(buffers_.back());
    buffers_.pop_back();
  }
  bufferCount_ = value;
  GetNextRecords();
  adjustFirstRecord(GetPriorRecords());
}

void TDataSet::MoveBuffer(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  auto base = buffers_.begin();
  if (curIndex < newIndex) {
    std::rotate(base + curIndex, base + curIndex + 1, base + newIndex + 1);
  } else {
    std::rotate(base + newIndex, base + curIndex, base + curIndex + 1);
  }
}

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  recordCount_ = 1;
  activeRecord_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::SetCurrentRecord(int index) {
  if (currentRecord_ == index) return;
  uint8_t* buffer = BufferAt(index);
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (recordCount_ > 0) {
    SetCurrentRecord(recordCount_ - 1);
    // A row being inserted at the end of the window stands before the
    // record its bookmark names: that record comes next.
    if (state_ == dsInsert && currentRecord_ == activeRecord_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfInserted) {
      mode = gmCurrent;
    }
  }
  bool ok = GetRecord(BufferAt(recordCount_), mode, true) == grOK;
  if (ok) {
    if (recordCount_ == 0) {
      ActivateBuffers();
    } else if (recordCount_ < bufferCount_) {
      ++recordCount_;
    } else {
      MoveBuffer(0, recordCount_);
    }
    currentRecord_ = recordCount_ - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  bool ok = GetRecord(BufferAt(recordCount_), gmPrior, true) == grOK;
  if (ok) {
    if (recordCount_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(recordCount_, 0);
      if (recordCount_ < bufferCount_) {
        ++recordCount_;
        ++activeRecord_;
      }
    }
    currentRecord_ = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

int TDataSet::GetNextRecords() {
  int count = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++count;
  return count;
}

int TDataSet::GetPriorRecords() {
  int count = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++count;
  return count;
}

void TDataSet::Resync(unsigned modes) {
  if (modes & rmExact) {
    CursorPosChanged();
    if (GetRecord(TempBuffer(), gmCurrent, true) != grOK) DatabaseError(msg::RecordNotFound);
  } else if (GetRecord(TempBuffer(), gmCurrent, false) != grOK &&
             GetRecord(TempBuffer(), gmNext, false) != grOK &&
             GetRecord(TempBuffer(), gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int count = (modes & rmCenter) ? (bufferCount_ - 1) / 2 : activeRecord_;
  MoveBuffer(recordCount_, 0);
  ActivateBuffers();
  currentRecord_ = 0;
  TFinally notify([this] { DataEvent(deDataSetChange, 0); });
  while (count > 0 && GetPriorRecord()) --count;
  GetNextRecords();
  GetPriorRecords();
}

// ---- Checks

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError(msg::DataSetClosed);
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError(msg::DataSetOpen);
}

void TDataSet::CheckCanModify() {
  if (!CanModify()) DatabaseError(msg::DataSetReadOnly);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_) {
        Post();
      } else {
        Cancel();
      }
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::UpdateRecord() {
  if (!IsEditMode(state_)) DatabaseError(msg::NotEditing);
  DataEvent(deUpdateRecord, 0);
}

// ---- Navigation

void TDataSet::First() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  ClearBuffers();
  TFinally done([this] {
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    Fire(AfterScroll);
  });
  InternalFirst();
  GetNextRecord();
  GetNextRecords();
}

void TDataSet::Last() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  ClearBuffers();
  TFinally done([this] {
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    Fire(AfterScroll);
  });
  InternalLast();
  GetPriorRecord();
  GetPriorRecords();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int result = 0;
  Fire(BeforeScroll);
  if (!((distance > 0 && !eof_) || (distance < 0 && !bof_))) return result;
  bof_ = false;
  eof_ = false;
  int oldRecordCount = recordCount_;
  // How far the buffers shifted: negative when records left at the front.
  int scrollCount = 0;
  TFinally done([&] {
    if (recordCount_ != oldRecordCount) {
      DataEvent(deDataSetChange, 0);
    } else {
      DataEvent(deDataSetScroll, scrollCount);
    }
    Fire(AfterScroll);
  });
  while (distance > 0) {
    if (activeRecord_ < recordCount_ - 1) {
      ++activeRecord_;
    } else {
      int shift = recordCount_ < bufferCount_ ? 0 : 1;
      if (!GetNextRecord()) {
        eof_ = true;
        break;
      }
      scrollCount -= shift;
      activeRecord_ = recordCount_ - 1;
    }
    --distance;
    ++result;
  }
  while (distance < 0) {
    if (activeRecord_ > 0) {
      --activeRecord_;
    } else {
      int shift = recordCount_ < bufferCount_ ? 0 : 1;
      if (!GetPriorRecord()) {
        bof_ = true;
        break;
      }
      scrollCount += shift;
      activeRecord_ = 0;
    }
    ++distance;
    --result;
  }
  return result;
}

void TDataSet::SetRecNo(int /*value*/) {}

int TDataSet::RecordCount() {
  CheckActive();
  return GetRecordCount();
}

// ---- Editing

void TDataSet::InitRecord(uint8_t* buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::DoOnNewRecord() { Fire(OnNewRecord); }

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert);
  Fire(BeforeScroll);
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(0);
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  Fire(AfterInsert);
  Fire(AfterScroll);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmark oldCurrent = GetBookmark();
  MoveBuffer(recordCount_, activeRecord_);
  CursorPosChanged();
  uint8_t* buffer = ActiveBuffer();
  InitRecord(buffer);
  if (recordCount_ == 0 || oldCurrent.size() != static_cast<std::size_t>(bookmarkSize_)) {
    SetBookmarkFlag(buffer, bfBOF);
  } else {
    SetBookmarkData(buffer, reinterpret_cast<const uint8_t*>(oldCurrent.data()));
  }
  if (recordCount_ < bufferCount_) ++recordCount_;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  uint8_t* buffer = BufferAt(0);
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  recordCount_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit);
  UpdateCursorPos();
  InternalEdit();
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  Fire(AfterEdit);
}

void TDataSet::CheckRequiredFields() {
  for (TField* field : fields_) {
    // An auto-increment value is given by the store when the record is
    // written, so it is never missing here.
    if (field->Required() && !field->ReadOnly() && field->FieldKind() == fkData &&
        field->DataType() != ftAutoInc && field->IsNull()) {
      field->FocusControl();
      DatabaseErrorFmt(msg::FieldRequired, {field->DisplayName()});
    }
  }
}

void TDataSet::Post() {
  UpdateRecord();
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  CheckRequiredFields();
  Fire(BeforePost);
  // An edit writes the cursor's record; an insert needs no position.
  if (state_ == dsEdit) UpdateCursorPos();
  InternalPost();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterPost);
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  Fire(BeforeCancel);
  bool scrollEvents = state_ == dsInsert;
  if (scrollEvents) Fire(BeforeScroll);
  UpdateCursorPos();
  InternalCancel();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(0);
  if (scrollEvents) Fire(AfterScroll);
  Fire(AfterCancel);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (recordCount_ == 0) DatabaseError(msg::DataSetEmpty);
  CheckCanModify();
  DataEvent(deCheckBrowseMode, 0);
  Fire(BeforeDelete);
  Fire(BeforeScroll);
  UpdateCursorPos();
  InternalDelete();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterDelete);
  Fire(AfterScroll);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  Fire(BeforeRefresh);
  UpdateCursorPos();
  InternalRefresh();
  Resync(0);
  Fire(AfterRefresh);
}

void TDataSet::FreeFieldBuffers() {
  for (TField* field : fields_) field->FreeBuffers();
}

// ---- Bookmarks

bool TDataSet::BookmarkAvailable() {
  return (state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && !IsEmpty() &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  if (!BookmarkAvailable()) return {};
  TBookmark bookmark(static_cast<std::size_t>(bookmarkSize_), '\0');
  GetBookmarkData(ActiveBuffer(), reinterpret_cast<uint8_t*>(bookmark.data()));
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  if (bookmark.size() != static_cast<std::size_t>(bookmarkSize_)) {
    DatabaseError(msg::RecordNotFound);
  }
  Fire(BeforeScroll);
  InternalGotoBookmark(reinterpret_cast<const uint8_t*>(bookmark.data()));
  Resync(rmExact | rmCenter);
  Fire(AfterScroll);
}

bool TDataSet::BookmarkValid(const TBookmark& /*bookmark*/) { return false; }

int TDataSet::CompareBookmarks(const TBookmark& /*a*/, const TBookmark& /*b*/) { return 0; }

// ---- Searching

bool TDataSet::LocateRecord(const std::string& keyFields, const Variant& keyValues,
                            TLocateOptions options, uint8_t* buffer) {
  std::vector<TField*> fields;
  GetFieldList(fields, keyFields);
  std::vector<Variant> keys;
  if (fields.size() == 1) {
    keys.push_back(keyValues.IsArray() && keyValues.Count() == 1 ? keyValues[0] : keyValues);
  } else {
    if (!keyValues.IsArray() || keyValues.Count() != fields.size()) {
      throw EVariantError(msg::InvalidVarCast);
    }
    keys = keyValues.Items();
  }
  // Prepared string keys: partial keys lose a trailing '*'.
  std::vector<std::string> keyTexts(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (!keys[i].IsClear() && IsStringType(fields[i]->DataType())) {
      keyTexts[i] = keys[i].ToString();
      if ((options & loPartialKey) && !keyTexts[i].empty() && keyTexts[i].back() == '*') {
        keyTexts[i].pop_back();
      }
    }
  }
  auto matches = [&] {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      TField& field = *fields[i];
      if (keys[i].IsClear()) {
        if (!field.IsNull()) return false;
        continue;
      }
      if (field.IsNull()) return false;
      if (IsStringType(field.DataType())) {
        std::string value = field.AsString();
        const std::string& key = keyTexts[i];
        if (options & loPartialKey) {
          if (value.size() < key.size()) return false;
          value.resize(key.size());
        }
        if ((options & loCaseInsensitive) ? !AnsiSameText(value, key) : value != key) {
          return false;
        }
      } else if (!(field.Value() == keys[i])) {
        return false;
      }
    }
    return true;
  };

  CursorPosChanged();
  TDataSetState saved = SetTempState(dsFilter);
  uint8_t* savedFilter = filterBuffer_;
  filterBuffer_ = buffer;
  TFinally restore([&] {
    filterBuffer_ = savedFilter;
    RestoreState(saved);
  });
  InternalFirst();
  while (GetRecord(buffer, gmNext, true) == grOK) {
    if (matches()) return true;
  }
  return false;
}

bool TDataSet::Locate(const std::string& keyFields, const Variant& keyValues,
                      TLocateOptions options) {
  CheckBrowseMode();
  Fire(BeforeScroll);
  bool found = LocateRecord(keyFields, keyValues, options, TempBuffer());
  if (found) {
    Resync(rmExact | rmCenter);
    Fire(AfterScroll);
  }
  return found;
}

Variant TDataSet::Lookup(const std::string& keyFields, const Variant& keyValues,
                         const std::string& resultFields) {
  CheckBrowseMode();
  uint8_t* buffer = TempBuffer();
  if (!LocateRecord(keyFields, keyValues, 0, buffer)) return Variant::Null();
  CalculateFields(buffer);
  TDataSetState saved = SetTempState(dsCalcFields);
  TFinally restore([&] { RestoreState(saved); });
  calcBuffer_ = buffer;
  return FieldValues(resultFields);
}

// ---- Fields

void TDataSet::GetFieldList(std::vector<TField*>& list, const std::string& names) {
  std::size_t pos = 0;
  while (pos <= names.size()) {
    std::size_t end = names.find(';', pos);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(pos, end - pos);
    std::size_t first = name.find_first_not_of(' ');
    std::size_t last = name.find_last_not_of(' ');
    name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
    if (!name.empty()) list.push_back(&FieldByName(name));
    pos = end + 1;
  }
}

Variant TDataSet::FieldValues(const std::string& names) {
  if (names.find(';') == std::string::npos) return FieldByName(names).Value();
  std::vector<TField*> fields;
  GetFieldList(fields, names);
  std::vector<Variant> values;
  for (TField* field : fields) values.push_back(field->Value());
  return Variant::Array(std::move(values));
}

void TDataSet::SetFieldValues(const std::string& names, const Variant& values) {
  if (names.find(';') == std::string::npos) {
    FieldByName(names).SetValue(values);
    return;
  }
  std::vector<TField*> fields;
  GetFieldList(fields, names);
  if (!values.IsArray() || values.Count() != fields.size()) {
    throw EVariantError(msg::InvalidVarCast);
  }
  for (std::size_t i = 0; i < fields.size(); ++i) fields[i]->SetValue(values[i]);
}

TField& TDataSet::AddField(std::unique_ptr<TField> field) {
  CheckInactive();
  if (FindField(field->FieldName()) != nullptr) {
    DatabaseErrorFmt(msg::DuplicateFieldName, {field->FieldName()});
  }
  field->dataSet_ = this;
  TField& ref = *field;
  fields_.list_.push_back(field.get());
  ownedFields_.push_back(std::move(field));
  return ref;
}

void TDataSet::CreateFields() {
  for (int i = 0; i < fieldDefs_.Count(); ++i) fieldDefs_[i].CreateField(*this);
}

void TDataSet::DestroyFields() {
  fields_.list_.clear();
  ownedFields_.clear();
}

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  blobFieldCount_ = 0;
  for (TField* field : fields_) {
    if (!binding) {
      if (field->fieldKind_ == fkData || field->fieldKind_ == fkInternalCalc) field->fieldNo_ = 0;
      continue;
    }
    if (field->fieldKind_ == fkCalculated || field->fieldKind_ == fkLookup) {
      field->fieldNo_ = -1;
      field->offset_ = calcFieldsSize_;
      calcFieldsSize_ += field->DataSize() + 1;
      if (field->fieldKind_ == fkLookup) {
        if (field->lookupDataSet_ == nullptr || field->keyFields_.empty() ||
            field->lookupKeyFields_.empty() || field->lookupResultField_.empty()) {
          DatabaseErrorFmt(msg::LookupInfoError, {field->DisplayName()});
        }
        if (field->lookupDataSet_ == this) DatabaseError(msg::CircularDataLink);
      }
      continue;
    }
    TFieldDef* def = fieldDefs_.FindDef(field->FieldName());
    if (def == nullptr) DatabaseErrorFmt(msg::FieldNotFound, {field->DisplayName()});
    if (CompatibilityClass(field->DataType()) != CompatibilityClass(def->DataType())) {
      DatabaseErrorFmt(msg::FieldTypeMismatch, {field->DisplayName(), FieldTypeName(field->DataType()),
                                                FieldTypeName(def->DataType())});
    }
    if (HasSizeToMatch(field->DataType()) && field->Size() != def->Size()) {
      DatabaseErrorFmt(msg::FieldSizeMismatch, {field->DisplayName(), std::to_string(field->Size()),
                                                std::to_string(def->Size())});
    }
    field->fieldNo_ = def->FieldNo();
    if (field->IsBlob()) {
      field->size_ = def->Size();
      field->offset_ = blobFieldCount_++;
    }
  }
}

void TDataSet::GetCalcFields(uint8_t* buffer) {
  if (calcFieldsSize_ > 0) CalculateFields(buffer);
}

void TDataSet::CalculateFields(uint8_t* buffer) {
  calcBuffer_ = buffer;
  if (state_ == dsInternalCalc) return;
  TDataSetState saved = SetTempState(dsCalcFields);
  TFinally restore([&] { RestoreState(saved); });
  ClearCalcFields(buffer);
  for (TField* field : fields_) {
    if (field->fieldKind_ == fkLookup) field->CalcLookupValue();
  }
  Fire(OnCalcFields);
}

void TDataSet::UpdateCalcFields() {
  if ((state_ == dsEdit || state_ == dsInsert) && autoCalcFields_ && calcFieldsSize_ > 0) {
    CalculateFields(ActiveBuffer());
  }
}

uint8_t* TDataSet::StateRecordBuffer() const {
  switch (state_) {
    case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsNewValue: return ActiveBuffer();
    case dsCalcFields:
    case dsInternalCalc: return calcBuffer_;
    case dsFilter: return filterBuffer_;
    default: return nullptr;
  }
}

Variant TDataSet::GetStateFieldValue(TDataSetState state, TField& field) {
  TDataSetState saved = SetTempState(state);
  TFinally restore([&] { RestoreState(saved); });
  return field.Value();
}

void TDataSet::SetStateFieldValue(TDataSetState state, TField& field, const Variant& value) {
  TDataSetState saved = SetTempState(state);
  TFinally restore([&] { RestoreState(saved); });
  field.SetValue(value);
}

bool TDataSet::GetIsIndexField(const TField& /*field*/) { return false; }

bool TDataSet::GetCurrentRecord(uint8_t* /*buffer*/) { return false; }

// ---- BLOBs and filters

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField& field, TBlobStreamMode /*mode*/) {
  DatabaseErrorFmt(msg::FieldAccessError, {field.DisplayName(), FieldTypeName(field.DataType())});
}

void TDataSet::CloseBlob(TField& /*field*/) {}

bool TDataSet::RecordFilter(uint8_t* buffer) {
  if (!onFilterRecord_) return true;
  TDataSetState saved = SetTempState(dsFilter);
  uint8_t* savedFilter = filterBuffer_;
  filterBuffer_ = buffer;
  TFinally restore([&] {
    filterBuffer_ = savedFilter;
    RestoreState(saved);
  });
  bool accept = true;
  try {
    onFilterRecord_(*this, accept);
  } catch (...) {
    InternalHandleException(std::current_exception());
  }
  return accept;
}

void TDataSet::SetFilterText(const std::string& text) {
  if (Active()) CheckBrowseMode();
  filterText_ = text;
}

void TDataSet::SetFiltered(bool value) {
  if (Active()) CheckBrowseMode();
  filtered_ = value;
}

void TDataSet::SetFilterOptions(TFilterOptions options) {
  if (Active()) CheckBrowseMode();
  filterOptions_ = options;
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  onFilterRecord_ = std::move(handler);
}

void TDataSet::Translate(const char* src, char* dst, bool /*toOem*/) {
  if (src != dst) std::memmove(dst, src, std::strlen(src) + 1);
}

}  // namespace dataset
