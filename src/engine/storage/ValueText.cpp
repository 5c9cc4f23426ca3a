#include "engine/storage/ValueText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "engine/base/Names.h"
#include "engine/storage/Formats.h"

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

bool IsValidValueText(uint8_t type, std::string_view text) {
  if (text.empty()) return true;
  int32_t i32 = 0;
  int64_t i64 = 0;
  double d = 0;
  switch (type) {
    case ftDate:
      return SameKeyword(text, "DATE") || ParseDateText(text, i32);
    case ftTime:
      return SameKeyword(text, "TIME") || ParseTimeText(text, i32);
    case ftTimeStamp:
      return SameKeyword(text, "NOW") || SameKeyword(text, "DATE") || SameKeyword(text, "TIME") ||
             ParseDateTimeText(text, d);
    case ftBoolean:
      return SameKeyword(text, "TRUE") || SameKeyword(text, "FALSE");
    case ftSmallInt:
      return ParseIntegerText(text, i64) && i64 >= -32768 && i64 <= 32767;
    case ftWord:
      return ParseIntegerText(text, i64) && i64 >= 0 && i64 <= 65535;
    case ftInteger:
      return ParseIntegerText(text, i64) && i64 >= std::numeric_limits<int32_t>::min() &&
             i64 <= std::numeric_limits<int32_t>::max();
    case ftFloat:
      return ParseFloatText(text, d);
    case ftBCD:
      return ParseCurrencyText(text, i64);
    default:
      // Strings, bytes and the types without a text form take any text.
      return true;
  }
}

}  // namespace tessel
