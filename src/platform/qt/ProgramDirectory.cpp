#include "platform/qt/ProgramDirectory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <system_error>

namespace marrowick::platform {

namespace {

bool EqualIgnoringAsciiCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] != '\0'; ++i) {
    if (i >= b.size()) return false;
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == b.size();
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

std::string ProgramDirectory() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return ExtractFilePath(exe.string());
}

std::string ExtractFilePath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

bool FileExistsIgnoringCase(const std::string& path) {
  if (IsFile(path)) return true;
  std::string dir = ExtractFilePath(path);
  const std::string name = path.substr(dir.size());
  if (name.empty()) return false;
  if (dir.empty()) dir = "./";
  std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(dir.c_str()), ::closedir);
  if (!handle) return false;
  while (const dirent* entry = ::readdir(handle.get())) {
    if (EqualIgnoringAsciiCase(entry->d_name, name) && IsFile(dir + entry->d_name)) return true;
  }
  return false;
}

}  // namespace marrowick::platform
