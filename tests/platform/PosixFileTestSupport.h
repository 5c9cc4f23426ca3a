// Helpers of the file layer's tests: a temporary directory, whole-file
// reads and writes, and the lock another open file description sees.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace platformtest {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/posixfile-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lock type another open file description sees at [start, start+len).
inline short LockSeenFrom(const std::string& path, int64_t start, int64_t len = 1) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  flock fl{};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  int rc = ::fcntl(fd, F_OFD_GETLK, &fl);
  ::close(fd);
  return rc == 0 ? fl.l_type : -1;
}

}  // namespace platformtest
