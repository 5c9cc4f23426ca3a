// In-memory file stores. The process has one, which holds the files of
// in-memory tables; tests and the fault trials make stores of their own and
// give a session one as its file system (TMemoryFileSystem). A file is found
// by the file-name part of a path, trimmed and compared without regard to
// case; the directory part plays no role. The store's operations answer an
// engine code (0 = success); the file system answers the matching errno.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/storage/FileHandler.h"
#include "engine/storage/FileSystem.h"

namespace tessel {

class TMemoryFile {
 public:
  // The data buffer grows in steps of this many bytes.
  static constexpr size_t kGrowStep = 65535;

  explicit TMemoryFile(std::string name);
  TMemoryFile(const TMemoryFile&) = delete;
  TMemoryFile& operator=(const TMemoryFile&) = delete;

  std::string Name() const;
  int64_t Size() const;
  size_t Capacity() const;
  int OpenCount() const;
  bool DeleteOnClose() const;

  // Each open handle has its own position.
  uint16_t Seek(int handle, int64_t offset, SeekOrigin origin, int64_t& position);
  // Reads stop at the logical size.
  uint16_t Read(int handle, void* buffer, size_t count, size_t& done);
  // A write past the size grows the file (a gap reads as zeros); a write of
  // 0 bytes sets the size to the handle's position.
  uint16_t Write(int handle, const void* buffer, size_t count);
  // The same at a position, leaving the handle's position alone.
  uint16_t ReadAt(int handle, int64_t position, void* buffer, size_t count, size_t& done);
  uint16_t WriteAt(int handle, int64_t position, const void* buffer, size_t count);
  // Cuts the file to size, or grows it with zeros.
  uint16_t SetSize(int handle, int64_t size);

  // A lock succeeds unless the range overlaps one locked through any handle
  // of this file. An unlock removes the range of the same start and length
  // that the same handle locked. Closing a handle releases its ranges.
  bool Lock(int handle, int64_t start, int64_t length);
  bool Unlock(int handle, int64_t start, int64_t length);

 private:
  friend class TMemoryFileList;

  struct Handle {
    int Id;
    int64_t Position;
  };
  struct LockedRange {
    int64_t Start;
    int64_t End;  // one past the last byte
    int64_t Length;
    int Owner;
  };

  // The callers hold mutex_.
  Handle* FindHandle(int id);
  int AddHandle();
  void RemoveHandle(int id);
  void Empty();
  void GrowTo(int64_t end);
  uint16_t ReadLocked(int64_t position, void* buffer, size_t count, size_t& done);
  uint16_t WriteLocked(int64_t position, const void* buffer, size_t count);
  void SetSizeLocked(int64_t size);

  mutable std::mutex mutex_;
  std::string name_;
  bool exclusive_ = false;
  bool deleteOnClose_ = false;
  std::vector<uint8_t> data_;  // capacity in whole grow steps
  int64_t size_ = 0;           // logical size
  std::vector<Handle> handles_;
  int nextHandle_ = 1;
  std::vector<LockedRange> locks_;
};

class TMemoryFileList {
 public:
  // The store of the process; it lives as long as the process.
  static TMemoryFileList& Instance();
  // A store of one's own, empty.
  TMemoryFileList() = default;
  TMemoryFileList(const TMemoryFileList&) = delete;
  TMemoryFileList& operator=(const TMemoryFileList&) = delete;

  // Creates the file, or empties an existing one that is not open, and opens
  // it exclusively. An open file is refused with 11013.
  uint16_t Create(const std::string& path, std::shared_ptr<TMemoryFile>& file, int& handle);
  // Opens an existing file: 11010 when missing, 11013 when the file is open
  // and either that open or this one is exclusive.
  uint16_t Open(const std::string& path, bool exclusive, bool deleteOnClose,
                std::shared_ptr<TMemoryFile>& file, int& handle);
  // Closes one handle; the last close of a delete-on-close file removes it.
  void Close(const std::shared_ptr<TMemoryFile>& file, int handle);

  bool Exists(const std::string& path) const;
  // 11010 when missing, 11013 while open.
  uint16_t Delete(const std::string& path);
  // 11010 when missing, 11013 while open, 11047 when the new name is taken.
  uint16_t Rename(const std::string& path, const std::string& newPath);
  // The names of the files in the store.
  std::vector<std::string> Names() const;

  // The file-name part of path, trimmed: the name a file is kept under.
  static std::string FileNamePart(const std::string& path);

 private:
  std::shared_ptr<TMemoryFile> FindLocked(const std::string& path) const;

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<TMemoryFile>> files_;
};

// A store as a file system. Every directory holds every file of the store;
// all files are writable; flushing has nothing to do.
class TMemoryFileSystem : public TFileSystem {
 public:
  // The store must outlive the file system.
  explicit TMemoryFileSystem(TMemoryFileList& store) : store_(store) {}
  TMemoryFileList& Store() const { return store_; }

  int OpenFile(const std::string& path, const TFileOpenOptions& options, std::unique_ptr<TFile>& file) override;
  int CreateFile(const std::string& path, const TFileOpenOptions& options, std::unique_ptr<TFile>& file) override;
  int DeleteFile(const std::string& path) override;
  int RenameFile(const std::string& path, const std::string& newPath) override;
  int Exists(const std::string& path) override;
  int ListDirectory(const std::string& directory, std::vector<std::string>& names) override;
  bool IsWritable(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  int CanonicalPath(const std::string& path, std::string& canonical) override;

 private:
  TMemoryFileList& store_;
};

// The errno a store's engine code stands for (0 for 0).
int MemoryStoreErrno(uint16_t code);

}  // namespace tessel
