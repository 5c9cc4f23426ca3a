// Conversions between numbers and 8-bit text, independent of the process
// locale, and the case rules of the Windows-1252 code page as the record-set
// layer offers them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/Windows1252.h"

namespace dataset {

// Shortest text that reads back as the same value within 15 significant
// digits: "1.5", "100", "1E20", "1.5E-6", "NAN", "INF", "-INF".
std::string FloatToStr(double value);
// Fixed-point text with the given number of decimals: "12.50".
std::string FloatToStrF(double value, int decimals);

// Decimal integers with an optional sign, surrounding blanks allowed.
bool TryStrToInt64(std::string_view text, int64_t& value);
// Decimal numbers with '.' as the separator and an optional exponent,
// surrounding blanks allowed.
bool TryStrToFloat(std::string_view text, double& value);

// Upper and lower case of Windows-1252 text, by the code page's own rule.
using tessel::AnsiLowerCase;
using tessel::AnsiSameText;
using tessel::AnsiUpperCase;
using tessel::AnsiUpperChar;

}  // namespace dataset
