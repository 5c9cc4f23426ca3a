// A file written under a temporary name beside its target and put in the
// target's place only when every byte of it has reached the disk, so that a
// failed export never leaves a half-written file where the old one was.
//
// The temporary file is ".NAME.XXXXXX~" in the target's directory (a rename
// within one file system is atomic). It is created with the mode a plain
// create would give: the mode of the file it replaces, else 0666 less the
// umask. Commit writes what is buffered, syncs the data, closes the file and
// renames it over the target; anything short of a commit (an error, the
// object destroyed) removes the temporary file and leaves the target as it
// was. A target that is a device or a pipe (/dev/null, /dev/stdout) is
// written directly.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "export/ByteSink.h"

namespace exports {

class TReplacingFile : public IByteSink {
 public:
  // Creates the temporary file. Raises EExportError (esCreate) when the
  // target cannot be written: its directory is missing or closed to us, the
  // target is a directory or a file we may not write.
  explicit TReplacingFile(const std::string& target);
  ~TReplacingFile() override;
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;

  // Buffered; a failed write raises EExportError (esWrite).
  void Write(std::string_view bytes) override;
  // Puts the file in the target's place; raises EExportError (esWrite) and
  // removes the temporary file when that cannot be done.
  void Commit();
  // Removes the temporary file; the target stays as it was.
  void Discard() noexcept;

  // The name the caller gave, as errors carry it.
  const std::string& TargetName() const { return target_; }
  const std::string& TemporaryName() const { return temp_; }

 private:
  void WriteAll(const char* data, size_t size);
  void FlushBuffer();
  [[noreturn]] void Fail(int errnum);

  std::string target_;  // as given
  std::string path_;    // where the file goes: the target, or the file a symbolic link names
  std::string temp_;
  std::string buffer_;
  int fd_ = -1;
  bool direct_ = false;  // a device or pipe, written in place
  bool committed_ = false;
};

// Writes fileName through write(file) and commits it. Every failure, of the
// file or raised by write, reaches the caller as an EExportError carrying
// fileName, and leaves an existing file as it was.
void WriteReplacingFile(const std::string& fileName, const std::function<void(IByteSink&)>& write);

}  // namespace exports
