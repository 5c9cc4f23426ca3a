#include "engine/storage/ValueText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "engine/base/Bytes.h"
#include "platform/core/Exceptions.h"
#include "engine/base/Names.h"

namespace tessel {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads between minDigits and maxDigits decimal digits at pos.
bool ReadNumber(std::string_view s, size_t& pos, int minDigits, int maxDigits, int& value) {
  int count = 0;
  value = 0;
  while (pos < s.size() && count < maxDigits && IsDigit(s[pos])) {
    value = value * 10 + (s[pos] - '0');
    ++pos;
    ++count;
  }
  return count >= minDigits && (pos >= s.size() || !IsDigit(s[pos]));
}

bool Expect(std::string_view s, size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool ParseDateCore(std::string_view s, int32_t& dayNumber) {
  size_t pos = 0;
  int year = 0, month = 0, day = 0;
  if (!ReadNumber(s, pos, 4, 4, year) || !Expect(s, pos, '-') || !ReadNumber(s, pos, 1, 2, month) ||
      !Expect(s, pos, '-') || !ReadNumber(s, pos, 1, 2, day) || pos != s.size())
    return false;
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  dayNumber = DayNumberOf(year, month, day);
  return true;
}

bool ParseTimeCore(std::string_view s, int32_t& milliseconds) {
  size_t pos = 0;
  int hour = 0, minute = 0, second = 0, fraction = 0;
  if (!ReadNumber(s, pos, 1, 2, hour) || !Expect(s, pos, ':') || !ReadNumber(s, pos, 2, 2, minute)) return false;
  if (pos < s.size()) {
    if (!Expect(s, pos, ':') || !ReadNumber(s, pos, 2, 2, second)) return false;
    if (pos < s.size()) {
      if (!Expect(s, pos, '.')) return false;
      const size_t start = pos;
      if (!ReadNumber(s, pos, 1, 3, fraction)) return false;
      for (size_t digits = pos - start; digits < 3; ++digits) fraction *= 10;
    }
  }
  if (pos != s.size() || hour > 23 || minute > 59 || second > 59) return false;
  milliseconds = ((hour * 60 + minute) * 60 + second) * 1000 + fraction;
  return true;
}

bool SameKeyword(std::string_view text, std::string_view keyword) {
  return SameNameIgnoringCase(text, keyword);
}

}  // namespace

int32_t DayNumberOf(int year, int month, int day) {
  static const int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int32_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 + kBefore[month - 1] + (leap && month > 2 ? 1 : 0) + day;
}

bool ParseDateText(std::string_view text, int32_t& dayNumber) {
  return ParseDateCore(TrimBlanks(text), dayNumber);
}

bool ParseTimeText(std::string_view text, int32_t& milliseconds) {
  return ParseTimeCore(TrimBlanks(text), milliseconds);
}

bool ParseDateTimeText(std::string_view text, double& milliseconds) {
  const std::string s = TrimBlanks(text);
  int32_t day = 0;
  int32_t ms = 0;
  const size_t sep = s.find_first_of(" T");
  if (sep != std::string::npos) {
    if (!ParseDateCore(std::string_view(s).substr(0, sep), day) ||
        !ParseTimeCore(std::string_view(s).substr(sep + 1), ms))
      return false;
  } else if (ParseDateCore(s, day)) {
    ms = 0;
  } else if (ParseTimeCore(s, ms)) {
    day = kDayNumber18991230;
  } else {
    return false;
  }
  milliseconds = static_cast<double>(day) * static_cast<double>(kMillisecondsPerDay) + ms;
  return true;
}

bool ParseIntegerText(std::string_view text, int64_t& value) {
  std::string s = TrimBlanks(text);
  const size_t digits = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
  if (s.size() <= digits || !IsDigit(s[digits])) return false;
  if (s[0] == '+') s.erase(0, 1);
  const auto r = std::from_chars(s.data(), s.data() + s.size(), value);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool ParseFloatText(std::string_view text, double& value) {
  std::string s = TrimBlanks(text);
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.erase(0, 1);
  }
  // Only digits and a decimal point may start the number (no "inf", "nan",
  // hexadecimal forms).
  if (s.empty() || !(IsDigit(s[0]) || (s[0] == '.' && s.size() > 1 && IsDigit(s[1])))) return false;
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
  value = negative ? -v : v;
  return true;
}

bool ParseScaledText(std::string_view text, int decimals, int64_t& scaled) {
  if (decimals < 0 || decimals > 18) return false;
  const std::string s = TrimBlanks(text);
  size_t pos = 0;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
  const size_t intStart = pos;
  while (pos < s.size() && IsDigit(s[pos])) ++pos;
  const std::string_view intDigits = std::string_view(s).substr(intStart, pos - intStart);
  std::string_view fracDigits;
  if (pos < s.size() && s[pos] == '.') {
    const size_t fracStart = ++pos;
    while (pos < s.size() && IsDigit(s[pos])) ++pos;
    fracDigits = std::string_view(s).substr(fracStart, pos - fracStart);
  }
  if (pos != s.size() || (intDigits.empty() && fracDigits.empty())) return false;
  // The magnitude is built as a negative number so that the most negative
  // 64-bit value is reachable.
  int64_t v = 0;
  auto push = [&v](char c) {
    return !__builtin_mul_overflow(v, int64_t{10}, &v) && !__builtin_sub_overflow(v, int64_t{c - '0'}, &v);
  };
  for (char c : intDigits)
    if (!push(c)) return false;
  for (size_t i = 0; i < static_cast<size_t>(decimals); ++i)
    if (!push(i < fracDigits.size() ? fracDigits[i] : '0')) return false;
  // The first digit beyond the scale rounds, half away from zero.
  if (fracDigits.size() > static_cast<size_t>(decimals) && fracDigits[static_cast<size_t>(decimals)] >= '5' &&
      __builtin_sub_overflow(v, int64_t{1}, &v))
    return false;
  if (!negative) {
    if (v == std::numeric_limits<int64_t>::min()) return false;
    v = -v;
  }
  scaled = v;
  return true;
}

bool HasValueText(uint8_t type) {
  switch (type) {
    case ftString:
    case ftDate:
    case ftTime:
    case ftTimeStamp:
    case ftBoolean:
    case ftSmallInt:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftBCD:
      return true;
    default:
      return false;
  }
}

bool EncodeValueText(const TFieldDesc& field, std::string_view text, TClock clock, std::vector<uint8_t>& value) {
  value.assign(std::max<size_t>(field.PhysicalSize, 8) + 1, 0);
  uint8_t* v = value.data();
  auto dayOf = [](const platform::LocalDateTime& t) { return DayNumberOf(t.Year, t.Month, t.Day); };
  auto msOf = [](const platform::LocalDateTime& t) {
    return ((t.Hour * 60 + t.Minute) * 60 + t.Second) * 1000 + t.Millisecond;
  };
  switch (field.Type) {
    case ftString: {
      const size_t n = std::min(text.size(), field.PhysicalSize > 0 ? size_t{field.PhysicalSize} - 1 : 0);
      std::memcpy(v, text.data(), n);
      return true;
    }
    case ftDate: {
      int32_t day = 0;
      if (SameKeyword(text, "DATE")) day = dayOf(clock());
      else if (!ParseDateText(text, day)) return false;
      PutI32(v, day);
      return true;
    }
    case ftTime: {
      int32_t ms = 0;
      if (SameKeyword(text, "TIME")) ms = msOf(clock());
      else if (!ParseTimeText(text, ms)) return false;
      PutI32(v, ms);
      return true;
    }
    case ftTimeStamp: {
      double ms = 0;
      const double perDay = static_cast<double>(kMillisecondsPerDay);
      if (SameKeyword(text, "NOW")) {
        const platform::LocalDateTime now = clock();
        ms = static_cast<double>(dayOf(now)) * perDay + msOf(now);
      } else if (SameKeyword(text, "DATE")) {
        ms = static_cast<double>(dayOf(clock())) * perDay;
      } else if (SameKeyword(text, "TIME")) {
        ms = static_cast<double>(kDayNumber18991230) * perDay + msOf(clock());
      } else if (!ParseDateTimeText(text, ms)) {
        return false;
      }
      PutF64(v, ms);
      return true;
    }
    case ftBoolean:
      if (SameKeyword(text, "TRUE")) PutU16(v, 1);
      else if (SameKeyword(text, "FALSE")) PutU16(v, 0);
      else return false;
      return true;
    case ftSmallInt:
    case ftInteger:
    case ftWord: {
      int64_t n = 0;
      if (!ParseIntegerText(text, n)) return false;
      const bool inRange = field.Type == ftSmallInt ? n >= -32768 && n <= 32767
                           : field.Type == ftWord   ? n >= 0 && n <= 65535
                                                    : n >= std::numeric_limits<int32_t>::min() &&
                                                          n <= std::numeric_limits<int32_t>::max();
      if (!inRange) return false;
      if (field.Type == ftSmallInt) PutI16(v, static_cast<int16_t>(n));
      else if (field.Type == ftWord) PutU16(v, static_cast<uint16_t>(n));
      else PutI32(v, static_cast<int32_t>(n));
      return true;
    }
    case ftFloat: {
      double d = 0;
      if (!ParseFloatText(text, d)) return false;
      PutF64(v, d);
      return true;
    }
    case ftBCD: {
      int64_t scaled = 0;
      if (!ParseScaledText(text, field.DeclaredDecimals, scaled)) return false;
      PutI64(v, scaled);
      return true;
    }
    default:
      return false;
  }
}

bool EncodeValueTextOrRaise(const TFieldDesc& field, std::string_view text, TClock clock,
                            std::vector<uint8_t>& value) {
  if (EncodeValueText(field, text, clock, value)) return true;
  const char* kind = nullptr;
  switch (field.Type) {
    case ftDate: kind = "date"; break;
    case ftTime: kind = "time"; break;
    case ftTimeStamp: kind = "date and time"; break;
    case ftBoolean: kind = "boolean value"; break;
    case ftSmallInt:
    case ftInteger:
    case ftWord: kind = "integer value"; break;
    case ftFloat: kind = "floating point value"; break;
    case ftBCD: kind = "BCD value"; break;
    default: return false;
  }
  throw dataset::EConvertError("'" + std::string(text) + "' is not a valid " + kind);
}

bool IsValidValueText(const TFieldDesc& field, std::string_view text) {
  if (text.empty() || !HasValueText(field.Type)) return true;
  std::vector<uint8_t> value;
  // Any moment will do: a keyword is valid whatever the clock says.
  return EncodeValueText(field, text, [] { return platform::LocalDateTime{2000, 1, 1, 0, 0, 0, 0}; }, value);
}

}  // namespace tessel
