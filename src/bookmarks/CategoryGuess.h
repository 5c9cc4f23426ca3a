// A best guess of a site category for a bookmark folder, from the folder's
// name. The categories are the caller's (the program's fifteen); each known
// one has keywords (its own words, and words people name such folders with:
// "Dev", "Recipes", "Banking" ...). A folder named as a category (any
// letter case) is that category; otherwise the category with the most
// keyword hits among the name's words wins, a phrase counting once per
// word ("Political Science" beats "Science"; ties: the earlier category).
// A folder whose own name says nothing takes its parent's guess, and so on
// outwards; "Bookmarks bar" or "Unsorted" alone say nothing.
//
//   TCategoryGuesser guess(categories);
//   guess.Guess({"Bookmarks Toolbar", "Dev tools"});  // "Computers & Internet"
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bookmarks {

class TCategoryGuesser {
 public:
  // Categories in Windows-1252; a category without keywords of its own is
  // found by its name's words.
  explicit TCategoryGuesser(std::vector<std::string> categories);

  const std::vector<std::string>& Categories() const { return categories_; }
  // The guess for one folder name: a position in Categories().
  std::optional<std::size_t> GuessName(std::string_view name) const;
  // The guess for a folder by its path, innermost name first.
  std::optional<std::size_t> Guess(const std::vector<std::string>& path) const;

 private:
  std::vector<std::string> categories_;
  // Per category its keywords, each as its lower-case words.
  std::vector<std::vector<std::vector<std::string>>> keywords_;
};

}  // namespace bookmarks
