#include "export/ReplacingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

#include "export/ExportError.h"

namespace exports {

namespace {

constexpr size_t kBufferSize = 64 * 1024;

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RandomSuffix() {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device device;
  std::string suffix;
  for (int i = 0; i < 6; ++i) suffix += kDigits[device() % 36];
  return suffix;
}

}  // namespace

TReplacingFile::TReplacingFile(const std::string& target) : target_(target), path_(target) {
  if (target.empty() || target.back() == '/') {
    throw EExportError::FromErrno(EExportError::esCreate, target_, target.empty() ? ENOENT : EISDIR);
  }
  // A symbolic link keeps pointing where it pointed: the file it names is
  // the one replaced, as writing through the link would have done.
  struct stat st {};
  if (lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path_.c_str(), resolved) != nullptr) path_ = resolved;
  }
  bool exists = stat(path_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) throw EExportError::FromErrno(EExportError::esCreate, target_, EISDIR);
  // Renaming would replace a file we may not write; opening it would have
  // been refused, so the export is.
  if (exists && access(path_.c_str(), W_OK) != 0) {
    throw EExportError::FromErrno(EExportError::esCreate, target_, errno);
  }
  // A device or a pipe is no file to be replaced: it is written directly,
  // as a plain create would have (and renaming over /dev/null would put a
  // file in its place).
  if (exists && !S_ISREG(st.st_mode)) {
    fd_ = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) throw EExportError::FromErrno(EExportError::esCreate, target_, errno);
    direct_ = true;
    buffer_.reserve(kBufferSize);
    return;
  }
  // The temporary name stays within the file system's name length even
  // when the target's name nearly fills it.
  const std::string prefix = DirectoryOf(path_) + "/." + BaseNameOf(path_).substr(0, 200) + ".";
  for (int attempt = 0; fd_ < 0; ++attempt) {
    temp_ = prefix + RandomSuffix() + "~";
    fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
      int err = errno;
      temp_.clear();
      throw EExportError::FromErrno(EExportError::esCreate, target_, err);
    }
  }
  if (exists && fchmod(fd_, st.st_mode & 07777) != 0) Fail(errno);
  buffer_.reserve(kBufferSize);
}

TReplacingFile::~TReplacingFile() {
  if (!committed_) Discard();
}

void TReplacingFile::Write(std::string_view bytes) {
  if (fd_ < 0) throw EExportError::FromErrno(EExportError::esWrite, target_, EBADF);
  if (buffer_.size() + bytes.size() <= kBufferSize) {
    buffer_.append(bytes);
    return;
  }
  FlushBuffer();
  if (bytes.size() >= kBufferSize) {
    WriteAll(bytes.data(), bytes.size());
  } else {
    buffer_.append(bytes);
  }
}

void TReplacingFile::WriteAll(const char* data, size_t size) {
  while (size > 0) {
    ssize_t done = ::write(fd_, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
}

void TReplacingFile::FlushBuffer() {
  if (buffer_.empty()) return;
  WriteAll(buffer_.data(), buffer_.size());
  buffer_.clear();
}

void TReplacingFile::Commit() {
  if (fd_ < 0) throw EExportError::FromErrno(EExportError::esWrite, target_, EBADF);
  FlushBuffer();
  if (direct_) {
    int fd = fd_;
    fd_ = -1;
    committed_ = true;
    if (close(fd) != 0) throw EExportError::FromErrno(EExportError::esWrite, target_, errno);
    return;
  }
  if (fdatasync(fd_) != 0) Fail(errno);
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) Fail(errno);
  if (rename(temp_.c_str(), path_.c_str()) != 0) Fail(errno);
  committed_ = true;
  // The new directory entry is made durable too; the file is in place
  // already, so a failure here is no failure of the export.
  int dir = open(DirectoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)fsync(dir);
    close(dir);
  }
}

void TReplacingFile::Discard() noexcept {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty() && !committed_) unlink(temp_.c_str());
  temp_.clear();
  buffer_.clear();
}

void TReplacingFile::Fail(int errnum) {
  Discard();
  throw EExportError::FromErrno(EExportError::esWrite, target_, errnum);
}

void WriteReplacingFile(const std::string& fileName, const std::function<void(IByteSink&)>& write) {
  try {
    TReplacingFile file(fileName);
    write(file);
    file.Commit();
  } catch (const EExportError& e) {
    if (!e.FileName().empty()) throw;
    throw EExportError(EExportError::esWrite, fileName, e.Reason());
  } catch (const std::exception& e) {
    throw EExportError(EExportError::esWrite, fileName, e.what());
  }
}

}  // namespace exports
