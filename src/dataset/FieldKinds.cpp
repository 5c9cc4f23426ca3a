#include "dataset/FieldKinds.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "dataset/BlobStream.h"
#include "dataset/DataSet.h"
#include "dataset/DataSetMessages.h"
#include "dataset/TextConvert.h"

namespace dataset {

namespace {

std::string TrimBlanks(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

int64_t Power10(int exponent) {
  int64_t result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

// Rounds a double to a whole number that fits 64 bits; false when it does
// not fit.
bool RoundToInt64(double value, int64_t& result) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) return false;
  result = static_cast<int64_t>(std::nearbyint(value));
  return true;
}

}  // namespace

// ---- TStringField

TStringField::TStringField(int size, TFieldType type) : TField(type, size) { CheckSize(size); }

void TStringField::CheckSize(int size) const {
  if (size < 1 || size > 8192) DatabaseError(msg::InvalidFieldSize);
}

std::string TStringField::AsString() const {
  std::vector<uint8_t> buffer;
  if (!ReadData(buffer)) return {};
  return std::string(reinterpret_cast<const char*>(buffer.data()));
}

void TStringField::SetAsString(const std::string& value) {
  std::vector<uint8_t> buffer(static_cast<std::size_t>(DataSize()), 0);
  std::size_t length = std::min(value.size(), static_cast<std::size_t>(Size()));
  std::memcpy(buffer.data(), value.data(), length);
  SetData(buffer.data());
}

int32_t TStringField::AsInteger() const {
  std::string text = AsString();
  int64_t value;
  if (!TryStrToInt64(text, value) || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    DatabaseErrorFmt(msg::InvalidIntegerValue, {text, DisplayName()});
  }
  return static_cast<int32_t>(value);
}

void TStringField::SetAsInteger(int32_t value) { SetAsString(std::to_string(value)); }

double TStringField::AsFloat() const {
  std::string text = AsString();
  double value;
  if (!TryStrToFloat(text, value)) DatabaseErrorFmt(msg::InvalidFloatValue, {text, DisplayName()});
  return value;
}

void TStringField::SetAsFloat(double value) { SetAsString(FloatToStr(value)); }

bool TStringField::AsBoolean() const {
  std::string text = AsString();
  return !text.empty() && (text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
}

void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "T" : "F"); }

TDateTime TStringField::AsDateTime() const { return StrToDateTime(AsString()); }

void TStringField::SetAsDateTime(TDateTime value) { SetAsString(DateTimeToStr(value)); }

Variant TStringField::GetAsVariant() const {
  std::vector<uint8_t> buffer;
  if (!ReadData(buffer)) return Variant::Null();
  return Variant(std::string(reinterpret_cast<const char*>(buffer.data())));
}

void TStringField::SetVarValue(const Variant& value) {
  SetAsString(value.VarType() == TVarType::Bytes ? value.ToBytes() : value.ToString());
}

// ---- TIntegerField

TIntegerField::TIntegerField(TFieldType type) : TField(type, 0) {}

int TIntegerField::DataSize() const {
  return DataType() == ftSmallint || DataType() == ftWord ? 2 : 4;
}

int32_t TIntegerField::AsInteger() const {
  switch (DataType()) {
    case ftSmallint: {
      int16_t value = 0;
      return ReadValue(value) ? value : 0;
    }
    case ftWord: {
      uint16_t value = 0;
      return ReadValue(value) ? value : 0;
    }
    default: {
      int32_t value = 0;
      return ReadValue(value) ? value : 0;
    }
  }
}

std::string TIntegerField::AsString() const {
  return IsNull() ? std::string() : std::to_string(AsInteger());
}

