// One open table: its three files, their headers, the open count shared by
// every cursor on the table, the locale and the character order table.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/storage/BlobFile.h"
#include "engine/storage/DataFile.h"
#include "engine/storage/IndexFile.h"
#include "engine/storage/TableLocale.h"
#include "engine/storage/TableStructure.h"

namespace tessel {

struct TOpenSettings {
  bool Exclusive = false;
  bool ReadOnly = false;
  bool InMemory = false;
  bool Temporary = false;
  bool WriteThrough = false;  // the session's ForceBufferFlush
};

class TDataTable {
 public:
  // directory is kept with a trailing '/' (empty for an in-memory table);
  // tableName is the name as given (it is the name messages carry).
  TDataTable(std::string directory, std::string tableName);
  ~TDataTable();
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // A file name formed from a table name: trimmed, its extension replaced by
  // ext unless it already equals ext (ignoring case), directory in front.
  static std::string FormFileName(const std::string& directory, const std::string& tableName,
                                  const std::string& ext);
  std::string DataFileName() const;
  std::string IndexFileName() const;
  std::string BlobFileName() const;

  const std::string& TableName() const { return tableName_; }
  const std::string& Directory() const { return directory_; }

  TOpenSettings Settings;
  bool IsExclusive() const { return Settings.Exclusive; }
  bool IsReadOnly() const { return readOnly_; }
  bool IndexFileRecreated() const { return indexRecreated_; }
  int OpenCount() const { return openCount_; }
  bool IsOpen() const { return openCount_ > 0; }

  // Opens the three files and reads their headers (later opens only count).
  void OpenFiles();
  // Counts one open down; at zero writes back (when flush), releases locks
  // and caches and closes index, BLOB and data file.
  void CloseFiles(bool flush = true);
  void DeleteFiles();
  void RenameFiles(const std::string& newName);

  // The header checks the first opening cursor makes.
  void ValidateHeaders();
  // The repair after a re-created index file: no primary index, slot 0
  // cleared, "Sys Deleted" rebuilt from every slot. The B+-tree insert is
  // supplied by the index layer through SysDeletedRebuilder.
  void RepairRecreatedIndex();
  static std::function<void(TDataTable&)> SysDeletedRebuilder;

  // Checks a structure in place (fills sizes, offsets, key lengths).
  static void CheckStructure(TTableStructure& structure, bool allowNoPrimary,
                             const std::string& tableName);
  // Creates the files of a checked structure; the table stays open.
  void CreateFiles(const TTableStructure& structure);
  // Empties data, indexes and BLOBs and drops the caches.
  void EmptyTable();

  // Writes back records, headers and descriptors.
  void FlushTable(bool trim, bool forceData, bool forceIndex);
  void DropCaches(bool trim, bool rereadHeaders);

  // The table password in clear text (empty when not encrypted).
  std::string Password() const;
  bool IsEncrypted() const { return data_.Header.Encrypted != 0; }
  // The description in clear text.
  std::string Description() const;
  // Reads the password straight from a data file that is not open.
  static std::string ReadPasswordFromFile(const std::string& dataFileName);

  const TTableLocale& Locale() const { return *locale_; }
  const std::array<uint8_t, 256>& CharacterOrder() const { return charOrder_; }

  TDataFile& Data() { return data_; }
  TIndexFile& Index() { return index_; }
  TBlobFile& Blob() { return blob_; }
  const TDataFile& Data() const { return data_; }
  const TIndexFile& Index() const { return index_; }
  const TBlobFile& Blob() const { return blob_; }
  bool HasBlobFile() const { return blob_.IsOpen(); }

 private:
  void ApplySettings(TFileHandler& file, const std::string& name);
  void BuildLocale();
  void CloseAll();

  std::string directory_;
  std::string tableName_;
  TDataFile data_;
  TIndexFile index_;
  TBlobFile blob_;
  int openCount_ = 0;
  bool readOnly_ = false;
  bool indexRecreated_ = false;
  std::unique_ptr<TTableLocale> locale_;
  std::array<uint8_t, 256> charOrder_{};
};

}  // namespace tessel
