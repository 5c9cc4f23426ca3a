#include "engine/cursor/ResultSet.h"

#include <algorithm>

namespace tessel {

namespace {
constexpr size_t kMaxFilters = 256;
}

// ---------------------------------------------------------------------------
// Range

void TResultSet::SetRange(std::vector<uint8_t> start, std::vector<uint8_t> end) {
  rangeStart_ = std::move(start);
  rangeEnd_ = std::move(end);
  rangeActive_ = true;
}

void TResultSet::CancelRange(size_t keyLength) {
  rangeActive_ = false;
  rangeStart_.assign(keyLength, 0x00);
  rangeEnd_.assign(keyLength, 0xFF);
}

void TResultSet::CopyRange(const TResultSet& other) {
  rangeStart_ = other.rangeStart_;
  rangeEnd_ = other.rangeEnd_;
  rangeActive_ = other.rangeActive_;
}

void TResultSet::RecomputeRangeOrdinals(int32_t activeCount, TIndexTree* order, const TKeyContext* key) {
  if (order == nullptr || key == nullptr) {
    rangeFirst_ = 1;
    rangeLast_ = activeCount;
    return;
  }
  if (key->CompareKeys(rangeStart_.data(), rangeEnd_.data()) > 0) {
    rangeFirst_ = rangeLast_ = 0;
    return;
  }
  const TTreePosition first = order->LowerBound(rangeStart_.data());
  const TTreePosition last = order->UpperBound(rangeEnd_.data());
  if (!first.Valid() || !last.Valid() || first.Ordinal > last.Ordinal) {
    rangeFirst_ = rangeLast_ = 0;
    return;
  }
  rangeFirst_ = first.Ordinal;
  rangeLast_ = last.Ordinal;
}

int32_t TResultSet::RecordCount() const {
  if (bitmapMode_) return resultCount_;
  if (rangeFirst_ <= 0 || rangeLast_ <= 0) return 0;
  return std::max(rangeLast_ - rangeFirst_ + 1, 0);
}

// ---------------------------------------------------------------------------
// Bitmaps

void TResultSet::FreeBitmaps() {
  resultBits_.Resize(0);
  rangeBits_.Resize(0);
  allBits_.Resize(0);
  resultCount_ = 0;
}

void TResultSet::SetBitmapMode(bool wanted) {
  if (wanted) {
    bitmapMode_ = true;
    return;
  }
  if (bitmapMode_) {
    bitmapMode_ = false;
    FreeBitmaps();
  }
}

void TResultSet::BuildAllRecords(int32_t slots, TIndexTree deleted) {
  allBits_.Resize(slots);
  allBits_.ClearAll();
  // The deleted slots are marked from "Sys Deleted" (deleted flag 1, every
  // record identifier) and the bitmap inverted.
  const uint8_t firstDeleted[5] = {1, 0, 0, 0, 0};
  for (TTreePosition p = deleted.LowerBound(firstDeleted); p.Valid(); p = deleted.Next(p)) {
    int32_t recordNumber = 0;
    const std::vector<uint8_t> key = deleted.KeyAt(p, &recordNumber);
    if (key[0] != 1) break;
    allBits_.Set(recordNumber);
  }
  allBits_.Not();
}

void TResultSet::BuildRange(int32_t slots, TIndexTree order, bool locale) {
  rangeBits_.Resize(slots);
  rangeBits_.ClearAll();
  if (rangeFirst_ <= 0 || rangeLast_ <= 0) return;
  auto mark = [&](int32_t from, int32_t to) {
    if (from > to) return;
    TTreePosition p = order.AtOrdinal(from);
    for (; p.Valid() && p.Ordinal <= to; p = order.Next(p)) {
      int32_t recordNumber = 0;
      order.KeyAt(p, &recordNumber);
      rangeBits_.Set(recordNumber);
    }
  };
  const int32_t total = order.EntryCount();
  const int32_t inside = rangeLast_ - rangeFirst_ + 1;
  if (!locale && inside > total / 2) {
    // The smaller outside parts are walked and the bitmap inverted.
    mark(1, rangeFirst_ - 1);
    mark(rangeLast_ + 1, total);
    rangeBits_.Not();
  } else {
    mark(rangeFirst_, rangeLast_);
  }
}

void TResultSet::Combine(int32_t slots, bool ranged) {
  resultBits_.CopyFrom(allBits_);
  if (resultBits_.Size() != slots) resultBits_.Resize(slots);
  if (ranged) resultBits_.And(rangeBits_);
  for (const auto& filter : filters_)
    if (filter->Active()) resultBits_.And(filter->Bits());
  resultCount_ = resultBits_.Count();
}

void TResultSet::Build(bool reevaluate, int32_t slots, TIndexTree deleted, TIndexTree* order, bool locale,
                       const std::function<void(TFilter&)>& evaluate) {
  if (!bitmapMode_) return;
  BuildAllRecords(slots, deleted);
  if (order != nullptr) {
    BuildRange(slots, *order, locale);
  } else {
    rangeBits_.Resize(0);
  }
  for (const auto& filter : filters_) {
    if (!filter->Active()) continue;
    // Records of other users (new or changed) are judged again.
    if (reevaluate || filter->Bits().Size() != allBits_.Size()) evaluate(*filter);
  }
  Combine(slots, order != nullptr);
}

void TResultSet::UpdateRecord(int32_t slot, const uint8_t* image, bool present, int32_t slots,
                              const TKeyContext* order, const std::function<bool(const TFilter&)>& passes) {
  if (!bitmapMode_) return;
  if (allBits_.Size() != slots) allBits_.Resize(slots);
  const bool ranged = order != nullptr;
  if (ranged && rangeBits_.Size() != slots) rangeBits_.Resize(slots);
  for (const auto& filter : filters_)
    if (filter->Active() && filter->bits_.Size() != slots) filter->bits_.Resize(slots);
  if (present) {
    allBits_.Set(slot);
    if (ranged) {
      const std::vector<uint8_t> key = order->BuildKey(image);
      const bool inside = order->CompareKeys(key.data(), rangeStart_.data()) >= 0 &&
                          order->CompareKeys(key.data(), rangeEnd_.data()) <= 0;
      if (inside) rangeBits_.Set(slot);
      else rangeBits_.Clear(slot);
    }
    for (const auto& filter : filters_) {
      if (!filter->Active()) continue;
      if (passes(*filter)) filter->bits_.Set(slot);
      else filter->bits_.Clear(slot);
    }
  } else {
    allBits_.Clear(slot);
    if (ranged) rangeBits_.Clear(slot);
    for (const auto& filter : filters_)
      if (filter->Active()) filter->bits_.Clear(slot);
  }
  Combine(slots, ranged);
}

// ---------------------------------------------------------------------------
// Filters

TFilter* TResultSet::AddFilter(std::unique_ptr<TFilter> filter) {
  filter->active_ = false;
  filter->bits_.Resize(0);
  filters_.push_back(std::move(filter));
  return filters_.back().get();
}

bool TResultSet::Full() const { return filters_.size() >= kMaxFilters; }

bool TResultSet::Holds(const TFilter* filter) const {
  return std::any_of(filters_.begin(), filters_.end(), [&](const auto& f) { return f.get() == filter; });
}

bool TResultSet::Filtered() const {
  return std::any_of(filters_.begin(), filters_.end(), [](const auto& f) { return f->Active(); });
}

void TResultSet::Deactivate(TFilter& filter) {
  filter.active_ = false;
  filter.bits_.Resize(0);
}

void TResultSet::Remove(const TFilter* filter) {
  filters_.erase(std::find_if(filters_.begin(), filters_.end(), [&](const auto& f) { return f.get() == filter; }));
}

void TResultSet::EvaluateFilter(TFilter& filter, int32_t slots, const std::function<bool(int32_t)>& passes) {
  filter.bits_.Resize(slots);
  filter.bits_.ClearAll();
  for (int32_t r = allBits_.FirstAtOrAbove(1); r != 0; r = allBits_.FirstAtOrAbove(r + 1))
    if (passes(r)) filter.bits_.Set(r);
}

// ---------------------------------------------------------------------------
// Walking

bool TResultSet::Step(TIndexTree& tree, const TTreePosition& from, bool forward, TIndexEntry& entry) const {
  TTreePosition p = from;
  while (true) {
    p = forward ? tree.Next(p) : tree.Prior(p);
    if (!p.Valid()) return false;
    if (BeyondRange(p.Ordinal, forward)) return false;
    int32_t recordNumber = 0;
    std::vector<uint8_t> key = tree.KeyAt(p, &recordNumber);
    // In bitmap mode entries outside the result are passed over; they still
    // count in the ordinal.
    if (Contains(recordNumber)) {
      entry.Position = p;
      entry.Key = std::move(key);
      entry.Record = recordNumber;
      return true;
    }
  }
}

void TResultSet::Reset() {
  filters_.clear();
  bitmapMode_ = false;
  FreeBitmaps();
  rangeActive_ = false;
  rangeStart_.clear();
  rangeEnd_.clear();
  rangeFirst_ = rangeLast_ = 0;
}

}  // namespace tessel
