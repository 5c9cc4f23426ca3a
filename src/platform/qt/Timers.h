// The window's timers on Qt's event loop, and the local time of the system.
#pragma once

#include <map>

#include "platform/core/Timers.h"

class QTimer;

namespace marrowick::platform {

class TQtTimers : public ITimers {
 public:
  TQtTimers() = default;
  ~TQtTimers() override;
  TQtTimers(const TQtTimers&) = delete;
  TQtTimers& operator=(const TQtTimers&) = delete;

  TTimerId StartTimer(int delayMilliseconds, std::function<void()> due) override;
  void CancelTimer(TTimerId id) override;
  ::platform::LocalDateTime LocalNow() override { return ::platform::Now(); }

 private:
  std::map<TTimerId, QTimer*> timers_;
  TTimerId lastId_ = kNoTimer;
};

}  // namespace marrowick::platform
