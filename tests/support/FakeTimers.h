// Timers on a clock that only a test moves: Advance runs, in time order,
// every timer that falls due on the way (also those started by a timer that
// ran), so a test of a 20-second delay takes no time and never depends on
// the machine's speed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "platform/core/Timers.h"

namespace marrowick::fakes {

class TFakeTimers : public platform::ITimers {
 public:
  // The local time LocalNow answers (a test may set it).
  ::platform::LocalDateTime Local{2026, 12, 9, 14, 5, 30, 0};

  TTimerId StartTimer(int delayMilliseconds, std::function<void()> due) override {
    const TTimerId id = ++lastId_;
    pending_.emplace(id, TPending{now_ + (delayMilliseconds < 0 ? 0 : delayMilliseconds), std::move(due)});
    return id;
  }
  void CancelTimer(TTimerId id) override { pending_.erase(id); }
  ::platform::LocalDateTime LocalNow() override { return Local; }

  int64_t Now() const { return now_; }
  int PendingCount() const { return static_cast<int>(pending_.size()); }

  // Moves the clock on by milliseconds, running what falls due.
  void Advance(int64_t milliseconds) {
    const int64_t until = now_ + milliseconds;
    for (;;) {
      auto next = pending_.end();
      for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->second.Due <= until && (next == pending_.end() || it->second.Due < next->second.Due)) next = it;
      }
      if (next == pending_.end()) break;
      now_ = next->second.Due;
      std::function<void()> due = std::move(next->second.Run);
      pending_.erase(next);
      due();
    }
    now_ = until;
  }

 private:
  struct TPending {
    int64_t Due;
    std::function<void()> Run;
  };
  std::map<TTimerId, TPending> pending_;  // by id, so equal times run in start order
  int64_t now_ = 0;
  TTimerId lastId_ = kNoTimer;
};

}  // namespace marrowick::fakes
