#include "engine/storage/IndexPage.h"

#include <algorithm>
#include <cstring>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataFile.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/Scramble.h"

namespace tessel {

namespace {

// Slot layout behind the key: value, subtree count, lead, trail.
constexpr int kValueAt = 0;
constexpr int kSubCountAt = 4;
constexpr int kLeadAt = 8;
constexpr int kTrailAt = 10;

// Ordinal counts gathered on a descent stay below this (far above any count
// a sound tree can hold).
constexpr int64_t kMaxOrdinalSum = INT32_MAX / 2;

int TrailingZeros(const uint8_t* begin, int length) {
  int n = 0;
  while (n < length && begin[length - 1 - n] == 0) ++n;
  return n;
}

}  // namespace

void TPage::Setup(int32_t position, int indexNumber, const TIndexDesc& desc) {
  Position = position;
  IndexNumber = indexNumber;
  KeyLength = desc.KeyLength;
  Descending = desc.Descending != 0;
  Unique = desc.Unique != 0;
  Compression = desc.Compression;
  Clear();
  Current = 1;
  CursorEntry = 1;
  Modified = false;
  InUse = 0;
}

void TPage::Clear() {
  entries_.clear();
  count_ = 0;
  PageType = ptRootNode;
  ByteSize = 0;
  Left = 0;
  Right = 0;
  Parent = 0;
  Freed = false;
}

bool TPage::Overflows() const {
  if (IsCompressedLeaf()) return ByteSize > kPageEntryBytes;
  return count_ > Capacity();
}

void TPage::SetKey(int i, const uint8_t* key) {
  std::memmove(Slot(i), key, KeyLength);
  if (IsCompressedLeaf()) RecomputeCompression();
}

int32_t TPage::Value(int i) const { return GetI32(Slot(i) + KeyLength + kValueAt); }
void TPage::SetValue(int i, int32_t value) { PutI32(Slot(i) + KeyLength + kValueAt, value); }
int32_t TPage::SubCount(int i) const { return GetI32(Slot(i) + KeyLength + kSubCountAt); }
void TPage::SetSubCount(int i, int32_t count) { PutI32(Slot(i) + KeyLength + kSubCountAt, count); }
int16_t TPage::Lead(int i) const { return GetI16(Slot(i) + KeyLength + kLeadAt); }
int16_t TPage::Trail(int i) const { return GetI16(Slot(i) + KeyLength + kTrailAt); }

void TPage::SetLeadTrail(int i, int lead, int trail) {
  PutI16(Slot(i) + KeyLength + kLeadAt, static_cast<int16_t>(lead));
  PutI16(Slot(i) + KeyLength + kTrailAt, static_cast<int16_t>(trail));
}

int32_t TPage::SubtreeTotal() const {
  if (IsLeaf()) return count_;
  // Counted wide: the counts of a damaged page must not overflow the sum.
  int64_t total = 0;
  for (int i = 1; i <= count_; ++i) total += SubCount(i);
  return static_cast<int32_t>(std::clamp<int64_t>(total, INT32_MIN, INT32_MAX));
}

void TPage::InsertEntry(int at, const uint8_t* key, int32_t value, int32_t subCount) {
  const size_t size = static_cast<size_t>(SlotSize());
  const auto where = entries_.begin() + static_cast<std::ptrdiff_t>((at - 1) * size);
  // The key may point into this page's own entries: copy it out first.
  std::vector<uint8_t> slot(size, 0);
  std::memcpy(slot.data(), key, KeyLength);
  entries_.insert(where, slot.begin(), slot.end());
  ++count_;
  SetValue(at, value);
  SetSubCount(at, subCount);
  RecomputeCompression();
}

void TPage::RemoveEntry(int i) {
  const size_t size = static_cast<size_t>(SlotSize());
  const auto where = entries_.begin() + static_cast<std::ptrdiff_t>((i - 1) * size);
  entries_.erase(where, where + static_cast<std::ptrdiff_t>(size));
  --count_;
  RecomputeCompression();
}

void TPage::MoveLastTo(TPage& other, int count) {
  if (count <= 0) return;
  const size_t bytes = static_cast<size_t>(count) * SlotSize();
  other.entries_.insert(other.entries_.begin(), entries_.end() - static_cast<std::ptrdiff_t>(bytes),
                        entries_.end());
  entries_.resize(entries_.size() - bytes);
  count_ -= count;
  other.count_ += count;
  RecomputeCompression();
  other.RecomputeCompression();
}

void TPage::MoveFirstTo(TPage& other, int count) {
  if (count <= 0) return;
  const auto end = entries_.begin() + static_cast<std::ptrdiff_t>(count) * SlotSize();
  other.entries_.insert(other.entries_.end(), entries_.begin(), end);
  entries_.erase(entries_.begin(), end);
  count_ -= count;
  other.count_ += count;
  RecomputeCompression();
  other.RecomputeCompression();
}

void TPage::LeadTrail(const uint8_t* prev, const uint8_t* key, int& lead, int& trail) const {
  const int length = KeyLength;
  lead = 0;
  trail = 0;
  if (prev != nullptr && (Compression == 1 || Compression == 3)) {
    while (lead < length && prev[lead] == key[lead]) ++lead;
  }
  // The trailing zero run of a non-unique key is counted in front of its
  // record-identifier suffix.
  const int suffix = Unique ? 0 : 4;
  switch (Compression) {
    case 2:
      lead = 0;
      trail = TrailingZeros(key, std::max(0, length - suffix));
      break;
    case 3:
      lead = std::min(lead, 255);
      if (!Unique && length - lead < 5) {
        trail = 0;
      } else {
        trail = std::min(TrailingZeros(key + lead, std::max(0, length - suffix - lead)), 255);
      }
      break;
    default:
      break;
  }
}

void TPage::RecomputeCompression() {
  if (!IsCompressedLeaf()) {
    for (int i = 1; i <= count_; ++i) SetLeadTrail(i, 0, 0);
    ByteSize = 0;
    return;
  }
  int32_t total = 0;
  for (int i = 1; i <= count_; ++i) {
    int lead, trail;
    LeadTrail(i == 1 ? nullptr : Key(i - 1), Key(i), lead, trail);
    SetLeadTrail(i, lead, trail);
    total += CompressedEntryBytes(lead, trail);
  }
  ByteSize = total;
}

int TPage::Search(const TKeyContext& ctx, const uint8_t* key, TPageSearch kind, bool* equal,
                  int32_t* before) {
  if (count_ == 0) RaiseEngineError(ec::PageBuffersCorrupt, ctx.TableName());
  int low = 1;
  int high = count_;
  int found = 0;
  while (low <= high) {
    const int probe = (low + high) / 2;
    const int c = ctx.CompareKeys(Key(probe), key, KeyLength);
    if (c < 0) {
      low = probe + 1;
    } else if (c > 0) {
      high = probe - 1;
    } else {
      found = probe;
      break;
    }
  }
  int position = found != 0 ? found : high;
  if (kind == TPageSearch::Exists && position < 1) position = 1;
  Current = position;
  if (equal != nullptr) *equal = found != 0;
  if (before != nullptr) {
    // Counted wide and kept far below the int32 limit, so that the ordinals
    // built on a damaged tree's counts cannot overflow.
    int64_t sum = *before;
    if (IsLeaf()) {
      sum += std::max(position - 1, 0);
    } else {
      for (int i = 1; i < position; ++i) sum += SubCount(i);
    }
    *before = static_cast<int32_t>(std::clamp<int64_t>(sum, 0, kMaxOrdinalSum));
  }
  return position;
}

bool TPage::Decode(const uint8_t* source, bool encrypted, bool decodeEntries) {
  // Only a scrambled page needs a copy to be deciphered in.
  uint8_t deciphered[kPageSize];
  const uint8_t* image = source;
  if (encrypted) {
    std::memcpy(deciphered, source, kPageSize);
    ScrambleData(deciphered, kPageSize);
    image = deciphered;
  }

  entries_.clear();
  count_ = 0;
  PageType = image[0];
  const int count = GetU16(image + 1);
  Left = GetI32(image + 3);
  Right = GetI32(image + 7);
  ByteSize = GetU16(image + 11);
  Current = 1;
  CursorEntry = 1;
  Parent = 0;
  Freed = false;
  Modified = false;
  if (PageType > ptRootLeaf) return false;
  if (!decodeEntries || count == 0) return true;
  if (KeyLength == 0 || KeyLength > kMaxPageKeyLength) return false;

  const uint8_t* area = image + kPageHeaderBytes;
  if (!IsLeaf() || Compression == 0) {
    const int stored = IsLeaf() ? KeyLength + 4 : KeyLength + 8;
    if (count * stored > kPageEntryBytes) return false;
    entries_.assign(static_cast<size_t>(count) * SlotSize(), 0);
    count_ = count;
    int64_t total = 0;
    for (int i = 1; i <= count; ++i) {
      const uint8_t* p = area + (i - 1) * stored;
      std::memcpy(Slot(i), p, KeyLength);
      SetValue(i, GetI32(p + KeyLength));
      if (!IsLeaf()) {
        const int32_t sub = GetI32(p + KeyLength + 4);
        SetSubCount(i, sub);
        total += sub;
        // A subtree holds at most one entry per record slot.
        if (sub < 0 || total > kMaxRecordNumber) {
          entries_.clear();
          count_ = 0;
          return false;
        }
      }
    }
    return true;
  }
  count_ = count;
  if (!DecodeCompressed(area)) {
    entries_.clear();
    count_ = 0;
    return false;
  }
  return true;
}

bool TPage::DecodeCompressed(const uint8_t* area) {
  const int length = KeyLength;
  const int suffix = Unique ? 0 : 4;
  entries_.assign(static_cast<size_t>(count_) * SlotSize(), 0);
  int at = 0;
  auto room = [&](int bytes) { return bytes >= 0 && at + bytes <= kPageEntryBytes; };
  for (int i = 1; i <= count_; ++i) {
    uint8_t* key = Slot(i);
    const uint8_t* prev = i > 1 ? Key(i - 1) : nullptr;
    int lead = 0;
    int trail = 0;
    if (Compression == 3) {
      if (!room(2)) return false;
      lead = i == 1 ? 0 : area[at];  // the first entry's stored lead is ignored
      trail = area[at + 1];
      at += 2;
    } else {
      if (!room(2)) return false;
      const int count = GetI16(area + at);
      at += 2;
      if (Compression == 1) {
        lead = count;
      } else {
        trail = count;
      }
    }
    if (lead < 0 || lead > length || (lead > 0 && prev == nullptr)) return false;
    if (lead > 0) std::memcpy(key, prev, lead);

    // The bytes from lead up to the trailing zeros, then (in a non-unique
    // index, unless the rest of the key is shorter than 5 bytes in mode 3)
    // the suffix.
    const bool split = SplitsSuffix(lead);
    const int head = split ? length - suffix : length;  // the part trail is counted on
    if (trail < 0 || trail > head - lead) return false;
    const int middle = head - lead - trail;
    if (!room(middle + (split ? suffix : 0) + 4)) return false;
    std::memcpy(key + lead, area + at, middle);
    at += middle;
    if (split) {
      std::memcpy(key + head, area + at, suffix);
      at += suffix;
    }
    SetValue(i, GetI32(area + at));
    at += 4;
    SetLeadTrail(i, lead, trail);
  }
  return true;
}

bool TPage::Encode(uint8_t* image, bool encrypted) const {
  std::memset(image, 0, kPageSize);
  image[0] = PageType;
  PutU16(image + 1, static_cast<uint16_t>(Freed ? 0 : count_));
  PutI32(image + 3, Left);
  PutI32(image + 7, Right);
  PutU16(image + 11, static_cast<uint16_t>(ByteSize));
  if (!Freed && count_ > 0) {
    uint8_t* area = image + kPageHeaderBytes;
    const int length = KeyLength;
    if (!IsCompressedLeaf()) {
      const int stored = IsLeaf() ? length + 4 : length + 8;
      if (count_ * stored > kPageEntryBytes) return false;
      for (int i = 1; i <= count_; ++i) {
        uint8_t* p = area + (i - 1) * stored;
        std::memcpy(p, Key(i), length);
        PutI32(p + length, Value(i));
        if (!IsLeaf()) PutI32(p + length + 4, SubCount(i));
      }
    } else {
      if (ByteSize > kPageEntryBytes) return false;
      const int suffix = Unique ? 0 : 4;
      int at = 0;
      for (int i = 1; i <= count_; ++i) {
        const int lead = Lead(i);
        const int trail = Trail(i);
        const bool split = SplitsSuffix(lead);
        const int head = split ? length - suffix : length;
        const int middle = head - lead - trail;
        const int bytes = 2 + middle + (split ? suffix : 0) + 4;
        if (middle < 0 || at + bytes > kPageEntryBytes) return false;
        if (Compression == 3) {
          area[at] = static_cast<uint8_t>(lead);
          area[at + 1] = static_cast<uint8_t>(trail);
        } else {
          PutI16(area + at, static_cast<int16_t>(Compression == 1 ? lead : trail));
        }
        at += 2;
        std::memcpy(area + at, Key(i) + lead, middle);
        at += middle;
        if (split) {
          std::memcpy(area + at, Key(i) + head, suffix);
          at += suffix;
        }
        PutI32(area + at, Value(i));
        at += 4;
      }
    }
  }
  if (encrypted) ScrambleData(image, kPageSize);
  return true;
}

}  // namespace tessel
