#include "engine/cursor/KeySearch.h"

#include <algorithm>
#include <cstring>

#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"

namespace tessel {

// ---------------------------------------------------------------------------
// Key contexts

TKeyContexts::TKeyContexts(TDataTable& table, const std::vector<TFieldDesc>& fields, const std::string& tableName)
    : table_(table), fields_(fields), tableName_(tableName), contexts_(kIndexSlots) {}

const TKeyContext& TKeyContexts::Get(int number) {
  if (number < 0 || number >= kIndexSlots) RaiseEngineError(ec::InvalidIndexName, tableName_);
  auto& slot = contexts_[static_cast<size_t>(number)];
  const TIndexDesc& desc = table_.Index().Header.Indexes[static_cast<size_t>(number)];
  // A context is made again when the index header was read again with other
  // definitions.
  if (!slot || slot->KeyLength() != desc.KeyLength || slot->Desc().FieldCount != desc.FieldCount) {
    slot = std::make_unique<TKeyContext>(desc, number, fields_, &table_.Locale(), tableName_);
  }
  return *slot;
}

const TKeyContext* TKeyContexts::Made(int number) const {
  if (number < 0 || number >= kIndexSlots) return nullptr;
  return contexts_[static_cast<size_t>(number)].get();
}

TIndexTree TKeyContexts::Tree(int number) { return TIndexTree(table_.Index(), Get(number)); }

// ---------------------------------------------------------------------------
// Searches

TKeySearch::TKeySearch(TIndexTree tree, const TIndexDesc& desc, const TKeyContext& key,
                       const std::vector<TFieldDesc>& fields, const std::array<uint8_t, 256>& order)
    : tree_(tree), desc_(desc), key_(key), fields_(fields), order_(order) {}

std::vector<uint8_t> TKeySearch::Key(const uint8_t* source, bool readyMade, int fieldCount, int partialLength,
                                     bool high, size_t* prefixLength) const {
  const size_t length = desc_.KeyLength;
  std::vector<uint8_t> key(length, 0);
  if (readyMade) {
    std::memcpy(key.data(), source, length);
  } else {
    key_.BuildKey(source, key.data());
  }
  const int fields = std::min<int>(desc_.FieldCount, kMaxIndexFields);
  int complete = fieldCount <= 0 || fieldCount > fields ? fields : fieldCount;
  if (partialLength > 0 && complete == fields) complete = fields - 1;
  const bool fill = complete < fields || desc_.Unique == 0 || partialLength > 0;

  // Segment layout: per key field a null byte and its value bytes, then the
  // record identifier of a non-unique index.
  struct Segment {
    size_t Start;
    size_t Size;
    bool String;
  };
  std::vector<Segment> segments;
  size_t offset = 0;
  for (int i = 0; i < fields; ++i) {
    const uint16_t number = desc_.FieldNumbers[static_cast<size_t>(i)];
    const TFieldDesc& f = fields_[static_cast<size_t>(number - 1)];
    segments.push_back({offset, size_t{f.PhysicalSize} + 1, f.Type == ftString});
    offset += f.PhysicalSize + 1;
  }

  size_t prefix = length;
  if (fill) {
    prefix = 0;
    for (int i = 0; i < complete; ++i) prefix += segments[static_cast<size_t>(i)].Size;
    if (partialLength > 0 && complete < fields) {
      const size_t chars = segments[static_cast<size_t>(complete)].Size - 1;
      prefix += std::min<size_t>(static_cast<size_t>(partialLength), chars) + 1;
    }
    prefix = std::min(prefix, length);
    const bool locale = key_.HasLocale();
    const uint8_t plainFill = high ? 0xFF : 0x00;
    const uint8_t charFill = locale ? (high ? order_[255] : order_[0]) : plainFill;
    for (size_t i = prefix; i < length; ++i) {
      bool inString = false;
      for (const Segment& s : segments)
        if (i >= s.Start && i < s.Start + s.Size) inString = s.String;
      key[i] = inString ? charFill : plainFill;
    }
  }
  if (prefixLength != nullptr) *prefixLength = prefix;
  return key;
}

bool TKeySearch::Seek(const uint8_t* key, const TResultSet& results, TIndexEntry& entry) {
  TTreePosition p = tree_.LowerBound(key);
  if (!p.Valid() || (results.RangeActive() && p.Ordinal > results.RangeLast())) return false;
  if (results.RangeActive() && p.Ordinal < results.RangeFirst()) p = tree_.AtOrdinal(results.RangeFirst());
  TIndexEntry found;
  found.Position = p;
  found.Key = tree_.KeyAt(p, &found.Record);
  if (!results.Contains(found.Record) && !results.Step(tree_, p, true, found)) return false;
  entry = std::move(found);
  return true;
}

bool TKeySearch::Find(const std::vector<uint8_t>& key, size_t length, const TResultSet& results,
                      TIndexEntry& entry) {
  const TTreePosition p = tree_.LowerBound(key.data());
  if (!p.Valid()) return false;
  if (results.RangeActive() && (p.Ordinal < results.RangeFirst() || p.Ordinal > results.RangeLast())) return false;
  int32_t recordNumber = 0;
  std::vector<uint8_t> found = tree_.KeyAt(p, &recordNumber);
  if (key_.CompareKeys(found.data(), key.data(), length) != 0 || !results.Contains(recordNumber)) return false;
  entry.Position = p;
  entry.Key = std::move(found);
  entry.Record = recordNumber;
  return true;
}

}  // namespace tessel
