#include "engine/storage/FieldValue.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/base/Bytes.h"
#include "engine/storage/Record.h"
#include "engine/storage/TableLocale.h"

namespace tessel {

namespace {

constexpr int kBlobAreaSize = 8;

void StoreString(const TFieldDesc& field, uint8_t* indicator, uint8_t* area,
                 const uint8_t* value, const TTableLocale& locale) {
  const size_t size = field.PhysicalSize;
  const size_t maxChars = size > 0 ? size - 1 : 0;
  // The value is zero-terminated; never look past the characters the field
  // can keep, so a longer text is cut to the declared size.
  const char* chars = reinterpret_cast<const char*>(value);
  size_t length = strnlen(chars, maxChars);
  while (length > 0 && chars[length - 1] == ' ') --length;

  std::string text(chars, length);
  if (field.CharCase == 1) {
    text = locale.Lower(text);
  } else if (field.CharCase == 2) {
    text = locale.Upper(text);
  }
  if (text.size() > maxChars) text.resize(maxChars);

  std::memset(area, 0, size);
  std::memcpy(area, text.data(), text.size());
  *indicator = text.empty() ? 0 : 1;
}

}  // namespace

void PutFieldValue(const TFieldDesc& field, uint8_t* image, const uint8_t* value,
                   const TTableLocale& locale, bool blobInMemoryNonEmpty) {
  // A field that is not stored has no area that could be written.
  if (field.NotStored != 0) return;

  if (field.IsAutoInc()) {
    // The record identifier is never null: a null value leaves it unchanged.
    if (value != nullptr) std::memcpy(image + kSlotRecordIdOffset, value, 4);
    return;
  }

  uint8_t* indicator = image + field.RecordOffset;
  uint8_t* area = indicator + 1;
  const size_t size = field.PhysicalSize;

  if (value == nullptr) {
    // A null BLOB clears its identifier too: null value bytes are all zero,
    // and an identifier without a first block belongs to nothing.
    *indicator = 0;
    std::memset(area, 0, size);
    return;
  }

  switch (field.Type) {
    case ftString:
      StoreString(field, indicator, area, value, locale);
      return;
    case ftBoolean: {
      const uint16_t flag = GetU16(value);
      PutU16(area, flag == 0 ? 0 : 1);
      *indicator = 1;
      return;
    }
    case ftBlob: {
      const int32_t position = GetI32(value);
      if (position == 0) {
        // No first block: the value is null and carries no identifier.
        std::memset(area, 0, size);
        *indicator = 0;
        return;
      }
      // A negative position is a value still being edited in memory; it
      // keeps its handle and is non-null only when that value has content.
      std::memmove(area, value, std::min<size_t>(size, kBlobAreaSize));
      *indicator = position > 0 || blobInMemoryNonEmpty ? 1 : 0;
      return;
    }
    default:
      std::memmove(area, value, size);
      *indicator = 1;
      return;
  }
}

bool GetFieldValue(const TFieldDesc& field, const uint8_t* image, uint8_t* value) {
  if (field.NotStored != 0) return true;
  if (field.IsAutoInc()) {
    if (value != nullptr) std::memcpy(value, image + kSlotRecordIdOffset, 4);
    return false;
  }
  const uint8_t* indicator = image + field.RecordOffset;
  if (*indicator == 0) return true;
  if (value != nullptr) {
    const size_t count = field.Type == ftBlob ? 4 : field.PhysicalSize;
    std::memcpy(value, indicator + 1, count);
  }
  return false;
}

}  // namespace tessel
