#include "dataset/FieldDefs.h"

#include "dataset/DataSet.h"
#include "dataset/DataSetMessages.h"
#include "dataset/FieldKinds.h"
#include "dataset/TextConvert.h"

namespace dataset {

TField& TFieldDef::CreateField(TDataSet& dataSet) const {
  std::unique_ptr<TField> field = CreateFieldOfType(dataType_, size_);
  if (field == nullptr) DatabaseErrorFmt(msg::UnknownFieldType, {name_});
  field->SetFieldName(name_);
  field->SetRequired(required_);
  field->SetReadOnly(readOnly_);
  if (dataType_ == ftBCD && precision_ > 0) static_cast<TBCDField&>(*field).SetPrecision(precision_);
  return dataSet.AddField(std::move(field));
}

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
  defs_.push_back(std::make_unique<TFieldDef>(name, type, size, required, Count() + 1));
  return *defs_.back();
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < defs_.size(); ++i) {
    if (AnsiSameText(defs_[i]->Name(), name)) return static_cast<int>(i);
  }
  return -1;
}

TFieldDef* TFieldDefs::FindDef(std::string_view name) const {
  int index = IndexOf(name);
  return index < 0 ? nullptr : defs_[static_cast<std::size_t>(index)].get();
}

TFieldDef& TFieldDefs::Find(std::string_view name) const {
  TFieldDef* def = FindDef(name);
  if (def == nullptr) DatabaseErrorFmt(msg::FieldNotFound, {name});
  return *def;
}

void TFieldDefs::Update() {
  if (updated_) return;
  dataSet_->InitFieldDefs();
  updated_ = true;
}

}  // namespace dataset
