// The table's index file: the index header with its descriptors, and (built
// on it) the B+-tree pages of every index.
#pragma once

#include <cstdint>
#include <string>

#include "engine/storage/FileHandler.h"
#include "engine/storage/Formats.h"

namespace tessel {

class TDataTable;

class TIndexFile : public TFileHandler {
 public:
  explicit TIndexFile(TDataTable& table);
  ~TIndexFile() override;

  TDataTable& Table() { return table_; }

  TIndexHeader Header;
  bool HeaderModified = false;

  void ReadIndexHeader();
  // Writes the header when modified or forced: counter + 1, enciphered copy
  // when the table is encrypted, clears the flag.
  void WriteIndexHeader(bool force);
  int32_t ReadChangeCounter();

  // A fresh header: all cleared, version 4, end of file 4096, slot 31 the
  // system index "Sys Deleted" (key length 5), modified.
  void InitIndexHeader();
  void SetPrimaryIndex(const TIndexDesc& definition);
  void AddSecondaryIndex(const TIndexDesc& definition);
  void DropIndex(int slot);
  void EmptyIndexes();

  // Slot of the index with this name (trimmed, case-insensitive), -1 if none.
  int FindIndex(const std::string& name) const;
  // The name used in messages: "Primary" for slot 0.
  std::string IndexName(int slot) const;

 private:
  // Refuses key field numbers that name no field and BLOB key fields.
  void CheckKeyFieldTypes(const TIndexDesc& definition, const std::string& indexName) const;

  TDataTable& table_;
};

}  // namespace tessel
