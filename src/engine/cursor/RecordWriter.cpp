#include "engine/cursor/RecordWriter.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/cursor/BulkKeys.h"
#include "engine/cursor/CursorFrame.h"
#include "engine/cursor/DataCursor.h"
#include "engine/cursor/KeySearch.h"
#include "engine/storage/BlobHandles.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/Record.h"
#include "engine/storage/TableLocale.h"
#include "engine/storage/ValueText.h"
#include "platform/core/Clock.h"

namespace tessel {

namespace {

// The stored value against a limit of the same type: -1, 0, 1; 0 for types
// that are not compared.
int CompareWithLimit(const TFieldDesc& f, const uint8_t* stored, const uint8_t* limit, const TTableLocale& locale) {
  auto sign = [](auto a, auto b) { return a < b ? -1 : (a > b ? 1 : 0); };
  switch (f.Type) {
    case ftString:
      return locale.Compare(stored, f.PhysicalSize, limit, f.PhysicalSize);
    case ftDate:
    case ftTime:
    case ftInteger:
      return sign(GetI32(stored), GetI32(limit));
    case ftSmallInt:
      return sign(GetI16(stored), GetI16(limit));
    case ftWord:
      return sign(GetU16(stored), GetU16(limit));
    case ftFloat:
    case ftTimeStamp:
      return sign(GetF64(stored), GetF64(limit));
    case ftBCD:
      return sign(GetI64(stored), GetI64(limit));
    default:
      return 0;
  }
}

// The types whose minimum and maximum a write compares: every type with a
// value text but booleans.
bool ComparesLimits(uint8_t type) { return HasValueText(type) && type != ftBoolean; }

}  // namespace

TRecordWriter::TRecordWriter(TDataCursor& cursor, TKeyContexts& keys, TBlobHandles& blobs)
    : cursor_(cursor), keys_(keys), blobs_(blobs) {
  for (const TFieldDesc& f : cursor.Fields()) {
    if (f.Required != 0 || !f.Minimum.empty() || !f.Maximum.empty()) hasConstraints_ = true;
    if (!f.Default.empty()) hasDefaults_ = true;
  }
}

TRecordWriter::~TRecordWriter() = default;

std::vector<int> TRecordWriter::WrittenIndexes() const {
  const TIndexHeader& h = cursor_.Table()->Index().Header;
  std::vector<int> result;
  if (h.NoPrimaryIndex == 0 && h.Indexes[0].FieldCount > 0) result.push_back(0);
  for (int n = 1; n <= h.SecondaryCount && n <= kMaxSecondaryIndexes; ++n) result.push_back(n);
  return result;
}

// ---------------------------------------------------------------------------
// New records and constraints

void TRecordWriter::InitRecord(uint8_t* image) const {
  std::memset(image, 0, cursor_.RecordSize());
  if (!hasDefaults_) return;
  const std::vector<TFieldDesc>& fields = cursor_.Fields();
  std::vector<uint8_t> value;
  for (size_t i = 0; i < fields.size(); ++i) {
    const TFieldDesc& f = fields[i];
    if (f.Default.empty() || f.IsAutoInc() || f.Type == ftBlob) continue;
    if (!EncodeValueTextOrRaise(f, f.Default, platform::Now, value)) continue;
    cursor_.PutFieldValue(static_cast<int>(i + 1), image, value.data());
  }
}

void TRecordWriter::CheckConstraints(const uint8_t* image) const {
  const std::vector<TFieldDesc>& fields = cursor_.Fields();
  const TTableLocale& locale = cursor_.Table()->Locale();
  std::vector<uint8_t> stored;
  std::vector<uint8_t> limit;
  for (size_t i = 0; i < fields.size(); ++i) {
    const TFieldDesc& f = fields[i];
    const int number = static_cast<int>(i + 1);
    if (f.Required != 0 && cursor_.GetFieldValue(number, image, nullptr))
      RaiseEngineError(ec::ValueRequired, cursor_.TableName(), f.Name);
    if (!ComparesLimits(f.Type) || (f.Minimum.empty() && f.Maximum.empty())) continue;
    // The stored bytes count whether the field is null or not: a null number
    // is 0 and a null string empty.
    stored.assign(std::max<size_t>(f.PhysicalSize, 8) + 1, 0);
    if (f.IsAutoInc()) {
      std::memcpy(stored.data(), image + kSlotRecordIdOffset, 4);
    } else {
      std::memcpy(stored.data(), image + f.RecordOffset + 1, f.PhysicalSize);
    }
    if (!f.Minimum.empty() && EncodeValueText(f, f.Minimum, platform::Now, limit) &&
        CompareWithLimit(f, stored.data(), limit.data(), locale) < 0)
      RaiseEngineError(ec::BelowMinimum, cursor_.TableName(), f.Name);
    if (!f.Maximum.empty() && EncodeValueText(f, f.Maximum, platform::Now, limit) &&
        CompareWithLimit(f, stored.data(), limit.data(), locale) > 0)
      RaiseEngineError(ec::AboveMaximum, cursor_.TableName(), f.Name);
  }
}

// ---------------------------------------------------------------------------
// Insert

int32_t TRecordWriter::PeekInsertSlot() {
  TDataTable& table = *cursor_.Table();
  TDataFile& data = table.Data();
  const int32_t firstFree = data.Header.FirstFreeRecord;
  if (firstFree > 0 && firstFree < data.Header.NextRecordNumber && table.Index().Header.NoPrimaryIndex == 0) {
    TRecord* record = data.FetchRecord(firstFree, &cursor_);
    if (record == nullptr) throw TCursorRestart{};
    const bool deleted = record->IsDeleted();
    data.ReleaseRecord(record);
    if (deleted) return firstFree;
  }
  return data.Header.NextRecordNumber;
}

void TRecordWriter::PrepareInsert(uint8_t* image) {
  if (hasConstraints_) CheckConstraints(image);
  const int32_t last = cursor_.Table()->Data().Header.LastAutoIncValue;
  const int32_t newId = last == std::numeric_limits<int32_t>::max() ? 1 : last + 1;
  PutI32(image + kSlotRecordIdOffset, newId);
  if (bulk_) {
    if (const TKeyContext* ctx = bulk_->Duplicate(image))
      RaiseEngineError(ec::DuplicateKey, cursor_.TableName(), {}, {}, ctx->Desc().Name);
    return;
  }
  for (int n : WrittenIndexes()) {
    const TKeyContext& ctx = keys_.Get(n);
    if (!ctx.Unique()) continue;
    if (keys_.Tree(n).KeyExists(ctx.BuildKey(image).data()))
      RaiseEngineError(ec::DuplicateKey, cursor_.TableName(), {}, {}, ctx.Desc().Name);
  }
}

void TRecordWriter::Insert(const uint8_t* image, int32_t slot, uint8_t* written) {
  TDataTable& table = *cursor_.Table();
  TDataFile& data = table.Data();
  const uint16_t recordSize = cursor_.RecordSize();
  const int32_t newId = GetI32(image + kSlotRecordIdOffset);
  TRecord* holder = data.AllocateSlot(&cursor_);
  if (holder == nullptr || holder->RecordNumber != slot) {
    if (holder != nullptr) data.ReleaseRecord(holder);
    RaiseEngineError(ec::RecordBuffersCorrupt, cursor_.TableName());
  }
  struct Release {
    TDataFile& data;
    TRecord* record;
    ~Release() { data.ReleaseRecord(record); }
  } release{data, holder};

  const bool reused = holder->IsDeleted();
  if (bulk_) {
    // A bulk load only ever appends: its table had no slots to reuse.
    if (reused) RaiseEngineError(ec::RecordBuffersCorrupt, cursor_.TableName());
    bulk_->Add(image, slot);
  } else {
    uint8_t oldSystemKey[kSysDeletedKeyLength] = {};
    if (reused) TKeyContext::BuildSystemKey(holder->Data(), oldSystemKey);

    for (int n : WrittenIndexes()) keys_.Tree(n).InsertKey(keys_.Get(n).BuildKey(image).data(), slot);

    std::vector<uint8_t> active(recordSize, 0);
    PutI32(active.data() + kSlotRecordIdOffset, newId);
    uint8_t newSystemKey[kSysDeletedKeyLength] = {};
    TKeyContext::BuildSystemKey(active.data(), newSystemKey);
    TIndexTree system = keys_.Tree(kSysDeletedSlot);
    if (reused) system.DeleteKey(oldSystemKey);
    system.InsertKey(newSystemKey, slot);
  }

  data.InitImage(holder, true);
  holder->CopyFields(image, recordSize);
  holder->SetRecordId(newId);

  table.Index().Header.ActiveRecordCount += 1;
  table.Index().HeaderModified = true;

  if (data.Header.BlobFieldCount != 0) blobs_.PostBlobs(holder->Data());

  std::memcpy(written, holder->Data(), recordSize);
  holder->Modified = true;
}

// ---------------------------------------------------------------------------
// Bulk load

bool TRecordWriter::CanBulkLoad() const {
  TDataTable& table = *cursor_.Table();
  if (table.Data().Header.NextRecordNumber != 1) return false;
  TIndexFile& index = table.Index();
  if (index.Root(kSysDeletedSlot) != 0) return false;
  for (int n : WrittenIndexes()) {
    if (index.Root(n) != 0) return false;
    const TKeyContext& ctx = keys_.Get(n);
    if (ctx.Unique() && ctx.HasLocale()) return false;
  }
  return true;
}

void TRecordWriter::BeginBulk() {
  std::vector<const TKeyContext*> contexts;
  for (int n : WrittenIndexes()) contexts.push_back(&keys_.Get(n));
  bulk_ = std::make_unique<TBulkKeys>(std::move(contexts));
}

void TRecordWriter::EndBulk() {
  std::unique_ptr<TBulkKeys> bulk = std::move(bulk_);
  if (bulk) bulk->Build(cursor_.Table()->Index());
}

// ---------------------------------------------------------------------------
// Modify

TKeyChanges TRecordWriter::PrepareModify(uint8_t* image, const uint8_t* current) {
  if (hasConstraints_) CheckConstraints(image);
  PutI32(image + kSlotRecordIdOffset, GetI32(current + kSlotRecordIdOffset));
  TKeyChanges changes;
  changes.Indexes = WrittenIndexes();
  for (int n : changes.Indexes) {
    const TKeyContext& ctx = keys_.Get(n);
    changes.After.push_back(ctx.BuildKey(image));
    changes.Before.push_back(ctx.BuildKey(current));
    if (ctx.Unique() && changes.After.back() != changes.Before.back() &&
        keys_.Tree(n).KeyExists(changes.After.back().data()))
      RaiseEngineError(ec::DuplicateKey, cursor_.TableName(), {}, {}, ctx.Desc().Name);
  }
  return changes;
}

bool TRecordWriter::Modify(const TKeyChanges& keys, const uint8_t* image, uint8_t* current, int32_t slot) {
  TDataTable& table = *cursor_.Table();
  const uint16_t recordSize = cursor_.RecordSize();
  bool keyChanged = false;
  for (size_t i = 0; i < keys.Indexes.size(); ++i) {
    if (keys.After[i] == keys.Before[i]) continue;
    TIndexTree tree = keys_.Tree(keys.Indexes[i]);
    if (!tree.KeyExists(keys.Before[i].data()))
      RaiseEngineError(ec::PageBuffersCorrupt, cursor_.TableName(), {}, {}, keys_.Get(keys.Indexes[i]).Desc().Name);
    tree.DeleteKey(keys.Before[i].data());
    tree.InsertKey(keys.After[i].data(), slot);
    keyChanged = true;
  }

  std::memcpy(current + kSlotFieldsOffset, image + kSlotFieldsOffset, recordSize - kSlotFieldsOffset);
  std::memcpy(current + kSlotRecordIdOffset, image + kSlotRecordIdOffset, 4);
  TDataFile& data = table.Data();
  if (data.Header.BlobFieldCount != 0) blobs_.PostBlobs(current);

  TRecord* holder = data.FetchRecord(slot, &cursor_);
  if (holder == nullptr) RaiseEngineError(ec::RecordBuffersCorrupt, cursor_.TableName());
  std::memcpy(holder->Data(), current, recordSize);
  holder->Modified = true;
  data.ReleaseRecord(holder);
  return keyChanged;
}

// ---------------------------------------------------------------------------
// Delete

void TRecordWriter::Delete(const uint8_t* record, int32_t slot, uint8_t* current) {
  TDataTable& table = *cursor_.Table();
  const uint16_t recordSize = cursor_.RecordSize();
  for (int n : WrittenIndexes()) {
    const TKeyContext& ctx = keys_.Get(n);
    const std::vector<uint8_t> key = ctx.BuildKey(record);
    TIndexTree tree = keys_.Tree(n);
    if (!tree.KeyExists(key.data()))
      RaiseEngineError(ec::PageBuffersCorrupt, cursor_.TableName(), {}, {}, ctx.Desc().Name);
    tree.DeleteKey(key.data());
  }
  uint8_t activeKey[kSysDeletedKeyLength] = {};
  TKeyContext::BuildSystemKey(record, activeKey);
  activeKey[0] = 0;
  uint8_t deletedKey[kSysDeletedKeyLength];
  std::memcpy(deletedKey, activeKey, 5);
  deletedKey[0] = 1;
  TIndexTree system = keys_.Tree(kSysDeletedSlot);
  if (!system.KeyExists(activeKey))
    RaiseEngineError(ec::PageBuffersCorrupt, cursor_.TableName(), {}, {}, kSysDeletedName);
  system.DeleteKey(activeKey);
  system.InsertKey(deletedKey, slot);

  table.Index().Header.ActiveRecordCount -= 1;
  table.Index().HeaderModified = true;

  TDataFile& data = table.Data();
  if (data.Header.BlobFieldCount != 0) {
    std::vector<uint8_t> blobImage(record, record + recordSize);
    blobs_.ReleaseRowBlobs(blobImage.data());
  }

  TRecord* holder = data.FetchRecord(slot, &cursor_);
  if (holder == nullptr) RaiseEngineError(ec::RecordBuffersCorrupt, cursor_.TableName());
  std::memcpy(holder->Data(), record, recordSize);
  data.FreeSlot(holder);
  std::memcpy(current, holder->Data(), recordSize);
  data.ReleaseRecord(holder);
}

}  // namespace tessel
