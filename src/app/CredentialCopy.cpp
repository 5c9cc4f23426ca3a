#include "app/CredentialCopy.h"

namespace marrowick {

TCredentialCopy::~TCredentialCopy() {
  if (!PasswordPending()) return;
  timers_.CancelTimer(timer_);
  timer_ = platform::ITimers::kNoTimer;
  try {
    clipboard_.ClearSecretText(password_);
  } catch (...) {
  }
}

void TCredentialCopy::Forget() {
  if (PasswordPending()) timers_.CancelTimer(timer_);
  timer_ = platform::ITimers::kNoTimer;
  password_.assign(password_.size(), '\0');
  password_.clear();
}

void TCredentialCopy::CopyText(const std::string& text) {
  // The new text takes the password's place; there is nothing to clear.
  Forget();
  clipboard_.SetText(text);
}

void TCredentialCopy::CopyPassword(const std::string& password) {
  Forget();
  clipboard_.SetSecretText(password);
  password_ = password;
  timer_ = timers_.StartTimer(kPasswordLifetime, [this] { ClearPassword(); });
}

void TCredentialCopy::ClearPassword() {
  timer_ = platform::ITimers::kNoTimer;
  // Only the password set here goes: another text copied meanwhile stays.
  clipboard_.ClearSecretText(password_);
  Forget();
}

}  // namespace marrowick
