// The records a cursor presents: the key range over its ordering index and
// the filters attached to it, and in bitmap mode (physical order, or a
// filter active) the bitmaps that combine them.
//
// - The range is two search keys of the ordering index; its first and last
//   ordinals are recomputed whenever the index may have changed. Without a
//   range (or in physical order) it spans ordinals 1 to the active record
//   count.
// - In bitmap mode the result is the bitmap of the active records ("Sys
//   Deleted" read backwards), and-ed with the range's bitmap (index mode
//   with a range) and with every active filter's bitmap. Outside bitmap mode
//   every record of the range is in the result.
// - Filters are owned here; a filter's bitmap is evaluated when it is
//   activated, when the table was changed by another user, and for one
//   record after a write.
//
// The result set reads the table only through the trees, counts and
// callbacks it is handed; the cursor fetches records and judges filters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/cursor/CursorFilter.h"
#include "engine/cursor/RecordBitmap.h"
#include "engine/storage/IndexTree.h"

namespace tessel {

// One entry of an index: where it is, its key and its record number.
struct TIndexEntry {
  TTreePosition Position;
  std::vector<uint8_t> Key;
  int32_t Record = 0;
};

class TResultSet {
 public:
  // ---- range ----
  bool RangeActive() const { return rangeActive_; }
  const std::vector<uint8_t>& RangeStart() const { return rangeStart_; }
  const std::vector<uint8_t>& RangeEnd() const { return rangeEnd_; }
  int32_t RangeFirst() const { return rangeFirst_; }
  int32_t RangeLast() const { return rangeLast_; }
  void SetRange(std::vector<uint8_t> start, std::vector<uint8_t> end);
  // No range; the keys are kept open over keyLength bytes (all 0x00 to all
  // 0xFF), or dropped when keyLength is 0.
  void CancelRange(size_t keyLength);
  void CopyRange(const TResultSet& other);
  // order and key are the ordering index when the result is ranged (index
  // mode with a range); null otherwise: the span is then 1 to activeCount.
  void RecomputeRangeOrdinals(int32_t activeCount, TIndexTree* order, const TKeyContext* key);
  // Whether a step in the given direction to ordinal leaves the range.
  bool BeyondRange(int32_t ordinal, bool forward) const {
    return rangeActive_ && (forward ? ordinal > rangeLast_ : ordinal < rangeFirst_);
  }
  // Records of the range; in bitmap mode, of the result.
  int32_t RecordCount() const;

  // ---- bitmap mode ----
  bool BitmapMode() const { return bitmapMode_; }
  // Bitmap mode on when wanted; leaving it frees the bitmaps.
  void SetBitmapMode(bool wanted);
  // Whether a record is in the result (always, outside bitmap mode).
  bool Contains(int32_t recordNumber) const { return !bitmapMode_ || resultBits_.Test(recordNumber); }
  const TRecordsBitmap& Bits() const { return resultBits_; }
  const TRecordsBitmap& AllRecords() const { return allBits_; }
  int32_t Count() const { return resultCount_; }
  void FreeBitmaps();

  // The bitmap of the active records over slots record slots, from "Sys
  // Deleted".
  void BuildAllRecords(int32_t slots, TIndexTree deleted);
  // The range's bitmap over slots record slots: the entries of the range,
  // or (without a locale, when the range holds most entries) the entries
  // outside it, inverted.
  void BuildRange(int32_t slots, TIndexTree order, bool locale);
  // The result: all records, and-ed with the range (when ranged) and every
  // active filter.
  void Combine(int32_t slots, bool ranged);
  // Everything anew (bitmap mode only; nothing otherwise). order is the
  // ordering index when the result is ranged (index mode with a range),
  // else null. Filters whose bitmap no longer fits the table, or all of
  // them when reevaluate is set (other users' records are judged again),
  // are evaluated through evaluate.
  void Build(bool reevaluate, int32_t slots, TIndexTree deleted, TIndexTree* order, bool locale,
             const std::function<void(TFilter&)>& evaluate);
  // One record after a write (bitmap mode only): image present or gone;
  // order is the ordering index when the result is ranged, else null;
  // passes judges the record by an active filter.
  void UpdateRecord(int32_t slot, const uint8_t* image, bool present, int32_t slots, const TKeyContext* order,
                    const std::function<bool(const TFilter&)>& passes);

  // ---- filters ----
  // Attaches a filter, inactive; answers its handle.
  TFilter* AddFilter(std::unique_ptr<TFilter> filter);
  // No room for another filter (256 attached).
  bool Full() const;
  bool Holds(const TFilter* filter) const;
  bool Filtered() const;  // some filter active
  const std::vector<std::unique_ptr<TFilter>>& Filters() const { return filters_; }
  void Activate(TFilter& filter) { filter.active_ = true; }
  // Inactive, its bitmap freed.
  void Deactivate(TFilter& filter);
  void Remove(const TFilter* filter);
  void RemoveAll() { filters_.clear(); }
  // The filter's bitmap over slots record slots: every active record for
  // which passes(record number) is true.
  void EvaluateFilter(TFilter& filter, int32_t slots, const std::function<bool(int32_t)>& passes);

  // ---- walking the ordering index ----
  // From position from (exclusive), the nearest entry in the given
  // direction that lies in the range and the result; false when there is
  // none (entry unchanged).
  bool Step(TIndexTree& tree, const TTreePosition& from, bool forward, TIndexEntry& entry) const;

  // Everything dropped, as for a closed cursor.
  void Reset();

 private:
  bool rangeActive_ = false;
  std::vector<uint8_t> rangeStart_;
  std::vector<uint8_t> rangeEnd_;
  int32_t rangeFirst_ = 0;
  int32_t rangeLast_ = 0;

  bool bitmapMode_ = false;
  TRecordsBitmap resultBits_;
  TRecordsBitmap rangeBits_;
  TRecordsBitmap allBits_;
  int32_t resultCount_ = 0;
  std::vector<std::unique_ptr<TFilter>> filters_;
};

}  // namespace tessel
