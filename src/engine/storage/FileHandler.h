// One file of a table: a file of the table's file system (the session's,
// the operating system's unless given another) or, for an in-memory table,
// of the process's in-memory file store. Reads, writes, seeks and
// byte-range locks; failures raise the engine error mapped from the system
// error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/FileSystem.h"

namespace tessel {

enum class SeekOrigin { Begin, Current, End };

class TFileHandler {
 public:
  TFileHandler();
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  // Settings, given before Open or CreateEmpty.
  void SetFileName(std::string name);
  const std::string& FileName() const { return fileName_; }
  // The table name that messages carry; the file name when not set.
  void SetErrorName(std::string name) { errorName_ = std::move(name); }
  const std::string& ErrorName() const { return errorName_.empty() ? fileName_ : errorName_; }
  bool InMemory = false;
  bool Exclusive = false;
  bool ReadOnly = false;
  bool Temporary = false;
  bool Sequential = false;
  bool WriteThrough = false;
  // The file system of a disk file (the operating system's until set); an
  // in-memory file lives in the process's store whatever is set here. The
  // file system must outlive the handler's open file.
  void SetFileSystem(TFileSystem& files) { files_ = &files; }
  TFileSystem& FileSystem() const { return *files_; }

  // Opens an existing file. A missing file raises "Invalid path or file
  // name"; a file the process may not write is opened read-only and marks
  // the handler read-only (OpenedReadOnly()).
  virtual void Open();
  virtual void Close();
  // Creates or truncates the file, read-write and unshared.
  virtual void CreateEmpty();
  // Delete and Rename close this handler first; both are refused with
  // "Access denied" while another handle has the file open, and Rename will
  // not replace an existing file. On success Rename takes the new name.
  virtual void Delete();
  virtual void Rename(const std::string& newName);
  // Copies the whole content to a disk file (of this handler's file system)
  // created (or truncated) under target, in 65535-byte pieces; used to save
  // an in-memory table.
  virtual void CopyToFile(const std::string& target);
  // Replaces the whole content by that of the disk file source.
  void CopyFromFile(const std::string& source);
  bool Exists() const;

  bool IsOpen() const { return open_; }
  bool OpenedReadOnly() const { return openedReadOnly_; }

  int64_t Seek(int64_t position, SeekOrigin origin = SeekOrigin::Begin);
  // Seeks to the end and answers that position.
  int64_t FileLength();

  // Reads at the current position; a short read raises "Error reading from
  // table" unless allowShort.
  virtual size_t Read(void* buffer, size_t count, bool allowShort = false);
  // Writes at the current position; count 0 cuts the file at the position.
  // A read-only handler refuses with "Access denied".
  virtual void Write(const void* buffer, size_t count);
  // Seek + Read / Seek + Write.
  size_t ReadAt(int64_t position, void* buffer, size_t count, bool allowShort = false);
  void WriteAt(int64_t position, const void* buffer, size_t count);

  // Byte-range locks: true on success, false when refused; never wait.
  bool Lock(int64_t position, int64_t length);
  bool Unlock(int64_t position, int64_t length);

  // Asks the system to write its buffers for this file.
  virtual void Flush();

  // Write-through files: while deferral is on, writes do not wait for the
  // disk; SyncDeferred makes what they wrote durable with one flush of the
  // file (nothing when nothing was written). In-memory and ordinary files
  // ignore both.
  void DeferSync(bool on);
  void SyncDeferred();
  // Starts the deferred writes on their way to the disk without waiting.
  void StartSyncDeferred();

  // Number of write calls that reached the file (counts Write with count > 0).
  uint64_t WriteCalls() const { return writeCalls_; }
  uint64_t ReadCalls() const { return readCalls_; }

 protected:
  [[noreturn]] void RaiseOsError(int err) const;
  [[noreturn]] void RaiseCode(uint16_t code) const;

 private:
  void RequireOpen() const;
  // The file system this handler's file lives on.
  TFileSystem& Files() const;
  // Opens path read-write when wantWrite and the file may be written, else
  // read-only; a file that may not be written makes the handler read-only.
  // Answers the open's error.
  int OpenAs(TFileSystem& files, const std::string& path, TFileOpenOptions& options, bool wantWrite,
             std::unique_ptr<TFile>& file);

  std::string fileName_;
  std::string errorName_;
  bool open_ = false;
  bool openedReadOnly_ = false;
  TFileSystem* files_;
  std::unique_ptr<TFile> file_;
  int64_t position_ = 0;
  uint64_t writeCalls_ = 0;
  uint64_t readCalls_ = 0;
};

// Maps an errno value to the engine code the file layer raises for it.
uint16_t MapOsError(int err);

}  // namespace tessel
