// The engine's session object and its directory objects.
//
// TDataSession holds what the session component passes down: the working and
// private directories, the file system its disk tables live on, the settings
// the file layer, the locks and the cursors obey, the list of passwords that
// open encrypted tables, and the directory objects of the session.
//
// TDataDirectory stands for one directory path of one session. It keeps one
// TDataTable per table name and in-memory flag, shared by every cursor that
// opens that table through the directory, and counts the cursors' uses of it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/storage/DataTable.h"

namespace tessel {

class TDataDirectory;

class TDataSession {
 public:
  // Working directory: the process's current directory; retry count 15 and
  // wait time 100 until the session component sets its own.
  TDataSession();
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  // Trimmed, ending in '/'.
  const std::string& WorkingDir() const { return workingDir_; }
  // The private directory, or the working directory while none is set.
  std::string PrivateDir() const;
  bool HasPrivateDir() const;
  // Trimmed and given a trailing '/'; an empty text unsets it. A path that is
  // not an existing directory raises "Invalid path or file name for table '%s'".
  void SetPrivateDir(const std::string& dir);

  // The file system of the session's disk tables: the operating system's
  // until another is set (null sets it back). Like ForceBufferFlush it
  // reaches the tables opened afterwards; directory paths are resolved on it.
  void SetFileSystem(std::shared_ptr<TFileSystem> files);
  std::shared_ptr<TFileSystem> FileSystem() const;

  bool StrictChangeDetection = false;
  bool ForceBufferFlush = false;
  uint8_t LockRetryCount = 15;
  uint16_t LockWaitTime = 100;

  // Passwords, compared exactly and case-sensitively; each text is cut to 255
  // characters. Adding an empty or known text does nothing; removing takes
  // the first equal entry.
  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  bool HasPassword(const std::string& password) const;
  std::vector<std::string> Passwords() const;

  // The directory object for a path (empty: the working directory). The path
  // is trimmed, given a trailing '/' and resolved to its canonical form; a
  // directory object with the same resolved path is reused and its use count
  // raised, otherwise a new one is made with use count 1.
  TDataDirectory& OpenDirectory(const std::string& alias, const std::string& path);
  // One more use of a directory object of this session.
  void RetainDirectory(TDataDirectory& directory);
  // Lowers the use count and frees the object at 0. Answers 0, or 11013 for a
  // directory this session does not hold.
  uint16_t ReleaseDirectory(TDataDirectory* directory);
  int DirectoryCount() const;
  TDataDirectory* FindDirectory(const std::string& path) const;

  // The resolved form of a directory path as OpenDirectory forms it.
  std::string ResolveDirectory(const std::string& path) const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<TFileSystem> files_;
  std::string workingDir_;
  std::string privateDir_;
  std::vector<std::string> passwords_;
  std::vector<std::unique_ptr<TDataDirectory>> directories_;
};

// The process-wide engine session that the default session component uses;
// made on first use and freed by FreeProcessDataSession.
TDataSession& ProcessDataSession();
void FreeProcessDataSession();
bool ProcessDataSessionExists();

// How a cursor asks for a table.
struct TTableOpenOptions {
  bool Exclusive = false;
  bool ReadOnly = false;
  bool InMemory = false;
  bool Temporary = false;
};

class TDataDirectory {
 public:
  TDataDirectory(TDataSession& session, std::string alias, std::string path, std::string resolvedPath);
  // Tables still held are closed without writing back.
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& Session() const { return session_; }
  const std::string& Alias() const { return alias_; }
  // The path as asked for, and the resolved path (ending in '/') that the
  // table files are formed with.
  const std::string& Path() const { return path_; }
  const std::string& ResolvedPath() const { return resolvedPath_; }
  int UseCount() const { return useCount_; }

  // The shared table object for a table name (names compared by the data
  // file name they form, ignoring case) and in-memory flag. An open one is
  // shared and its open count raised, unless it was opened exclusively or
  // exclusive use is asked for: then "Access denied to table '%s'". Otherwise
  // a new table object opens the files, in write-through mode when the
  // session forces buffer flushes. A failure leaves nothing behind.
  TDataTable& AcquireTable(const std::string& tableName, const TTableOpenOptions& options = {});
  // One use fewer of an acquired table; the table closes its files (writing
  // back when flush is set) and the object is freed when the last use ends.
  // A table this directory does not hold raises "Access denied to table '%s'".
  void ReleaseTable(TDataTable& table, bool flush = true);
  TDataTable* FindTable(const std::string& tableName, bool inMemory = false) const;
  int TableCount() const;

  // Delete or rename a table's files; refused with "Access denied to table
  // '%s'" while the table is open through this directory.
  void DeleteTable(const std::string& tableName, bool inMemory = false);
  void RenameTable(const std::string& tableName, const std::string& newName, bool inMemory = false);

 private:
  friend class TDataSession;
  struct Entry {
    std::string key;
    bool inMemory = false;
    std::unique_ptr<TDataTable> table;
  };
  static std::string KeyOf(const std::string& tableName);
  std::vector<Entry>::iterator Find(const std::string& key, bool inMemory);
  std::vector<Entry>::const_iterator Find(const std::string& key, bool inMemory) const;
  std::string TableDirectory(bool inMemory) const { return inMemory ? std::string() : resolvedPath_; }

  TDataSession& session_;
  std::string alias_;
  std::string path_;
  std::string resolvedPath_;
  int useCount_ = 0;
  mutable std::recursive_mutex mutex_;
  std::vector<Entry> tables_;
};

// Asked when an encrypted table's password is not in the session's list;
// answers whether to look again (false: the user gave up).
using TPasswordRequest = std::function<bool()>;

// The open-time check of an encrypted (open) table: while the table's
// password is not in the session's list the request is asked; when it gives
// up (or there is none) "Insufficient rights to table '%s', a password is
// required" is raised. A table that is not encrypted needs nothing.
void CheckTablePassword(const TDataTable& table, const TDataSession& session, const TPasswordRequest& request);

}  // namespace tessel
