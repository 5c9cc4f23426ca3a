// The table's data file: header, field descriptors and record slots.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/storage/FileHandler.h"
#include "engine/storage/Formats.h"
#include "engine/storage/Record.h"
#include "engine/storage/TableStructure.h"

namespace tessel {

class TDataTable;
class TDataCursor;

constexpr int32_t kMaxRecordNumber = 100000000;   // next record number + 1 may not exceed this
constexpr int64_t kMaxFileBytes = 2000000001;     // files must stay below this

class TDataFile : public TFileHandler {
 public:
  explicit TDataFile(TDataTable& table);
  ~TDataFile() override;

  TDataTable& Table() { return table_; }

  // --- header and descriptors ---
  TDataHeader Header;          // the header as in the file (password/description as stored)
  bool HeaderModified = false;
  // One 768-byte image per field, as written (deciphered in memory).
  std::vector<std::array<uint8_t, kFieldDescSize>> DescImages;
  std::vector<TFieldDesc> Fields;  // decoded from DescImages
  bool DescsModified = false;
  int RecordsPerRead = 1;          // 65535 / record size (1 when the size is 0)
  int RecordCacheCapacity = 0;     // min(131070 / record size, 32767)

  void ReadHeader();
  // Writes the header when modified or forced: counter + 1, stamp, clears the flag.
  void WriteHeader(bool force);
  void ReadFieldDescs();
  void WriteFieldDescs();
  // The checks the first opening cursor makes (version, offsets, sizes, length).
  void ValidateHeader();
  int32_t NextAutoIncValue();
  int32_t NextBlobId();
  int64_t DataStart() const { return kDataHeaderSize + int64_t{kFieldDescSize} * Header.FieldCount; }
  int RecordSize() const { return Header.RecordSize; }
  int64_t SlotPosition(int32_t recordNumber) const {
    return DataStart() + int64_t{recordNumber - 1} * Header.RecordSize;
  }
  // Reads the change counter at position 0 straight from the file.
  int32_t ReadChangeCounter();

  // --- table creation and header changes ---
  void InitStructure(const TTableStructure& structure);
  void SetHeaderInfo(const std::string& password, const std::string& description,
                     uint16_t userMinor, uint16_t userMajor, int32_t lastAutoIncValue);
  void RedefineField(int fieldNumber, const TFieldDesc& attributes);
  void EmptyData();

  // --- record slots ---
  // The holder of slot recordNumber, from the cache or the file, in-use count
  // incremented. The next record number creates a new, empty slot.
  TRecord* FetchRecord(int32_t recordNumber, TDataCursor* cursor = nullptr, int readAhead = 1,
                       unsigned flags = 0);
  void ReleaseRecord(TRecord* record);
  TRecord* AllocateSlot(TDataCursor* cursor = nullptr);
  void FreeSlot(TRecord* record);
  void InitImage(TRecord* record, bool newIdentifier);
  int32_t PhysicalRecordCount() const { return Header.NextRecordNumber - 1; }
  // Writes every modified holder that is not in use, in runs of consecutive
  // record numbers, one write call per run.
  void WriteBackRecords();
  // Drops every cached holder (modified ones are lost).
  void DropRecords();

 private:
  // Read-ahead count and record cache capacity from the record size.
  void SizeCaches();
  // Stores password and description as the header keeps them: the password
  // cut to 15 and the description to 50 characters, both scrambled with the
  // text pair when the table is encrypted; no password otherwise.
  void SetStoredTexts(const std::string& password, const std::string& description);
  void ReadSlots(int32_t first, int count, bool allowShort);
  TRecord* NewHolder(int32_t recordNumber);
  bool HasPrimaryIndex();
  // Returns one cached holder that is neither modified nor in use to the
  // pool; false when there is none.
  bool EvictOne();
  // Whether one more holder fits without writing anything back.
  bool HasRoom();
  // Writes consecutive slots in one call and clears their modified flags.
  void WriteRun(const std::vector<TRecord*>& run);

  TDataTable& table_;
  TRecordStack pool_;
  std::map<int32_t, TRecord*> cache_;  // by record number
};

}  // namespace tessel
