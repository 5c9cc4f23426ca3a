// The engine's byte-wise scrambling of encrypted tables. The same routine
// scrambles and unscrambles; each unit starts from its key pair's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessel {

// The two fixed key pairs (first constant = low byte of the starting state,
// second = high byte). Tables scrambled with one pair cannot be read with
// another: these never change.
constexpr uint8_t kDataKeyLow = 0x5A;
constexpr uint8_t kDataKeyHigh = 0xC3;
constexpr uint8_t kTextKeyLow = 0x2E;
constexpr uint8_t kTextKeyHigh = 0x97;

// Scrambles one unit in place. The length is handled as an unsigned 16-bit
// count, so only the first (length mod 65536) bytes of a longer unit change.
void ScrambleUnit(uint8_t* data, size_t length, uint8_t low, uint8_t high);

inline void ScrambleData(uint8_t* data, size_t length) {
  ScrambleUnit(data, length, kDataKeyLow, kDataKeyHigh);
}
inline void ScrambleText(uint8_t* data, size_t length) {
  ScrambleUnit(data, length, kTextKeyLow, kTextKeyHigh);
}
// The characters of a text scrambled with the text pair (both directions).
std::string ScrambledText(std::string text);

}  // namespace tessel
