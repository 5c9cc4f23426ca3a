#include "engine/storage/FileSystem.h"

#include <cerrno>

#include "engine/storage/MemoryFile.h"
#include "engine/storage/PosixFileSystem.h"
#include "platform/core/PosixFile.h"

namespace tessel {

int ResolveFileName(TFileSystem& fs, const std::string& path, std::string& resolved) {
  if (path.empty()) return ENOENT;
  const int err = fs.Exists(path);
  if (err == 0) {
    resolved = path;
    return 0;
  }
  if (err != ENOENT) return err;

  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return ENOENT;

  std::vector<std::string> names;
  if (int listErr = fs.ListDirectory(dir, names)) return listErr;
  const std::string* match = nullptr;
  for (const std::string& entry : names) {
    if (!platform::EqualsIgnoreAsciiCase(entry, name)) continue;
    if (match != nullptr) return platform::kErrAmbiguousName;
    match = &entry;
  }
  if (match == nullptr) return ENOENT;
  resolved = slash == std::string::npos ? *match : path.substr(0, slash + 1) + *match;
  return 0;
}

const std::shared_ptr<TFileSystem>& OperatingSystemFiles() {
  static const std::shared_ptr<TFileSystem> files = std::make_shared<TPosixFileSystem>();
  return files;
}

const std::shared_ptr<TFileSystem>& ProcessMemoryFiles() {
  static const std::shared_ptr<TFileSystem> files = std::make_shared<TMemoryFileSystem>(TMemoryFileList::Instance());
  return files;
}

}  // namespace tessel
