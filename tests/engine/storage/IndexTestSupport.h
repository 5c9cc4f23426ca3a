// Helpers for the index tests: field and index descriptors, row images, and
// reading pages of a store.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/storage/Formats.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/Record.h"

namespace tessel::indextest {

// Field n of a table whose fields are laid out one after another from slot
// offset 9.
class TTestFields {
 public:
  // Adds a field; physicalSize is the declared size + 1 for strings.
  int Add(uint8_t type, uint8_t physicalSize) {
    TFieldDesc f;
    f.FieldNumber = static_cast<uint16_t>(Fields.size() + 1);
    f.Name = "f" + std::to_string(f.FieldNumber);
    f.Type = type;
    f.PhysicalSize = physicalSize;
    f.DeclaredSize = type == ftString ? static_cast<uint8_t>(physicalSize - 1) : 0;
    f.RecordOffset = static_cast<uint16_t>(RecordSize);
    RecordSize += physicalSize + 1;
    Fields.push_back(f);
    return f.FieldNumber;
  }
  std::vector<TFieldDesc> Fields;
  int RecordSize = kSlotFieldsOffset;
};

// An index descriptor over the given fields with the key length they make.
inline TIndexDesc MakeIndex(const TTestFields& table, const std::vector<int>& fieldNumbers,
                            bool unique, uint8_t compression = 0, bool descending = false,
                            bool caseInsensitive = false,
                            const std::vector<int>& descendingFields = {}) {
  TIndexDesc d;
  d.Name = "idx";
  d.Unique = unique ? 1 : 0;
  d.Compression = compression;
  d.Descending = descending ? 1 : 0;
  d.CaseInsensitive = caseInsensitive ? 1 : 0;
  d.FieldCount = static_cast<uint8_t>(fieldNumbers.size());
  int length = unique ? 0 : 4;
  for (size_t i = 0; i < fieldNumbers.size(); ++i) {
    d.FieldNumbers[i] = static_cast<uint16_t>(fieldNumbers[i]);
    length += table.Fields[static_cast<size_t>(fieldNumbers[i] - 1)].PhysicalSize + 1;
  }
  for (int f : descendingFields) d.FieldDescending[static_cast<size_t>(f)] = 1;
  d.KeyLength = static_cast<uint16_t>(length);
  return d;
}

// A record slot image of a table.
class TTestRow {
 public:
  explicit TTestRow(const TTestFields& table) : table_(table), image_(table.RecordSize, 0) {}
  TTestRow& Id(int32_t id) {
    PutI32(image_.data() + kSlotRecordIdOffset, id);
    return *this;
  }
  TTestRow& Deleted(bool deleted) {
    image_[kSlotDeletedOffset] = deleted ? 1 : 0;
    return *this;
  }
  TTestRow& Null(int field) {
    const TFieldDesc& f = Field(field);
    std::memset(image_.data() + f.RecordOffset, 0, f.PhysicalSize + 1u);
    return *this;
  }
  TTestRow& Bytes(int field, const std::vector<uint8_t>& bytes) {
    const TFieldDesc& f = Field(field);
    image_[f.RecordOffset] = 1;
    std::memset(image_.data() + f.RecordOffset + 1, 0, f.PhysicalSize);
    std::memcpy(image_.data() + f.RecordOffset + 1, bytes.data(),
                std::min<size_t>(bytes.size(), f.PhysicalSize));
    return *this;
  }
  TTestRow& Str(int field, const std::string& text) {
    return Bytes(field, std::vector<uint8_t>(text.begin(), text.end()));
  }
  TTestRow& Int(int field, int32_t value) {
    std::vector<uint8_t> b(4);
    PutI32(b.data(), value);
    return Bytes(field, b);
  }
  TTestRow& Small(int field, int16_t value) {
    std::vector<uint8_t> b(2);
    PutI16(b.data(), value);
    return Bytes(field, b);
  }
  TTestRow& Word(int field, uint16_t value) {
    std::vector<uint8_t> b(2);
    PutU16(b.data(), value);
    return Bytes(field, b);
  }
  TTestRow& Float(int field, double value) {
    std::vector<uint8_t> b(8);
    PutF64(b.data(), value);
    return Bytes(field, b);
  }
  TTestRow& Int64(int field, int64_t value) {
    std::vector<uint8_t> b(8);
    PutI64(b.data(), value);
    return Bytes(field, b);
  }
  const uint8_t* data() const { return image_.data(); }

 private:
  const TFieldDesc& Field(int n) const { return table_.Fields[static_cast<size_t>(n - 1)]; }
  const TTestFields& table_;
  std::vector<uint8_t> image_;
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// A copy of a page of the store (the store's copy is given back at once).
inline TPage ReadPage(TPageStore& store, int index, int32_t position) {
  TPageRef ref(store, store.GetPage(index, position));
  TPage copy = *ref;
  return copy;
}

inline std::vector<uint8_t> KeyOf(const TPage& page, int entry) {
  return std::vector<uint8_t>(page.Key(entry), page.Key(entry) + page.KeyLength);
}

}  // namespace tessel::indextest
