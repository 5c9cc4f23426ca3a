#include "platform/core/OwnerOnlyFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/PosixFile.h"

namespace marrowick::platform {

namespace {

constexpr mode_t kGroupAndOthers = S_IRWXG | S_IRWXO;

}  // namespace

bool NarrowToOwner(const std::string& path) {
  // The descriptor pins the file between the look and the change; a file
  // the owner cannot read is looked at by name.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat st {};
  if (fd >= 0 ? ::fstat(fd, &st) != 0 : ::stat(path.c_str(), &st) != 0) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  bool changed = false;
  if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & kGroupAndOthers) != 0) {
    const mode_t narrowed = st.st_mode & S_IRWXU;
    changed = (fd >= 0 ? ::fchmod(fd, narrowed) : ::chmod(path.c_str(), narrowed)) == 0;
  }
  if (fd >= 0) ::close(fd);
  return changed;
}

bool NarrowTableToOwner(const std::string& tablePath) {
  const size_t slash = tablePath.rfind('/');
  const size_t dot = tablePath.rfind('.');
  const std::string base =
      dot != std::string::npos && (slash == std::string::npos || dot > slash) ? tablePath.substr(0, dot) : tablePath;
  bool changed = false;
  for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
    std::string resolved;
    if (::platform::ResolveFileName(base + extension, resolved) != 0) continue;
    if (NarrowToOwner(resolved)) changed = true;
  }
  return changed;
}

}  // namespace marrowick::platform
