// A table with two BLOB fields in a temporary directory, for the tests of
// blocks, chains, buffers and the chain check.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TableTestSupport.h"
#include "engine/base/Bytes.h"
#include "engine/storage/BlobBuffer.h"
#include "engine/storage/BlobFile.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/ReadContext.h"

namespace tessel::testing {

constexpr const char* kBlobTable = "t";
constexpr int kNoteField = 2;
constexpr int kPicField = 3;

// A stand-in for the cursor's change check.
class FakeReadContext : public TReadContext {
 public:
  std::function<bool()> OnMiss;
  int Misses = 0;
  bool BeforeCacheMiss() override {
    ++Misses;
    return OnMiss ? OnMiss() : false;
  }
};

class BlobTable {
 public:
  explicit BlobTable(uint32_t blockSize = 512, bool encrypted = false) {
    TTableStructure s;
    s.Fields = {Field(1, "id", ftInteger), Field(2, "note", ftBlob, 0, fstMemo),
                Field(3, "pic", ftBlob, 0, fstGraphic)};
    s.BlobBlockSize = blockSize;
    s.Encrypted = encrypted;
    if (encrypted) s.Password = "secret";
    TDataTable::CheckStructure(s, true, kBlobTable);
    table_ = std::make_unique<TDataTable>(dir_.Dir(), kBlobTable);
    table_->CreateFiles(s);
    Flush();
  }

  TDataTable& T() { return *table_; }
  TBlobFile& Blob() { return table_->Blob(); }
  std::string BlobName() const { return dir_.Dir() + "t.BLB"; }
  int B() const { return static_cast<int>(table_->Blob().BlockSize); }
  int C() const { return B() - 18; }
  int RecordSize() const { return table_->Data().RecordSize(); }
  const TFieldDesc& FieldDesc(int number) const { return table_->Data().Fields[static_cast<size_t>(number - 1)]; }

  // Writes the modified blocks and the BLOB header to the file.
  void Flush() {
    Blob().WriteBackBlocks();
    Blob().WriteBlobHeader(true);
  }

  // Stores value as a new chain (or over the chain at first) and answers the
  // chain's first block and identifier.
  std::pair<int32_t, int32_t> Store(const std::vector<uint8_t>& value, int32_t first = 0, int32_t id = 0) {
    TBlobBuffer buffer(T(), nullptr, kNoteField, 1, first, id);
    buffer.SetSize(value.size());
    std::copy(value.begin(), value.end(), buffer.Data());
    buffer.MarkModified();
    buffer.Store();
    return {buffer.FirstBlock(), buffer.BlobId()};
  }

  std::vector<uint8_t> Load(int32_t first, int32_t id, TReadContext* cursor = nullptr) {
    TBlobBuffer buffer(T(), cursor, kNoteField, 1, first, id);
    buffer.Load();
    return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Size());
  }

  // The file's bytes of the block at position.
  std::vector<uint8_t> FileBlock(int32_t position) {
    const std::vector<uint8_t> all = ReadFileBytes(BlobName());
    if (all.size() < static_cast<size_t>(position + B())) return {};
    return std::vector<uint8_t>(all.begin() + position, all.begin() + position + B());
  }

  // Overwrites an i32 of a block in the file and drops the cache, so that the
  // next fetch reads the damaged block.
  void PatchBlockI32(int32_t position, int offset, int32_t value) {
    std::vector<uint8_t> bytes(4);
    PutI32(bytes.data(), value);
    PatchFileBytes(BlobName(), position + offset, bytes);
    Blob().DropBlocks();
  }
  void PatchBlockU16(int32_t position, int offset, uint16_t value) {
    std::vector<uint8_t> bytes(2);
    PutU16(bytes.data(), value);
    PatchFileBytes(BlobName(), position + offset, bytes);
    Blob().DropBlocks();
  }

 private:
  TempDir dir_;
  std::unique_ptr<TDataTable> table_;
};

// n bytes 1, 2, 3, ... (mod 251, never 0).
inline std::vector<uint8_t> Pattern(size_t n, uint8_t start = 1) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((start + i) % 251 + 1);
  return v;
}

}  // namespace tessel::testing
