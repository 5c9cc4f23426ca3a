// The shell's "open" request through QDesktopServices, for addresses that
// OpenableAddress allows.
#pragma once

#include "platform/core/Shell.h"

namespace marrowick::platform {

class TQtShell : public IShell {
 public:
  bool OpenAddress(const std::string& text) override;
};

}  // namespace marrowick::platform
