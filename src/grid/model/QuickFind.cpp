#include "grid/model/QuickFind.h"

#include <cstring>

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
  // Windows-1252 pairs letters one to one: at most two bytes share an upper
  // case.
  for (int c = 0; c < 256 && leadCount_ < 2; ++c) {
    if (upper[static_cast<std::size_t>(c)] == lead) leads_[static_cast<std::size_t>(leadCount_++)] = static_cast<char>(c);
  }
}

bool TFindNeedle::FoundIn(std::string_view text) const {
  const std::size_t m = folded_.size();
  if (m == 0) return true;
  if (text.size() < m) return false;
  const auto& upper = UpperTable();
  const auto* n = reinterpret_cast<const unsigned char*>(folded_.data());
  const char* begin = text.data();
  const char* last = begin + (text.size() - m);  // the last place a match can start
  // Candidates are found with memchr, one sweep per case of the first
  // letter; only there are bytes folded and compared.
  for (int k = 0; k < leadCount_; ++k) {
    const char lead = leads_[static_cast<std::size_t>(k)];
    for (const char* p = begin; p <= last; ++p) {
      p = static_cast<const char*>(std::memchr(p, lead, static_cast<std::size_t>(last - p) + 1));
      if (p == nullptr) break;
      const auto* s = reinterpret_cast<const unsigned char*>(p);
      std::size_t j = 1;
      while (j < m && upper[s[j]] == n[j]) ++j;
      if (j == m) return true;
    }
  }
  return false;
}

}  // namespace grid
