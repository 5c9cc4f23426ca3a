// The tool's JSON form of a table structure: reading a structure file into
// the engine's structure, and writing fields and indexes back out.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "engine/storage/Formats.h"
#include "engine/storage/TableStructure.h"

namespace tesseltool {

// Raises std::invalid_argument with a message naming the offending entry.
tessel::TTableStructure ParseStructure(const nlohmann::json& document);

// The structure file's type name for a type code and subtype ("memo", ...).
std::string FieldTypeName(uint8_t type, uint8_t subType);

// A field as the structure file writes it (texts converted to UTF-8).
nlohmann::json FieldToJson(const tessel::TFieldDesc& field);

}  // namespace tesseltool
