#include "SiteData.h"

#include <algorithm>
#include <array>

namespace bench {
namespace {

constexpr std::array<const char*, 15> kCategories = {
    "Arts & Humanities", "Business & Economy", "Computers & Internet", "Education",
    "Entertainment",     "Government",         "Health",               "News",
    "Personal",          "Recreation & Sports", "Reference",           "Regional",
    "Science",           "Social Science",     "Society & Culture"};

constexpr std::array<const char*, 48> kWords = {
    "archive", "atlas",   "bazaar",  "beacon",  "canvas",  "harbor",  "cellar",  "chronicle",
    "compass", "delta",   "digest",  "ember",   "forum",   "gallery", "garden",  "gazette",
    "guild",   "horizon", "journal", "keystone", "lantern", "ledger",  "library", "meadow",
    "mosaic",  "network", "orchard", "outpost", "pioneer", "portal",  "quarry",  "radius",
    "harvest", "signal",  "summit",  "tandem",  "terrace", "timber",  "tribune", "upland",
    "valley",  "vector",  "voyage",  "warden",  "weekly",  "willow",  "yonder",  "zenith"};

constexpr std::array<const char*, 6> kTlds = {".com", ".org", ".net", ".io", ".co.uk", ".de"};

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

std::string Base36(uint64_t n) {
  std::string s;
  do {
    s.push_back("0123456789abcdefghijklmnopqrstuvwxyz"[n % 36]);
    n /= 36;
  } while (n != 0);
  std::reverse(s.begin(), s.end());
  return s;
}

std::string Capitalised(const char* word) {
  std::string s = word;
  s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

// "https://www.<word>-<word><id>.<tld>/<word>/", 35 to 60 characters. The
// id makes it unique; the words (drawn from the hash) scatter the order.
std::string Url(uint64_t id, uint64_t h) {
  std::string url = "https://www.";
  url += kWords[h % kWords.size()];
  url += '-';
  url += kWords[(h >> 8) % kWords.size()];
  url += Base36(id);
  url += kTlds[(h >> 16) % kTlds.size()];
  url += '/';
  if ((h >> 24) % 3 != 0) {
    url += kWords[(h >> 28) % kWords.size()];
    url += '/';
  }
  return url;
}

}  // namespace

const std::vector<std::string>& Categories() {
  static const std::vector<std::string> list(kCategories.begin(), kCategories.end());
  return list;
}

uint64_t Random::Next() {
  state_ += 0x9E3779B97F4A7C15ULL;
  uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

Site MakeSite(int64_t n) {
  const uint64_t h = Mix(static_cast<uint64_t>(n));
  Site s;
  s.sitetype = kCategories[h % kCategories.size()];
  // Ids are even; MissingUrl uses odd ones, so a miss lands between hits.
  s.siteurl = Url(static_cast<uint64_t>(n) * 2, h);

  const uint64_t g = Mix(h);
  s.sitename = "The " + Capitalised(kWords[g % kWords.size()]) + " " +
               Capitalised(kWords[(g >> 8) % kWords.size()]) + " " +
               Capitalised(kWords[(g >> 16) % kWords.size()]) + " Online";
  s.login = std::string(kWords[(g >> 24) % kWords.size()]) + "." + Base36(g >> 40) + "@mail.example";
  if (s.login.size() > 30) s.login.resize(30);
  s.password.clear();
  uint64_t p = Mix(g);
  for (int i = 0; i < 14; ++i) {
    s.password.push_back("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789#$%&"[p % 61]);
    p = p / 61 + Mix(p + static_cast<uint64_t>(i));
  }

  // A note of about 200 bytes: sentences of words.
  uint64_t w = Mix(p);
  const size_t target = 180 + w % 41;  // 180..220
  while (s.note.size() < target) {
    if (!s.note.empty()) s.note += ' ';
    s.note += kWords[w % kWords.size()];
    w = Mix(w);
    if (w % 7 == 0) s.note += '.';
  }
  s.note.resize(target);
  return s;
}

std::string MissingUrl(int64_t n) {
  const uint64_t h = Mix(static_cast<uint64_t>(n) + 0x5151);
  return Url(static_cast<uint64_t>(n) * 2 + 1, h);
}

std::vector<int64_t> Shuffled(int64_t count, uint64_t seed) {
  std::vector<int64_t> v(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) v[static_cast<size_t>(i)] = i;
  Random r(seed);
  for (size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[r.Below(i)]);
  return v;
}

}  // namespace bench
