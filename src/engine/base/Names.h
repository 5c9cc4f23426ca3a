// Names of tables, fields and indexes: trimming, the letters a name may begin
// with, and comparison without regard to case.
#pragma once

#include <string>
#include <string_view>

namespace tessel {

// The text without surrounding blanks and control characters.
std::string TrimBlanks(std::string_view text);

// A letter for names: bytes 65-90, 97-122 and 129-254.
bool IsNameLetter(unsigned char c);

// Equal after trimming, ignoring the case of A-Z and a-z.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace tessel
