#include "dataset/Field.h"

#include <cstring>

#include "dataset/DataSet.h"
#include "dataset/DataSetMessages.h"
#include "dataset/TextConvert.h"

namespace dataset {

const char* FieldTypeName(TFieldType type) {
  static constexpr const char* kNames[] = {
      "Unknown",  "String",     "SmallInt",    "Integer",    "Word",      "Boolean",
      "Float",    "Currency",   "BCD",         "Date",       "Time",      "DateTime",
      "Bytes",    "VarBytes",   "AutoInc",     "Blob",       "Memo",      "Graphic",
      "FmtMemo",  "ParadoxOle", "dBaseOle",    "TypedBinary", "Cursor",   "FixedChar",
      "WideString", "Largeint", "ADT",         "Array",      "Reference", "DataSet"};
  auto index = static_cast<std::size_t>(type);
  return index < std::size(kNames) ? kNames[index] : "Unknown";
}

// ---- TField

TField::TField(TFieldType type, int size) : dataType_(type), size_(size) {}

TField::~TField() = default;

void TField::CheckInactive() const {
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
}

void TField::SetFieldName(const std::string& name) {
  CheckInactive();
  if (dataSet_ != nullptr && name != fieldName_) {
    TField* other = dataSet_->FindField(name);
    if (other != nullptr && other != this) DatabaseErrorFmt(msg::DuplicateFieldName, {name});
  }
  fieldName_ = name;
}

void TField::SetFieldKind(TFieldKind kind) {
  CheckInactive();
  fieldKind_ = kind;
}

void TField::SetSize(int size) {
  CheckInactive();
  CheckSize(size);
  size_ = size;
}

void TField::CheckSize(int size) const {
  if (size != 0) AccessError("Size");
}

int TField::Index() const { return dataSet_ != nullptr ? dataSet_->Fields().IndexOf(this) : -1; }

bool TField::IsIndexField() const {
  return dataSet_ != nullptr && fieldKind_ == fkData && dataSet_->GetIsIndexField(*this);
}

bool TField::CanModify() const {
  if (fieldNo_ <= 0 || dataSet_ == nullptr) return false;
  if (dataSet_->State() == dsSetKey) return IsIndexField();
  return !readOnly_ && dataSet_->CanModify();
}

void TField::AccessError(const char* typeName) const {
  DatabaseErrorFmt(msg::FieldAccessError, {DisplayName(), typeName});
}

// ---- Data exchange

bool TField::GetData(uint8_t* buffer) const {
  if (dataSet_ == nullptr) DatabaseErrorFmt(msg::DataSetMissing, {DisplayName()});
  if (validating_) {
    if (valueBuffer_ != nullptr && buffer != nullptr) {
      std::memcpy(buffer, valueBuffer_, static_cast<std::size_t>(DataSize()));
    }
    return valueBuffer_ != nullptr;
  }
  return dataSet_->GetFieldData(const_cast<TField&>(*this), buffer);
}

void TField::SetData(const uint8_t* buffer) {
  if (dataSet_ == nullptr) DatabaseErrorFmt(msg::DataSetMissing, {DisplayName()});
  dataSet_->SetFieldData(*this, buffer);
}

void TField::Validate(const uint8_t* buffer) {
  if (!OnValidate) return;
  bool wasValidating = validating_;
  const uint8_t* oldBuffer = valueBuffer_;
  validating_ = true;
  valueBuffer_ = buffer;
  try {
    OnValidate(*this);
  } catch (...) {
    validating_ = wasValidating;
    valueBuffer_ = oldBuffer;
    throw;
  }
  validating_ = wasValidating;
  valueBuffer_ = oldBuffer;
}

bool TField::ReadData(std::vector<uint8_t>& buffer) const {
  buffer.assign(static_cast<std::size_t>(DataSize()) + 1, 0);
  return GetData(buffer.data());
}

bool TField::IsNull() const { return !GetData(nullptr); }

// ---- Values: the defaults refuse what a kind does not offer.

Variant TField::GetAsVariant() const { AccessError("Variant"); }
void TField::SetVarValue(const Variant& /*value*/) { AccessError("Variant"); }

void TField::SetValue(const Variant& value) {
  if (value.IsNull()) {
    Clear();
  } else {
    SetVarValue(value);
  }
}

std::string TField::AsString() const { AccessError("String"); }
void TField::SetAsString(const std::string& /*value*/) { AccessError("String"); }
int32_t TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(int32_t /*value*/) { AccessError("Integer"); }
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double /*value*/) { AccessError("Float"); }
bool TField::AsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool /*value*/) { AccessError("Boolean"); }
TDateTime TField::AsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime /*value*/) { AccessError("DateTime"); }

void TField::Clear() { SetData(nullptr); }

void TField::GetText(std::string& text, bool /*displayText*/) const { text = AsString(); }

std::string TField::Text() const {
  std::string text;
  if (OnGetText) {
    OnGetText(const_cast<TField&>(*this), text, false);
  } else {
    GetText(text, false);
  }
  return text;
}

void TField::SetText(const std::string& text) {
  if (OnSetText) {
    OnSetText(*this, text);
  } else {
    SetAsString(text);
  }
}

std::string TField::DisplayText() const {
  std::string text;
  if (OnGetText) {
    OnGetText(const_cast<TField&>(*this), text, true);
  } else {
    GetText(text, true);
  }
  return text;
}

Variant TField::OldValue() const {
  if (dataSet_ == nullptr) DatabaseErrorFmt(msg::DataSetMissing, {DisplayName()});
  return dataSet_->GetStateFieldValue(dsOldValue, const_cast<TField&>(*this));
}

Variant TField::NewValue() const {
  if (dataSet_ == nullptr) DatabaseErrorFmt(msg::DataSetMissing, {DisplayName()});
  return dataSet_->GetStateFieldValue(dsNewValue, const_cast<TField&>(*this));
}

void TField::FocusControl() {
  if (dataSet_ == nullptr || !dataSet_->Active()) return;
  TField* field = this;
  dataSet_->DataEvent(deFocusControl, reinterpret_cast<intptr_t>(&field));
}

void TField::CalcLookupValue() {
  if (lookupDataSet_ != nullptr && lookupDataSet_->Active()) {
    SetValue(lookupDataSet_->Lookup(lookupKeyFields_, dataSet_->FieldValues(keyFields_),
                                    lookupResultField_));
  }
}

// ---- TFields

TField& TFields::operator[](int index) const {
  if (index < 0 || index >= Count()) DatabaseError(msg::FieldIndexError);
  return *list_[static_cast<std::size_t>(index)];
}

TField* TFields::FindField(std::string_view name) const {
  for (TField* field : list_) {
    if (AnsiSameText(field->FieldName(), name)) return field;
  }
  return nullptr;
}

TField& TFields::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (field == nullptr) DatabaseErrorFmt(msg::FieldNotFound, {name});
  return *field;
}

TField* TFields::FieldByNumber(int fieldNo) const {
  for (TField* field : list_) {
    if (field->FieldNo() == fieldNo) return field;
  }
  return nullptr;
}

int TFields::IndexOf(const TField* field) const {
  for (std::size_t i = 0; i < list_.size(); ++i) {
    if (list_[i] == field) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace dataset
