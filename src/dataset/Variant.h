// Field values as they pass between the record set, the application and the
// grid: empty (unassigned), null, boolean, integer, float, date-time, string
// (Windows-1252 bytes), raw bytes, or an array of values (several key values
// of a Locate). Conversions follow the platform's variant rules: a null
// value has no text, number or date, so converting it fails with "Invalid
// variant type conversion"; an empty value converts to "" and 0.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset/DateTime.h"

namespace dataset {

class EVariantError : public std::runtime_error {
 public:
  explicit EVariantError(const std::string& message) : std::runtime_error(message) {}
};

enum class TVarType { Empty, Null, Boolean, Integer, Double, Date, String, Bytes, Array };

class Variant {
 public:
  Variant() = default;  // empty
  Variant(bool value) : type_(TVarType::Boolean), int_(value ? 1 : 0) {}
  Variant(int value) : type_(TVarType::Integer), int_(value) {}
  Variant(int64_t value) : type_(TVarType::Integer), int_(value) {}
  Variant(double value) : type_(TVarType::Double), double_(value) {}
  Variant(const char* value) : type_(TVarType::String), string_(value) {}
  Variant(std::string value) : type_(TVarType::String), string_(std::move(value)) {}

  static Variant Null() {
    Variant v;
    v.type_ = TVarType::Null;
    return v;
  }
  static Variant FromDateTime(TDateTime value) {
    Variant v;
    v.type_ = TVarType::Date;
    v.double_ = value;
    return v;
  }
  static Variant FromBytes(std::string bytes) {
    Variant v;
    v.type_ = TVarType::Bytes;
    v.string_ = std::move(bytes);
    return v;
  }
  static Variant Array(std::vector<Variant> items) {
    Variant v;
    v.type_ = TVarType::Array;
    v.items_ = std::move(items);
    return v;
  }

  TVarType VarType() const { return type_; }
  bool IsNull() const { return type_ == TVarType::Null; }
  bool IsEmpty() const { return type_ == TVarType::Empty; }
  // Null or empty: no value at all.
  bool IsClear() const { return IsNull() || IsEmpty(); }
  bool IsArray() const { return type_ == TVarType::Array; }
  bool IsNumeric() const;  // boolean, integer, float or date
  bool IsString() const { return type_ == TVarType::String; }

  // Array elements (an empty list for a non-array).
  const std::vector<Variant>& Items() const { return items_; }
  std::size_t Count() const { return items_.size(); }
  const Variant& operator[](std::size_t i) const { return items_.at(i); }

  // Conversions; each raises EVariantError when the value cannot be had.
  std::string ToString() const;  // null, bytes, array: "Invalid variant type conversion"
  int64_t ToInteger() const;     // floats are rounded
  double ToDouble() const;
  bool ToBoolean() const;
  TDateTime ToDateTime() const;
  // The raw bytes of a bytes value, or the bytes of a string.
  const std::string& ToBytes() const;

  // Equality as Locate and key comparisons see it: null equals only null,
  // strings compare byte by byte, numbers (and dates, booleans) by value, a
  // string and a number by the string's numeric value.
  bool operator==(const Variant& other) const;

  // The type's name as the conversion messages give it ("String", "Null").
  static const char* TypeName(TVarType type);

 private:
  [[noreturn]] void ConversionError(TVarType target) const;

  TVarType type_ = TVarType::Empty;
  int64_t int_ = 0;
  double double_ = 0;
  std::string string_;
  std::vector<Variant> items_;
};

// Ordering of two values: null before every other value and equal to null;
// strings byte by byte as unsigned bytes (a prefix first); numbers, dates and
// booleans by value; a string and a number by the string's numeric value.
// An empty value, an array or another mix cannot be ordered: EVariantError.
int CompareVariants(const Variant& a, const Variant& b);

}  // namespace dataset