void TIntegerField::SetChecked(int64_t value, const std::string& text) {
  int64_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
  if (DataType() == ftSmallint) {
    lo = -32768;
    hi = 32767;
  } else if (DataType() == ftWord) {
    lo = 0;
    hi = 65535;
  }
  if (minValue_ != 0 || maxValue_ != 0) {
    lo = std::max<int64_t>(lo, minValue_);
    hi = std::min<int64_t>(hi, maxValue_);
  }
  if (value < lo || value > hi) {
    DatabaseErrorFmt(msg::FieldRangeError,
                     {text, DisplayName(), std::to_string(lo), std::to_string(hi)});
  }
  switch (DataType()) {
    case ftSmallint: WriteValue(static_cast<int16_t>(value)); break;
    case ftWord: WriteValue(static_cast<uint16_t>(value)); break;
    default: WriteValue(static_cast<int32_t>(value)); break;
  }
}

void TIntegerField::SetAsInteger(int32_t value) { SetChecked(value, std::to_string(value)); }

void TIntegerField::SetAsString(const std::string& value) {
  std::string text = TrimBlanks(value);
  if (text.empty()) {
    Clear();
    return;
  }
  int64_t number;
  if (!TryStrToInt64(text, number)) DatabaseErrorFmt(msg::InvalidIntegerValue, {value, DisplayName()});
  SetChecked(number, text);
}

void TIntegerField::SetAsFloat(double value) {
  int64_t number;
  if (!RoundToInt64(value, number)) {
    DatabaseErrorFmt(msg::InvalidIntegerValue, {FloatToStr(value), DisplayName()});
  }
  SetChecked(number, FloatToStr(value));
}

Variant TIntegerField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(AsInteger());
}

void TIntegerField::SetVarValue(const Variant& value) {
  int64_t number = value.ToInteger();
  SetChecked(number, std::to_string(number));
}

// ---- TFloatField

TFloatField::TFloatField(TFieldType type) : TField(type, 0) {}

double TFloatField::AsFloat() const {
  double value = 0;
  return ReadValue(value) ? value : 0;
}

int32_t TFloatField::AsInteger() const {
  int64_t number;
  double value = AsFloat();
  if (!RoundToInt64(value, number) || number < std::numeric_limits<int32_t>::min() ||
      number > std::numeric_limits<int32_t>::max()) {
    DatabaseErrorFmt(msg::InvalidIntegerValue, {FloatToStr(value), DisplayName()});
  }
  return static_cast<int32_t>(number);
}

std::string TFloatField::AsString() const {
  double value = 0;
  return ReadValue(value) ? FloatToStr(value) : std::string();
}

void TFloatField::GetText(std::string& text, bool /*displayText*/) const {
  double value = 0;
  if (!ReadValue(value)) {
    text.clear();
  } else {
    text = Currency() ? FloatToStrF(value, 2) : FloatToStr(value);
  }
}

void TFloatField::SetAsString(const std::string& value) {
  std::string text = TrimBlanks(value);
  if (text.empty()) {
    Clear();
    return;
  }
  double number;
  if (!TryStrToFloat(text, number)) DatabaseErrorFmt(msg::InvalidFloatValue, {value, DisplayName()});
  SetAsFloat(number);
}

void TFloatField::SetAsFloat(double value) {
  if ((minValue_ != 0 || maxValue_ != 0) && (value < minValue_ || value > maxValue_)) {
    DatabaseErrorFmt(msg::FieldRangeError, {FloatToStr(value), DisplayName(),
                                            FloatToStr(minValue_), FloatToStr(maxValue_)});
  }
  WriteValue(value);
}

Variant TFloatField::GetAsVariant() const {
  double value = 0;
  if (!ReadValue(value)) return Variant::Null();
  return Variant(value);
}

void TFloatField::SetVarValue(const Variant& value) { SetAsFloat(value.ToDouble()); }

// ---- TBCDField

TBCDField::TBCDField(int decimals) : TField(ftBCD, decimals) { CheckSize(decimals); }

void TBCDField::CheckSize(int size) const {
  if (size < 0 || size > 18) DatabaseError(msg::InvalidFieldSize);
}

double TBCDField::AsFloat() const {
  int64_t raw = 0;
  if (!ReadValue(raw)) return 0;
  return static_cast<double>(raw) / static_cast<double>(Power10(Size()));
}

