#include "engine/storage/DataFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/Scramble.h"
#include "platform/core/Clock.h"

namespace tessel {

namespace {

constexpr size_t kPasswordCapacity = 15;
constexpr size_t kDescriptionCapacity = 50;
constexpr int kFirstFieldOffset = kSlotFieldsOffset;
constexpr int kAutoIncOffset = kSlotRecordIdOffset;

// Where the physical size and decimals sit in a descriptor image.
constexpr int kDescPhysicalSize = 88;
constexpr int kDescPhysicalDecimals = 89;

int32_t NextWrapped(int32_t& last) {
  if (last == std::numeric_limits<int32_t>::max()) last = 0;
  return ++last;
}

}  // namespace

TDataFile::TDataFile(TDataTable& table) : table_(table) {}

TDataFile::~TDataFile() { DropRecords(); }

void TDataFile::Close() {
  sizedFor_ = -1;
  TFileHandler::Close();
}

void TDataFile::SizeCaches() {
  const int size = Header.RecordSize;
  // A header read again for the same record size (change detection) keeps
  // the cache as it is sized.
  if (size == sizedFor_) return;
  sizedFor_ = size;
  RecordsPerRead = size == 0 ? 1 : std::max(1, 65535 / size);
  nominalCapacity_ = size == 0 ? 32767 : std::max(1, std::min(131070 / size, 32767));
  RecordCacheCapacity = nominalCapacity_;
}

void TDataFile::ReadHeader() {
  uint8_t image[kDataHeaderSize];
  ReadAt(0, image, sizeof image);
  Header = TDataHeader::Decode(image);
  // The stored modified flag is the writer's; after reading nothing is modified.
  HeaderModified = false;
  SizeCaches();
}

void TDataFile::WriteHeader(bool force) {
  if (!force && !HeaderModified) return;
  ++Header.ChangeCounter;
  Header.LastUpdateStamp = platform::ToDateTimeValue(platform::Now()) - 693594.0;
  Header.HeaderModifiedFlag = HeaderModified ? 1 : 0;
  uint8_t image[kDataHeaderSize];
  Header.Encode(image);
  WriteAt(0, image, sizeof image);
  HeaderModified = false;
}

void TDataFile::ReadFieldDescs() {
  if (Header.FieldCount > kMaxFields) RaiseEngineError(ec::HeaderCorrupt, table_.TableName());
  const size_t count = Header.FieldCount;
  std::vector<uint8_t> block(count * kFieldDescSize);
  if (!block.empty()) {
    ReadAt(kDataHeaderSize, block.data(), block.size());
    // One cipher unit for the whole block (only its first length mod 65536
    // bytes are scrambled).
    if (Header.Encrypted) ScrambleData(block.data(), block.size());
  }
  DescImages.assign(count, {});
  Fields.clear();
  Fields.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(DescImages[i].data(), block.data() + i * kFieldDescSize, kFieldDescSize);
    Fields.push_back(TFieldDesc::Decode(DescImages[i].data()));
  }
  DescsModified = false;
}

void TDataFile::WriteFieldDescs() {
  if (!DescsModified) return;
  std::vector<uint8_t> block(DescImages.size() * kFieldDescSize);
  for (size_t i = 0; i < DescImages.size(); ++i)
    std::memcpy(block.data() + i * kFieldDescSize, DescImages[i].data(), kFieldDescSize);
  if (!block.empty()) {
    if (Header.Encrypted) ScrambleData(block.data(), block.size());
    WriteAt(kDataHeaderSize, block.data(), block.size());
  }
  DescsModified = false;
}

uint16_t TDataFile::DescribedBlobFields() const {
  uint16_t count = 0;
  for (const TFieldDesc& f : Fields)
    if (f.Type == ftBlob) ++count;
  return count;
}

void TDataFile::ValidateHeader(bool forStructureCheck) {
  const std::string& name = table_.TableName();
  if (Header.Version != kFormatVersion) RaiseEngineError(ec::WrongVersion, name);
  if (Header.LanguageId != 0 && !TTableLocale::IsInstalled(Header.LanguageId, Header.SortId))
    RaiseEngineError(ec::NoLanguageDriver, name);

  if (Fields.size() != Header.FieldCount) RaiseEngineError(ec::HeaderCorrupt, name);
  int offset = kFirstFieldOffset;
  for (size_t i = 0; i < Fields.size(); ++i) {
    TFieldDesc& f = Fields[i];
    f.PhysicalSize = PhysicalSize(f.Type, f.DeclaredSize);
    f.PhysicalDecimals = f.DeclaredDecimals;
    DescImages[i][kDescPhysicalSize] = f.PhysicalSize;
    DescImages[i][kDescPhysicalDecimals] = f.PhysicalDecimals;
    if (f.FieldNumber != i + 1) RaiseEngineError(ec::HeaderCorrupt, name);
    if (f.IsAutoInc()) {
      if (f.RecordOffset != kAutoIncOffset) RaiseEngineError(ec::HeaderCorrupt, name);
    } else {
      if (f.RecordOffset != offset) RaiseEngineError(ec::HeaderCorrupt, name);
      offset += f.PhysicalSize + 1;
    }
  }
  if (Header.RecordSize != offset) RaiseEngineError(ec::HeaderCorrupt, name);
  // The count decides whether posts write BLOB values back: one that
  // disagrees would let a BLOB buffer's handle reach a record slot.
  if (Header.BlobFieldCount != DescribedBlobFields() && !forStructureCheck)
    RaiseEngineError(ec::HeaderCorrupt, name);

  const int64_t length = FileLength();
  const int64_t start = DataStart();
  const int64_t recordSize = Header.RecordSize;  // at least 9 here
  // A file shorter than its header and descriptors is corrupt as well.
  if (length < start) RaiseEngineError(ec::HeaderCorrupt, name);
  // A length that disagrees with the header's count is the structure
  // check's to report and its repair's to mend, either way.
  if (forStructureCheck && Header.NextRecordNumber >= 1) return;
  if ((length - start) % recordSize != 0 || (length - start) / recordSize + 1 != Header.NextRecordNumber)
    RaiseEngineError(ec::HeaderCorrupt, name);
}

