// Engine message texts. Placeholders are filled in order from the error context.
#include "engine/base/EngineMessages.h"

#include <algorithm>
#include <array>

namespace tessel {
namespace {

using A = MessageArg;
constexpr MessageArg kT[] = {A::Table};
constexpr MessageArg kFT[] = {A::Field, A::Table};
constexpr MessageArg kIT[] = {A::Index, A::Table};
constexpr MessageArg kFIT[] = {A::Field, A::Index, A::Table};
constexpr MessageArg kTS[] = {A::Table, A::SqlText};
constexpr MessageArg kS[] = {A::SqlText};

// Sorted by code.
const std::array kMessages = {
    EngineMessage{8705, "Beginning of file encountered in table '%s'", kT},
    EngineMessage{8706, "End of file encountered in table '%s'", kT},
    EngineMessage{8708, "Record has been changed or deleted by another user in table '%s'", kT},
    EngineMessage{8709, "No current record in table '%s'", kT},
    EngineMessage{8710, "Record not found in table '%s'", kT},
    EngineMessage{8711, "End of blob data in table '%s' reached prematurely", kT},
    EngineMessage{8961, "Header information corrupt in table '%s'", kT},
    EngineMessage{8962, "Data record buffers corrupt in table '%s'", kT},
    EngineMessage{8963, "BLOB block buffers corrupt in table '%s'", kT},
    EngineMessage{8965, "Index page buffers corrupt in table '%s'", kT},
    EngineMessage{9217, "Error reading from table '%s'", kT},
    EngineMessage{9218, "Error writing to table '%s'", kT},
    EngineMessage{9220, "Cannot delete table '%s'", kT},
    EngineMessage{9221, "Error accessing header information for table '%s'", kT},
    EngineMessage{9477, "Maximum record size exceeded in table '%s'", kT},
    EngineMessage{9479, "The table '%s' is full and cannot contain any more data", kT},
    EngineMessage{9482, "Too many filters defined for table '%s'", kT},
    EngineMessage{9487, "Maximum or minimum limits on number of indexes or fields in an index exceeded in table '%s'", kT},
    EngineMessage{9492, "Maximum or minimum limits on number of fields, auto-increment field value, or field size exceeded in table '%s'", kT},
    EngineMessage{9494, "Too many blobs opened in table '%s'", kT},
    EngineMessage{9498, "Too many blob fields or invalid blob block size specified for table '%s'", kT},
    EngineMessage{9729, "Duplicate key found in index '%s' of table '%s'", kIT},
    EngineMessage{9730, "The value for the field '%s' in table '%s' is below the minimum allowable value", kFT},
    EngineMessage{9731, "The value for the field '%s' in table '%s' is above the maximum allowable value", kFT},
    EngineMessage{9732, "A value must be provided for the field '%s' in table '%s'", kFT},
    EngineMessage{9985, "Invalid field number or name '%s' specified for table '%s'", kFT},
    EngineMessage{9993, "A primary index is already defined for table '%s' and cannot be added again", kT},
    EngineMessage{9998, "Invalid blob offset into table '%s' specified", kT},
    EngineMessage{10000, "Invalid field definition specified for the field '%s' in table '%s'", kFT},
    EngineMessage{10006, "Invalid default, min or max validity check, or expression specified for '%s' in table '%s'", kFT},
    EngineMessage{10010, "The secondary index name is missing or not specified for table '%s'", kT},
    EngineMessage{10015, "Password provided for table '%s' is invalid", kT},
    EngineMessage{10022, "Invalid secondary index name '%s' specified for table '%s'", kIT},
    EngineMessage{10023, "Invalid field number '%s' specified in index '%s' for table '%s'", kFIT},
    EngineMessage{10026, "Invalid key size specified in index '%s' for table '%s'", kIT},
    EngineMessage{10027, "The secondary index '%s' already exists for table '%s'", kIT},
    EngineMessage{10029, "Invalid blob length in table '%s'", kT},
    EngineMessage{10030, "Invalid blob handle for table '%s' specified", kT},
    EngineMessage{10031, "table '%s' is already in use", kT},
    EngineMessage{10038, "Invalid or duplicate field name '%s' specified for table '%s'", kFT},
    EngineMessage{10050, "Invalid filter handle specified for table '%s'", kT},
    EngineMessage{10051, "Filter error for table '%s' - %s", kTS},
    EngineMessage{10055, "The primary index cannot be removed from table '%s'", kT},
    EngineMessage{10241, "The table '%s' is already locked by another user", kT},
    EngineMessage{10242, "Cannot unlock table or record in table '%s'", kT},
    EngineMessage{10249, "General lock failure with table '%s'", kT},
    EngineMessage{10253, "table '%s' must be opened exclusively", kT},
    EngineMessage{10258, "Record in table '%s' is in use by another user", kT},
    EngineMessage{10498, "Insufficient rights to table '%s', a password is required", kT},
    EngineMessage{10753, "Invalid blob field '%s' specified for table '%s'", kFT},
    EngineMessage{10758, "Engine not initialized", std::span<const MessageArg>{}},
    EngineMessage{11010, "Invalid path or file name for table '%s'", kT},
    EngineMessage{11012, "Too many files open while attempting to open table '%s'", kT},
    EngineMessage{11013, "Access denied to table '%s'", kT},
    EngineMessage{11014, "Invalid file handle for table '%s'", kT},
    EngineMessage{11016, "There is insufficient operating system memory available for the current operation", std::span<const MessageArg>{}},
    EngineMessage{11017, "Invalid length for in-memory table '%s'", kT},
    EngineMessage{11023, "Access denied to logical operating system device for table '%s'", kT},
    EngineMessage{11025, "table '%s' has been moved", kT},
    EngineMessage{11047, "An unknown operating system error occurred with table '%s'", kT},
    EngineMessage{11949, "SQL error - %s", kS},
    EngineMessage{12035, "table '%s' is not the correct version", kT},
    EngineMessage{12292, "Invalid field type specified for index '%s' in table '%s'", kIT},
    EngineMessage{13060, "The table '%s' already exists", kT},
    EngineMessage{15878, "The language driver for table '%s' is not available or installed", kT},
};

}  // namespace

const EngineMessage* FindEngineMessage(uint16_t code) {
  auto it = std::lower_bound(kMessages.begin(), kMessages.end(), code,
                             [](const EngineMessage& m, uint16_t c) { return m.Code < c; });
  return (it != kMessages.end() && it->Code == code) ? &*it : nullptr;
}

}  // namespace tessel
