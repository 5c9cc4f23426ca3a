#include "platform/core/PosixFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<WriteAccessCheck> gWriteAccessCheck{nullptr};

// plainFd_ when no second descriptor could be had for this handle.
constexpr int kNoTwin = -2;

bool RealWriteAccessCheck(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

flock LockRange(short type, int64_t start, int64_t length) {
  flock fl{};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for open-file-description locks
  return fl;
}

bool SetLock(int fd, short type, int64_t start, int64_t length) {
  flock fl = LockRange(type, start, length);
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Whether a handle other than the one behind fd holds the share byte.
int ShareByteHeldElsewhere(int fd, bool& held) {
  flock fl = LockRange(F_WRLCK, kShareBytePosition, 1);
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return errno;
  held = fl.l_type != F_UNLCK;
  return 0;
}

// A byte-range lock the engine may take: non-empty and below the share byte.
bool ValidLockRange(int64_t position, int64_t length) {
  return position >= 0 && length > 0 && position < kShareBytePosition &&
         length <= kShareBytePosition - position;
}

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

PosixFile::~PosixFile() { Close(); }

int PosixFile::Open(const std::string& path, const FileOpenOptions& options) {
  Close();
  std::string resolved;
  if (int err = ResolveFileName(path, resolved)) return err;
  return OpenDescriptor(resolved, options.Write ? O_RDWR : O_RDONLY, options, false);
}

int PosixFile::OpenExactName(const std::string& path, const FileOpenOptions& options) {
  Close();
  return OpenDescriptor(path, options.Write ? O_RDWR : O_RDONLY, options, false);
}

int PosixFile::Create(const std::string& path, const FileOpenOptions& options) {
  Close();
  std::string resolved;
  int err = ResolveFileName(path, resolved);
  if (err == ENOENT) {
    resolved = path;  // a new file gets exactly the name asked for
  } else if (err != 0) {
    return err;
  }
  FileOpenOptions createOptions = options;
  createOptions.Write = true;
  createOptions.Exclusive = true;
  return OpenDescriptor(resolved, O_RDWR | O_CREAT, createOptions, true);
}

int PosixFile::OpenDescriptor(const std::string& path, int flags, const FileOpenOptions& options,
                              bool truncate) {
  flags |= O_CLOEXEC;
  if (options.WriteThrough) flags |= O_DSYNC;
  int fd = OpenRetrying(path, flags, 0666);
  if (fd < 0) {
    // A directory cannot be opened as a file: access is denied, as elsewhere.
    return errno == EISDIR ? EACCES : errno;
  }
  struct stat st {};
  int statErr = ::fstat(fd, &st) == 0 ? 0 : errno;
  if (statErr == 0 && !S_ISREG(st.st_mode)) statErr = EACCES;
  if (statErr != 0) {
    ::close(fd);
    return statErr;
  }

  // A read-only descriptor cannot hold a write lock, so an exclusive open
  // without write access takes the read lock: it still keeps every
  // exclusive opener out, but not shared readers.
  const bool writable = (flags & O_ACCMODE) == O_RDWR;
  const short shareType = options.Exclusive && writable ? F_WRLCK : F_RDLCK;
  if (!SetLock(fd, shareType, kShareBytePosition, 1)) {
    int err = errno;
    ::close(fd);
    return err == EAGAIN || err == EACCES ? kErrSharingViolation : err;
  }
  if (truncate) {
    if (::ftruncate(fd, 0) != 0 || (options.WriteThrough && ::fdatasync(fd) != 0)) {
      int err = errno;
      ::close(fd);
      return err;
    }
  }
  // Only a hint: a file system that ignores it changes nothing.
  (void)::posix_fadvise(fd, 0, 0, options.Sequential ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_RANDOM);

  fd_ = fd;
  writable_ = writable;
  writeThrough_ = options.WriteThrough;
  deleteOnClose_ = options.DeleteOnClose;
  path_ = path;
  return 0;
}

int PosixFile::Close() {
  if (fd_ < 0) return 0;
  if (deleteOnClose_) {
    bool held = false;
    if (ShareByteHeldElsewhere(fd_, held) == 0 && !held) {
      // Remove the name only while it still names this file.
      struct stat mine {}, named {};
      if (::fstat(fd_, &mine) == 0 && ::stat(path_.c_str(), &named) == 0 &&
          mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
        ::unlink(path_.c_str());
      }
    }
  }
  if (plainFd_ >= 0) ::close(plainFd_);
  plainFd_ = -1;
  int err = ::close(fd_) == 0 ? 0 : errno;
  fd_ = -1;
  writable_ = false;
  writeThrough_ = false;
  deferSync_ = false;
  syncPending_ = false;
  deleteOnClose_ = false;
  path_.clear();
  return err == EINTR ? 0 : err;  // the descriptor is gone either way
}

int PosixFile::ReadAt(int64_t position, void* buffer, size_t count, size_t& done) {
  done = 0;
  if (fd_ < 0) return EBADF;
  if (position < 0) return EINVAL;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;  // end of file
    done += static_cast<size_t>(n);
  }
  return 0;
}

int PosixFile::WriteAt(int64_t position, const void* buffer, size_t count, size_t& done) {
  done = 0;
  if (fd_ < 0) return EBADF;
  if (position < 0) return EINVAL;
  const auto* in = static_cast<const char*>(buffer);
  // The write-through descriptor (O_DSYNC) makes each write durable when it
  // returns; a deferred write goes through the plain twin descriptor and is
  // flushed by SyncDeferred.
  const int fd = deferSync_ ? DeferredDescriptor() : fd_;
  while (done < count) {
    ssize_t n = ::pwrite(fd, in + done, count - done, static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      // Part of the data is written: that is a short write, not an open error.
      if (done == 0) return errno;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  if (done > 0 && deferSync_) syncPending_ = true;
  return 0;
}

int PosixFile::DeferredDescriptor() {
  if (plainFd_ >= 0) return plainFd_;
  if (plainFd_ == kNoTwin) return fd_;
  // A second open file description of the same file without O_DSYNC; it
  // takes no locks, so the share and byte-range locks stay with fd_. Where
  // it cannot be had, writes go through fd_ and are durable one by one.
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  const int twin = OpenRetrying(self, O_WRONLY | O_CLOEXEC, 0);
  struct stat mine {}, other {};
  if (twin < 0 || ::fstat(fd_, &mine) != 0 || ::fstat(twin, &other) != 0 || mine.st_dev != other.st_dev ||
      mine.st_ino != other.st_ino) {
    if (twin >= 0) ::close(twin);
    plainFd_ = kNoTwin;
    return fd_;
  }
  plainFd_ = twin;
  return plainFd_;
}

void PosixFile::StartSyncDeferred() {
  // A hint: a failure here is the flush's to report.
  if (fd_ >= 0 && syncPending_) (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

int PosixFile::SyncDeferred() {
  if (fd_ < 0) return EBADF;
  if (!syncPending_) return 0;
  if (::fdatasync(fd_) != 0) return errno;
  syncPending_ = false;
  return 0;
}

int PosixFile::Truncate(int64_t size) {
  if (fd_ < 0) return EBADF;
  if (size < 0) return EINVAL;
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return errno;
  // A cut must reach the disk as well: now, or with the deferred flush.
  if (deferSync_) {
    syncPending_ = true;
  } else if (writeThrough_ && ::fdatasync(fd_) != 0) {
    return errno;
  }
  return 0;
}

int PosixFile::Size(int64_t& size) const {
  size = 0;
  if (fd_ < 0) return EBADF;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return errno;
  size = static_cast<int64_t>(st.st_size);
  return 0;
}

int PosixFile::Sync() {
  if (fd_ < 0) return EBADF;
  return ::fsync(fd_) == 0 ? 0 : errno;
}

bool PosixFile::Lock(int64_t position, int64_t length) {
  if (fd_ < 0 || !ValidLockRange(position, length)) return false;
  return SetLock(fd_, F_WRLCK, position, length);
}

bool PosixFile::Unlock(int64_t position, int64_t length) {
  if (fd_ < 0 || !ValidLockRange(position, length)) return false;
  return SetLock(fd_, F_UNLCK, position, length);
}

bool EqualsIgnoreAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

int EntryExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? 0 : errno;
}

int ListDirectory(const std::string& directory, std::vector<std::string>& names) {
  names.clear();
  DIR* d = ::opendir(directory.empty() ? "." : directory.c_str());
  if (d == nullptr) return errno;
  while (dirent* entry = ::readdir(d)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  return 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int ResolveFileName(const std::string& path, std::string& resolved) {
  if (path.empty()) return ENOENT;
  int err = EntryExists(path);
  if (err == 0) {
    resolved = path;
    return 0;
  }
  if (err != ENOENT) return err;

  const size_t slash = path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return ENOENT;

  std::vector<std::string> names;
  if (int listErr = ListDirectory(dir, names)) return listErr;
  std::string match;
  int matches = 0;
  for (const std::string& entry : names) {
    if (EqualsIgnoreAsciiCase(entry, name)) {
      ++matches;
      match = entry;
    }
  }
  if (matches == 0) return ENOENT;
  if (matches > 1) return kErrAmbiguousName;
  resolved = slash == std::string::npos ? match : path.substr(0, slash + 1) + match;
  return 0;
}

bool IsWritable(const std::string& path) {
  WriteAccessCheck check = gWriteAccessCheck.load();
  return check != nullptr ? check(path) : RealWriteAccessCheck(path);
}

WriteAccessCheck SetWriteAccessCheck(WriteAccessCheck check) {
  WriteAccessCheck previous = gWriteAccessCheck.exchange(check);
  return previous != nullptr ? previous : &RealWriteAccessCheck;
}

int FileInUse(const std::string& path, bool& inUse) {
  inUse = false;
  int fd = OpenRetrying(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
  if (fd < 0) {
    // A file this process may not read cannot be probed; nothing is known
    // to hold it.
    return errno == EACCES ? 0 : errno;
  }
  // This descriptor is a new open file description without locks, so
  // closing it releases nobody's locks.
  int err = ShareByteHeldElsewhere(fd, inUse);
  ::close(fd);
  return err;
}

int DeleteFile(const std::string& path) {
  std::string resolved;
  if (int err = ResolveFileName(path, resolved)) return err;
  bool inUse = false;
  if (int err = FileInUse(resolved, inUse)) return err;
  if (inUse) return kErrSharingViolation;
  return ::unlink(resolved.c_str()) == 0 ? 0 : errno;
}

int RenameFile(const std::string& path, const std::string& newPath) {
  std::string source;
  if (int err = ResolveFileName(path, source)) return err;
  bool inUse = false;
  if (int err = FileInUse(source, inUse)) return err;
  if (inUse) return kErrSharingViolation;

  // An existing target is refused, unless it is the source itself under
  // another letter case.
  std::string existing;
  int err = ResolveFileName(newPath, existing);
  if (err == 0) {
    struct stat a {}, b {};
    if (::stat(source.c_str(), &a) != 0 || ::stat(existing.c_str(), &b) != 0 ||
        a.st_dev != b.st_dev || a.st_ino != b.st_ino) {
      return EEXIST;
    }
    return ::rename(source.c_str(), newPath.c_str()) == 0 ? 0 : errno;
  }
  if (err != ENOENT) return err;
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without the no-replace flag: the target was checked above.
  return ::rename(source.c_str(), newPath.c_str()) == 0 ? 0 : errno;
}

bool FileExists(const std::string& path) {
  std::string resolved;
  return ResolveFileName(path, resolved) == 0;
}

int CanonicalPath(const std::string& path, std::string& canonical) {
  char* full = ::realpath(path.c_str(), nullptr);
  if (full == nullptr) return errno;
  canonical = full;
  std::free(full);
  return 0;
}

}  // namespace platform
