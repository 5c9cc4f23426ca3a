// tessel verify: the engine's structure check of a whole table, and its
// repair.
#pragma once

#include <optional>
#include <string>

namespace tesseltool {

// The command's one-line description and the longer text for its help.
extern const char* const kVerifyCommandDescription;
extern const char* const kVerifyCommandFooter;

// Exit code of a table that is (still) damaged.
constexpr int kVerifyDamaged = 3;

// Checks the table (shared, under its read lock) or, with repair, fixes it
// (exclusive use). Prints one line per finding and a last line with the
// totals. Returns 0 only when the table is sound (after a repair: when the
// check that follows it finds nothing), else kVerifyDamaged. Engine errors
// (a table that does not open, a wrong password, a lock that cannot be had)
// propagate.
int VerifyTableCommand(const std::string& table, bool repair, const std::optional<std::string>& password);

}  // namespace tesseltool
