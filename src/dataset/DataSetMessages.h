// The record-set layer's fixed message texts, and the helpers that raise
// them. "%s" and "%d" placeholders are filled in order by FormatMessage.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/core/Exceptions.h"

namespace dataset::msg {

// Record set states and operations.
inline constexpr const char* DataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* DataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* NotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* DataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* DataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* RecordNotFound = "Record not found";
inline constexpr const char* CircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* DataSourceChange = "DataSource cannot be changed";

// Fields and field definitions.
inline constexpr const char* FieldRequired = "Field '%s' must have a value";
inline constexpr const char* FieldNotFound = "Field '%s' not found";
inline constexpr const char* FieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* NotIndexField = "Field '%s' is not indexed and cannot be modified";
inline constexpr const char* FieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char* FieldSizeMismatch = "Size mismatch for field '%s', expecting: %d actual: %d";
inline constexpr const char* FieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char* FieldRangeError =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char* DataSetMissing = "Field '%s' has no dataset";
inline constexpr const char* DuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* UnknownFieldType = "Field '%s' is of an unknown type";
inline constexpr const char* LookupInfoError = "Lookup information for field '%s' is incomplete";
inline constexpr const char* InvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";
inline constexpr const char* InvalidFloatValue =
    "'%s' is not a valid floating point value for field '%s'";
inline constexpr const char* InvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr const char* InvalidFieldSize = "Invalid field size";
inline constexpr const char* FieldIndexError = "Field index out of range";
inline constexpr const char* NoIndexForFields = "No index for fields '%s'";

// Texts the table record set raises through the same exception.
inline constexpr const char* MissingTableName = "Missing table name.";
inline constexpr const char* ErrorCreatingTableHandle = "Error creating table handle.";
inline constexpr const char* DatabaseOpen = "Cannot perform this operation on an open database.";

// Variants and text conversions (not database errors).
inline constexpr const char* InvalidVarCast = "Invalid variant type conversion";
inline constexpr const char* VarTypeCouldNotConvert =
    "Could not convert variant of type (%s) into type (%s)";
inline constexpr const char* InvalidDate = "'%s' is not a valid date";
inline constexpr const char* InvalidTime = "'%s' is not a valid time";
inline constexpr const char* InvalidDateTime = "'%s' is not a valid date and time";
inline constexpr const char* DateEncodeError = "Invalid argument to date encode";
inline constexpr const char* TimeEncodeError = "Invalid argument to time encode";

}  // namespace dataset::msg

namespace dataset {

// Replaces each "%s" or "%d" of format, left to right, by the next argument;
// "%%" stands for "%".
inline std::string FormatMessage(std::string_view format,
                                 std::initializer_list<std::string_view> args) {
  std::string result;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      char kind = format[i + 1];
      if (kind == '%') {
        result += '%';
        ++i;
        continue;
      }
      if ((kind == 's' || kind == 'd') && next != args.end()) {
        result += *next++;
        ++i;
        continue;
      }
    }
    result += format[i];
  }
  return result;
}

[[noreturn]] inline void DatabaseError(const std::string& message) {
  throw EDatabaseError(message);
}

[[noreturn]] inline void DatabaseErrorFmt(std::string_view format,
                                          std::initializer_list<std::string_view> args) {
  throw EDatabaseError(FormatMessage(format, args));
}

}  // namespace dataset
