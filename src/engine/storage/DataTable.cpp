#include "engine/storage/DataTable.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <numeric>

#include "engine/base/Names.h"
#include "engine/base/TesselError.h"
#include "engine/storage/Scramble.h"
#include "engine/storage/ValueText.h"

namespace tessel {

namespace {

constexpr size_t kMaxNameLength = 30;
constexpr size_t kMaxPasswordLength = 15;
constexpr uint32_t kMinBlobBlockSize = 64;
constexpr uint8_t kMaxDeclaredSize = 250;
const char* const kPrimaryName = "Primary";

bool KeepsDeclaredSize(uint8_t type) { return type == ftString || type == ftBytes || type == ftVarBytes; }

template <typename F>
void Quietly(F&& f) {
  try {
    f();
  } catch (...) {
  }
}

void FlushEachQuietly(TDataTable& table, bool forceData, bool forceIndex);

}  // namespace

TDataTable::TDataTable(std::string directory, std::string tableName, std::shared_ptr<TFileSystem> files)
    : directory_(std::move(directory)),
      tableName_(std::move(tableName)),
      files_(files != nullptr ? std::move(files) : OperatingSystemFiles()),
      data_(*this),
      index_(*this),
      blob_(*this),
      locale_(std::make_unique<TTableLocale>()) {
  if (!directory_.empty() && directory_.back() != '/') directory_ += '/';
  std::iota(charOrder_.begin(), charOrder_.end(), 0);
}

TDataTable::~TDataTable() {
  // An owner that did not close the table loses what was not written back:
  // a destructor must not fail half-way through a write.
  if (openCount_ > 0) CloseAll();
}

// ---------------------------------------------------------------------------
// File names

std::string TDataTable::FormFileName(const std::string& directory, const std::string& tableName,
                                     const std::string& ext) {
  std::string name = TrimBlanks(tableName);
  // The extension is replaced; one that equals ext in another letter case
  // becomes ext as well, so that new files are made with the canonical name
  // (the file layer finds existing files without regard to case).
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.erase(dot);
  return directory + name + ext;
}

std::string TDataTable::DataFileName() const { return FormFileName(directory_, tableName_, ".DAT"); }
std::string TDataTable::IndexFileName() const { return FormFileName(directory_, tableName_, ".IDX"); }
std::string TDataTable::BlobFileName() const { return FormFileName(directory_, tableName_, ".BLB"); }

void TDataTable::ApplySettings(TFileHandler& file, const std::string& name) {
  file.SetFileSystem(*files_);
  file.SetFileName(name);
  file.SetErrorName(tableName_);
  file.InMemory = Settings.InMemory;
  file.Exclusive = Settings.Exclusive;
  file.ReadOnly = Settings.ReadOnly;
  file.Temporary = Settings.Temporary;
  file.WriteThrough = Settings.WriteThrough;
}

void TDataTable::BuildLocale() {
  locale_ = std::make_unique<TTableLocale>(data_.Header.LanguageId, data_.Header.SortId);
  charOrder_ = locale_->CharacterOrder();
}

void TDataTable::CloseAll() {
  ReleaseLocks();
  data_.DropRecords();
  index_.DropPages();
  if (blob_.IsOpen()) blob_.DropBlocks();
  if (index_.IsOpen()) Quietly([&] { index_.Close(); });
  if (blob_.IsOpen()) Quietly([&] { blob_.Close(); });
  if (data_.IsOpen()) Quietly([&] { data_.Close(); });
  openCount_ = 0;
}

// ---------------------------------------------------------------------------
// Opening and closing

void TDataTable::OpenFiles() {
  if (openCount_ > 0) {
    ++openCount_;
    return;
  }
  ApplySettings(data_, DataFileName());
  ApplySettings(index_, IndexFileName());
  ApplySettings(blob_, BlobFileName());
  indexRecreated_ = false;
  readOnly_ = Settings.ReadOnly;
  try {
    data_.Open();
    data_.ReadHeader();
    data_.ReadFieldDescs();

    // A lost index file is laid down anew; the opening cursor repairs the
    // table (CompleteRecreatedIndex) before it is used. A table opened
    // read-only writes nothing: its index lives in memory for this open.
    const bool writesNothing = Settings.ReadOnly || data_.OpenedReadOnly();
    bool indexMissing = false;
    try {
      index_.Open();
    } catch (const ETesselEngineError& e) {
      if (e.Code() != ec::InvalidPath) throw;
      indexMissing = true;
    }
    if (indexMissing) {
      LayDownIndexFile(writesNothing);
    } else {
      index_.ReadIndexHeader();
      // The bare header of a re-created index file whose repair never
      // reached the file: "Sys Deleted" holds none of the slots, so the
      // table is re-created the same way.
      if (IsBareIndexHeader(index_.Header)) {
        if (writesNothing || index_.OpenedReadOnly()) {
          index_.Close();
          LayDownIndexFile(true);
        } else {
          indexRecreated_ = true;
        }
      }
    }

    // The descriptors are asked as well, so that the structure check can
    // reach the BLOBs of a table whose header count is damaged (the header
    // checks refuse such a table to everyone else).
    if ((data_.Header.BlobFieldCount != 0 || data_.DescribedBlobFields() != 0) && blob_.Exists()) {
      blob_.BlockSize = data_.Header.EffectiveBlockSize();
      blob_.Open();
      blob_.ReadBlobHeader();
    }

    if (data_.OpenedReadOnly() || index_.OpenedReadOnly() || (blob_.IsOpen() && blob_.OpenedReadOnly()))
      readOnly_ = true;
    BuildLocale();
  } catch (...) {
    CloseAll();
    throw;
  }
  openCount_ = 1;
}

bool TDataTable::IsBareIndexHeader(const TIndexHeader& h) {
  // Table creation marks a table without primary index as such, so no
  // table's header has an empty primary slot with the flag clear.
  if (h.NoPrimaryIndex != 0 || h.SecondaryCount != 0 || h.ActiveRecordCount != 0) return false;
  for (int slot = 0; slot < kSysDeletedSlot; ++slot) {
    const TIndexDesc& d = h.Indexes[static_cast<size_t>(slot)];
    if (d.KeyLength != 0 || d.FieldCount != 0) return false;
  }
  return h.Indexes[kSysDeletedSlot].RootPage == 0;
}

void TDataTable::LayDownIndexFile(bool inMemory) {
  if (inMemory) {
    // A memory file of a name no table's file can have (those end in their
    // extension), removed when the table closes.
    static std::atomic<uint64_t> serial{0};
    index_.InMemory = true;
    index_.Temporary = true;
    index_.SetFileName(IndexFileName() + ".rebuilt-" + std::to_string(++serial));
  }
  index_.CreateEmpty();
  index_.InitIndexHeader();
  index_.WriteIndexHeader(true);
  index_.Close();
  index_.Open();
  index_.ReadIndexHeader();
  indexRecreated_ = true;
}

void TDataTable::CloseFiles(bool flush) {
  if (openCount_ == 0) return;
  if (--openCount_ > 0) return;
  std::exception_ptr failure;
  // A temporary table is not written back: its caches are dropped.
  if (flush && !readOnly_ && !Settings.Temporary) {
    try {
      FlushTable(false, false, false);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  CloseAll();
  if (failure) std::rethrow_exception(failure);
}

void TDataTable::DeleteFiles() {
  ApplySettings(data_, DataFileName());
  ApplySettings(index_, IndexFileName());
  ApplySettings(blob_, BlobFileName());
  data_.Delete();
  // A table whose index file went missing is still removed completely.
  if (index_.Exists()) index_.Delete();
  if (blob_.Exists()) blob_.Delete();
}

void TDataTable::RenameFiles(const std::string& newName) {
  ApplySettings(data_, DataFileName());
  ApplySettings(index_, IndexFileName());
  ApplySettings(blob_, BlobFileName());
  if (data_.Exists()) data_.Rename(FormFileName(directory_, newName, ".DAT"));
  if (index_.Exists()) index_.Rename(FormFileName(directory_, newName, ".IDX"));
  if (blob_.Exists()) blob_.Rename(FormFileName(directory_, newName, ".BLB"));
  tableName_ = newName;
  data_.SetErrorName(tableName_);
  index_.SetErrorName(tableName_);
  blob_.SetErrorName(tableName_);
}

void TDataTable::ValidateHeaders(bool forStructureCheck) {
  data_.ValidateHeader(forStructureCheck);
  if (index_.Header.Version != kFormatVersion) RaiseEngineError(ec::WrongVersion, tableName_);
  if (blob_.IsOpen() && blob_.Header.Version != kFormatVersion)
    RaiseEngineError(ec::WrongVersion, tableName_);
}

// ---------------------------------------------------------------------------
// Structure check and creation

void TDataTable::CheckStructure(TTableStructure& s, bool allowNoPrimary, const std::string& tableName) {
  if (s.Encrypted) {
    const std::string password = TrimBlanks(s.Password);
    if (password.empty() || password.size() > kMaxPasswordLength)
      RaiseEngineError(ec::InvalidPassword, tableName);
  }
  if (s.LanguageId != 0 && !TTableLocale::IsInstalled(s.LanguageId, s.SortId))
    RaiseEngineError(ec::NoLanguageDriver, tableName);
  if (s.Fields.size() > static_cast<size_t>(kMaxFields) || s.LastAutoIncValue < -1)
    RaiseEngineError(ec::FieldLimits, tableName);
  if (s.Secondary.size() > 32) RaiseEngineError(ec::IndexLimits, tableName);
  if (s.BlobBlockSize < kMinBlobBlockSize) RaiseEngineError(ec::BlobFieldsOrBlockSize, tableName);

  const size_t count = s.Fields.size();
  std::vector<bool> numberUsed(count + 1, false);
  for (size_t i = 0; i < count; ++i) {
    TFieldDesc& f = s.Fields[i];
    f.Name = TrimBlanks(f.Name);
    if (f.Name.empty() || f.Name.size() > kMaxNameLength || !IsNameLetter(static_cast<unsigned char>(f.Name[0])))
      RaiseEngineError(ec::InvalidFieldName, tableName, f.Name);
    for (size_t j = 0; j < i; ++j)
      if (SameNameIgnoringCase(s.Fields[j].Name, f.Name)) RaiseEngineError(ec::InvalidFieldName, tableName, f.Name);
    // Field numbers must be 1 to the field count, each once: the descriptors
    // are stored at the positions their numbers name.
    const bool badNumber = f.FieldNumber < 1 || f.FieldNumber > count || numberUsed[f.FieldNumber];
    if (badNumber || f.Type == ftInvalid || f.Type > ftVarBytes ||
        (KeepsDeclaredSize(f.Type) && f.DeclaredSize > kMaxDeclaredSize))
      RaiseEngineError(ec::InvalidFieldDef, tableName, f.Name);
    numberUsed[f.FieldNumber] = true;
    if (!KeepsDeclaredSize(f.Type)) f.DeclaredSize = 0;
    if (f.Type != ftBCD) f.DeclaredDecimals = 0;
    if (!IsValidValueText(f, f.Default) || !IsValidValueText(f, f.Minimum) || !IsValidValueText(f, f.Maximum))
      RaiseEngineError(ec::InvalidValidity, tableName, f.Name);
    f.PhysicalSize = PhysicalSize(f.Type, f.DeclaredSize);
    f.PhysicalDecimals = f.DeclaredDecimals;
  }

  // Record offsets, in field-number order.
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return s.Fields[a].FieldNumber < s.Fields[b].FieldNumber; });
  int offset = kSlotFieldsOffset;
  for (size_t i : order) {
    TFieldDesc& f = s.Fields[i];
    if (f.IsAutoInc()) {
      f.RecordOffset = kSlotRecordIdOffset;
    } else {
      f.RecordOffset = static_cast<uint16_t>(offset);
      offset += f.PhysicalSize + 1;
    }
  }

  auto fieldByNumber = [&](uint16_t number) -> const TFieldDesc* {
    for (const TFieldDesc& f : s.Fields)
      if (f.FieldNumber == number) return &f;
    return nullptr;
  };
  // position: the definition's place among the secondary ones (primary: -1).
  auto checkIndex = [&](TIndexDesc& d, int position) {
    const bool primary = position < 0;
    std::string indexName;
    if (primary) {
      d.Name.clear();
      d.Unique = 1;
      indexName = kPrimaryName;
      if (allowNoPrimary && (d.FieldCount == 0 || fieldByNumber(d.FieldNumbers[0]) == nullptr)) {
        // No primary index: the definition ends here.
        d = TIndexDesc{};
        d.Unique = 1;
        return;
      }
    } else {
      d.Name = TrimBlanks(d.Name);
      indexName = d.Name;
      if (d.Name.empty()) RaiseEngineError(ec::IndexNameMissing, tableName);
      if (!IsNameLetter(static_cast<unsigned char>(d.Name[0])))
        RaiseEngineError(ec::InvalidIndexName, tableName, {}, {}, d.Name);
      for (int j = 0; j < position; ++j)
        if (SameNameIgnoringCase(s.Secondary[static_cast<size_t>(j)].Name, d.Name))
          RaiseEngineError(ec::IndexExists, tableName, {}, {}, d.Name);
    }
    const int fields = std::min<int>(d.FieldCount, kMaxIndexFields);
    int keyLength = 0;
    for (int k = 0; k < fields; ++k) {
      const uint16_t number = d.FieldNumbers[static_cast<size_t>(k)];
      const TFieldDesc* f = fieldByNumber(number);
      if (f == nullptr)
        RaiseEngineError(ec::InvalidIndexField, tableName, std::to_string(number), {}, indexName);
      keyLength += f->PhysicalSize + 1;
    }
    if (keyLength < 1 || keyLength > kMaxKeyLength)
      RaiseEngineError(ec::InvalidKeySize, tableName, {}, {}, indexName);
    if (!d.Unique) keyLength += 4;
    d.KeyLength = static_cast<uint16_t>(keyLength);
    d.RootPage = 0;
    d.FreePage = 0;
  };

  checkIndex(s.Primary, -1);
  for (size_t i = 0; i < s.Secondary.size(); ++i) checkIndex(s.Secondary[i], static_cast<int>(i));
}

void TDataTable::CreateFiles(const TTableStructure& structure) {
  if (openCount_ > 0) RaiseEngineError(ec::TableInUse, tableName_);
  int recordSize = kSlotFieldsOffset;
  for (const TFieldDesc& f : structure.Fields)
    if (!f.IsAutoInc()) recordSize += f.PhysicalSize + 1;
  if (recordSize > 65535) RaiseEngineError(ec::RecordTooBig, tableName_);

  // The new files are made read-write and unshared.
  Settings.ReadOnly = false;
  Settings.Exclusive = true;
  readOnly_ = false;
  indexRecreated_ = false;
  ApplySettings(data_, DataFileName());
  ApplySettings(index_, IndexFileName());
  ApplySettings(blob_, BlobFileName());
  try {
    data_.CreateEmpty();
    data_.InitStructure(structure);
    index_.CreateEmpty();
    index_.InitIndexHeader();
    index_.SetPrimaryIndex(structure.Primary);
    for (const TIndexDesc& d : structure.Secondary) index_.AddSecondaryIndex(d);
    if (data_.Header.BlobFieldCount != 0) {
      blob_.BlockSize = data_.Header.EffectiveBlockSize();
      blob_.CreateEmpty();
      blob_.InitBlobHeader();
    }
    BuildLocale();
  } catch (...) {
    // The caller removes what was made.
    CloseAll();
    throw;
  }
  // The table stays open; headers and descriptors reach the files with the
  // next write-back, at the latest when the table is closed.
  openCount_ = 1;
}

void TDataTable::EmptyTable() {
  data_.EmptyData();
  index_.EmptyIndexes();
  if (blob_.IsOpen()) blob_.EmptyBlobs();
  DropCaches(true, false);
}

// ---------------------------------------------------------------------------
// Write-back and caches

namespace {

// A write-back of a write-through table: its writes do not wait for the disk
// one by one; at the end the writes of all three files are started on their
// way to the disk together, then each changed file is flushed once, in the
// order data, index, BLOB. A write-back that fails still flushes what it
// wrote.
class TDeferredSync {
 public:
  TDeferredSync(TFileHandler& data, TFileHandler& index, TFileHandler& blob) : files_{&data, &index, &blob} {
    for (TFileHandler* f : files_) f->DeferSync(true);
  }
  ~TDeferredSync() {
    for (TFileHandler* f : files_) {
      f->DeferSync(false);
      if (!done_) Quietly([&] { f->SyncDeferred(); });
    }
  }
  void Finish() {
    for (TFileHandler* f : files_) f->DeferSync(false);
    done_ = true;
    // Every file's writes go to the disk at once; each flush then waits only
    // for its own file and the disk's cache.
    for (TFileHandler* f : files_) f->StartSyncDeferred();
    std::exception_ptr failure;
    for (TFileHandler* f : files_) {
      try {
        f->SyncDeferred();
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    if (failure) std::rethrow_exception(failure);
  }

 private:
  TFileHandler* files_[3];
  bool done_ = false;
};

// The second chance of a write-back that failed: what is still modified is
// written once more, each file's part on its own, under the same lock. A
// fault that passes (a short write, a flush that failed once) then
// leaves the files whole, and the buffers and the headers' change counters
// agree with them again; one that stays (a full disk) leaves at least the
// other files' parts in step, so that no BLOB block or index page the data
// file names is given out again. Its failures add nothing to the first,
// which the caller gets.
void FlushEachQuietly(TDataTable& table, bool forceData, bool forceIndex) {
  TDataFile& data = table.Data();
  TIndexFile& index = table.Index();
  TBlobFile& blob = table.Blob();
  TDeferredSync sync(data, index, blob);
  if (data.IsOpen()) Quietly([&] {
      data.WriteBackRecords();
      data.WriteHeader(forceData);
      data.WriteFieldDescs();
    });
  if (index.IsOpen()) Quietly([&] {
      index.WriteBackPages();
      index.WriteIndexHeader(forceIndex);
    });
  if (blob.IsOpen()) Quietly([&] {
      blob.WriteBackBlocks();
      blob.WriteBlobHeader(forceData);
    });
  Quietly([&] { sync.Finish(); });
}

}  // namespace

void TDataTable::FlushTable(bool trim, bool forceData, bool forceIndex) {
  try {
    TDeferredSync sync(data_, index_, blob_);
    FlushTableFiles(trim, forceData, forceIndex);
    sync.Finish();
  } catch (...) {
    FlushEachQuietly(*this, forceData, forceIndex);
    throw;
  }
}

void TDataTable::FlushTableFiles(bool trim, bool forceData, bool forceIndex) {
  if (data_.IsOpen()) {
    data_.WriteBackRecords();
    data_.WriteHeader(forceData);
    data_.WriteFieldDescs();
    if (trim) data_.TrimRecords();
  }
  if (index_.IsOpen()) {
    index_.WriteBackPages();
    index_.WriteIndexHeader(forceIndex);
    if (trim) index_.TrimPages();
  }
  if (blob_.IsOpen()) {
    blob_.WriteBackBlocks();
    blob_.WriteBlobHeader(forceData);
    if (trim) blob_.TrimBlocks();
  }
}

void TDataTable::DropCaches(bool trim, bool rereadHeaders) {
  data_.DropRecords();
  index_.DropPages();
  if (blob_.IsOpen()) blob_.DropBlocks();
  if (trim) {
    data_.TrimRecords();
    index_.TrimPages();
    if (blob_.IsOpen()) blob_.TrimBlocks();
  }
  if (rereadHeaders) {
    if (data_.IsOpen()) data_.ReadHeader();
    if (index_.IsOpen()) index_.ReadIndexHeader();
    if (blob_.IsOpen()) blob_.ReadBlobHeader();
  }
}



// ---------------------------------------------------------------------------
// Password and description

std::string TDataTable::Password() const {
  if (!IsEncrypted()) return {};
  return ScrambledText(data_.Header.Password);
}

std::string TDataTable::Description() const {
  return IsEncrypted() ? ScrambledText(data_.Header.Description) : data_.Header.Description;
}

std::string TDataTable::ReadPasswordFromFile(const std::string& dataFileName, TFileSystem* files) {
  TFileHandler file;
  if (files != nullptr) file.SetFileSystem(*files);
  file.SetFileName(dataFileName);
  file.ReadOnly = true;
  file.Exclusive = false;
  file.Open();
  uint8_t image[kDataHeaderSize];
  try {
    file.ReadAt(0, image, sizeof image);
  } catch (...) {
    Quietly([&] { file.Close(); });
    throw;
  }
  file.Close();
  const TDataHeader header = TDataHeader::Decode(image);
  return header.Encrypted ? ScrambledText(header.Password) : std::string();
}

}  // namespace tessel
