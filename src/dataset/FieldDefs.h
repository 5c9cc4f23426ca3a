// Field definitions: the columns a record set's store offers (name, type,
// size, required flag and the store's field number). Persistent fields are
// bound to them by name when the record set opens; without persistent
// fields a default field is made from each definition.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/DataSetTypes.h"

namespace dataset {

class TDataSet;
class TField;

class TFieldDef {
 public:
  TFieldDef(std::string name, TFieldType type, int size, bool required, int fieldNo)
      : name_(std::move(name)), dataType_(type), size_(size), required_(required),
        fieldNo_(fieldNo) {}

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return dataType_; }
  // Characters of a string, bytes of a bytes field, decimals of a BCD field.
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  // The store's number of the field (1-based), as GetFieldData sees it.
  int FieldNo() const { return fieldNo_; }
  void SetFieldNo(int fieldNo) { fieldNo_ = fieldNo; }
  // Total digits of a BCD field.
  int Precision() const { return precision_; }
  void SetPrecision(int precision) { precision_ = precision; }

  // Makes the default field object for this definition and adds it to the
  // record set's fields ("Field '%s' is of an unknown type" for types
  // without a field kind).
  TField& CreateField(TDataSet& dataSet) const;

 private:
  std::string name_;
  TFieldType dataType_;
  int size_;
  bool required_;
  bool readOnly_ = false;
  int fieldNo_;
  int precision_ = 0;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet& dataSet) : dataSet_(&dataSet) {}

  // Adds a definition; its field number is its position (1-based) unless
  // set otherwise.
  TFieldDef& Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
  void Clear() { defs_.clear(); }
  int Count() const { return static_cast<int>(defs_.size()); }
  TFieldDef& operator[](int index) const { return *defs_.at(static_cast<std::size_t>(index)); }
  // Case-insensitive search; -1 / null when there is none.
  int IndexOf(std::string_view name) const;
  TFieldDef* FindDef(std::string_view name) const;
  TFieldDef& Find(std::string_view name) const;  // "Field '%s' not found"

  // Whether the definitions reflect the record set's store; Update reads
  // them (through the record set's InitFieldDefs) when they do not.
  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  void Update();

 private:
  TDataSet* dataSet_;
  std::vector<std::unique_ptr<TFieldDef>> defs_;
  bool updated_ = false;
};

}  // namespace dataset
