#include "engine/components/TesselTable.h"

#include <algorithm>

#include "dataset/DataSetMessages.h"
#include "dataset/TextConvert.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"

namespace tessel {

using namespace dataset;

namespace {

// The database reason held while a closed table is worked on as a whole.
constexpr int kTableFlag = 3;

template <class F>
class TFinally {
 public:
  explicit TFinally(F f) : f_(std::move(f)) {}
  ~TFinally() {
    try {
      f_();
    } catch (...) {
    }
  }

 private:
  F f_;
};

}  // namespace

// ---------------------------------------------------------------------------
// TTesselMasterDataLink

std::vector<TField*> TTesselMasterDataLink::Fields() const {
  std::vector<TField*> fields;
  if (Active() && DataSet() != nullptr && !fieldNames_.empty()) DataSet()->GetFieldList(fields, fieldNames_);
  return fields;
}

void TTesselMasterDataLink::ActiveChanged() { table_.MasterChanged(); }

void TTesselMasterDataLink::RecordChanged(TField* field) {
  if (DataSource() == nullptr || DataSource()->State() == dsSetKey) return;
  if (field != nullptr) {
    const std::vector<TField*> fields = Fields();
    if (std::find(fields.begin(), fields.end(), field) == fields.end()) return;
  }
  table_.MasterChanged();
}

// ---------------------------------------------------------------------------
// TTesselTable: properties

TTesselTable::TTesselTable(TComponentOwner* owner) : TTesselDBDataSet(owner) {}

TTesselTable::~TTesselTable() {
  try {
    Close();
  } catch (...) {
    ApplicationHandleException(std::current_exception());
  }
}

void TTesselTable::SetTableName(const std::string& value) {
  CheckInactive();
  const TTablePath path = SplitTablePath(value);
  if (path.HasDirectory && !inMemory_) {
    SetDatabaseName(path.DatabaseName);
    tableName_ = path.TableName;
  } else {
    tableName_ = value;
  }
  DataEvent(dePropertyChange, 0);
}

void TTesselTable::SetDatabaseName(const std::string& value) {
  TTesselDBDataSet::SetDatabaseName(inMemory_ ? std::string("Memory") : value);
}

void TTesselTable::SetExclusive(bool value) {
  CheckInactive();
  exclusive_ = value;
}

void TTesselTable::SetReadOnly(bool value) {
  CheckInactive();
  readOnly_ = value;
}

void TTesselTable::SetInMemory(bool value) {
  CheckInactive();
  if (value == inMemory_) return;
  inMemory_ = value;
  if (value) TTesselDBDataSet::SetDatabaseName("Memory");
  DataEvent(dePropertyChange, 0);
}

void TTesselTable::SetIndexName(const std::string& value) { SetIndex(value, false); }

void TTesselTable::SetIndexFieldNames(const std::string& value) { SetIndex(value, !value.empty()); }

void TTesselTable::SetMasterSource(TDataSource* source) {
  // A source whose record set reads (through its own masters) from this
  // table would make the two follow each other round in a circle.
  for (TDataSource* s = source; s != nullptr;) {
    TDataSet* dataSet = s->DataSet();
    if (dataSet == nullptr) break;
    if (dataSet == this) DatabaseError(msg::CircularDataLink);
    TDataSource* next = dataSet->GetDataSource();
    if (next == source) break;
    s = next;
  }
  masterLink_.SetDataSource(source);
}

void TTesselTable::SetMasterFields(const std::string& names) {
  masterLink_.SetFieldNames(names);
  MasterChanged();
}

void TTesselTable::DataEvent(TDataEvent event, intptr_t info) {
  if (event == dePropertyChange) indexDefsUpdated_ = false;
  TTesselDBDataSet::DataEvent(event, info);
}

// ---------------------------------------------------------------------------
// Opening

std::unique_ptr<TDataCursor> TTesselTable::OpenTableCursor(bool exclusive, bool onIndex) {
  TDataDirectory* directory = DBDirectory();
  if (directory == nullptr) DatabaseError(msg::ErrorCreatingTableHandle);
  auto cursor = std::make_unique<TDataCursor>(*directory);
  cursor->SetTableName(tableName_);
  cursor->SetExclusive(exclusive);
  cursor->SetReadOnly(readOnly_);
  cursor->SetInMemory(inMemory_);
  if (TTesselSession* session = DBSession()) cursor->SetPasswordRequest(session->PasswordCallback());
  // The cursor opens straight on the record set's index (an unknown one
  // fails the open as the selection after it would).
  if (onIndex)
    cursor->SetOpenIndexChooser(
        [this](TDataCursor& c) { return ResolveIndexName(c, indexText_, fieldsIndex_); });
  cursor->Open();
  return cursor;
}

std::string TTesselTable::ResolveIndexName(TDataCursor& cursor, const std::string& text, bool fieldsIndex) const {
  if (!fieldsIndex) return text;
  std::optional<TCursorIndexInfo> index = cursor.FindIndexForFields(text);
  if (!index) DatabaseErrorFmt(msg::NoIndexForFields, {text});
  return index->Name;
}

std::unique_ptr<TDataCursor> TTesselTable::CreateCursor() {
  if (tableName_.empty()) DatabaseError(msg::MissingTableName);
  indexDefsUpdated_ = false;
  std::unique_ptr<TDataCursor> cursor = OpenTableCursor(exclusive_, true);
  // A table whose files cannot be written opens read-only.
  readOnly_ = cursor->ReadOnly();
  ReadIndexDefs(*cursor);
  cursor->SelectIndex(ResolveIndexName(*cursor, indexText_, fieldsIndex_));
  return cursor;
}

void TTesselTable::PrepareCursor() { CheckMasterRange(); }

void TTesselTable::InitFieldDefs() {
  if (cursor_ != nullptr) {
    InternalInitFieldDefs();
    return;
  }
  if (tableName_.empty()) DatabaseError(msg::MissingTableName);
  SetDatabaseFlag(TDatabaseUse::dbfFieldList, true);
  TFinally release([this] { SetDatabaseFlag(TDatabaseUse::dbfFieldList, false); });
  cursor_ = OpenTableCursor(false);
  TFinally close([this] {
    std::unique_ptr<TDataCursor> cursor = std::move(cursor_);
    cursor->Close();
  });
  InternalInitFieldDefs();
}

// ---------------------------------------------------------------------------
// Indexes

void TTesselTable::ReadIndexDefs(TDataCursor& cursor) {
  indexDefs_.clear();
  for (const TCursorIndexInfo& info : cursor.Indexes()) {
    TTesselIndexDef def;
    def.Name = info.Name;
    for (uint16_t number : info.FieldNumbers) {
      if (!def.Fields.empty()) def.Fields += ';';
      def.Fields += cursor.Field(number).Name;
    }
    def.Primary = info.Primary;
    def.Unique = info.Unique;
    def.Descending = info.Descending;
    def.CaseInsensitive = info.CaseInsensitive;
    indexDefs_.push_back(std::move(def));
  }
  indexDefsUpdated_ = true;
}

void TTesselTable::UpdateIndexDefs() {
  if (cursor_ != nullptr) {
    ReadIndexDefs(*cursor_);
    return;
  }
  if (tableName_.empty()) DatabaseError(msg::MissingTableName);
  SetDatabaseFlag(TDatabaseUse::dbfIndexList, true);
  TFinally release([this] { SetDatabaseFlag(TDatabaseUse::dbfIndexList, false); });
  std::unique_ptr<TDataCursor> cursor = OpenTableCursor(false);
  ReadIndexDefs(*cursor);
  cursor->Close();
}

const std::vector<TTesselIndexDef>& TTesselTable::IndexDefs() {
  if (!indexDefsUpdated_) UpdateIndexDefs();
  return indexDefs_;
}

TField* TTesselTable::IndexField(int index) {
  const std::vector<uint16_t>& numbers = IndexFieldNumbers();
  if (index < 0 || index >= static_cast<int>(numbers.size())) DatabaseError(msg::FieldIndexError);
  TField* field = Fields().FieldByNumber(numbers[static_cast<std::size_t>(index)]);
  if (field == nullptr) {
    DatabaseErrorFmt(msg::FieldNotFound, {cursor_->Field(numbers[static_cast<std::size_t>(index)]).Name});
  }
  return field;
}

void TTesselTable::SetIndex(const std::string& value, bool fieldsIndex) {
  if (Active()) CheckBrowseMode();
  if (value == indexText_ && fieldsIndex == fieldsIndex_) return;
  if (Active()) {
    SwitchToIndex(ResolveIndexName(*cursor_, value, fieldsIndex));
    CheckMasterRange();
  }
  indexText_ = value;
  fieldsIndex_ = fieldsIndex;
  if (Active()) Resync(0);
}

void TTesselTable::SwitchToIndex(const std::string& name) {
  ResetCursorRange();
  UpdateCursorPos();
  cursor_->SelectIndex(name);
  IndexChanged();
  // The rows' bookmarks belong to the old index: the window is read again.
  CursorPosChanged();
}

// ---------------------------------------------------------------------------
// Key searches

void TTesselTable::SetKey() { SetKeyBuffer(kiLookup, true); }

void TTesselTable::EditKey() { SetKeyBuffer(kiLookup, false); }

void TTesselTable::Post() {
  if (State() == dsSetKey) {
    PostKeyBuffer(true);
    return;
  }
  TTesselDBDataSet::Post();
}

void TTesselTable::Cancel() {
  if (State() == dsSetKey) {
    PostKeyBuffer(false);
    return;
  }
  TTesselDBDataSet::Cancel();
}

bool TTesselTable::GotoKey() {
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  const bool found = cursor_->FindKey(KeyRecord(kiLookup), false, KeyFieldCountOf(kiLookup), 0, false, nullptr);
  if (found) {
    Resync(rmExact | rmCenter);
    DoAfterScroll();
  }
  return found;
}

void TTesselTable::GotoNearest() {
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  cursor_->FindKey(KeyRecord(kiLookup), false, KeyFieldCountOf(kiLookup), 0, true, nullptr);
  Resync(rmCenter);
  DoAfterScroll();
}

void TTesselTable::PostKeyValues(const std::vector<Variant>& values) {
  try {
    for (std::size_t i = 0; i < values.size(); ++i) IndexField(static_cast<int>(i))->SetValue(values[i]);
    SetKeyFieldCountOf(CurrentKeyIndex(), static_cast<int32_t>(values.size()));
  } catch (...) {
    Cancel();
    throw;
  }
  Post();
}

bool TTesselTable::FindKey(const std::vector<Variant>& values) {
  CheckBrowseMode();
  SetKey();
  PostKeyValues(values);
  return GotoKey();
}

void TTesselTable::FindNearest(const std::vector<Variant>& values) {
  CheckBrowseMode();
  SetKey();
  PostKeyValues(values);
  GotoNearest();
}

int TTesselTable::KeyFieldCount() const {
  if (State() != dsSetKey) DatabaseError(msg::NotEditing);
  return KeyFieldCountOf(CurrentKeyIndex());
}

void TTesselTable::SetKeyFieldCount(int count) {
  if (State() != dsSetKey) DatabaseError(msg::NotEditing);
  SetKeyFieldCountOf(CurrentKeyIndex(), count);
}

// ---------------------------------------------------------------------------
// Ranges

void TTesselTable::SetRangeStart() { SetKeyBuffer(kiRangeStart, true); }
void TTesselTable::SetRangeEnd() { SetKeyBuffer(kiRangeEnd, true); }
void TTesselTable::EditRangeStart() { SetKeyBuffer(kiRangeStart, false); }
void TTesselTable::EditRangeEnd() { SetKeyBuffer(kiRangeEnd, false); }

bool TTesselTable::SetCursorRange() {
  if (KeyBuffersEqual(kiRangeStart, kiCurRangeStart) && KeyBuffersEqual(kiRangeEnd, kiCurRangeEnd)) return false;
  const bool hasStart = KeyModified(kiRangeStart);
  const bool hasEnd = KeyModified(kiRangeEnd);
  if (!hasStart && !hasEnd) {
    cursor_->CancelRange();
  } else {
    cursor_->SetRange(hasStart ? KeyRecord(kiRangeStart) : nullptr, KeyFieldCountOf(kiRangeStart),
                      hasEnd ? KeyRecord(kiRangeEnd) : nullptr, KeyFieldCountOf(kiRangeEnd), false);
  }
  CopyKeyBuffer(kiRangeStart, kiCurRangeStart);
  CopyKeyBuffer(kiRangeEnd, kiCurRangeEnd);
  CloseLookupCursor();
  return true;
}

bool TTesselTable::ResetCursorRange() {
  if (!KeyModified(kiCurRangeStart) && !KeyModified(kiCurRangeEnd)) return false;
  cursor_->CancelRange();
  InitKeyBuffer(kiCurRangeStart);
  InitKeyBuffer(kiCurRangeEnd);
  CloseLookupCursor();
  return true;
}

void TTesselTable::ApplyRange() {
  CheckBrowseMode();
  if (SetCursorRange()) First();
}

void TTesselTable::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (ResetCursorRange()) Resync(0);
}

