#include "bookmarks/CategoryGuess.h"

#include <map>

#include "dataset/TextConvert.h"

namespace bookmarks {

namespace {

// Keywords by category name: single words, or phrases of words matched in
// a row. Plural and singular forms match each other (a trailing "s").
const std::map<std::string, std::vector<std::string>>& KnownKeywords() {
  static const std::map<std::string, std::vector<std::string>> table = {
      {"Arts & Humanities",
       {"art", "arts", "humanities", "museum", "literature", "book", "poetry", "history", "philosophy", "design",
        "photography", "painting", "theatre", "theater", "writing", "architecture", "classics"}},
      {"Business & Economy",
       {"business", "economy", "finance", "financial", "bank", "banking", "money", "invest", "investing",
        "investment", "stock", "trading", "shopping", "shop", "store", "job", "career", "work", "office",
        "insurance", "tax", "crypto", "marketing", "company", "startup", "accounting", "real estate"}},
      {"Computers & Internet",
       {"computer", "computers", "internet", "programming", "dev", "development", "developer", "code", "coding",
        "software", "linux", "tech", "technology", "web", "hardware", "security", "hosting", "cloud",
        "server", "network", "networking", "python", "javascript", "java", "rust", "c++", "database", "api",
        "open source", "sysadmin", "devops"}},
      {"Education",
       {"education", "school", "university", "college", "learning", "learn", "course", "study", "studies",
        "tutorial", "teaching", "class", "lecture", "mooc", "training", "homework"}},
      {"Entertainment",
       {"entertainment", "movie", "film", "tv", "television", "music", "game", "gaming", "fun", "video",
        "streaming", "comic", "humor", "humour", "podcast", "series", "anime", "celebrity"}},
      {"Government",
       {"government", "gov", "administration", "official", "council", "ministry", "parliament", "public service",
        "election", "agency", "municipality", "embassy", "visa"}},
      {"Health",
       {"health", "medical", "medicine", "doctor", "fitness", "diet", "nutrition", "wellness", "hospital",
        "pharmacy", "clinic", "mental health", "workout", "yoga"}},
      {"News",
       {"news", "newspaper", "magazine", "media", "press", "journalism", "headline", "feed", "rss", "blog"}},
      {"Personal",
       {"personal", "private", "family", "home", "friend", "mail", "email", "account"}},
      {"Recreation & Sports",
       {"recreation", "sport", "sports", "travel", "outdoor", "hobby", "hobbies", "cooking", "recipe", "food",
        "football", "soccer", "hiking", "cycling", "fishing", "garden", "gardening", "running", "camping",
        "holiday", "vacation"}},
      {"Reference",
       {"reference", "dictionary", "encyclopedia", "wiki", "map", "doc", "docs", "documentation", "manual",
        "lookup", "search", "translation", "translate", "library", "glossary", "howto", "faq"}},
      {"Regional",
       {"regional", "local", "city", "town", "country", "region", "neighbourhood", "neighborhood", "weather",
        "community"}},
      {"Science",
       {"science", "physics", "chemistry", "biology", "math", "maths", "mathematics", "astronomy", "space",
        "research", "engineering", "nature", "geology", "lab"}},
      {"Social Science",
       {"social science", "sociology", "psychology", "economics", "anthropology", "linguistics",
        "political science", "archaeology", "demography"}},
      {"Society & Culture",
       {"society", "culture", "religion", "people", "social", "politics", "law", "charity", "forum",
        "lifestyle", "ethics", "nonprofit"}},
  };
  return table;
}

std::string Lower(std::string_view text) { return dataset::AnsiLowerCase(text); }

// The name's words, lower case: runs of letters, digits and '+'.
std::vector<std::string> Words(std::string_view name) {
  std::vector<std::string> words;
  std::string word;
  for (char raw : Lower(name)) {
    const auto c = static_cast<unsigned char>(raw);
    const bool part = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c >= 0xC0 || c == 0x9A ||
                      c == 0x9C || c == 0x9E;
    if (part) {
      word += raw;
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

bool SameWord(const std::string& a, const std::string& b) {
  if (a == b) return true;
  // "recipes" and "recipe", "docs" and "doc".
  if (a.size() == b.size() + 1 && a.back() == 's' && a.compare(0, b.size(), b) == 0) return true;
  if (b.size() == a.size() + 1 && b.back() == 's' && b.compare(0, a.size(), a) == 0) return true;
  return false;
}

// How often the keyword (one word or a phrase) occurs among the words.
int Hits(const std::vector<std::string>& words, const std::vector<std::string>& keyword) {
  int hits = 0;
  for (std::size_t i = 0; i + keyword.size() <= words.size(); ++i) {
    bool all = true;
    for (std::size_t k = 0; k < keyword.size() && all; ++k) all = SameWord(words[i + k], keyword[k]);
    if (all) ++hits;
  }
  return hits;
}

}  // namespace

TCategoryGuesser::TCategoryGuesser(std::vector<std::string> categories) : categories_(std::move(categories)) {
  const auto& known = KnownKeywords();
  for (const std::string& category : categories_) {
    std::vector<std::vector<std::string>> keywords;
    auto it = known.find(category);
    if (it != known.end()) {
      for (const std::string& keyword : it->second) keywords.push_back(Words(keyword));
    } else {
      // An unknown category is found by its own words.
      for (std::string& word : Words(category)) keywords.push_back({std::move(word)});
    }
    keywords_.push_back(std::move(keywords));
  }
}

std::optional<std::size_t> TCategoryGuesser::GuessName(std::string_view name) const {
  for (std::size_t i = 0; i < categories_.size(); ++i) {
    if (dataset::AnsiSameText(categories_[i], name)) return i;
  }
  const std::vector<std::string> words = Words(name);
  if (words.empty()) return std::nullopt;
  std::optional<std::size_t> best;
  int bestHits = 0;
  for (std::size_t i = 0; i < categories_.size(); ++i) {
    int hits = 0;
    // A phrase says more than one of its words: it counts once per word.
    for (const std::vector<std::string>& keyword : keywords_[i]) {
      hits += Hits(words, keyword) * static_cast<int>(keyword.size());
    }
    if (hits > bestHits) {
      bestHits = hits;
      best = i;
    }
  }
  return best;
}

std::optional<std::size_t> TCategoryGuesser::Guess(const std::vector<std::string>& path) const {
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    if (std::optional<std::size_t> guess = GuessName(*it)) return guess;
  }
  return std::nullopt;
}

}  // namespace bookmarks
