// The bookkeeping shared by the caches of record slots, index pages and BLOB
// blocks: the cached holders in a list sorted by their file position (record
// number, page or block position) plus a doubly linked most-recently-used
// list. Lookups try the few most recently used holders before a binary
// search. What to read, when to write back and how to make room is the
// owner's business; the cache only keeps order.
//
// A holder type H provides: int32_t CacheKey() const, bool Modified,
// int InUse, and H* MruPrev, H* MruNext.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessel {

template <typename H>
class THolderCache {
 public:
  explicit THolderCache(int recentCount) : recentCount_(recentCount) {}
  THolderCache(const THolderCache&) = delete;
  THolderCache& operator=(const THolderCache&) = delete;

  // The holder with key, or nullptr. A hit becomes the most recently used.
  H* Find(int32_t key) {
    int tried = 0;
    for (H* h = head_; h != nullptr && tried < recentCount_; h = h->MruNext, ++tried) {
      if (h->CacheKey() == key) {
        Touch(h);
        return h;
      }
    }
    auto it = LowerBound(key);
    if (it == sorted_.end() || (*it)->CacheKey() != key) return nullptr;
    Touch(*it);
    return *it;
  }

  // Like Find, but leaves the recently-used order alone.
  H* Peek(int32_t key) const {
    auto it = std::lower_bound(sorted_.begin(), sorted_.end(), key,
                               [](const H* h, int32_t k) { return h->CacheKey() < k; });
    return it != sorted_.end() && (*it)->CacheKey() == key ? *it : nullptr;
  }

  // Adds a holder whose key is not cached yet, as the most recently used.
  void Insert(H* h) {
    sorted_.insert(LowerBound(h->CacheKey()), h);
    PushFront(h);
  }

  void Remove(H* h) {
    auto it = LowerBound(h->CacheKey());
    if (it != sorted_.end() && *it == h) sorted_.erase(it);
    Unlink(h);
  }

  // Makes h the most recently used holder.
  void Touch(H* h) {
    if (head_ == h) return;
    Unlink(h);
    PushFront(h);
  }

  // The least recently used holder that is neither modified nor in use.
  H* Victim() const {
    for (H* h = tail_; h != nullptr; h = h->MruPrev)
      if (!h->Modified && h->InUse == 0) return h;
    return nullptr;
  }

  // Takes every holder out of the cache and answers them.
  std::vector<H*> TakeAll() {
    std::vector<H*> all;
    all.swap(sorted_);
    for (H* h : all) h->MruPrev = h->MruNext = nullptr;
    head_ = tail_ = nullptr;
    return all;
  }

  const std::vector<H*>& Sorted() const { return sorted_; }
  size_t Size() const { return sorted_.size(); }
  H* MostRecent() const { return head_; }
  H* LeastRecent() const { return tail_; }

 private:
  typename std::vector<H*>::iterator LowerBound(int32_t key) {
    return std::lower_bound(sorted_.begin(), sorted_.end(), key,
                            [](const H* h, int32_t k) { return h->CacheKey() < k; });
  }
  void PushFront(H* h) {
    h->MruPrev = nullptr;
    h->MruNext = head_;
    if (head_ != nullptr) head_->MruPrev = h;
    head_ = h;
    if (tail_ == nullptr) tail_ = h;
  }
  void Unlink(H* h) {
    if (h->MruPrev != nullptr) h->MruPrev->MruNext = h->MruNext;
    else if (head_ == h) head_ = h->MruNext;
    if (h->MruNext != nullptr) h->MruNext->MruPrev = h->MruPrev;
    else if (tail_ == h) tail_ = h->MruPrev;
    h->MruPrev = h->MruNext = nullptr;
  }

  int recentCount_;
  std::vector<H*> sorted_;
  H* head_ = nullptr;  // most recently used
  H* tail_ = nullptr;  // least recently used
};

}  // namespace tessel
