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
//
// One encoder turns such a text into a field's value as the record slot holds
// it; the structure check asks it whether a text is valid and the cursor
// takes new records' defaults and the limits of the constraint checks from
// it, so a text the check accepts is the value the records get.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/storage/Formats.h"
#include "platform/core/Clock.h"

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

// The clock the keywords "DATE", "TIME" and "NOW" read: platform::Now where
// records are written, a fixed moment in tests.
using TClock = platform::LocalDateTime (*)();

// Whether a field of the type takes its default, minimum and maximum as a
// value: strings, dates, times, timestamps, booleans, the integer types,
// floats and BCD. The other types (bytes, BLOBs, ...) accept any text and
// ignore it.
bool HasValueText(uint8_t type);

// A default, minimum or maximum text as the field's value in slot encoding:
// value receives max(PhysicalSize, 8) + 1 bytes with the value at the start.
//   string     the text as given, cut to the field's characters
//   date       "DATE" (any case) today, or a date text
//   time       "TIME" the current time, or a time text
//   timestamp  "NOW", "DATE" (today at midnight), "TIME" (the current time
//              on 1899-12-30), or a date-time text
//   boolean    "TRUE" or "FALSE", any case
//   integers   a decimal in the range of the type
//   float      a decimal number
//   BCD        a decimal scaled by 10^(the field's declared decimals),
//              rounded half away from zero, within 64 bits
// The clock is read once, and only for a keyword. False for a text that is
// not a value of the field, and for the types without a value text.
bool EncodeValueText(const TFieldDesc& field, std::string_view text, TClock clock, std::vector<uint8_t>& value);

// As EncodeValueText, but a text that is not a value of the field raises
// dataset::EConvertError "'<text>' is not a valid <kind>" (kind "date",
// "time", "date and time", "boolean value", "integer value", "floating point
// value", "BCD value"). False only for the types without a value text.
bool EncodeValueTextOrRaise(const TFieldDesc& field, std::string_view text, TClock clock,
                            std::vector<uint8_t>& value);

// Whether text is a valid default, minimum or maximum of the field: empty,
// any text for a type without a value text, otherwise a text EncodeValueText
// takes.
bool IsValidValueText(const TFieldDesc& field, std::string_view text);

}  // namespace tessel
