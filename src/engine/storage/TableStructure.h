// The description of a new table's structure, as handed to CheckStructure
// and CreateFiles: fields, the primary index, secondary indexes and the
// header settings.
#pragma once

#include <cstdint>
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

}  // namespace tessel
