// Conversion between the tables' 8-bit code page (Windows-1252) and UTF-8,
// for the places where text leaves or enters the engine as Unicode.
#pragma once

#include <string>
#include <string_view>

namespace tessel {

std::string Cp1252ToUtf8(std::string_view text);
// Characters Windows-1252 cannot hold become '?'.
std::string Utf8ToCp1252(std::string_view text);

}  // namespace tessel