int32_t TBCDField::AsInteger() const {
  int64_t number;
  double value = AsFloat();
  if (!RoundToInt64(value, number) || number < std::numeric_limits<int32_t>::min() ||
      number > std::numeric_limits<int32_t>::max()) {
    DatabaseErrorFmt(msg::InvalidIntegerValue, {FloatToStr(value), DisplayName()});
  }
  return static_cast<int32_t>(number);
}

std::string TBCDField::AsString() const {
  int64_t raw = 0;
  if (!ReadValue(raw)) return {};
  // Exact decimal text of the scaled value, without trailing zeros.
  bool negative = raw < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(raw) : static_cast<uint64_t>(raw);
  uint64_t scale = static_cast<uint64_t>(Power10(Size()));
  std::string text = std::to_string(magnitude / scale);
  if (Size() > 0) {
    std::string fraction = std::to_string(magnitude % scale);
    fraction.insert(0, static_cast<std::size_t>(Size()) - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) text += "." + fraction;
  }
  return negative ? "-" + text : text;
}

void TBCDField::SetAsFloat(double value) {
  int64_t raw;
  if (!RoundToInt64(value * static_cast<double>(Power10(Size())), raw)) {
    DatabaseErrorFmt(msg::InvalidFloatValue, {FloatToStr(value), DisplayName()});
  }
  WriteValue(raw);
}

void TBCDField::SetAsString(const std::string& value) {
  std::string text = TrimBlanks(value);
  if (text.empty()) {
    Clear();
    return;
  }
  // Plain decimal texts are converted exactly (rounded half away from zero
  // at the field's decimals); other number forms through a double.
  std::size_t pos = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    pos = 1;
  }
  std::string whole, fraction;
  bool dot = false, plain = pos < text.size();
  for (; pos < text.size() && plain; ++pos) {
    char c = text[pos];
    if (c == '.' && !dot) {
      dot = true;
    } else if (c >= '0' && c <= '9') {
      (dot ? fraction : whole) += c;
    } else {
      plain = false;
    }
  }
  if (!plain || (whole.empty() && fraction.empty())) {
    double number;
    if (!TryStrToFloat(text, number)) {
      DatabaseErrorFmt(msg::InvalidFloatValue, {value, DisplayName()});
    }
    SetAsFloat(number);
    return;
  }
  std::size_t decimals = static_cast<std::size_t>(Size());
  bool roundUp = fraction.size() > decimals && fraction[decimals] >= '5';
  fraction.resize(decimals, '0');
  std::string digits = whole + fraction;
  std::size_t firstDigit = digits.find_first_not_of('0');
  digits = firstDigit == std::string::npos ? "0" : digits.substr(firstDigit);
  uint64_t magnitude = 0;
  bool fits = digits.size() <= 19;
  for (char c : digits) {
    uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (magnitude > (limit - static_cast<uint64_t>(c - '0')) / 10) {
      fits = false;
      break;
    }
    magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
  }
  if (fits && roundUp) {
    if (magnitude == static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) fits = false;
    ++magnitude;
  }
  if (!fits) DatabaseErrorFmt(msg::InvalidFloatValue, {value, DisplayName()});
  int64_t raw = static_cast<int64_t>(magnitude);
  WriteValue(negative ? -raw : raw);
}

Variant TBCDField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(AsFloat());
}

void TBCDField::SetVarValue(const Variant& value) {
  if (value.IsString()) {
    SetAsString(value.ToString());
  } else {
    SetAsFloat(value.ToDouble());
  }
}

// ---- TBooleanField

TBooleanField::TBooleanField() : TField(ftBoolean, 0) {}

bool TBooleanField::AsBoolean() const {
  uint16_t value = 0;
  return ReadValue(value) && value != 0;
}

void TBooleanField::SetAsBoolean(bool value) { WriteValue(static_cast<uint16_t>(value ? 1 : 0)); }

std::string TBooleanField::AsString() const {
  uint16_t value = 0;
  if (!ReadValue(value)) return {};
  return value != 0 ? "True" : "False";
}

