// Reading and storing one field's value in a record slot image, in the slot
// encodings (the record-set layer hands values over in the same encodings).
#pragma once

#include <cstdint>

#include "engine/storage/Formats.h"

namespace tessel {

class TTableLocale;

// Stores value (nullptr = null) into the field's area of image, by the
// storing rules: strings lose trailing blanks, take the field's character
// case and are null when empty; booleans other than 0/1 become 1; a BLOB is
// null when its position is 0 (a negative position, an in-memory value being
// edited, is non-null when blobInMemoryNonEmpty); an auto-increment value goes
// to the record identifier and cannot be set to null.
void PutFieldValue(const TFieldDesc& field, uint8_t* image, const uint8_t* value,
                   const TTableLocale& locale, bool blobInMemoryNonEmpty = false);

// Reads the field's null state; when value is not null and the field is not
// null, copies the value bytes (4 for a BLOB, the physical size otherwise,
// the record identifier for an auto-increment field). Returns true when null.
bool GetFieldValue(const TFieldDesc& field, const uint8_t* image, uint8_t* value);

}  // namespace tessel
