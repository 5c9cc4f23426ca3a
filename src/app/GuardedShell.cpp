#include "app/GuardedShell.h"

namespace marrowick {

std::string RefusedAddressMessage(const std::string& text) {
  return "\"" + text +
         "\" was not opened: Marrowick opens only web and mail addresses (http, https, ftp, mailto) "
         "and host names";
}

bool TGuardedShell::OpenAddress(const std::string& text) {
  if (!platform::OpenableAddress(text)) {
    if (refused_) refused_(RefusedAddressMessage(text));
    return false;
  }
  return inner_.OpenAddress(text);
}

}  // namespace marrowick
