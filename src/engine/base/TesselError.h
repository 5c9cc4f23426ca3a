// The engine's errors: 16-bit engine codes, the exception that carries them
// and the process-wide error context that fills the messages' placeholders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Exceptions.h"

namespace tessel {

// Engine codes (0 = success).
namespace ec {
constexpr uint16_t OK = 0;
constexpr uint16_t BOF = 8705;
constexpr uint16_t EndOfFile = 8706;
constexpr uint16_t RecordChanged = 8708;
constexpr uint16_t NoCurrentRecord = 8709;
constexpr uint16_t RecordNotFound = 8710;
constexpr uint16_t EndOfBlob = 8711;
constexpr uint16_t HeaderCorrupt = 8961;
constexpr uint16_t RecordBuffersCorrupt = 8962;
constexpr uint16_t BlobBuffersCorrupt = 8963;
constexpr uint16_t PageBuffersCorrupt = 8965;
constexpr uint16_t ReadError = 9217;
constexpr uint16_t WriteError = 9218;
constexpr uint16_t CannotDelete = 9220;
constexpr uint16_t HeaderAccess = 9221;
constexpr uint16_t RecordTooBig = 9477;
constexpr uint16_t TableFull = 9479;
constexpr uint16_t TooManyFilters = 9482;
constexpr uint16_t IndexLimits = 9487;
constexpr uint16_t FieldLimits = 9492;
constexpr uint16_t TooManyBlobs = 9494;
constexpr uint16_t BlobFieldsOrBlockSize = 9498;
constexpr uint16_t DuplicateKey = 9729;
constexpr uint16_t BelowMinimum = 9730;
constexpr uint16_t AboveMaximum = 9731;
constexpr uint16_t ValueRequired = 9732;
constexpr uint16_t InvalidField = 9985;
constexpr uint16_t PrimaryExists = 9993;
constexpr uint16_t InvalidBlobOffset = 9998;
constexpr uint16_t InvalidFieldDef = 10000;
constexpr uint16_t InvalidValidity = 10006;
constexpr uint16_t IndexNameMissing = 10010;
constexpr uint16_t InvalidPassword = 10015;
constexpr uint16_t InvalidIndexName = 10022;
constexpr uint16_t InvalidIndexField = 10023;
constexpr uint16_t InvalidKeySize = 10026;
constexpr uint16_t IndexExists = 10027;
constexpr uint16_t InvalidBlobLength = 10029;
constexpr uint16_t InvalidBlobHandle = 10030;
constexpr uint16_t TableInUse = 10031;
constexpr uint16_t InvalidFieldName = 10038;
constexpr uint16_t InvalidFilterHandle = 10050;
constexpr uint16_t FilterError = 10051;
constexpr uint16_t PrimaryNotRemovable = 10055;
constexpr uint16_t TableLocked = 10241;
constexpr uint16_t CannotUnlock = 10242;
constexpr uint16_t GeneralLockFailure = 10249;
constexpr uint16_t NeedExclusive = 10253;
constexpr uint16_t RecordLocked = 10258;
constexpr uint16_t PasswordRequired = 10498;
constexpr uint16_t InvalidBlobField = 10753;
constexpr uint16_t NotInitialized = 10758;
constexpr uint16_t InvalidPath = 11010;
constexpr uint16_t TooManyFiles = 11012;
constexpr uint16_t AccessDenied = 11013;
constexpr uint16_t InvalidHandle = 11014;
constexpr uint16_t OutOfMemory = 11016;
constexpr uint16_t InvalidMemoryLength = 11017;
constexpr uint16_t InvalidDevice = 11023;
constexpr uint16_t TableMoved = 11025;
constexpr uint16_t UnknownOsError = 11047;
constexpr uint16_t SqlError = 11949;
constexpr uint16_t WrongVersion = 12035;
constexpr uint16_t InvalidIndexFieldType = 12292;
constexpr uint16_t TableExists = 13060;
constexpr uint16_t NoLanguageDriver = 15878;
}  // namespace ec

// One entry of an engine exception.
struct TTesselError {
  int32_t ErrorCode = 0;  // only the low 16 bits are meaningful
  std::string Message;    // the message text without the "Tessel Engine Error # " prefix
};

// The engine exception. Its text is "Tessel Engine Error # <code> <message>";
// it always carries exactly one entry.
class ETesselEngineError : public dataset::EDatabaseError {
 public:
  // Builds the message for code from the current error context.
  explicit ETesselEngineError(uint16_t code);

  int ErrorCount() const { return static_cast<int>(errors_.size()); }
  const TTesselError& Errors(int i) const { return errors_.at(static_cast<size_t>(i)); }
  uint16_t Code() const { return static_cast<uint16_t>(errors_.front().ErrorCode); }

 private:
  ETesselEngineError(uint16_t code, std::string message);
  std::vector<TTesselError> errors_;
};

// The process-wide error context. Every operation holds the context's lock
// for its whole duration.
struct ErrorContextValues {
  uint16_t LastError = 0;
  int32_t OsError = 0;
  std::string TableName;
  std::string FieldName;
  std::string IndexName;
  std::string SqlText;  // SQL or filter error text
};

namespace ErrorContext {
void Clear();
// Clears the context, then sets it from the arguments (each name cut to 255).
void Set(uint16_t code, std::string_view table = {}, std::string_view field = {},
         std::string_view sqlText = {}, std::string_view index = {}, int32_t osError = 0);
ErrorContextValues Snapshot();
// The message for code with the context's names in its placeholders, cut to
// 254 characters. An unknown code gives the unknown-error message.
std::string MessageFor(uint16_t code);
}  // namespace ErrorContext

// The raw message text of the string table, or empty when code has none.
std::string_view EngineMessageText(uint16_t code);

// Sets the context from the arguments and raises the engine exception.
[[noreturn]] void RaiseEngineError(uint16_t code, std::string_view table = {},
                                   std::string_view field = {}, std::string_view sqlText = {},
                                   std::string_view index = {}, int32_t osError = 0);

// Raises a code that a routine returned, with whatever names the context holds.
[[noreturn]] void RaiseReturnedCode(uint16_t code);

// Raises code when it is not 0.
inline void Check(uint16_t code) {
  if (code != ec::OK) RaiseReturnedCode(code);
}

}  // namespace tessel
