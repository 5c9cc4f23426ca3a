// The benchmark's records: the catalogue's shape (five string fields and a
// memo) filled to realistic lengths, made deterministically from a record
// number so that every workload and both engines see the same data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Site {
  std::string sitetype;  // up to 30
  std::string siteurl;   // up to 100, unique
  std::string sitename;  // up to 60
  std::string login;     // up to 30
  std::string password;  // up to 30
  std::string note;      // about 200 bytes
};

// The fifteen categories, in the program's order; a record's category is
// one of them.
const std::vector<std::string>& Categories();

// Record number n of the data set (n >= 0). Urls of different numbers
// differ; urls do not follow the numbers' order.
Site MakeSite(int64_t n);

// A url that no record of the data set has (a miss for lookups).
std::string MissingUrl(int64_t n);

// A small deterministic generator (splitmix64).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // Uniform in [0, bound).
  uint64_t Below(uint64_t bound) { return Next() % bound; }

 private:
  uint64_t state_;
};

// The numbers 0..count-1 in an order drawn from seed.
std::vector<int64_t> Shuffled(int64_t count, uint64_t seed);

}  // namespace bench
