// The engine's one seam to the files it keeps: every open, read, write,
// truncation, flush, byte-range lock, delete, rename, existence check and
// directory listing of the engine goes through a TFileSystem. The session
// carries the file system its disk tables use (the operating system's unless
// it is given another); in-memory tables live in the process's in-memory
// store, which is a file system of its own. Tests and the fault trials hand
// a session a file system that wraps another and fails or forgets what they
// choose.
//
// Operations answer 0 on success or an errno value; a refused share lock
// answers platform::kErrSharingViolation and a name that fits two files
// without regard to case platform::kErrAmbiguousName. The file handler maps
// these to the engine's messages.
//
// Names reach the file system exactly as they are to be used: the lookup
// without regard to letter case (ResolveFileName below) runs above the seam,
// on its existence check and directory listing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessel {

struct TFileOpenOptions {
  bool Write = false;          // read-write, else read-only
  bool Exclusive = false;      // no other handle may have the file open
  bool WriteThrough = false;   // every write is durable when it returns (see TFile::DeferSync)
  bool Sequential = false;     // access hint: sequential, else random
  bool DeleteOnClose = false;  // the name goes when the last handle closes
};

// One open handle of a file. Reads and writes are positioned; the handle
// keeps no position of its own.
class TFile {
 public:
  virtual ~TFile() = default;

  // Reads up to count bytes at position; done tells how many (fewer only at
  // the end of the file).
  virtual int ReadAt(int64_t position, void* buffer, size_t count, size_t& done) = 0;
  // Writes count bytes at position, growing the file as needed; done tells
  // how many were written (fewer is a short write, answered with 0).
  virtual int WriteAt(int64_t position, const void* buffer, size_t count, size_t& done) = 0;
  // Sets the file's length (cuts or extends with zeros).
  virtual int Truncate(int64_t size) = 0;
  virtual int Size(int64_t& size) = 0;
  // Makes everything written to the file so far durable.
  virtual int Sync() = 0;
  // Write-through handles: while deferral is on, writes and cuts need not be
  // durable when they return; SyncDeferred makes them durable at once
  // (nothing to do when nothing was written). Other handles ignore both.
  virtual void DeferSync(bool on) = 0;
  virtual int SyncDeferred() = 0;
  // Starts what SyncDeferred will make durable on its way to the disk
  // without waiting for it, so that several files' writes travel together;
  // it promises nothing (SyncDeferred does). Nothing by default.
  virtual void StartSyncDeferred() {}
  // Non-waiting exclusive byte-range lock of this handle and its release
  // over the same range.
  virtual bool Lock(int64_t position, int64_t length) = 0;
  virtual bool Unlock(int64_t position, int64_t length) = 0;
  // Releases the handle with its share lock and byte-range locks; a file
  // opened delete-on-close loses its name when no other handle has it. The
  // handle is released whatever the answer; destruction closes quietly.
  virtual int Close() = 0;
};

class TFileSystem {
 public:
  virtual ~TFileSystem() = default;

  // Opens the existing file of exactly this name, never creating it; the
  // share mode is checked against every other open handle of the file.
  virtual int OpenFile(const std::string& path, const TFileOpenOptions& options,
                       std::unique_ptr<TFile>& file) = 0;
  // Creates the file of exactly this name, or truncates an existing one
  // (unless another handle has it open), and opens it read-write and
  // unshared.
  virtual int CreateFile(const std::string& path, const TFileOpenOptions& options,
                         std::unique_ptr<TFile>& file) = 0;
  // Removes a file; refused while any handle has it open.
  virtual int DeleteFile(const std::string& path) = 0;
  // Renames a file to exactly newPath; refused while any handle has it open
  // and with EEXIST when newPath names another file.
  virtual int RenameFile(const std::string& path, const std::string& newPath) = 0;
  // 0 when an entry of exactly this name exists, else ENOENT or the error
  // that kept the question from an answer.
  virtual int Exists(const std::string& path) = 0;
  // The names of the entries of a directory (without "." and "..").
  virtual int ListDirectory(const std::string& directory, std::vector<std::string>& names) = 0;
  // Whether the process may write the file.
  virtual bool IsWritable(const std::string& path) = 0;
  virtual bool IsDirectory(const std::string& path) = 0;
  // The canonical absolute form of a directory path (the platform's network
  // form of it); a file system without directories answers it as given.
  virtual int CanonicalPath(const std::string& path, std::string& canonical) = 0;
};

// Finds path on fs without regard to letter case: the exact name when it
// exists, else the one entry of its directory whose name equals the last
// component ignoring ASCII case. No entry answers ENOENT, two or more
// platform::kErrAmbiguousName.
int ResolveFileName(TFileSystem& fs, const std::string& path, std::string& resolved);

// The operating system's file system, which disk tables use unless their
// session is given another. It lives as long as the process.
const std::shared_ptr<TFileSystem>& OperatingSystemFiles();
// The process's in-memory file store as a file system; in-memory tables
// live there. It lives as long as the process.
const std::shared_ptr<TFileSystem>& ProcessMemoryFiles();

}  // namespace tessel
