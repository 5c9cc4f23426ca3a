#include "engine/cursor/RecordBitmap.h"

#include <algorithm>
#include <bit>

namespace tessel {

namespace {

constexpr size_t kWordsPerStep = 1024 / 4;

size_t WordsFor(int32_t bits) { return (static_cast<size_t>(bits) + 31) / 32; }

}  // namespace

void TRecordsBitmap::Resize(int32_t bitCount) {
  if (bitCount <= 0) {
    bits_ = 0;
    words_.clear();
    words_.shrink_to_fit();
    return;
  }
  const size_t words = WordsFor(bitCount);
  if (words > words_.capacity()) {
    const size_t steps = (words + kWordsPerStep - 1) / kWordsPerStep;
    words_.reserve(steps * kWordsPerStep);
  }
  const int32_t old = bits_;
  words_.resize(words, 0);
  bits_ = bitCount;
  if (bitCount < old) {
    TrimTail();
  } else if (old > 0 && old % 32 != 0) {
    // Bits that were beyond the old size in its last word must read 0.
    const size_t w = static_cast<size_t>(old) / 32;
    words_[w] &= (uint32_t{1} << (old % 32)) - 1;
  }
}

void TRecordsBitmap::TrimTail() {
  if (bits_ % 32 != 0 && !words_.empty()) words_.back() &= (uint32_t{1} << (bits_ % 32)) - 1;
}

bool TRecordsBitmap::Test(int32_t r) const {
  if (r < 1 || r > bits_) return false;
  const uint32_t bit = static_cast<uint32_t>(r - 1);
  return (words_[bit / 32] >> (bit % 32)) & 1u;
}

void TRecordsBitmap::Set(int32_t r) {
  if (r < 1 || r > bits_) return;
  const uint32_t bit = static_cast<uint32_t>(r - 1);
  words_[bit / 32] |= uint32_t{1} << (bit % 32);
}

void TRecordsBitmap::Clear(int32_t r) {
  if (r < 1 || r > bits_) return;
  const uint32_t bit = static_cast<uint32_t>(r - 1);
  words_[bit / 32] &= ~(uint32_t{1} << (bit % 32));
}

void TRecordsBitmap::ClearAll() { std::fill(words_.begin(), words_.end(), 0u); }

void TRecordsBitmap::SetAll() {
  std::fill(words_.begin(), words_.end(), ~0u);
  TrimTail();
}

int32_t TRecordsBitmap::Count() const {
  int32_t n = 0;
  for (uint32_t w : words_) n += std::popcount(w);
  return n;
}

int32_t TRecordsBitmap::CountBelow(int32_t r) const {
  if (r <= 1) return 0;
  const uint32_t limit = static_cast<uint32_t>(std::min(r - 1, bits_));  // bits 0..limit-1
  int32_t n = 0;
  const size_t full = limit / 32;
  for (size_t i = 0; i < full; ++i) n += std::popcount(words_[i]);
  if (limit % 32 != 0) n += std::popcount(words_[full] & ((uint32_t{1} << (limit % 32)) - 1));
  return n;
}

int32_t TRecordsBitmap::FirstAtOrAbove(int32_t r) const {
  if (r < 1) r = 1;
  if (r > bits_) return 0;
  uint32_t bit = static_cast<uint32_t>(r - 1);
  size_t w = bit / 32;
  uint32_t word = words_[w] & (~0u << (bit % 32));
  while (true) {
    if (word != 0) {
      const int32_t found = static_cast<int32_t>(w * 32 + static_cast<size_t>(std::countr_zero(word))) + 1;
      return found <= bits_ ? found : 0;
    }
    if (++w >= words_.size()) return 0;
    word = words_[w];
  }
}

int32_t TRecordsBitmap::LastAtOrBelow(int32_t r) const {
  if (r > bits_) r = bits_;
  if (r < 1) return 0;
  const uint32_t bit = static_cast<uint32_t>(r - 1);
  size_t w = bit / 32;
  const uint32_t shift = 31 - bit % 32;
  uint32_t word = words_[w] & (~0u >> shift);
  while (true) {
    if (word != 0) return static_cast<int32_t>(w * 32 + 31 - static_cast<size_t>(std::countl_zero(word))) + 1;
    if (w == 0) return 0;
    word = words_[--w];
  }
}

bool TRecordsBitmap::Seek(int32_t& r, int32_t k, int32_t& ordinal) const {
  if (k == 0) return true;
  int32_t at = r;
  if (k > 0) {
    for (int32_t i = 0; i < k; ++i) {
      const int32_t next = at >= bits_ ? 0 : FirstAtOrAbove(std::max(at, 0) + 1);
      if (next == 0) return false;
      at = next;
      r = at;
      ++ordinal;
    }
  } else {
    for (int32_t i = 0; i < -k; ++i) {
      const int32_t prev = at <= 1 ? 0 : LastAtOrBelow(std::min(at, bits_ + 1) - 1);
      if (prev == 0) return false;
      at = prev;
      r = at;
      --ordinal;
    }
  }
  return true;
}

int32_t TRecordsBitmap::NthSet(int32_t n) const {
  if (n < 1) return 0;
  int32_t remaining = n;
  for (size_t w = 0; w < words_.size(); ++w) {
    uint32_t word = words_[w];
    const int32_t c = std::popcount(word);
    if (c < remaining) {
      remaining -= c;
      continue;
    }
    while (--remaining > 0) word &= word - 1;  // drop the lowest set bits
    const int32_t found = static_cast<int32_t>(w * 32 + static_cast<size_t>(std::countr_zero(word))) + 1;
    return found <= bits_ ? found : 0;
  }
  return 0;
}

void TRecordsBitmap::CopyFrom(const TRecordsBitmap& other) {
  if (this == &other) return;
  Resize(other.bits_);
  std::copy(other.words_.begin(), other.words_.end(), words_.begin());
}

void TRecordsBitmap::And(const TRecordsBitmap& other) {
  for (size_t i = 0; i < words_.size(); ++i) words_[i] &= i < other.words_.size() ? other.words_[i] : 0u;
  TrimTail();
}

void TRecordsBitmap::Or(const TRecordsBitmap& other) {
  for (size_t i = 0; i < words_.size() && i < other.words_.size(); ++i) words_[i] |= other.words_[i];
  TrimTail();
}

void TRecordsBitmap::Not() {
  for (uint32_t& w : words_) w = ~w;
  TrimTail();
}

}  // namespace tessel
