#include "engine/storage/Scramble.h"

namespace tessel {

void ScrambleUnit(uint8_t* data, size_t length, uint8_t low, uint8_t high) {
  const uint16_t count = static_cast<uint16_t>(length);
  for (uint16_t i = 0; i < count; ++i) {
    data[i] = static_cast<uint8_t>(data[i] ^ low ^ high);
    low = static_cast<uint8_t>(low + 1);
    high = static_cast<uint8_t>(high - 1);
  }
}

std::string ScrambledText(std::string text) {
  ScrambleText(reinterpret_cast<uint8_t*>(text.data()), text.size());
  return text;
}

}  // namespace tessel
