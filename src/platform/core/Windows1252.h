// The program's 8-bit code page, Windows-1252: the bytes tables, keys,
// settings values, messages and export files hold. One module for what
// every floor needs of it: the character each byte stands for, conversion
// to and from UTF-8 where text leaves or enters as Unicode, and the code
// page's own upper and lower case.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tessel {

// The Unicode character (UTF-16 unit) of every byte. The five bytes without
// a character (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of
// the same value, as on Windows, so the mapping is one-to-one and text
// converts back without loss.
const std::array<char16_t, 256>& Cp1252Characters();
// The byte of a Unicode character, -1 when the code page has none.
int Cp1252ByteOf(char16_t character);

std::string Cp1252ToUtf8(std::string_view text);
// Characters Windows-1252 cannot hold become '?'.
std::string Utf8ToCp1252(std::string_view text);

// Upper and lower case by the code page's own rule, independent of any
// locale: ASCII letters, the accented letters of the upper half, Š/š, Œ/œ,
// Ž/ž and Ÿ/ÿ. The sharp s and the division and multiplication signs stay.
unsigned char AnsiUpperChar(unsigned char c);
unsigned char AnsiLowerChar(unsigned char c);
std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);
bool AnsiSameText(std::string_view a, std::string_view b);

}  // namespace tessel