int32_t TDataFile::NextAutoIncValue() {
  const int32_t v = NextWrapped(Header.LastAutoIncValue);
  HeaderModified = true;
  return v;
}

int32_t TDataFile::NextBlobId() {
  const int32_t v = NextWrapped(Header.LastBlobId);
  HeaderModified = true;
  return v;
}

int32_t TDataFile::ReadChangeCounter() {
  uint8_t counter[4];
  ReadAt(0, counter, sizeof counter);
  return GetI32(counter);
}

void TDataFile::InitStructure(const TTableStructure& structure) {
  DropRecords();
  Header = TDataHeader{};
  Header.LanguageId = structure.LanguageId;
  Header.SortId = structure.SortId;
  Header.UserMajor = structure.UserMajor;
  Header.UserMinor = structure.UserMinor;
  Header.Encrypted = structure.Encrypted ? 1 : 0;
  SetStoredTexts(structure.Password, structure.Description);
  Header.FieldCount = static_cast<uint16_t>(structure.Fields.size());
  Header.BlobFieldCount = 0;
  Header.BlobBlockSize = structure.BlobBlockSize;
  Header.Version = kFormatVersion;
  Header.FirstFreeRecord = 0;
  Header.NextRecordNumber = 1;
  Header.LastAutoIncValue = 0;
  Header.LastBlobId = 0;
  Header.ChangeCounter = 0;

  // Descriptors go to the positions their field numbers name (the structure
  // check makes the numbers 1 to the field count).
  Fields = structure.Fields;
  std::stable_sort(Fields.begin(), Fields.end(),
                   [](const TFieldDesc& a, const TFieldDesc& b) { return a.FieldNumber < b.FieldNumber; });
  int recordSize = kFirstFieldOffset;
  for (const TFieldDesc& f : Fields) {
    if (f.Type == ftBlob && ++Header.BlobFieldCount > kMaxBlobFields)
      RaiseEngineError(ec::BlobFieldsOrBlockSize, table_.TableName());
    if (!f.IsAutoInc()) recordSize += f.PhysicalSize + 1;
  }
  if (recordSize > 65535) RaiseEngineError(ec::RecordTooBig, table_.TableName());
  Header.RecordSize = static_cast<uint16_t>(recordSize);
  DescImages.assign(Fields.size(), {});
  for (size_t i = 0; i < Fields.size(); ++i) Fields[i].Encode(DescImages[i].data());
  SizeCaches();
  HeaderModified = true;
  DescsModified = true;
}

void TDataFile::SetStoredTexts(const std::string& password, const std::string& description) {
  if (Header.Encrypted) {
    Header.Password = ScrambledText(password.substr(0, kPasswordCapacity));
    Header.Description = ScrambledText(description.substr(0, kDescriptionCapacity));
  } else {
    Header.Password.clear();
    Header.Description = description.substr(0, kDescriptionCapacity);
  }
}

void TDataFile::SetHeaderInfo(const std::string& password, const std::string& description,
                              uint16_t userMinor, uint16_t userMajor, int32_t lastAutoIncValue) {
  SetStoredTexts(password, description);
  Header.UserMinor = userMinor;
  Header.UserMajor = userMajor;
  if (lastAutoIncValue >= 0) Header.LastAutoIncValue = lastAutoIncValue;
  HeaderModified = true;
}

void TDataFile::RedefineField(int fieldNumber, const TFieldDesc& attributes) {
  if (fieldNumber < 1 || static_cast<size_t>(fieldNumber) > Fields.size())
    RaiseEngineError(ec::InvalidField, table_.TableName(), std::to_string(fieldNumber));
  const size_t i = static_cast<size_t>(fieldNumber - 1);
  TFieldDesc& f = Fields[i];
  f.FieldNumber = attributes.FieldNumber;
  f.Name = attributes.Name;
  f.SubType = attributes.SubType;
  f.Description = attributes.Description;
  f.Required = attributes.Required;
  f.Minimum = attributes.Minimum;
  f.Maximum = attributes.Maximum;
  f.Default = attributes.Default;
  // Only the meaningful part of the image changes; the rest stays as held.
  std::array<uint8_t, kFieldDescSize> fresh{};
  f.Encode(fresh.data());
  std::memcpy(DescImages[i].data(), fresh.data(), kFieldDescMeaningful);
  DescsModified = true;
}

void TDataFile::EmptyData() {
  DropRecords();
  const uint8_t none = 0;
  Seek(DataStart());
  Write(&none, 0);
  Header.NextRecordNumber = 1;
  Header.FirstFreeRecord = 0;
  Header.LastAutoIncValue = 0;
  Header.ChangeCounter = 0;
  HeaderModified = true;
}

}  // namespace tessel
