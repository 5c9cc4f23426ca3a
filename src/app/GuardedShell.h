// The shell as the window hands it to its commands and to the grid's link
// column: an address the shell may open goes to the desktop's handler; any
// other text (a local file, a program, a script address) is refused and the
// user is told which address was refused, so a catalogue entry never starts
// anything on the machine and never fails silently.
#pragma once

#include <functional>
#include <string>

#include "platform/core/Shell.h"

namespace marrowick {

// The message for a refused address (Windows-1252 text).
std::string RefusedAddressMessage(const std::string& text);

class TGuardedShell : public platform::IShell {
 public:
  // inner opens the addresses; refused receives the message for every text
  // OpenableAddress refuses. Neither is owned.
  TGuardedShell(platform::IShell& inner, std::function<void(const std::string&)> refused)
      : inner_(inner), refused_(std::move(refused)) {}

  bool OpenAddress(const std::string& text) override;

 private:
  platform::IShell& inner_;
  std::function<void(const std::string&)> refused_;
};

}  // namespace marrowick
