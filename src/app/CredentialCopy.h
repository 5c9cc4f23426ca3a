// Copying a site's URL, login or password without showing them. The
// password goes to the clipboard as a secret (marked so that clipboard
// managers do not keep it) and is taken off again 20 seconds later, unless
// something else was copied meanwhile; so is a password still there when
// the window goes.
#pragma once

#include <string>

#include "platform/core/Clipboard.h"
#include "platform/core/Timers.h"

namespace marrowick {

class TCredentialCopy {
 public:
  static constexpr int kPasswordLifetime = 20000;  // milliseconds

  // Neither is owned; both must outlive this object.
  TCredentialCopy(platform::IClipboard& clipboard, platform::ITimers& timers)
      : clipboard_(clipboard), timers_(timers) {}
  ~TCredentialCopy();
  TCredentialCopy(const TCredentialCopy&) = delete;
  TCredentialCopy& operator=(const TCredentialCopy&) = delete;

  // A text that is no secret (a URL, a login).
  void CopyText(const std::string& text);
  void CopyPassword(const std::string& password);
  // A password copied here waits to be taken off the clipboard.
  bool PasswordPending() const { return timer_ != platform::ITimers::kNoTimer; }

 private:
  void ClearPassword();
  void Forget();

  platform::IClipboard& clipboard_;
  platform::ITimers& timers_;
  platform::ITimers::TTimerId timer_ = platform::ITimers::kNoTimer;
  std::string password_;
};

}  // namespace marrowick
