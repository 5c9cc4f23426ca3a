#include "dataset/DateTime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dataset/DataSetMessages.h"

namespace dataset {

namespace {

constexpr int kDaysBeforeMonth[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335}};

int32_t DayNumber(int year, int month, int day) {
  int y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[IsLeapYear(year) ? 1 : 0][month] +
         day;
}

void CivilFromDayNumber(int32_t dayNumber, int& year, int& month, int& day) {
  if (dayNumber <= 0) {
    year = month = day = 0;
    return;
  }
  constexpr int32_t kD1 = 365, kD4 = kD1 * 4 + 1, kD100 = kD4 * 25 - 1, kD400 = kD100 * 4 + 1;
  int32_t d = dayNumber - 1;
  int y = 1;
  y += 400 * (d / kD400);
  d %= kD400;
  int32_t i = d / kD100;
  d %= kD100;
  if (i == 4) {
    --i;
    d += kD100;
  }
  y += i * 100;
  y += 4 * (d / kD4);
  d %= kD4;
  i = d / kD1;
  d %= kD1;
  if (i == 4) {
    --i;
    d += kD1;
  }
  y += i;
  int leap = IsLeapYear(y) ? 1 : 0;
  int m = 1;
  while (m < 12 && d >= kDaysBeforeMonth[leap][m + 1]) ++m;
  year = y;
  month = m;
  day = d - kDaysBeforeMonth[leap][m] + 1;
}

std::string Trim(const std::string& text) {
  std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  std::size_t end = text.find_last_not_of(' ');
  return text.substr(begin, end - begin + 1);
}

// Splits text at any of the separators into unsigned decimal numbers; false
// when a part is empty or not a number.
bool SplitNumbers(const std::string& text, const char* separators, std::vector<int>& parts) {
  parts.clear();
  std::size_t pos = 0;
  while (true) {
    std::size_t end = text.find_first_of(separators, pos);
    std::string part = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (part.empty() || part.size() > 9) return false;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
    }
    parts.push_back(std::atoi(part.c_str()));
    if (end == std::string::npos) return true;
    pos = end + 1;
  }
}

bool TryStrToDate(const std::string& text, TDateTime& result) {
  std::vector<int> parts;
  if (!SplitNumbers(Trim(text), "-/.", parts) || parts.size() != 3) return false;
  return TryEncodeDate(parts[0], parts[1], parts[2], result);
}

bool TryStrToTime(const std::string& text, TDateTime& result) {
  std::string t = Trim(text);
  int msec = 0;
  std::size_t dot = t.find('.');
  if (dot != std::string::npos) {
    std::vector<int> ms;
    if (!SplitNumbers(t.substr(dot + 1), "", ms)) return false;
    msec = ms[0];
    t = t.substr(0, dot);
  }
  std::vector<int> parts;
  if (!SplitNumbers(t, ":", parts) || parts.size() < 2 || parts.size() > 3) return false;
  return TryEncodeTime(parts[0], parts[1], parts.size() == 3 ? parts[2] : 0, msec, result);
}

}  // namespace

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  int64_t msecs = std::llround(value * MSecsPerDay);
  TTimeStamp stamp;
  stamp.Time = static_cast<int32_t>(std::llabs(msecs) % MSecsPerDay);
  stamp.Date = static_cast<int32_t>(DateDelta + msecs / MSecsPerDay);
  return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  double days = static_cast<double>(stamp.Date) - DateDelta;
  double fraction = static_cast<double>(stamp.Time) / MSecsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

double TimeStampToMSecs(const TTimeStamp& stamp) {
  return static_cast<double>(stamp.Date) * MSecsPerDay + stamp.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  int64_t total = std::llround(msecs);
  TTimeStamp stamp;
  stamp.Date = static_cast<int32_t>(total / MSecsPerDay);
  stamp.Time = static_cast<int32_t>(total % MSecsPerDay);
  return stamp;
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  result = static_cast<double>(DayNumber(year, month, day) - DateDelta);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
      msec < 0 || msec >= 1000) {
    return false;
  }
  result = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result;
  if (!TryEncodeDate(year, month, day, result)) throw EConvertError(msg::DateEncodeError);
  return result;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime result;
  if (!TryEncodeTime(hour, minute, second, msec, result)) throw EConvertError(msg::TimeEncodeError);
  return result;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  CivilFromDayNumber(DateTimeToTimeStamp(value).Date, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  int32_t t = DateTimeToTimeStamp(value).Time;
  hour = t / 3600000;
  minute = t / 60000 % 60;
  second = t / 1000 % 60;
  msec = t % 1000;
}

std::string DateToStr(TDateTime value) {
  int y, m, d;
  DecodeDate(value, y, m, d);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
  return text;
}

std::string TimeToStr(TDateTime value) {
  int h, n, s, ms;
  DecodeTime(value, h, n, s, ms);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, n, s);
  return text;
}

std::string DateTimeToStr(TDateTime value) {
  if (DateTimeToTimeStamp(value).Time == 0) return DateToStr(value);
  return DateToStr(value) + " " + TimeToStr(value);
}

TDateTime StrToDate(const std::string& text) {
  TDateTime result;
  if (!TryStrToDate(text, result)) throw EConvertError(FormatMessage(msg::InvalidDate, {text}));
  return result;
}

TDateTime StrToTime(const std::string& text) {
  TDateTime result;
  if (!TryStrToTime(text, result)) throw EConvertError(FormatMessage(msg::InvalidTime, {text}));
  return result;
}

TDateTime StrToDateTime(const std::string& text) {
  std::string t = Trim(text);
  std::size_t blank = t.find(' ');
  TDateTime date = 0, time = 0;
  bool ok = blank == std::string::npos
                ? TryStrToDate(t, date)
                : TryStrToDate(t.substr(0, blank), date) && TryStrToTime(t.substr(blank + 1), time);
  if (!ok) throw EConvertError(FormatMessage(msg::InvalidDateTime, {text}));
  return date < 0 ? date - time : date + time;
}

}  // namespace dataset
