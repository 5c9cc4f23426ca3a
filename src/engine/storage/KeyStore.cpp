#include "engine/storage/KeyStore.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "engine/storage/IndexBuild.h"
#include "engine/storage/IndexKey.h"

namespace tessel {

TKeyStore::TKeyStore(const TKeyContext* context, uint16_t keyLength)
    : ctx_(context), length_(keyLength), scratch_(keyLength, 0), other_(keyLength, 0) {
  offsets_.push_back(0);
}

size_t TKeyStore::Trimmed(const uint8_t* key, size_t n) {
  while (n > 0 && key[n - 1] == 0) --n;
  return n;
}

uint64_t TKeyStore::BytesFor(int64_t count, uint16_t keyLength) {
  return static_cast<uint64_t>(std::max<int64_t>(count, 0)) * (keyLength + sizeof(size_t) + sizeof(int32_t));
}

void TKeyStore::Append(const uint8_t* key, int32_t record) {
  const size_t n = Trimmed(key, length_);
  bytes_.insert(bytes_.end(), key, key + n);
  offsets_.push_back(bytes_.size());
  records_.push_back(record);
}

const uint8_t* TKeyStore::Expand(size_t i, std::vector<uint8_t>& out) const {
  const size_t n = Size(i);
  std::memcpy(out.data(), Bytes(i), n);
  std::memset(out.data() + n, 0, length_ - n);
  return out.data();
}

int TKeyStore::Compare(size_t a, size_t b) {
  if (ctx_ != nullptr && ctx_->HasLocale()) return ctx_->CompareKeys(Expand(a, scratch_), Expand(b, other_));
  // Trailing zeros compare like the missing bytes they stand for.
  const size_t na = Size(a), nb = Size(b);
  int c = std::memcmp(Bytes(a), Bytes(b), std::min(na, nb));
  c = c != 0 ? (c < 0 ? -1 : 1) : (na < nb ? -1 : (na > nb ? 1 : 0));
  if (ctx_ != nullptr && !ctx_->IsSystemIndex() && ctx_->Descending()) c = -c;
  return c;
}

std::vector<uint32_t> TKeyStore::SortedOrder() {
  std::vector<uint32_t> order(Count());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return Compare(a, b) < 0; });
  return order;
}

void TKeyStore::BuildTree(TIndexFile& file, int slot, const std::vector<uint32_t>& order) {
  TSortedKeys sorted;
  sorted.Count = static_cast<int64_t>(order.size());
  sorted.Key = [&](int64_t i) { return Expand(order[static_cast<size_t>(i)], scratch_); };
  sorted.Record = [&](int64_t i) { return records_[order[static_cast<size_t>(i)]]; };
  BuildIndexTree(file, slot, sorted);
}

}  // namespace tessel
