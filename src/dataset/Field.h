// Field objects: one per column of a record set, reading and writing the
// column's value in the current record through the record set's field data
// exchange (GetFieldData / SetFieldData), and the ordered list of a record
// set's fields. The concrete kinds live in FieldKinds.h.
//
// Values cross the field data exchange in these encodings (the table
// engine's own): string, fixed char and wide string: zero-terminated
// Windows-1252 bytes, Size + 1 bytes; smallint i16; integer and autoinc i32;
// word u16; boolean u16 (0 false, 1 true); float and currency f64; BCD an
// i64 holding the value times 10^Size (Size = the declared decimals); date
// i32 day number (day 1 = 1 January of year 1); time i32 milliseconds since
// midnight; date-time f64 milliseconds since the start of day 1; bytes the
// Size raw bytes; varbytes Size bytes: a u16 length and up to Size - 2 bytes.
// A null buffer pointer in SetFieldData stores null. BLOB and memo contents
// go through CreateBlobStream instead.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/DataSetTypes.h"
#include "dataset/Variant.h"

namespace dataset {

class TDataSet;

class TField {
 public:
  using TFieldNotifyEvent = std::function<void(TField&)>;
  // Supplies the text of the field: displayText is true for the display
  // text, false for the edit text.
  using TFieldGetTextEvent = std::function<void(TField&, std::string& text, bool displayText)>;
  using TFieldSetTextEvent = std::function<void(TField&, const std::string& text)>;

  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  // Identity and definition.
  TDataSet* DataSet() const { return dataSet_; }
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(const std::string& name);
  // The display label, or the field name when there is none.
  const std::string& DisplayName() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
  const std::string& DisplayLabel() const { return displayLabel_; }
  void SetDisplayLabel(const std::string& label) { displayLabel_ = label; }
  int DisplayWidth() const { return displayWidth_ > 0 ? displayWidth_ : DefaultDisplayWidth(); }
  void SetDisplayWidth(int width) { displayWidth_ = width; }
  TFieldType DataType() const { return dataType_; }
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind kind);
  bool Calculated() const { return fieldKind_ == fkCalculated; }
  bool Lookup() const { return fieldKind_ == fkLookup; }
  // The record set's field number the field is bound to (the definition's
  // number); 0 while unbound, -1 for calculated and lookup fields.
  int FieldNo() const { return fieldNo_; }
  // Position in the record set's field list.
  int Index() const;
  int Size() const { return size_; }
  void SetSize(int size);
  // Bytes of the field's value in the field data exchange.
  virtual int DataSize() const { return 0; }
  // Calculated and lookup fields: the offset of the field's place (a
  // not-null byte, then DataSize bytes) in the calculated-fields part of a
  // record buffer. BLOB fields: the BLOB field's ordinal.
  int Offset() const { return offset_; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  const std::string& EditMask() const { return editMask_; }
  void SetEditMask(const std::string& mask) { editMask_ = mask; }
  virtual bool IsBlob() const { return false; }
  bool IsIndexField() const;
  // Whether the field can be written now: a bound data field that is not
  // read-only in a record set that can be modified (in set-key state: an
  // index field).
  bool CanModify() const;

  // Lookup fields: the value of LookupResultField in the record of
  // LookupDataSet whose LookupKeyFields equal this record set's KeyFields.
  TDataSet* LookupDataSet() const { return lookupDataSet_; }
  void SetLookupDataSet(TDataSet* dataSet) { lookupDataSet_ = dataSet; }
  const std::string& KeyFields() const { return keyFields_; }
  void SetKeyFields(const std::string& names) { keyFields_ = names; }
  const std::string& LookupKeyFields() const { return lookupKeyFields_; }
  void SetLookupKeyFields(const std::string& names) { lookupKeyFields_ = names; }
  const std::string& LookupResultField() const { return lookupResultField_; }
  void SetLookupResultField(const std::string& name) { lookupResultField_ = name; }

  // Values of the current record. Reading a null field gives "", 0, false;
  // Value gives a null variant.
  virtual bool IsNull() const;
  Variant Value() const { return GetAsVariant(); }
  void SetValue(const Variant& value);  // null clears the field
  virtual std::string AsString() const;
  virtual void SetAsString(const std::string& value);
  virtual int32_t AsInteger() const;
  virtual void SetAsInteger(int32_t value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual double AsCurrency() const { return AsFloat(); }
  virtual void SetAsCurrency(double value) { SetAsFloat(value); }
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual TDateTime AsDateTime() const;
  virtual void SetAsDateTime(TDateTime value);
  // The edit text and the display text (OnGetText may supply them);
  // SetText goes through OnSetText when assigned.
  std::string Text() const;
  void SetText(const std::string& text);
  std::string DisplayText() const;
  // The value before the current edit, and the value being assigned (in a
  // validation handler).
  Variant OldValue() const;
  Variant NewValue() const;
  virtual void Clear();
  // Asks the data-aware controls to focus this field.
  void FocusControl();

  // Field data exchange in the encodings above; GetData answers whether the
  // field holds a value (a null buffer only asks).
  bool GetData(uint8_t* buffer) const;
  void SetData(const uint8_t* buffer);
  // Runs OnValidate with buffer as the field's value (the record set calls
  // it before it stores a value).
  void Validate(const uint8_t* buffer);

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

 protected:
  TField(TFieldType type, int size);

  virtual Variant GetAsVariant() const;
  virtual void SetVarValue(const Variant& value);
  virtual void GetText(std::string& text, bool displayText) const;
  virtual int DefaultDisplayWidth() const { return 10; }
  // Called when the record leaves edit or insert.
  virtual void FreeBuffers() {}
  // Checks a size given to the field.
  virtual void CheckSize(int size) const;

  [[noreturn]] void AccessError(const char* typeName) const;
  void CheckInactive() const;
  // Reads the value bytes into a buffer of DataSize bytes (and one zero byte
  // more); false when null.
  bool ReadData(std::vector<uint8_t>& buffer) const;
  // Fixed-size values in the host's (little-endian) byte order.
  template <class T>
  bool ReadValue(T& value) const {
    uint8_t buffer[sizeof(T)] = {};
    if (!GetData(buffer)) return false;
    std::memcpy(&value, buffer, sizeof(T));
    return true;
  }
  template <class T>
  void WriteValue(T value) {
    uint8_t buffer[sizeof(T)];
    std::memcpy(buffer, &value, sizeof(T));
    SetData(buffer);
  }

  // Sets the data type for kinds that serve several types.
  void SetDataType(TFieldType type) { dataType_ = type; }

 private:
  friend class TDataSet;
  friend class TFields;

  void CalcLookupValue();

  TDataSet* dataSet_ = nullptr;
  std::string fieldName_;
  std::string displayLabel_;
  std::string editMask_;
  TFieldType dataType_;
  TFieldKind fieldKind_ = fkData;
  int fieldNo_ = 0;
  int size_ = 0;
  int offset_ = 0;
  int displayWidth_ = 0;
  bool required_ = false;
  bool readOnly_ = false;
  bool visible_ = true;
  // Set while OnValidate runs: reads answer from the value being validated.
  bool validating_ = false;
  const uint8_t* valueBuffer_ = nullptr;
  TDataSet* lookupDataSet_ = nullptr;
  std::string keyFields_, lookupKeyFields_, lookupResultField_;
};

// The ordered fields of a record set (the record set owns them).
class TFields {
 public:
  int Count() const { return static_cast<int>(list_.size()); }
  TField& operator[](int index) const;  // "Field index out of range"
  // Case-insensitive search by name; null when there is none.
  TField* FindField(std::string_view name) const;
  TField& FieldByName(std::string_view name) const;  // "Field '%s' not found"
  TField* FieldByNumber(int fieldNo) const;
  int IndexOf(const TField* field) const;

  auto begin() const { return list_.begin(); }
  auto end() const { return list_.end(); }

 private:
  friend class TDataSet;
  std::vector<TField*> list_;
};

}  // namespace dataset
