#include "engine/storage/IndexKey.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/FieldValue.h"
#include "engine/storage/Record.h"
#include "engine/storage/TableLocale.h"

namespace tessel {

namespace {

int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

int CompareBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  return n == 0 ? 0 : Sign(std::memcmp(a, b, n));
}

void PutBigEndian(uint64_t value, int bytes, uint8_t* out) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(value);
    value >>= 8;
  }
}

}  // namespace

void EncodeKeyInt32(int32_t value, uint8_t* out) {
  PutBigEndian(static_cast<uint32_t>(value) ^ 0x80000000u, 4, out);
}

void EncodeKeyInt16(int16_t value, uint8_t* out) {
  PutBigEndian(static_cast<uint16_t>(value) ^ 0x8000u, 2, out);
}

void EncodeKeyUInt16(uint16_t value, uint8_t* out) { PutBigEndian(value, 2, out); }

void EncodeKeyDouble(double value, uint8_t* out) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  // Negative values invert every bit so that larger magnitudes sort first;
  // everything else (including -0, which compares equal to 0) gets the top
  // bit set, which makes -0 and +0 the same key.
  if (value < 0) {
    bits = ~bits;
  } else {
    bits |= 0x8000000000000000ull;
  }
  PutBigEndian(bits, 8, out);
}

void EncodeKeyInt64(int64_t value, uint8_t* out) {
  PutBigEndian(static_cast<uint64_t>(value) ^ 0x8000000000000000ull, 8, out);
}

TKeyContext::TKeyContext(const TIndexDesc& desc, int slot, const std::vector<TFieldDesc>& fields,
                         const TTableLocale* locale, std::string tableName)
    : desc_(desc), slot_(slot), locale_(locale), tableName_(std::move(tableName)) {
  // A key length that no index can have (a damaged index header) would make
  // keys that neither the key buffers nor the pages can hold; the key of a
  // non-unique index holds its 4-byte record identifier after at least one
  // byte of key. An empty primary slot (no fields, no key) is no index and
  // is let through.
  const bool unused = slot_ == 0 && desc_.FieldCount == 0 && desc_.KeyLength == 0;
  const bool badLength = slot_ == kSysDeletedSlot
                             ? desc_.KeyLength != kSysDeletedKeyLength
                             : desc_.KeyLength == 0 || desc_.KeyLength > kMaxFullKeyLength ||
                                   (desc_.Unique == 0 && desc_.KeyLength <= 4);
  // An index of a table without key fields (a damaged index header) has no
  // key to search by. Contexts made without fields work on raw keys (pages
  // on their own) and have none.
  const bool noKeyFields = slot_ != kSysDeletedSlot && desc_.FieldCount == 0 && !fields.empty();
  if (!unused && (badLength || noKeyFields)) RaiseEngineError(ec::HeaderCorrupt, tableName_);
  if (slot_ == kSysDeletedSlot) return;
  const int count = std::min<int>(desc_.FieldCount, kMaxIndexFields);
  for (int i = 0; i < count; ++i) {
    const uint16_t number = desc_.FieldNumbers[static_cast<size_t>(i)];
    if (number == 0 || number > fields.size()) {
      RaiseEngineError(ec::HeaderCorrupt, tableName_);
    }
    KeyField part;
    part.Field = fields[number - 1u];
    part.Descending = desc_.FieldDescending[static_cast<size_t>(i)] != 0;
    parts_.push_back(std::move(part));
  }
}

bool TKeyContext::HasLocale() const { return locale_ != nullptr && locale_->HasLocale(); }

std::vector<uint8_t> TKeyContext::BuildKey(const uint8_t* row) const {
  std::vector<uint8_t> key(desc_.KeyLength);
  BuildKey(row, key.data());
  return key;
}

void TKeyContext::BuildSystemKey(const uint8_t* row, uint8_t* key) {
  key[0] = row[kSlotDeletedOffset];
  EncodeKeyInt32(GetI32(row + kSlotRecordIdOffset), key + 1);
}

