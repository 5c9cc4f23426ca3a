#include "platform/core/Clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace platform {
namespace {

// Days from 0001-01-01 (day 1) in the proleptic Gregorian calendar.
int64_t DayNumber(int y, int m, int d) {
  static const int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  const int64_t py = y - 1;
  return py * 365 + py / 4 - py / 100 + py / 400 + kBefore[m - 1] + (leap && m > 2 ? 1 : 0) + d;
}

}  // namespace

uint64_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void WaitMilliseconds(uint32_t milliseconds) {
  const uint64_t start = TickCount();
  while (TickCount() - start <= milliseconds) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LocalDateTime Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&secs, &tm);
  const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms};
}

double ToDateTimeValue(const LocalDateTime& t) {
  // Day 693594 is 1899-12-30.
  const double days = static_cast<double>(DayNumber(t.Year, t.Month, t.Day) - 693594);
  const double fraction = (t.Hour * 3600000.0 + t.Minute * 60000.0 + t.Second * 1000.0 + t.Millisecond) / 86400000.0;
  return days + fraction;
}

}  // namespace platform
