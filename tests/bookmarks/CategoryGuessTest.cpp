// The folder-to-category guess: a folder named as a category, keywords
// (singular and plural, phrases), the innermost name that says something,
// ties, and names that say nothing.
#include <gtest/gtest.h>

#include "bookmarks/CategoryGuess.h"

namespace bookmarks {
namespace {

const std::vector<std::string> kCategories = {
    "Arts & Humanities", "Business & Economy", "Computers & Internet", "Education", "Entertainment",
    "Government",        "Health",             "News",                 "Personal",  "Recreation & Sports",
    "Reference",         "Regional",           "Science",              "Social Science", "Society & Culture"};

std::string Guessed(const TCategoryGuesser& guesser, const std::vector<std::string>& path) {
  std::optional<std::size_t> guess = guesser.Guess(path);
  return guess ? guesser.Categories()[*guess] : "(none)";
}

TEST(CategoryGuessTest, FoldersByTheirNames) {
  TCategoryGuesser guesser(kCategories);
  // The category's own name, in any letter case, wins over its words.
  EXPECT_EQ(Guessed(guesser, {"social science"}), "Social Science");
  EXPECT_EQ(Guessed(guesser, {"SCIENCE"}), "Science");
  EXPECT_EQ(Guessed(guesser, {"Arts & Humanities"}), "Arts & Humanities");
  // Keywords, either number, as whole words only.
  EXPECT_EQ(Guessed(guesser, {"Dev tools"}), "Computers & Internet");
  EXPECT_EQ(Guessed(guesser, {"Recipes"}), "Recreation & Sports");
  EXPECT_EQ(Guessed(guesser, {"Online banking"}), "Business & Economy");
  EXPECT_EQ(Guessed(guesser, {"Movies & TV"}), "Entertainment");
  EXPECT_EQ(Guessed(guesser, {"Political Science papers"}), "Social Science");
  EXPECT_EQ(Guessed(guesser, {"Newspapers"}), "News");
  EXPECT_EQ(Guessed(guesser, {"Webcomics"}), "(none)");
  // More hits win; a tie goes to the earlier category.
  EXPECT_EQ(Guessed(guesser, {"Health and fitness news"}), "Health");
  EXPECT_EQ(Guessed(guesser, {"Science news"}), "News");
  // The innermost name that says something; the roots say nothing.
  EXPECT_EQ(Guessed(guesser, {"Bookmarks bar", "Travel", "Unsorted 2023"}), "Recreation & Sports");
  EXPECT_EQ(Guessed(guesser, {"Bookmarks Toolbar"}), "(none)");
  EXPECT_EQ(Guessed(guesser, {}), "(none)");
  EXPECT_EQ(Guessed(guesser, {"", "---"}), "(none)");
}

TEST(CategoryGuessTest, CategoriesOfTheCallersOwn) {
  TCategoryGuesser guesser({"Cooking", "Work stuff", "News"});
  EXPECT_EQ(Guessed(guesser, {"cooking"}), "Cooking");
  EXPECT_EQ(Guessed(guesser, {"Old work"}), "Work stuff");
  EXPECT_EQ(Guessed(guesser, {"Local newspapers"}), "News");
  EXPECT_EQ(Guessed(guesser, {"Recipes"}), "(none)");
}

}  // namespace
}  // namespace bookmarks
