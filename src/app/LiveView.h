// Following other programs' changes of the catalogue while the window is
// shown: about once a second the view asks whether another program changed
// the table (a look at the files' change counters) and, when one did, has
// the window re-read it, unless something of this program's stands in the
// way (an edit not yet stored, a dialog, a command under way): then the
// change waits, and is taken in at the first look after.
#pragma once

#include <exception>
#include <functional>
#include <utility>

#include "platform/core/Timers.h"

namespace marrowick {

class TLiveView {
 public:
  static constexpr int kInterval = 1000;  // milliseconds

  struct THooks {
    // Whether another program changed the table (errors count as no).
    std::function<bool()> ChangedElsewhere;
    // Whether a refresh now could cost this program's state.
    std::function<bool()> Busy;
    // Re-reads the table into the view; an error it raises pauses the
    // view (see Resume) and is handed to OnError.
    std::function<void()> Refresh;
    std::function<void(const std::exception&)> OnError;
  };

  // timers is not owned and must outlive the view.
  TLiveView(platform::ITimers& timers, THooks hooks) : timers_(timers), hooks_(std::move(hooks)) {}
  ~TLiveView() { Stop(); }
  TLiveView(const TLiveView&) = delete;
  TLiveView& operator=(const TLiveView&) = delete;

  // Looks once a second from now on (nothing when already looking).
  void Start();
  void Stop();
  bool Running() const { return started_; }

  // One look, as the timer runs it.
  void Tick();
  // A change seen while busy waits for the next look.
  bool Waiting() const { return waiting_; }
  // After a refresh failed the view stops refreshing until this is called
  // (a refresh the user asks for), so that one error is shown once.
  bool Paused() const { return paused_; }
  // Refreshes the view made (for those who watch it work).
  int Refreshes() const { return refreshes_; }
  void Resume() { paused_ = false; }

 private:
  void Arm();

  platform::ITimers& timers_;
  THooks hooks_;
  platform::ITimers::TTimerId timer_ = platform::ITimers::kNoTimer;
  bool started_ = false;
  bool waiting_ = false;
  bool paused_ = false;
  int refreshes_ = 0;
};

}  // namespace marrowick
