// Text search of the grid's quick find: does a row's text contain what the
// user typed, letter case ignored. Texts are Windows-1252 bytes; the case
// rule is the code page's own (dataset::AnsiUpperChar), so "é" finds "É",
// "Š" finds "š" and "ÿ" finds "Ÿ", while letters that differ in more than
// case ("e" and "é") stay apart.
//
//   TFindNeedle needle("café");
//   needle.FoundIn("Café de Flore");   // true
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace grid {

class TFindNeedle {
 public:
  TFindNeedle() = default;
  explicit TFindNeedle(std::string_view text);

  // The needle folded to upper case; empty finds everything.
  const std::string& Folded() const { return folded_; }
  bool Empty() const { return folded_.empty(); }
  // Whether text contains the needle, letter case ignored.
  bool FoundIn(std::string_view text) const;

 private:
  std::string folded_;
  // The bytes whose upper case is the needle's first byte (one or two).
  std::array<char, 2> leads_{};
  int leadCount_ = 0;
};

// Text folded as the quick find compares it (each byte to upper case).
std::string FoldFindText(std::string_view text);

}  // namespace grid
