// Field values written as text, as the default, minimum and maximum of a
// field descriptor hold them. Formats:
//   date       "YYYY-MM-DD"
//   time       "HH:MM", "HH:MM:SS" or "HH:MM:SS.zzz" (1 to 3 fraction digits)
//   date-time  a date, a time, or a date and a time separated by one blank
//              or by 'T'
//   integer    optional sign and decimal digits
//   float      decimal number with optional fraction and exponent ('.' as
//              the decimal point)
//   currency   decimal number with optional fraction
// Surrounding blanks are ignored. Every parser answers false for text that
// is not a value of its kind or lies outside the range of the value.
#pragma once

#include <cstdint>
#include <string_view>

namespace tessel {

// Day number of a calendar date: day 1 is 0001-01-01 (693594 is 1899-12-30).
int32_t DayNumberOf(int year, int month, int day);
constexpr int32_t kDayNumber18991230 = 693594;
constexpr int64_t kMillisecondsPerDay = 86400000;

// Date text to day number.
bool ParseDateText(std::string_view text, int32_t& dayNumber);
// Time text to milliseconds since midnight.
bool ParseTimeText(std::string_view text, int32_t& milliseconds);
// Date-time text to milliseconds since the start of day 1 (day number x
// 86400000 + milliseconds of the day). A time alone lies on 1899-12-30, the
// day of date-time value 0; a date alone at midnight.
bool ParseDateTimeText(std::string_view text, double& milliseconds);
bool ParseIntegerText(std::string_view text, int64_t& value);
bool ParseFloatText(std::string_view text, double& value);
// Decimal text scaled by 10^decimals (rounded half away from zero); false
// when the scaled value does not fit 64 bits or decimals exceeds 18.
bool ParseScaledText(std::string_view text, int decimals, int64_t& scaled);
// Currency text: a decimal scaled by 10000, as a currency value is held.
inline bool ParseCurrencyText(std::string_view text, int64_t& scaled) {
  return ParseScaledText(text, 4, scaled);
}

// Whether text is a valid default, minimum or maximum of a field of the given
// type code: empty, a keyword of the type ("DATE", "TIME", "NOW", "TRUE",
// "FALSE", any case) or a value text in range.
bool IsValidValueText(uint8_t type, std::string_view text);

}  // namespace tessel
