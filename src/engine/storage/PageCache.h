// The index page cache: page holders, their pool and one cache per index
// slot (0 to 30 and the system index 31).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/HolderCache.h"
#include "engine/storage/IndexPage.h"

namespace tessel {

// A cached page: the page with its place in the most-recently-used list.
class TPageHolder : public TPage {
 public:
  TPageHolder* MruPrev = nullptr;
  TPageHolder* MruNext = nullptr;
  // Dropped from the cache while in use: goes back to the pool when its
  // last user releases it.
  bool Detached = false;

  int32_t CacheKey() const { return Position; }
};

// A pool of free page holders. It owns every holder it hands out; they are
// freed with the pool.
class TPageStack {
 public:
  explicit TPageStack(size_t initialCapacity = 4095);
  ~TPageStack();
  TPageStack(const TPageStack&) = delete;
  TPageStack& operator=(const TPageStack&) = delete;

  // A holder given position, index and the index's settings, cleared.
  TPageHolder* Take(int32_t position, int index, const TIndexDesc& desc);
  void Give(TPageHolder* page);
  size_t FreeCount() const { return free_.size(); }

 private:
  std::vector<TPageHolder*> free_;
  std::vector<std::unique_ptr<TPageHolder>> owned_;
};

// The pages of one index: the 2 most recently used first, then a list
// sorted by position.
class TPageCache : public THolderCache<TPageHolder> {
 public:
  static constexpr int kNominalCapacity = 15;
  // A work table grows a full cache by this many pages instead of failing.
  static constexpr int kWorkTableGrowth = 128;

  TPageCache() : THolderCache<TPageHolder>(2) {}
  int Capacity = kNominalCapacity;
};

}  // namespace tessel
