// The concrete field kinds: strings, whole numbers, floating-point and
// currency, BCD, booleans, dates and times, raw bytes, and BLOB and memo
// fields.
#pragma once

#include <memory>

#include "dataset/Field.h"

namespace dataset {

// String, fixed char and wide string fields (all 8-bit Windows-1252 text;
// the table engine stores one kind of string). Size is the number of
// characters; longer texts are cut.
class TStringField : public TField {
 public:
  explicit TStringField(int size = 20, TFieldType type = ftString);
  int DataSize() const override { return Size() + 1; }
  bool FixedChar() const { return DataType() == ftFixedChar; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;

 protected:
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  int DefaultDisplayWidth() const override { return Size(); }
  void CheckSize(int size) const override;
};

class TWideStringField : public TStringField {
 public:
  explicit TWideStringField(int size = 20) : TStringField(size, ftWideString) {}
};

// Whole numbers: integer (i32), smallint (i16), word (u16) and autoinc (i32).
// MinValue/MaxValue, when either is not 0, bound the values that may be
// assigned; smallint and word are always bound by their own range.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TFieldType type = ftInteger);
  int DataSize() const override;
  int32_t MinValue() const { return minValue_; }
  void SetMinValue(int32_t value) { minValue_ = value; }
  int32_t MaxValue() const { return maxValue_; }
  void SetMaxValue(int32_t value) { maxValue_ = value; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() const override { return AsInteger(); }
  void SetAsFloat(double value) override;

 protected:
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  void SetChecked(int64_t value, const std::string& text);

 private:
  int32_t minValue_ = 0;
  int32_t maxValue_ = 0;
};

class TSmallintField : public TIntegerField {
 public:
  TSmallintField() : TIntegerField(ftSmallint) {}
};

class TWordField : public TIntegerField {
 public:
  TWordField() : TIntegerField(ftWord) {}
};

class TAutoIncField : public TIntegerField {
 public:
  TAutoIncField() : TIntegerField(ftAutoInc) {}
};

// Float and currency fields (f64). A currency field shows two decimals.
class TFloatField : public TField {
 public:
  explicit TFloatField(TFieldType type = ftFloat);
  int DataSize() const override { return 8; }
  bool Currency() const { return DataType() == ftCurrency; }
  int Precision() const { return precision_; }
  void SetPrecision(int precision) { precision_ = precision; }
  double MinValue() const { return minValue_; }
  void SetMinValue(double value) { minValue_ = value; }
  double MaxValue() const { return maxValue_; }
  void SetMaxValue(double value) { maxValue_ = value; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsFloat(value); }
  double AsFloat() const override;
  void SetAsFloat(double value) override;

 protected:
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;

 private:
  int precision_ = 15;
  double minValue_ = 0;
  double maxValue_ = 0;
};

class TCurrencyField : public TFloatField {
 public:
  TCurrencyField() : TFloatField(ftCurrency) {}
};

// BCD fields: exact decimals, exchanged as an i64 scaled by 10^Size (Size =
// decimals, 0 to 18).
class TBCDField : public TField {
 public:
  explicit TBCDField(int decimals = 4);
  int DataSize() const override { return 8; }
  int Precision() const { return precision_; }
  void SetPrecision(int precision) { precision_ = precision; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsFloat(value); }
  double AsFloat() const override;
  void SetAsFloat(double value) override;

 protected:
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  void CheckSize(int size) const override;

 private:
  int precision_ = 20;
};

// Boolean fields (u16). The texts of true and false are "True" and "False";
// assigning a text accepts any leading part of either, ignoring case.
class TBooleanField : public TField {
 public:
  TBooleanField();
  int DataSize() const override { return 2; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;

 protected:
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
};

// Date (i32 day number), time (i32 ms) and date-time (f64 ms) fields.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TFieldType type = ftDateTime);
  int DataSize() const override { return DataType() == ftDateTime ? 8 : 4; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  double AsFloat() const override { return AsDateTime(); }
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;

 protected:
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
};

class TDateField : public TDateTimeField {
 public:
  TDateField() : TDateTimeField(ftDate) {}
};

class TTimeField : public TDateTimeField {
 public:
  TTimeField() : TDateTimeField(ftTime) {}
};

// Bytes fields (Size raw bytes) and varbytes fields (a u16 length, then up
// to Size - 2 bytes). Their text is the raw bytes.
class TBytesField : public TField {
 public:
  explicit TBytesField(int size = 16, TFieldType type = ftBytes);
  int DataSize() const override { return Size(); }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;

 protected:
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  void CheckSize(int size) const override;
};

class TVarBytesField : public TBytesField {
 public:
  explicit TVarBytesField(int size = 16) : TBytesField(size, ftVarBytes) {}
};

// BLOB fields (blob, graphic, formatted memo, typed binary, OLE) and memo
// fields: contents through the record set's BLOB streams. The text of a
// BLOB field is its type in parentheses, in capitals when it holds a value
// ("(MEMO)"); AsString is the contents.
class TBlobField : public TField {
 public:
  explicit TBlobField(TFieldType type = ftBlob);
  bool IsBlob() const override { return true; }
  bool IsNull() const override;
  TFieldType BlobType() const { return DataType(); }
  // Set once a write stream on the field has been used in the current edit.
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  int64_t BlobSize() const;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  void Clear() override;

 protected:
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;
  void FreeBuffers() override;
  void CheckSize(int size) const override;

 private:
  bool modified_ = false;
};

class TMemoField : public TBlobField {
 public:
  TMemoField() : TBlobField(ftMemo) {}
};

class TGraphicField : public TBlobField {
 public:
  TGraphicField() : TBlobField(ftGraphic) {}
};

// The field kind that serves a field type; null for types without one.
std::unique_ptr<TField> CreateFieldOfType(TFieldType type, int size);

}  // namespace dataset
