#include "engine/base/Names.h"

namespace tessel {

namespace {
unsigned char AsciiUpper(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }
}  // namespace

std::string TrimBlanks(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return std::string(text.substr(first, last - first));
}

bool IsNameLetter(unsigned char c) {
  return (c >= 65 && c <= 90) || (c >= 97 && c <= 122) || (c >= 129 && c <= 254);
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  const std::string x = TrimBlanks(a);
  const std::string y = TrimBlanks(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (AsciiUpper(static_cast<unsigned char>(x[i])) != AsciiUpper(static_cast<unsigned char>(y[i]))) return false;
  return true;
}

}  // namespace tessel
