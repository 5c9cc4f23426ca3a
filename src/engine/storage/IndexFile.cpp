#include "engine/storage/IndexFile.h"

#include <algorithm>

#include "engine/base/Bytes.h"
#include "engine/base/Names.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/Scramble.h"

namespace tessel {

namespace {
constexpr size_t kIndexNameCapacity = 30;
const char* const kPrimaryName = "Primary";
}  // namespace

TIndexFile::TIndexFile(TDataTable& table) : table_(table) {}

TIndexFile::~TIndexFile() { DropPages(); }

void TIndexFile::ReadIndexHeader() {
  uint8_t image[kIndexHeaderSize];
  ReadAt(0, image, sizeof image);
  if (table_.IsEncrypted()) ScrambleData(image, sizeof image);
  Header = TIndexHeader::Decode(image);
  HeaderModified = false;
}

void TIndexFile::WriteIndexHeader(bool force) {
  if (!force && !HeaderModified) return;
  ++Header.ChangeCounter;
  Header.HeaderModifiedFlag = HeaderModified ? 1 : 0;
  uint8_t image[kIndexHeaderSize];
  Header.Encode(image);
  if (table_.IsEncrypted()) ScrambleData(image, sizeof image);
  WriteAt(0, image, sizeof image);
  HeaderModified = false;
}

int32_t TIndexFile::ReadChangeCounter() {
  uint8_t counter[4];
  ReadAt(0, counter, sizeof counter);
  if (table_.IsEncrypted()) ScrambleData(counter, sizeof counter);
  return GetI32(counter);
}

void TIndexFile::InitIndexHeader() {
  Header = TIndexHeader{};
  Header.Version = kFormatVersion;
  Header.EndOfFile = kPageSize;
  TIndexDesc& sys = Header.Indexes[kSysDeletedSlot];
  sys.Name = kSysDeletedName;
  sys.KeyLength = kSysDeletedKeyLength;
  sys.Compression = 0;
  Header.ActiveRecordCount = 0;
  HeaderModified = true;
}

// The key fields of a definition must not be BLOB fields.
void TIndexFile::CheckKeyFieldTypes(const TIndexDesc& definition, const std::string& indexName) const {
  const std::vector<TFieldDesc>& fields = table_.Data().Fields;
  const int count = std::min<int>(definition.FieldCount, kMaxIndexFields);
  for (int i = 0; i < count; ++i) {
    const uint16_t number = definition.FieldNumbers[static_cast<size_t>(i)];
    if (number < 1 || number > fields.size())
      RaiseEngineError(ec::InvalidIndexField, table_.TableName(), std::to_string(number), {}, indexName);
    if (fields[number - 1u].Type == ftBlob)
      RaiseEngineError(ec::InvalidIndexFieldType, table_.TableName(), {}, {}, indexName);
  }
}

void TIndexFile::SetPrimaryIndex(const TIndexDesc& definition) {
  const std::string& table = table_.TableName();
  if (Header.Indexes[0].KeyLength != 0) RaiseEngineError(ec::PrimaryExists, table);
  if (definition.FieldCount > kMaxIndexFields) RaiseEngineError(ec::IndexLimits, table);
  CheckKeyFieldTypes(definition, kPrimaryName);
  if (definition.FieldCount == 0) {
    Header.NoPrimaryIndex = 1;
    Header.Indexes[0] = TIndexDesc{};
  } else {
    Header.NoPrimaryIndex = 0;
    TIndexDesc slot = definition;
    slot.Name.clear();
    slot.Unique = 1;
    slot.RootPage = 0;
    slot.FreePage = 0;
    Header.Indexes[0] = slot;
  }
  HeaderModified = true;
}

void TIndexFile::AddSecondaryIndex(const TIndexDesc& definition) {
  const std::string& table = table_.TableName();
  if (Header.SecondaryCount >= kMaxSecondaryIndexes || definition.FieldCount > kMaxIndexFields)
    RaiseEngineError(ec::IndexLimits, table);
  const std::string name = TrimBlanks(definition.Name).substr(0, kIndexNameCapacity);
  if (name.empty()) RaiseEngineError(ec::IndexNameMissing, table);
  if (!IsNameLetter(static_cast<unsigned char>(name[0])))
    RaiseEngineError(ec::InvalidIndexName, table, {}, {}, name);
  for (int slot = 1; slot <= Header.SecondaryCount; ++slot)
    if (SameNameIgnoringCase(Header.Indexes[static_cast<size_t>(slot)].Name, name))
      RaiseEngineError(ec::IndexExists, table, {}, {}, name);
  CheckKeyFieldTypes(definition, name);
  ++Header.SecondaryCount;
  TIndexDesc& slot = Header.Indexes[Header.SecondaryCount];
  slot = definition;
  slot.Name = name;
  slot.RootPage = 0;
  slot.FreePage = 0;
  HeaderModified = true;
}

void TIndexFile::DropIndex(int slot) {
  if (slot < 0 || slot > Header.SecondaryCount) RaiseEngineError(ec::IndexLimits, table_.TableName());
  // The descriptors move between slots and the page caches are kept per
  // slot: what is modified goes to the file and the caches start afresh.
  if (IsOpen()) WriteBackPages();
  DropPages();
  if (slot == 0) {
    // The slot is cleared as well, so that a primary index can be set again.
    Header.NoPrimaryIndex = 1;
    Header.Indexes[0] = TIndexDesc{};
  } else if (slot >= 1 && slot <= Header.SecondaryCount) {
    for (int i = slot; i < Header.SecondaryCount; ++i)
      Header.Indexes[static_cast<size_t>(i)] = Header.Indexes[static_cast<size_t>(i + 1)];
    Header.Indexes[Header.SecondaryCount] = TIndexDesc{};
    --Header.SecondaryCount;
  }
  HeaderModified = true;
}

void TIndexFile::EmptyIndexes() {
  DropPages();
  const uint8_t none = 0;
  Seek(kIndexHeaderSize);
  Write(&none, 0);
  Header.EndOfFile = kPageSize;
  Header.ActiveRecordCount = 0;
  for (int slot = 0; slot <= Header.SecondaryCount && slot < kIndexSlots; ++slot) {
    Header.Indexes[static_cast<size_t>(slot)].RootPage = 0;
    Header.Indexes[static_cast<size_t>(slot)].FreePage = 0;
  }
  Header.Indexes[kSysDeletedSlot].RootPage = 0;
  Header.Indexes[kSysDeletedSlot].FreePage = 0;
  HeaderModified = true;
}

int TIndexFile::FindIndex(const std::string& name) const {
  const std::string wanted = TrimBlanks(name);
  if (wanted.empty()) return -1;
  for (int slot = 1; slot <= Header.SecondaryCount && slot <= kMaxSecondaryIndexes; ++slot)
    if (SameNameIgnoringCase(Header.Indexes[static_cast<size_t>(slot)].Name, wanted)) return slot;
  if (SameNameIgnoringCase(Header.Indexes[kSysDeletedSlot].Name, wanted)) return kSysDeletedSlot;
  return -1;
}

std::string TIndexFile::IndexName(int slot) const {
  if (slot == 0) return kPrimaryName;
  if (slot < 0 || slot >= kIndexSlots) return {};
  return Header.Indexes[static_cast<size_t>(slot)].Name;
}

}  // namespace tessel
