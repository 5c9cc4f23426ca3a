// Index keys: building the key of one index from a record slot image, and
// comparing two keys in the index's order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/Formats.h"

namespace tessel {

class TTableLocale;

// Everything needed to build and compare the keys of one index: its
// descriptor, its slot (0 primary, 1-30 secondary, 31 "Sys Deleted"), the
// descriptors of its key fields and the table's locale.
class TKeyContext {
 public:
  // fields are the table's field descriptors in field-number order (field n
  // at fields[n - 1]). A key field number outside them raises
  // "Header information corrupt in table '%s'". A null locale stands for
  // language id 0. The locale must outlive the context.
  TKeyContext(const TIndexDesc& desc, int slot, const std::vector<TFieldDesc>& fields,
              const TTableLocale* locale, std::string tableName = {});

  const TIndexDesc& Desc() const { return desc_; }
  int Slot() const { return slot_; }
  uint16_t KeyLength() const { return desc_.KeyLength; }
  bool Unique() const { return desc_.Unique != 0; }
  bool Descending() const { return desc_.Descending != 0; }
  uint8_t Compression() const { return desc_.Compression; }
  bool IsSystemIndex() const { return slot_ == kSysDeletedSlot; }
  bool HasLocale() const;
  const std::string& TableName() const { return tableName_; }

  // The key of the row for this index (the "Sys Deleted" key for slot 31),
  // KeyLength() bytes.
  std::vector<uint8_t> BuildKey(const uint8_t* row) const;
  void BuildKey(const uint8_t* row, uint8_t* key) const;
  // The "Sys Deleted" key: the slot's deleted flag, then its record
  // identifier encoded as an integer (5 bytes).
  static void BuildSystemKey(const uint8_t* row, uint8_t* key);

  // a against b over n bytes in this index's order: -1, 0 or 1.
  int CompareKeys(const uint8_t* a, const uint8_t* b, size_t n) const;
  int CompareKeys(const uint8_t* a, const uint8_t* b) const {
    return CompareKeys(a, b, desc_.KeyLength);
  }

 private:
  struct KeyField {
    TFieldDesc Field;
    bool Descending = false;
  };
  void EncodeField(const KeyField& part, const uint8_t* row, uint8_t* out) const;

  TIndexDesc desc_;
  int slot_;
  std::vector<KeyField> parts_;
  const TTableLocale* locale_;
  std::string tableName_;
};

// Value encodings shared by keys: big-endian with the sign bit arranged so
// that plain unsigned byte order is numeric order.
void EncodeKeyInt32(int32_t value, uint8_t* out);    // 4 bytes, top bit inverted
void EncodeKeyInt16(int16_t value, uint8_t* out);    // 2 bytes, top bit inverted
void EncodeKeyUInt16(uint16_t value, uint8_t* out);  // 2 bytes
void EncodeKeyDouble(double value, uint8_t* out);    // 8 bytes, -0 equals +0
void EncodeKeyInt64(int64_t value, uint8_t* out);    // 8 bytes, top bit inverted

}  // namespace tessel
