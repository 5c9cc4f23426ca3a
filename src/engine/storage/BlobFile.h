// The table's BLOB file: its header and (built on it) the block chains.
#pragma once

#include <cstdint>

#include "engine/storage/FileHandler.h"
#include "engine/storage/Formats.h"

namespace tessel {

class TDataTable;

class TBlobFile : public TFileHandler {
 public:
  explicit TBlobFile(TDataTable& table);
  ~TBlobFile() override;

  TDataTable& Table() { return table_; }

  TBlobHeader Header;
  bool HeaderModified = false;
  uint32_t BlockSize = 512;

  void ReadBlobHeader();
  void WriteBlobHeader(bool force);
  int32_t ReadChangeCounter();
  void InitBlobHeader();
  void EmptyBlobs();

 private:
  TDataTable& table_;
};

}  // namespace tessel
