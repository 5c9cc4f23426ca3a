// The fixed list of site categories, in the order the user sees them. The
// site dialog's category list and the grid's category pick list offer exactly
// these texts, so a site stored from either matches the other.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace marrowick {

inline constexpr std::array<std::string_view, 15> kSiteCategories = {
    "Arts & Humanities", "Business & Economy", "Computers & Internet", "Education",
    "Entertainment",     "Government",         "Health",               "News",
    "Personal",          "Recreation & Sports", "Reference",           "Regional",
    "Science",           "Social Science",     "Society & Culture",
};

// The position of the category whose text equals text ignoring ASCII letter
// case ("news" finds "News"); nothing when no category matches.
inline std::optional<std::size_t> FindSiteCategory(std::string_view text) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < kSiteCategories.size(); ++i) {
    const std::string_view category = kSiteCategories[i];
    if (category.size() != text.size()) continue;
    bool equal = true;
    for (std::size_t j = 0; j < text.size() && equal; ++j) equal = lower(category[j]) == lower(text[j]);
    if (equal) return i;
  }
  return std::nullopt;
}

}  // namespace marrowick
