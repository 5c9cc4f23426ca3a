// The table's persisted file images: the data header with its field
// descriptors, the index header with its index descriptors, the BLOB header,
// and the field type codes. Decode reads an image; Encode writes a fresh
// image with reserved bytes zero.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tessel {

// Field type codes, shared by records, keys and the record-set layer.
enum FieldType : uint8_t {
  ftInvalid = 0,
  ftString = 1,
  ftDate = 2,
  ftBlob = 3,
  ftBoolean = 4,
  ftSmallInt = 5,
  ftInteger = 6,
  ftFloat = 7,
  ftBCD = 8,
  ftBytes = 9,
  ftTime = 10,
  ftTimeStamp = 11,
  ftWord = 12,
  ftRaw4 = 13,
  ftRaw10 = 14,
  ftVarBytes = 15,
};

// Subtype codes.
enum FieldSubType : uint8_t {
  fstNone = 0,
  fstMemo = 22,
  fstFmtMemo = 24,
  fstGraphic = 26,
  fstTypedBinary = 28,
  fstAutoInc = 29,
  fstMoney = 21,
  fstFixedChar = 31,
  fstWideString = 32,
};

constexpr int kDataHeaderSize = 127;
constexpr int kFieldDescSize = 768;
constexpr int kFieldDescMeaningful = 248;
constexpr int kIndexHeaderSize = 4096;
constexpr int kIndexDescSize = 120;
constexpr int kPageSize = 4096;
constexpr int kBlobHeaderSize = 512;
constexpr uint8_t kFormatVersion = 4;
constexpr int kMaxFields = 1024;
constexpr int kMaxBlobFields = 64;
constexpr int kMaxSecondaryIndexes = 30;
constexpr int kMaxIndexFields = 16;
constexpr int kIndexSlots = 32;
constexpr int kSysDeletedSlot = 31;
// The "Sys Deleted" key: the deleted flag and the record identifier.
constexpr uint16_t kSysDeletedKeyLength = 5;
// Key fields take at most kMaxKeyLength bytes; a non-unique index appends
// the 4-byte record identifier, so a whole key, and a bookmark, takes at
// most kMaxFullKeyLength. Buffers that hold a key of any index are sized
// from the latter.
constexpr int kMaxKeyLength = 1036;
constexpr int kMaxFullKeyLength = kMaxKeyLength + 4;
constexpr const char* kSysDeletedName = "Sys Deleted";

// Physical size of a field's value in a record, from type and declared size.
uint8_t PhysicalSize(uint8_t type, uint8_t declaredSize);
inline bool IsAutoInc(uint8_t type, uint8_t subType) {
  return type == ftInteger && subType == fstAutoInc;
}

struct TDataHeader {
  int32_t ChangeCounter = 0;
  uint32_t BlobBlockSize = 0;  // 0 means 512
  uint8_t Version = kFormatVersion;
  int32_t FirstFreeRecord = 0;
  int32_t NextRecordNumber = 1;
  int32_t LastAutoIncValue = 0;
  uint16_t RecordSize = 0;
  uint16_t FieldCount = 0;
  uint16_t BlobFieldCount = 0;
  double LastUpdateStamp = 0;
  std::string Description;  // as stored (enciphered when the table is encrypted)
  uint8_t Encrypted = 0;
  std::string Password;  // as stored (characters enciphered)
  uint16_t LanguageId = 0;
  uint16_t SortId = 0;
  uint16_t UserMajor = 0;
  uint16_t UserMinor = 0;
  uint8_t HeaderModifiedFlag = 0;
  int32_t LastBlobId = 0;

  static TDataHeader Decode(const uint8_t* image);  // kDataHeaderSize bytes
  void Encode(uint8_t* image) const;                // kDataHeaderSize bytes
  uint32_t EffectiveBlockSize() const { return BlobBlockSize == 0 ? 512 : BlobBlockSize; }
  uint32_t Locale() const { return (static_cast<uint32_t>(SortId) << 16) | LanguageId; }
};

struct TFieldDesc {
  uint16_t FieldNumber = 0;
  std::string Name;
  std::string Description;
  uint8_t Type = 0;
  uint8_t SubType = 0;
  uint8_t DeclaredSize = 0;
  uint8_t DeclaredDecimals = 0;
  uint8_t PhysicalSize = 0;
  uint8_t PhysicalDecimals = 0;
  uint16_t RecordOffset = 0;
  uint8_t Required = 0;
  uint8_t CharCase = 0;  // 0 keep, 1 lower, 2 upper
  std::string Minimum;
  std::string Maximum;
  std::string Default;
  uint8_t NotStored = 0;

  static TFieldDesc Decode(const uint8_t* image);  // reads the first 248 bytes
  void Encode(uint8_t* image) const;               // writes kFieldDescSize bytes
  bool IsAutoInc() const { return tessel::IsAutoInc(Type, SubType); }
};

struct TIndexDesc {
  std::string Name;
  uint16_t KeyLength = 0;
  uint8_t Descending = 0;
  uint8_t CaseInsensitive = 0;
  uint8_t Unique = 0;
  uint8_t Compression = 0;  // 0 none, 1 leading, 2 trailing, 3 both
  uint8_t FieldCount = 0;
  std::array<uint8_t, kMaxIndexFields> FieldDescending{};
  std::array<uint16_t, kMaxIndexFields> FieldNumbers{};
  int32_t RootPage = 0;
  int32_t FreePage = 0;

  static TIndexDesc Decode(const uint8_t* image);  // kIndexDescSize bytes
  void Encode(uint8_t* image) const;
};

struct TIndexHeader {
  int32_t ChangeCounter = 0;
  uint8_t Version = kFormatVersion;
  int32_t EndOfFile = kPageSize;
  uint8_t SecondaryCount = 0;
  std::array<TIndexDesc, kIndexSlots> Indexes{};
  int32_t ActiveRecordCount = 0;
  uint8_t NoPrimaryIndex = 0;
  uint8_t HeaderModifiedFlag = 0;

  static TIndexHeader Decode(const uint8_t* image);  // kIndexHeaderSize bytes
  void Encode(uint8_t* image) const;
};

struct TBlobHeader {
  int32_t ChangeCounter = 0;
  uint8_t Version = kFormatVersion;
  int32_t FreeBlock = 0;
  int32_t EndOfFile = kBlobHeaderSize;
  uint8_t HeaderModifiedFlag = 0;

  static TBlobHeader Decode(const uint8_t* image);  // kBlobHeaderSize bytes
  void Encode(uint8_t* image) const;
};

}  // namespace tessel
