// The thin Linux file layer under the engine's file handler: opening with a
// share mode, case-insensitive name lookup, positioned reads and writes,
// truncation and non-waiting byte-range locks.
//
// Share modes do not exist on Linux, so every open handle holds an
// open-file-description lock on one share byte above every lock position the
// engine uses: a read lock for a shared open, a write lock for an exclusive
// one. Open-file-description locks belong to one handle (not to the process),
// so two handles in one process exclude each other exactly as two programs do.
//
// Functions answer 0 on success or an errno value; the two refusals below
// that have no errno of their own use the constants beside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Another handle holds the file in a mode that excludes this open.
inline constexpr int kErrSharingViolation = 0x10001;
// The name, compared without regard to case, fits more than one file.
inline constexpr int kErrAmbiguousName = 0x10002;

// The byte that carries the share mode of each open handle.
inline constexpr int64_t kShareBytePosition = 2147483648LL;

struct FileOpenOptions {
  bool Write = false;          // read-write, else read-only
  bool Exclusive = false;      // no other handle may have the file open
  bool WriteThrough = false;   // every write reaches the disk before it returns (see DeferSync)
  bool Sequential = false;     // access hint: sequential, else random
  bool DeleteOnClose = false;  // the name is removed when the last handle closes
};

class PosixFile {
 public:
  PosixFile() = default;
  ~PosixFile();
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  // Opens an existing file (never creates). The name is looked up without
  // regard to case. A refused share lock answers kErrSharingViolation.
  int Open(const std::string& path, const FileOpenOptions& options);
  // Open for a name that was looked up already: exactly this name.
  int OpenExactName(const std::string& path, const FileOpenOptions& options);
  // Creates the file, or truncates an existing one (found without regard to
  // case). Truncation happens only after the share lock is held, so a file
  // that another handle has open is refused untouched.
  int Create(const std::string& path, const FileOpenOptions& options);
  // Closes the handle, releasing its share lock and byte-range locks; a
  // delete-on-close file loses its name when no other handle has it open.
  int Close();

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  // The name actually opened (after the case-insensitive lookup).
  const std::string& Path() const { return path_; }
  bool Writable() const { return writable_; }

  // Reads up to count bytes at position; done tells how many were read
  // (fewer only at the end of the file).
  int ReadAt(int64_t position, void* buffer, size_t count, size_t& done);
  // Writes count bytes at position; done tells how many were written.
  int WriteAt(int64_t position, const void* buffer, size_t count, size_t& done);
  int Truncate(int64_t size);
  int Size(int64_t& size) const;
  int Sync();

  // Write-through handles: while deferral is on, writes and cuts are made
  // without waiting for the disk and remembered; SyncDeferred then makes
  // them durable with one fdatasync. Off (the default), each write and cut
  // is durable when it returns. Without write-through both do nothing.
  void DeferSync(bool on) { deferSync_ = on && writeThrough_; }
  bool SyncDeferring() const { return deferSync_; }
  bool SyncPending() const { return syncPending_; }
  int SyncDeferred();
  // Starts the pending deferred writes on their way to the disk without
  // waiting (sync_file_range); SyncDeferred still flushes them.
  void StartSyncDeferred();

  // Non-waiting exclusive byte-range lock and its release over the same
  // range. Ranges that are empty, negative or reach the share byte are
  // refused.
  bool Lock(int64_t position, int64_t length);
  bool Unlock(int64_t position, int64_t length);

 private:
  int OpenDescriptor(const std::string& path, int flags, const FileOpenOptions& options,
                     bool truncate);
  // The descriptor deferred writes go through (made on first use).
  int DeferredDescriptor();

  int fd_ = -1;
  int plainFd_ = -1;  // write-through handles: the same file without O_DSYNC (made on first use)
  bool writable_ = false;
  bool writeThrough_ = false;
  bool deferSync_ = false;
  bool syncPending_ = false;
  bool deleteOnClose_ = false;
  std::string path_;
};

// 0 when an entry of exactly this name exists (a symbolic link counts,
// wherever it leads), else the errno of the check (ENOENT when there is
// none).
int EntryExists(const std::string& path);
// The names in a directory, without "." and "..".
int ListDirectory(const std::string& directory, std::vector<std::string>& names);
bool IsDirectory(const std::string& path);

// Finds path: the exact name when it exists, else the one directory entry
// whose name equals the last component ignoring ASCII case. No entry gives
// ENOENT, two or more kErrAmbiguousName.
int ResolveFileName(const std::string& path, std::string& resolved);

// Whether the process may write the file (access W_OK). Tests replace the
// check, since a privileged process may write every file; nullptr restores
// the real one. Answers the check that was in force.
using WriteAccessCheck = bool (*)(const std::string& path);
bool IsWritable(const std::string& path);
WriteAccessCheck SetWriteAccessCheck(WriteAccessCheck check);

// Whether some handle holds a share lock on the file.
int FileInUse(const std::string& path, bool& inUse);

// Removes a file (found without regard to case); refused with
// kErrSharingViolation while any handle has it open.
int DeleteFile(const std::string& path);
// Renames a file (found without regard to case) to exactly newPath; refused
// with kErrSharingViolation while any handle has it open and with EEXIST when
// newPath names another file.
int RenameFile(const std::string& path, const std::string& newPath);
bool FileExists(const std::string& path);

// The canonical absolute form of a path (symbolic links, "." and ".."
// resolved).
int CanonicalPath(const std::string& path, std::string& canonical);

// ASCII-only case-insensitive equality, as file names are compared.
bool EqualsIgnoreAsciiCase(const std::string& a, const std::string& b);

}  // namespace platform