void TTesselTable::SetRange(const std::vector<Variant>& startValues, const std::vector<Variant>& endValues) {
  CheckBrowseMode();
  SetRangeStart();
  PostKeyValues(startValues);
  SetRangeEnd();
  PostKeyValues(endValues);
  ApplyRange();
}

// ---------------------------------------------------------------------------
// Master and detail

void TTesselTable::SetLinkRanges(const std::vector<TField*>& masterFields) {
  // The master's values go into the range start in set-key state, then the
  // end takes the same key.
  InitKeyBuffer(kiRangeStart);
  const TKeyIndex savedKey = CurrentKeyIndex();
  SetCurrentKeyIndex(kiRangeStart);
  const TDataSetState saved = SetTempState(dsSetKey);
  {
    TFinally restore([&] {
      RestoreState(saved);
      SetCurrentKeyIndex(savedKey);
    });
    for (std::size_t i = 0; i < masterFields.size(); ++i) {
      IndexField(static_cast<int>(i))->SetValue(masterFields[i]->Value());
    }
  }
  KeyBuffer(kiRangeStart)[0] = 1;
  SetKeyFieldCountOf(kiRangeStart, static_cast<int32_t>(masterFields.size()));
  CopyKeyBuffer(kiRangeStart, kiRangeEnd);
}