void TBooleanField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  std::string_view falseText = "False", trueText = "True";
  if (AnsiSameText(value, falseText.substr(0, value.size()))) {
    SetAsBoolean(false);
  } else if (AnsiSameText(value, trueText.substr(0, value.size()))) {
    SetAsBoolean(true);
  } else {
    DatabaseErrorFmt(msg::InvalidBoolValue, {value, DisplayName()});
  }
}

Variant TBooleanField::GetAsVariant() const {
  uint16_t value = 0;
  if (!ReadValue(value)) return Variant::Null();
  return Variant(value != 0);
}

void TBooleanField::SetVarValue(const Variant& value) { SetAsBoolean(value.ToBoolean()); }

// ---- TDateTimeField

TDateTimeField::TDateTimeField(TFieldType type) : TField(type, 0) {}

TDateTime TDateTimeField::AsDateTime() const {
  switch (DataType()) {
    case ftDate: {
      int32_t day = 0;
      if (!ReadValue(day)) return 0;
      return TimeStampToDateTime(TTimeStamp{0, day});
    }
    case ftTime: {
      int32_t msecs = 0;
      if (!ReadValue(msecs)) return 0;
      return TimeStampToDateTime(TTimeStamp{msecs, DateDelta});
    }
    default: {
      double msecs = 0;
      if (!ReadValue(msecs)) return 0;
      return TimeStampToDateTime(MSecsToTimeStamp(msecs));
    }
  }
}

void TDateTimeField::SetAsDateTime(TDateTime value) {
  TTimeStamp stamp = DateTimeToTimeStamp(value);
  if (DataType() != ftTime && (stamp.Date <= 0 || stamp.Date > 3652059)) {
    throw EConvertError(msg::DateEncodeError);
  }
  switch (DataType()) {
    case ftDate: WriteValue(stamp.Date); break;
    case ftTime: WriteValue(stamp.Time); break;
    default: WriteValue(TimeStampToMSecs(stamp)); break;
  }
}

std::string TDateTimeField::AsString() const {
  if (IsNull()) return {};
  TDateTime value = AsDateTime();
  switch (DataType()) {
    case ftDate: return DateToStr(value);
    case ftTime: return TimeToStr(value);
    default: return DateTimeToStr(value);
  }
}

void TDateTimeField::SetAsString(const std::string& value) {
  std::string text = TrimBlanks(value);
  if (text.empty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate: SetAsDateTime(StrToDate(text)); break;
    case ftTime: SetAsDateTime(StrToTime(text)); break;
    default: SetAsDateTime(StrToDateTime(text)); break;
  }
}

Variant TDateTimeField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromDateTime(AsDateTime());
}

void TDateTimeField::SetVarValue(const Variant& value) { SetAsDateTime(value.ToDateTime()); }

// ---- TBytesField

TBytesField::TBytesField(int size, TFieldType type) : TField(type, size) { CheckSize(size); }

void TBytesField::CheckSize(int size) const {
  int minimum = DataType() == ftVarBytes ? 2 : 1;
  if (size < minimum || size > 65535) DatabaseError(msg::InvalidFieldSize);
}

std::string TBytesField::AsString() const {
  std::vector<uint8_t> buffer;
  if (!ReadData(buffer)) return {};
  const char* bytes = reinterpret_cast<const char*>(buffer.data());
  if (DataType() != ftVarBytes) return std::string(bytes, static_cast<std::size_t>(Size()));
  uint16_t length;
  std::memcpy(&length, buffer.data(), 2);
  std::size_t n = std::min<std::size_t>(length, static_cast<std::size_t>(Size()) - 2);
  return std::string(bytes + 2, n);
}

