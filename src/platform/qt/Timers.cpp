#include "platform/qt/Timers.h"

#include <utility>

#include <QTimer>

namespace marrowick::platform {

TQtTimers::~TQtTimers() {
  for (auto& [id, timer] : timers_) delete timer;
}

ITimers::TTimerId TQtTimers::StartTimer(int delayMilliseconds, std::function<void()> due) {
  const TTimerId id = ++lastId_ == kNoTimer ? ++lastId_ : lastId_;
  auto* timer = new QTimer();
  timer->setSingleShot(true);
  timer->setTimerType(Qt::CoarseTimer);
  QObject::connect(timer, &QTimer::timeout, timer, [this, id, due = std::move(due)] {
    // The timer goes first: what due does may start or cancel timers.
    auto found = timers_.find(id);
    if (found == timers_.end()) return;
    found->second->deleteLater();
    timers_.erase(found);
    due();
  });
  timers_.emplace(id, timer);
  timer->start(delayMilliseconds < 0 ? 0 : delayMilliseconds);
  return id;
}

void TQtTimers::CancelTimer(TTimerId id) {
  auto found = timers_.find(id);
  if (found == timers_.end()) return;
  found->second->stop();
  found->second->deleteLater();
  timers_.erase(found);
}

}  // namespace marrowick::platform
