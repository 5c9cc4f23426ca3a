// Date and time values of the record-set layer: TDateTime counts days since
// 30 December 1899 with the time of day as the fraction (a negative value's
// fraction still counts forward from midnight: -1.25 is 29 December 1899,
// 06:00). The engine stores dates as day numbers from 1 January of year 1
// (day 1) and times as milliseconds since midnight; TTimeStamp carries that
// form.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/Exceptions.h"

namespace dataset {

using TDateTime = double;

inline constexpr int32_t DateDelta = 693594;  // day number of 30 December 1899
inline constexpr int32_t MSecsPerDay = 86400000;

struct TTimeStamp {
  int32_t Time = 0;  // milliseconds since midnight
  int32_t Date = 0;  // day number, 1 = 1 January of year 1
};

TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
// Milliseconds since the start of day 1: Date * 86400000 + Time.
double TimeStampToMSecs(const TTimeStamp& stamp);
TTimeStamp MSecsToTimeStamp(double msecs);

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day);                // EConvertError
TDateTime EncodeTime(int hour, int minute, int second, int msec);  // EConvertError
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);

// Texts: dates as "yyyy-mm-dd", times as "hh:nn:ss"; a date and time joins
// both with a blank and leaves the time out at midnight.
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);
// The reverse conversions accept the same forms ('/' and '.' also separate
// the parts of a date; seconds may be left out); others raise EConvertError.
TDateTime StrToDate(const std::string& text);
TDateTime StrToTime(const std::string& text);
TDateTime StrToDateTime(const std::string& text);

}  // namespace dataset
