#include "dataset/Variant.h"

#include <cmath>

#include "dataset/DataSetMessages.h"
#include "dataset/TextConvert.h"

namespace dataset {

namespace {

bool IsNumericType(TVarType type) {
  return type == TVarType::Boolean || type == TVarType::Integer || type == TVarType::Double ||
         type == TVarType::Date;
}

}  // namespace

const char* Variant::TypeName(TVarType type) {
  switch (type) {
    case TVarType::Empty: return "Empty";
    case TVarType::Null: return "Null";
    case TVarType::Boolean: return "Boolean";
    case TVarType::Integer: return "Integer";
    case TVarType::Double: return "Double";
    case TVarType::Date: return "Date";
    case TVarType::String: return "String";
    case TVarType::Bytes: return "Array Byte";
    case TVarType::Array: return "Array Variant";
  }
  return "Unknown";
}

bool Variant::IsNumeric() const { return IsNumericType(type_); }

void Variant::ConversionError(TVarType target) const {
  if (type_ == TVarType::String) {
    throw EVariantError(
        FormatMessage(msg::VarTypeCouldNotConvert, {TypeName(type_), TypeName(target)}));
  }
  throw EVariantError(msg::InvalidVarCast);
}

std::string Variant::ToString() const {
  switch (type_) {
    case TVarType::Empty: return {};
    case TVarType::Boolean: return int_ ? "True" : "False";
    case TVarType::Integer: return std::to_string(int_);
    case TVarType::Double: return FloatToStr(double_);
    case TVarType::Date: return DateTimeToStr(double_);
    case TVarType::String: return string_;
    default: throw EVariantError(msg::InvalidVarCast);
  }
}

int64_t Variant::ToInteger() const {
  switch (type_) {
    case TVarType::Empty: return 0;
    case TVarType::Boolean: return int_ ? -1 : 0;
    case TVarType::Integer: return int_;
    case TVarType::Double:
    case TVarType::Date:
      if (!std::isfinite(double_) || std::fabs(double_) > 9.2e18) ConversionError(TVarType::Integer);
      return static_cast<int64_t>(std::nearbyint(double_));
    case TVarType::String: {
      int64_t value;
      if (TryStrToInt64(string_, value)) return value;
      double d;
      if (TryStrToFloat(string_, d) && std::fabs(d) <= 9.2e18) {
        return static_cast<int64_t>(std::nearbyint(d));
      }
      ConversionError(TVarType::Integer);
    }
    default: ConversionError(TVarType::Integer);
  }
}

double Variant::ToDouble() const {
  switch (type_) {
    case TVarType::Empty: return 0;
    case TVarType::Boolean: return int_ ? -1 : 0;
    case TVarType::Integer: return static_cast<double>(int_);
    case TVarType::Double:
    case TVarType::Date: return double_;
    case TVarType::String: {
      double value;
      if (TryStrToFloat(string_, value)) return value;
      ConversionError(TVarType::Double);
    }
    default: ConversionError(TVarType::Double);
  }
}

bool Variant::ToBoolean() const {
  switch (type_) {
    case TVarType::Empty: return false;
    case TVarType::Boolean:
    case TVarType::Integer: return int_ != 0;
    case TVarType::Double:
    case TVarType::Date: return double_ != 0;
    case TVarType::String: {
      if (AnsiSameText(string_, "True")) return true;
      if (AnsiSameText(string_, "False")) return false;
      double value;
      if (TryStrToFloat(string_, value)) return value != 0;
      ConversionError(TVarType::Boolean);
    }
    default: ConversionError(TVarType::Boolean);
  }
}

TDateTime Variant::ToDateTime() const {
  switch (type_) {
    case TVarType::String: {
      try {
        return StrToDateTime(string_);
      } catch (const EConvertError&) {
        ConversionError(TVarType::Date);
      }
    }
    case TVarType::Empty:
    case TVarType::Boolean:
    case TVarType::Integer:
    case TVarType::Double:
    case TVarType::Date: return ToDouble();
    default: ConversionError(TVarType::Date);
  }
}

const std::string& Variant::ToBytes() const {
  if (type_ != TVarType::Bytes && type_ != TVarType::String) ConversionError(TVarType::Bytes);
  return string_;
}

bool Variant::operator==(const Variant& other) const {
  if (type_ == TVarType::Null || other.type_ == TVarType::Null) return type_ == other.type_;
  if (type_ == TVarType::Array || other.type_ == TVarType::Array) {
    return type_ == other.type_ && items_ == other.items_;
  }
  if ((type_ == TVarType::String || type_ == TVarType::Bytes || type_ == TVarType::Empty) &&
      (other.type_ == TVarType::String || other.type_ == TVarType::Bytes ||
       other.type_ == TVarType::Empty)) {
    return string_ == other.string_;
  }
  try {
    return ToDouble() == other.ToDouble();
  } catch (const EVariantError&) {
    return false;
  }
}

int CompareVariants(const Variant& a, const Variant& b) {
  TVarType ta = a.VarType(), tb = b.VarType();
  if (ta == TVarType::Empty || tb == TVarType::Empty || ta == TVarType::Array ||
      tb == TVarType::Array) {
    throw EVariantError(msg::InvalidVarCast);
  }
  if (ta == TVarType::Null || tb == TVarType::Null) {
    if (ta == tb) return 0;
    return ta == TVarType::Null ? -1 : 1;
  }
  bool aText = ta == TVarType::String || ta == TVarType::Bytes;
  bool bText = tb == TVarType::String || tb == TVarType::Bytes;
  if (aText && bText) {
    const std::string& x = a.ToBytes();
    const std::string& y = b.ToBytes();
    std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
      unsigned char cx = static_cast<unsigned char>(x[i]), cy = static_cast<unsigned char>(y[i]);
      if (cx != cy) return cx < cy ? -1 : 1;
    }
    return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
  }
  double x = a.ToDouble(), y = b.ToDouble();
  return x == y ? 0 : (x < y ? -1 : 1);
}

}  // namespace dataset
