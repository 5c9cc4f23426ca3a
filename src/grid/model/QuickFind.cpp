#include "grid/model/QuickFind.h"

#include "dataset/TextConvert.h"

namespace grid {

namespace {

// Upper case of every byte, made once.
const std::array<unsigned char, 256>& UpperTable() {
  static const std::array<unsigned char, 256> table = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = dataset::AnsiUpperChar(static_cast<unsigned char>(c));
    return t;
  }();
  return table;
}

}  // namespace

std::string FoldFindText(std::string_view text) {
  const auto& upper = UpperTable();
  std::string folded(text);
  for (char& c : folded) c = static_cast<char>(upper[static_cast<unsigned char>(c)]);
  return folded;
}

TFindNeedle::TFindNeedle(std::string_view text) : folded_(FoldFindText(text)) {
  if (folded_.empty()) return;
  const auto& upper = UpperTable();
  const auto lead = static_cast<unsigned char>(folded_[0]);
  for (int c = 0; c < 256; ++c) first_[static_cast<std::size_t>(c)] = upper[static_cast<std::size_t>(c)] == lead;
}

bool TFindNeedle::FoundIn(std::string_view text) const {
  const std::size_t m = folded_.size();
  if (m == 0) return true;
  if (text.size() < m) return false;
  const auto& upper = UpperTable();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const auto* n = reinterpret_cast<const unsigned char*>(folded_.data());
  const std::size_t last = text.size() - m;
  // Candidates start where the first byte matches; most texts are rejected
  // there, one table look-up per byte.
  for (std::size_t i = 0; i <= last; ++i) {
    if (!first_[s[i]]) continue;
    std::size_t j = 1;
    while (j < m && upper[s[i + j]] == n[j]) ++j;
    if (j == m) return true;
  }
  return false;
}

}  // namespace grid
