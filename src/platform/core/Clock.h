// Time for the engine: a steady tick count for waits, and the local date-time
// for header stamps and the "DATE", "TIME" and "NOW" defaults.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds from an arbitrary fixed start; never goes backwards.
uint64_t TickCount();

// Waits until more than milliseconds have passed.
void WaitMilliseconds(uint32_t milliseconds);

struct LocalDateTime {
  int Year, Month, Day;  // Month 1-12, Day 1-31
  int Hour, Minute, Second, Millisecond;
};
LocalDateTime Now();

// Days since 1899-12-30 with the time of day as the fraction.
double ToDateTimeValue(const LocalDateTime& t);

}  // namespace platform