void TTesselTable::CheckMasterRange() {
  if (cursor_ == nullptr || !masterLink_.Active()) return;
  const std::vector<TField*> fields = masterLink_.Fields();
  if (fields.empty()) return;
  SetLinkRanges(fields);
  SetCursorRange();
}

void TTesselTable::MasterChanged() {
  if (!Active() || State() == dsSetKey) return;
  CheckBrowseMode();
  if (masterLink_.Active() && !masterLink_.Fields().empty()) {
    SetLinkRanges(masterLink_.Fields());
    SetCursorRange();
    First();
  } else if (ResetCursorRange()) {
    First();
  }
}

// ---------------------------------------------------------------------------
// Maintenance

void TTesselTable::EmptyTable() {
  if (Active()) {
    CheckBrowseMode();
    if (!cursor_->Exclusive()) RaiseEngineError(ec::NeedExclusive, cursor_->TableName());
    if (cursor_->ReadOnly()) RaiseEngineError(ec::AccessDenied, cursor_->TableName());
    CloseLookupCursor();
    TDataTable& table = *cursor_->Table();
    table.EmptyTable();
    table.FlushTable(false, true, true);
    cursor_->Reposition();
    First();
    return;
  }
  if (tableName_.empty()) DatabaseError(msg::MissingTableName);
  SetDatabaseFlag(kTableFlag, true);
  TFinally release([this] { SetDatabaseFlag(kTableFlag, false); });
  std::unique_ptr<TDataCursor> cursor = OpenTableCursor(true);
  if (cursor->ReadOnly()) RaiseEngineError(ec::AccessDenied, cursor->TableName());
  cursor->Table()->EmptyTable();
  cursor->Table()->FlushTable(false, true, true);
  cursor->Close();
}

}  // namespace tessel