void TBytesField::SetAsString(const std::string& value) {
  std::vector<uint8_t> buffer(static_cast<std::size_t>(Size()), 0);
  if (DataType() == ftVarBytes) {
    std::size_t n = std::min(value.size(), buffer.size() - 2);
    uint16_t length = static_cast<uint16_t>(n);
    std::memcpy(buffer.data(), &length, 2);
    std::memcpy(buffer.data() + 2, value.data(), n);
  } else {
    std::memcpy(buffer.data(), value.data(), std::min(value.size(), buffer.size()));
  }
  SetData(buffer.data());
}

Variant TBytesField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromBytes(AsString());
}

void TBytesField::SetVarValue(const Variant& value) { SetAsString(value.ToBytes()); }

// ---- TBlobField

TBlobField::TBlobField(TFieldType type) : TField(type, 0) {}

void TBlobField::CheckSize(int size) const {
  if (size < 0) DatabaseError(msg::InvalidFieldSize);
}

bool TBlobField::IsNull() const {
  if (modified_ && DataSet() != nullptr) {
    return DataSet()->CreateBlobStream(const_cast<TBlobField&>(*this), bmRead)->Size() == 0;
  }
  return TField::IsNull();
}

int64_t TBlobField::BlobSize() const {
  if (DataSet() == nullptr) DatabaseErrorFmt(msg::DataSetMissing, {DisplayName()});
  return DataSet()->CreateBlobStream(const_cast<TBlobField&>(*this), bmRead)->Size();
}

std::string TBlobField::AsString() const {
  if (DataSet() == nullptr) DatabaseErrorFmt(msg::DataSetMissing, {DisplayName()});
  return DataSet()->CreateBlobStream(const_cast<TBlobField&>(*this), bmRead)->ReadToEnd();
}

void TBlobField::SetAsString(const std::string& value) {
  if (DataSet() == nullptr) DatabaseErrorFmt(msg::DataSetMissing, {DisplayName()});
  DataSet()->CreateBlobStream(*this, bmWrite)->WriteString(value);
}

void TBlobField::Clear() {
  if (DataSet() == nullptr) DatabaseErrorFmt(msg::DataSetMissing, {DisplayName()});
  DataSet()->CreateBlobStream(*this, bmWrite);
}

Variant TBlobField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(AsString());
}

void TBlobField::SetVarValue(const Variant& value) {
  SetAsString(value.VarType() == TVarType::Bytes ? value.ToBytes() : value.ToString());
}

void TBlobField::GetText(std::string& text, bool /*displayText*/) const {
  text = std::string("(") + FieldTypeName(DataType()) + ")";
  if (!IsNull()) text = AnsiUpperCase(text);
}

void TBlobField::FreeBuffers() {
  if (DataSet() != nullptr && FieldKind() == fkData) DataSet()->CloseBlob(*this);
  modified_ = false;
}

// ---- Default field kinds

std::unique_ptr<TField> CreateFieldOfType(TFieldType type, int size) {
  switch (type) {
    case ftString:
    case ftFixedChar: return std::make_unique<TStringField>(size, type);
    case ftWideString: return std::make_unique<TWideStringField>(size);
    case ftSmallint: return std::make_unique<TSmallintField>();
    case ftInteger: return std::make_unique<TIntegerField>();
    case ftWord: return std::make_unique<TWordField>();
    case ftAutoInc: return std::make_unique<TAutoIncField>();
    case ftBoolean: return std::make_unique<TBooleanField>();
    case ftFloat: return std::make_unique<TFloatField>();
    case ftCurrency: return std::make_unique<TCurrencyField>();
    case ftBCD: return std::make_unique<TBCDField>(size);
    case ftDate: return std::make_unique<TDateField>();
    case ftTime: return std::make_unique<TTimeField>();
    case ftDateTime: return std::make_unique<TDateTimeField>();
    case ftBytes: return std::make_unique<TBytesField>(size);
    case ftVarBytes: return std::make_unique<TVarBytesField>(size);
    case ftMemo: return std::make_unique<TMemoField>();
    case ftGraphic: return std::make_unique<TGraphicField>();
    case ftBlob:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary: return std::make_unique<TBlobField>(type);
    default: return nullptr;
  }
}

}  // namespace dataset