void TKeyContext::EncodeField(const KeyField& part, const uint8_t* row, uint8_t* out) const {
  const TFieldDesc& field = part.Field;
  const size_t size = field.PhysicalSize;
  // A null field encodes like an all-zero value.
  uint8_t value[256] = {};
  const bool isNull = GetFieldValue(field, row, value);
  if (isNull) std::memset(value, 0, sizeof value);
  out[0] = isNull ? 0 : 1;
  uint8_t* dest = out + 1;

  switch (field.Type) {
    case ftString: {
      // The characters up to the first zero; the last byte of the area
      // always stays zero.
      const size_t maxChars = size > 0 ? size - 1 : 0;
      std::string text(reinterpret_cast<const char*>(value),
                       strnlen(reinterpret_cast<const char*>(value), maxChars));
      if (desc_.CaseInsensitive != 0 && !text.empty()) {
        if (HasLocale()) {
          text = locale_->Upper(text);
        } else {
          for (char& c : text) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
          }
        }
      }
      std::memcpy(dest, text.data(), std::min(text.size(), maxChars));
      break;
    }
    case ftDate:
    case ftInteger:
    case ftTime:
      EncodeKeyInt32(GetI32(value), dest);
      break;
    case ftSmallInt:
      EncodeKeyInt16(GetI16(value), dest);
      break;
    case ftBoolean:
    case ftWord:
      EncodeKeyUInt16(GetU16(value), dest);
      break;
    case ftFloat:
    case ftTimeStamp:
      EncodeKeyDouble(GetF64(value), dest);
      break;
    case ftBCD:
      EncodeKeyInt64(GetI64(value), dest);
      break;
    default:
      // Bytes, variable bytes and the raw codes key as stored.
      std::memcpy(dest, value, size);
      break;
  }

  // Without a locale the descending parts of an ascending index are made
  // to sort backwards by inverting their bytes; a string keeps its final
  // zero byte as it is.
  if (!HasLocale() && desc_.Descending == 0 && part.Descending) {
    const size_t count = field.Type == ftString ? size : size + 1;
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(~out[i]);
  }
}

void TKeyContext::BuildKey(const uint8_t* row, uint8_t* key) const {
  const size_t length = desc_.KeyLength;
  if (length == 0) return;  // a damaged descriptor: there is no key to build
  std::memset(key, 0, length);
  if (slot_ == kSysDeletedSlot) {
    if (length >= 5) BuildSystemKey(row, key);
    return;
  }
  size_t offset = 0;
  const size_t suffix = desc_.Unique != 0 ? 0 : 4;
  for (const KeyField& part : parts_) {
    const size_t width = static_cast<size_t>(part.Field.PhysicalSize) + 1;
    if (offset + width + suffix > length) break;  // descriptor inconsistent: stay inside the key
    EncodeField(part, row, key + offset);
    offset += width;
  }
  if (suffix != 0 && length >= suffix) {
    EncodeKeyInt32(GetI32(row + kSlotRecordIdOffset), key + length - suffix);
  }
}

int TKeyContext::CompareKeys(const uint8_t* a, const uint8_t* b, size_t n) const {
  if (slot_ == kSysDeletedSlot) return CompareBytes(a, b, n);
  const bool indexDescending = desc_.Descending != 0;
  if (!HasLocale()) {
    const int c = CompareBytes(a, b, n);
    return indexDescending ? -c : c;
  }

  size_t offset = 0;
  for (const KeyField& part : parts_) {
    if (offset >= n) return 0;
    const size_t remaining = n - offset;
    const size_t size = part.Field.PhysicalSize;
    const bool descending = indexDescending || part.Descending;
    int c;
    size_t advance;
    if (part.Field.Type == ftString) {
      c = CompareBytes(a + offset, b + offset, 1);
      if (c == 0) {
        const size_t count = std::min(size, remaining - 1);
        if (count > 0) c = Sign(locale_->Compare(a + offset + 1, count, b + offset + 1, count));
        advance = count + 1;
      } else {
        advance = 0;
      }
    } else {
      advance = std::min(size + 1, remaining);
      c = CompareBytes(a + offset, b + offset, advance);
    }
    if (c != 0) return descending ? -c : c;
    offset += advance;
  }
  if (offset >= n) return 0;
  // The record-identifier suffix sorts by the index's direction, or by the
  // per-field flag that follows the last key field.
  const size_t flagIndex = parts_.size();
  const bool suffixDescending =
      indexDescending || (flagIndex < kMaxIndexFields && desc_.FieldDescending[flagIndex] != 0);
  const int c = CompareBytes(a + offset, b + offset, n - offset);
  return suffixDescending ? -c : c;
}

}  // namespace tessel
