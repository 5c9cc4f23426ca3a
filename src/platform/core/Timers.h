// Time for the window's own schedules: one-shot timers that run on the
// event loop, and the local date and time. The program runs them on Qt's
// timers; tests run them on a clock they move by hand, so that nothing a
// test checks depends on how fast the machine is.
#pragma once

#include <functional>

#include "platform/core/Clock.h"

namespace marrowick::platform {

class ITimers {
 public:
  using TTimerId = int;
  static constexpr TTimerId kNoTimer = 0;

  virtual ~ITimers() = default;

  // Runs due once, from the event loop, when at least delay milliseconds
  // have passed; answers an id (never kNoTimer) for CancelTimer.
  virtual TTimerId StartTimer(int delayMilliseconds, std::function<void()> due) = 0;
  // A timer that has not run yet never will; an id that ran or is unknown
  // is ignored.
  virtual void CancelTimer(TTimerId id) = 0;

  virtual ::platform::LocalDateTime LocalNow() = 0;
};

}  // namespace marrowick::platform
