#include "app/LiveView.h"

#include <exception>

namespace marrowick {

void TLiveView::Start() {
  if (started_) return;
  started_ = true;
  Arm();
}

void TLiveView::Stop() {
  started_ = false;
  if (timer_ != platform::ITimers::kNoTimer) timers_.CancelTimer(timer_);
  timer_ = platform::ITimers::kNoTimer;
}

void TLiveView::Arm() {
  timer_ = timers_.StartTimer(kInterval, [this] {
    timer_ = platform::ITimers::kNoTimer;
    Tick();
    // What Tick ran may have stopped the view (the window was hidden).
    if (started_ && timer_ == platform::ITimers::kNoTimer) Arm();
  });
}

void TLiveView::Tick() {
  if (paused_) return;
  bool changed = false;
  try {
    changed = hooks_.ChangedElsewhere();
  } catch (const std::exception&) {
    // A counter that cannot be read now is looked at again next time.
    changed = false;
  }
  if (!changed) {
    waiting_ = false;
    return;
  }
  if (hooks_.Busy()) {
    waiting_ = true;
    return;
  }
  waiting_ = false;
  try {
    hooks_.Refresh();
    ++refreshes_;
  } catch (const std::exception& error) {
    paused_ = true;
    if (hooks_.OnError) hooks_.OnError(error);
  }
}

}  // namespace marrowick
