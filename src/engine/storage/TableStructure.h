// The description of a new table's structure, as handed to CheckStructure
// and CreateFiles: fields, the primary index, secondary indexes and the
// header settings.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "engine/storage/Formats.h"

namespace tessel {

struct TTableStructure {
  uint16_t LanguageId = 0;
  uint16_t SortId = 0;
  // Field definitions in TFieldDesc form; CheckStructure fills in physical
  // sizes, decimals and record offsets.
  std::vector<TFieldDesc> Fields;
  // The primary index definition; one with no fields means "no primary index".
  TIndexDesc Primary;
  // Secondary index definitions, in creation order (at most 32 are accepted
  // by the check; the index file holds 30).
  std::vector<TIndexDesc> Secondary;
  uint32_t BlobBlockSize = 512;
  std::string Description;
  bool Encrypted = false;
  std::string Password;
  uint16_t UserMajor = 0;
  uint16_t UserMinor = 0;
  // -1 keeps the current value when restructuring.
  int32_t LastAutoIncValue = -1;
};

// A field definition as a structure made in code gives it (CheckStructure
// completes it).
inline TFieldDesc FieldDefinition(uint16_t number, const std::string& name, uint8_t type, uint8_t size = 0,
                                  uint8_t subType = 0) {
  TFieldDesc f;
  f.FieldNumber = number;
  f.Name = name;
  f.Type = type;
  f.SubType = subType;
  f.DeclaredSize = size;
  return f;
}

// An ascending index definition on the given field numbers (at most
// kMaxIndexFields).
inline TIndexDesc IndexDefinition(const std::string& name, std::initializer_list<uint16_t> fields, bool unique) {
  TIndexDesc d;
  d.Name = name;
  d.Unique = unique ? 1 : 0;
  size_t i = 0;
  for (uint16_t n : fields) d.FieldNumbers[i++] = n;
  d.FieldCount = static_cast<uint8_t>(fields.size());
  return d;
}

}  // namespace tessel
