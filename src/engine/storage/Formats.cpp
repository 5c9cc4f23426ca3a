#include "engine/storage/Formats.h"

#include <cstring>

#include "engine/base/Bytes.h"

namespace tessel {

uint8_t PhysicalSize(uint8_t type, uint8_t declaredSize) {
  switch (type) {
    case ftString: return static_cast<uint8_t>(declaredSize + 1);
    case ftDate: return 4;
    case ftBlob: return 8;
    case ftBoolean: return 2;
    case ftSmallInt: return 2;
    case ftInteger: return 4;
    case ftFloat: return 8;
    case ftBCD: return 8;
    case ftBytes: return declaredSize;
    case ftTime: return 4;
    case ftTimeStamp: return 8;
    case ftWord: return 2;
    case ftRaw4: return 4;
    case ftRaw10: return 10;
    case ftVarBytes: return declaredSize;
    default: return 0;
  }
}

// ---------------------------------------------------------------------------
// Data file header: 127 bytes at position 0.

namespace {
namespace dh {
constexpr int ChangeCounter = 0;
constexpr int BlobBlockSize = 4;
constexpr int Version = 8;
constexpr int FirstFreeRecord = 9;
constexpr int NextRecordNumber = 13;
constexpr int LastAutoIncValue = 17;
constexpr int RecordSize = 21;
constexpr int FieldCount = 23;
constexpr int BlobFieldCount = 25;
constexpr int LastUpdateStamp = 27;
constexpr int Description = 35;  // capacity 50
constexpr int Encrypted = 86;
constexpr int Password = 87;  // capacity 15
constexpr int LanguageId = 103;
constexpr int SortId = 105;
constexpr int UserMajor = 107;
constexpr int UserMinor = 109;
constexpr int HeaderModified = 111;
constexpr int LastBlobId = 112;
}  // namespace dh

namespace fd {
constexpr int FieldNumber = 0;
constexpr int Name = 2;  // capacity 30
constexpr int Description = 33;  // capacity 50
constexpr int Type = 84;
constexpr int SubType = 85;
constexpr int DeclaredSize = 86;
constexpr int DeclaredDecimals = 87;
constexpr int PhysicalSize = 88;
constexpr int PhysicalDecimals = 89;
constexpr int RecordOffset = 90;
constexpr int Required = 92;
constexpr int CharCase = 93;
constexpr int Minimum = 94;   // capacity 50
constexpr int Maximum = 145;  // capacity 50
constexpr int Default = 196;  // capacity 50
constexpr int NotStored = 247;
}  // namespace fd

namespace xd {
constexpr int Name = 0;  // capacity 30
constexpr int KeyLength = 31;
constexpr int Descending = 33;
constexpr int CaseInsensitive = 34;
constexpr int Unique = 35;
constexpr int Compression = 36;
constexpr int FieldCount = 37;
constexpr int FieldDescending = 38;  // 16 bytes
constexpr int FieldNumbers = 54;     // 16 x u16
constexpr int RootPage = 86;
constexpr int FreePage = 90;
}  // namespace xd

namespace xh {
constexpr int ChangeCounter = 0;
constexpr int Version = 8;
constexpr int EndOfFile = 9;
constexpr int SecondaryCount = 13;
constexpr int Descriptors = 14;  // 32 x 120 bytes
constexpr int ActiveRecordCount = 3974;
constexpr int NoPrimaryIndex = 3978;
constexpr int HeaderModified = 3979;
}  // namespace xh

namespace bh {
constexpr int ChangeCounter = 0;
constexpr int Version = 8;
constexpr int FreeBlock = 9;
constexpr int EndOfFile = 13;
constexpr int HeaderModified = 17;
}  // namespace bh

constexpr size_t kNameCapacity = 30;
constexpr size_t kTextCapacity = 50;
constexpr size_t kPasswordCapacity = 15;

}  // namespace

TDataHeader TDataHeader::Decode(const uint8_t* p) {
  TDataHeader h;
  h.ChangeCounter = GetI32(p + dh::ChangeCounter);
  h.BlobBlockSize = GetU32(p + dh::BlobBlockSize);
  h.Version = GetU8(p + dh::Version);
  h.FirstFreeRecord = GetI32(p + dh::FirstFreeRecord);
  h.NextRecordNumber = GetI32(p + dh::NextRecordNumber);
  h.LastAutoIncValue = GetI32(p + dh::LastAutoIncValue);
  h.RecordSize = GetU16(p + dh::RecordSize);
  h.FieldCount = GetU16(p + dh::FieldCount);
  h.BlobFieldCount = GetU16(p + dh::BlobFieldCount);
  h.LastUpdateStamp = GetF64(p + dh::LastUpdateStamp);
  h.Description = GetShortString(p + dh::Description, kTextCapacity);
  h.Encrypted = GetU8(p + dh::Encrypted);
  h.Password = GetShortString(p + dh::Password, kPasswordCapacity);
  h.LanguageId = GetU16(p + dh::LanguageId);
  h.SortId = GetU16(p + dh::SortId);
  h.UserMajor = GetU16(p + dh::UserMajor);
  h.UserMinor = GetU16(p + dh::UserMinor);
  h.HeaderModifiedFlag = GetU8(p + dh::HeaderModified);
  h.LastBlobId = GetI32(p + dh::LastBlobId);
  return h;
}

void TDataHeader::Encode(uint8_t* p) const {
  std::memset(p, 0, kDataHeaderSize);
  PutI32(p + dh::ChangeCounter, ChangeCounter);
  PutU32(p + dh::BlobBlockSize, BlobBlockSize);
  PutU8(p + dh::Version, Version);
  PutI32(p + dh::FirstFreeRecord, FirstFreeRecord);
  PutI32(p + dh::NextRecordNumber, NextRecordNumber);
  PutI32(p + dh::LastAutoIncValue, LastAutoIncValue);
  PutU16(p + dh::RecordSize, RecordSize);
  PutU16(p + dh::FieldCount, FieldCount);
  PutU16(p + dh::BlobFieldCount, BlobFieldCount);
  PutF64(p + dh::LastUpdateStamp, LastUpdateStamp);
  PutShortString(p + dh::Description, kTextCapacity, Description);
  PutU8(p + dh::Encrypted, Encrypted);
  PutShortString(p + dh::Password, kPasswordCapacity, Password);
  PutU16(p + dh::LanguageId, LanguageId);
  PutU16(p + dh::SortId, SortId);
  PutU16(p + dh::UserMajor, UserMajor);
  PutU16(p + dh::UserMinor, UserMinor);
  PutU8(p + dh::HeaderModified, HeaderModifiedFlag);
  PutI32(p + dh::LastBlobId, LastBlobId);
}

// ---------------------------------------------------------------------------
// Field descriptor: 768 bytes, of which the first 248 carry meaning.

TFieldDesc TFieldDesc::Decode(const uint8_t* p) {
  TFieldDesc f;
  f.FieldNumber = GetU16(p + fd::FieldNumber);
  f.Name = GetShortString(p + fd::Name, kNameCapacity);
  f.Description = GetShortString(p + fd::Description, kTextCapacity);
  f.Type = GetU8(p + fd::Type);
  f.SubType = GetU8(p + fd::SubType);
  f.DeclaredSize = GetU8(p + fd::DeclaredSize);
  f.DeclaredDecimals = GetU8(p + fd::DeclaredDecimals);
  f.PhysicalSize = GetU8(p + fd::PhysicalSize);
  f.PhysicalDecimals = GetU8(p + fd::PhysicalDecimals);
  f.RecordOffset = GetU16(p + fd::RecordOffset);
  f.Required = GetU8(p + fd::Required);
  f.CharCase = GetU8(p + fd::CharCase);
  f.Minimum = GetShortString(p + fd::Minimum, kTextCapacity);
  f.Maximum = GetShortString(p + fd::Maximum, kTextCapacity);
  f.Default = GetShortString(p + fd::Default, kTextCapacity);
  f.NotStored = GetU8(p + fd::NotStored);
  return f;
}

void TFieldDesc::Encode(uint8_t* p) const {
  std::memset(p, 0, kFieldDescSize);
  PutU16(p + fd::FieldNumber, FieldNumber);
  PutShortString(p + fd::Name, kNameCapacity, Name);
  PutShortString(p + fd::Description, kTextCapacity, Description);
  PutU8(p + fd::Type, Type);
  PutU8(p + fd::SubType, SubType);
  PutU8(p + fd::DeclaredSize, DeclaredSize);
  PutU8(p + fd::DeclaredDecimals, DeclaredDecimals);
  PutU8(p + fd::PhysicalSize, PhysicalSize);
  PutU8(p + fd::PhysicalDecimals, PhysicalDecimals);
  PutU16(p + fd::RecordOffset, RecordOffset);
  PutU8(p + fd::Required, Required);
  PutU8(p + fd::CharCase, CharCase);
  PutShortString(p + fd::Minimum, kTextCapacity, Minimum);
  PutShortString(p + fd::Maximum, kTextCapacity, Maximum);
  PutShortString(p + fd::Default, kTextCapacity, Default);
  PutU8(p + fd::NotStored, NotStored);
}

// ---------------------------------------------------------------------------
// Index descriptor: 120 bytes.

TIndexDesc TIndexDesc::Decode(const uint8_t* p) {
  TIndexDesc d;
  d.Name = GetShortString(p + xd::Name, kNameCapacity);
  d.KeyLength = GetU16(p + xd::KeyLength);
  d.Descending = GetU8(p + xd::Descending);
  d.CaseInsensitive = GetU8(p + xd::CaseInsensitive);
  d.Unique = GetU8(p + xd::Unique);
  d.Compression = GetU8(p + xd::Compression);
  d.FieldCount = GetU8(p + xd::FieldCount);
  for (int i = 0; i < kMaxIndexFields; ++i) {
    d.FieldDescending[static_cast<size_t>(i)] = GetU8(p + xd::FieldDescending + i);
    d.FieldNumbers[static_cast<size_t>(i)] = GetU16(p + xd::FieldNumbers + 2 * i);
  }
  d.RootPage = GetI32(p + xd::RootPage);
  d.FreePage = GetI32(p + xd::FreePage);
  return d;
}

void TIndexDesc::Encode(uint8_t* p) const {
  std::memset(p, 0, kIndexDescSize);
  PutShortString(p + xd::Name, kNameCapacity, Name);
  PutU16(p + xd::KeyLength, KeyLength);
  PutU8(p + xd::Descending, Descending);
  PutU8(p + xd::CaseInsensitive, CaseInsensitive);
  PutU8(p + xd::Unique, Unique);
  PutU8(p + xd::Compression, Compression);
  PutU8(p + xd::FieldCount, FieldCount);
  for (int i = 0; i < kMaxIndexFields; ++i) {
    PutU8(p + xd::FieldDescending + i, FieldDescending[static_cast<size_t>(i)]);
    PutU16(p + xd::FieldNumbers + 2 * i, FieldNumbers[static_cast<size_t>(i)]);
  }
  PutI32(p + xd::RootPage, RootPage);
  PutI32(p + xd::FreePage, FreePage);
}

// ---------------------------------------------------------------------------
// Index file header: 4096 bytes.

TIndexHeader TIndexHeader::Decode(const uint8_t* p) {
  TIndexHeader h;
  h.ChangeCounter = GetI32(p + xh::ChangeCounter);
  h.Version = GetU8(p + xh::Version);
  h.EndOfFile = GetI32(p + xh::EndOfFile);
  h.SecondaryCount = GetU8(p + xh::SecondaryCount);
  for (int i = 0; i < kIndexSlots; ++i)
    h.Indexes[static_cast<size_t>(i)] = TIndexDesc::Decode(p + xh::Descriptors + kIndexDescSize * i);
  h.ActiveRecordCount = GetI32(p + xh::ActiveRecordCount);
  h.NoPrimaryIndex = GetU8(p + xh::NoPrimaryIndex);
  h.HeaderModifiedFlag = GetU8(p + xh::HeaderModified);
  return h;
}

void TIndexHeader::Encode(uint8_t* p) const {
  std::memset(p, 0, kIndexHeaderSize);
  PutI32(p + xh::ChangeCounter, ChangeCounter);
  PutU8(p + xh::Version, Version);
  PutI32(p + xh::EndOfFile, EndOfFile);
  PutU8(p + xh::SecondaryCount, SecondaryCount);
  for (int i = 0; i < kIndexSlots; ++i)
    Indexes[static_cast<size_t>(i)].Encode(p + xh::Descriptors + kIndexDescSize * i);
  PutI32(p + xh::ActiveRecordCount, ActiveRecordCount);
  PutU8(p + xh::NoPrimaryIndex, NoPrimaryIndex);
  PutU8(p + xh::HeaderModified, HeaderModifiedFlag);
}

// ---------------------------------------------------------------------------
// BLOB file header: 512 bytes.

TBlobHeader TBlobHeader::Decode(const uint8_t* p) {
  TBlobHeader h;
  h.ChangeCounter = GetI32(p + bh::ChangeCounter);
  h.Version = GetU8(p + bh::Version);
  h.FreeBlock = GetI32(p + bh::FreeBlock);
  h.EndOfFile = GetI32(p + bh::EndOfFile);
  h.HeaderModifiedFlag = GetU8(p + bh::HeaderModified);
  return h;
}

void TBlobHeader::Encode(uint8_t* p) const {
  std::memset(p, 0, kBlobHeaderSize);
  PutI32(p + bh::ChangeCounter, ChangeCounter);
  PutU8(p + bh::Version, Version);
  PutI32(p + bh::FreeBlock, FreeBlock);
  PutI32(p + bh::EndOfFile, EndOfFile);
  PutU8(p + bh::HeaderModified, HeaderModifiedFlag);
}

}  // namespace tessel
