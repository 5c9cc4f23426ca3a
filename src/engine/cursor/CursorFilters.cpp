// Attaching, activating and dropping the cursor's filters. Activating or
// deactivating one switches bitmap mode as needed and keeps the cursor on
// its record when that record is still in the record set.
#include <algorithm>

#include "engine/base/TesselError.h"
#include "engine/cursor/CursorFilter.h"
#include "engine/cursor/CursorFrame.h"
#include "engine/cursor/DataCursor.h"

namespace tessel {

namespace {
constexpr size_t kMaxFilters = 256;
}

TFilter* TDataCursor::AddFilter(std::unique_ptr<TFilter> filter) {
  CheckOpen();
  if (!filter) Raise(ec::InvalidFilterHandle);
  if (filters_.size() >= kMaxFilters) Raise(ec::TooManyFilters);
  filter->active_ = false;
  filter->bits_.Resize(0);
  filters_.push_back(std::move(filter));
  return filters_.back().get();
}

bool TDataCursor::Filtered() const {
  return std::any_of(filters_.begin(), filters_.end(), [](const auto& f) { return f->Active(); });
}

namespace {
template <typename List>
auto FindFilter(List& filters, const TFilter* filter) {
  return std::find_if(filters.begin(), filters.end(), [&](const auto& f) { return f.get() == filter; });
}
}  // namespace

void TDataCursor::ActivateFilter(TFilter* filter) {
  CheckOpen();
  auto it = FindFilter(filters_, filter);
  if (it == filters_.end()) Raise(ec::InvalidFilterHandle);
  if (filter->Active()) return;
  TCursorFrame::Run(*this, [&] {
    const std::vector<uint8_t> bookmark = Bookmark();
    filter->active_ = true;
    try {
      UpdateMode();
      RecomputeRangeOrdinals();
      BuildAllRecordsBitmap();
      EvaluateFilter(*filter);
      BuildBitmaps(false);
    } catch (...) {
      filter->active_ = false;
      filter->bits_.Resize(0);
      UpdateMode();
      throw;
    }
    GotoBookmarkInternal(bookmark, true);
  });
}

void TDataCursor::DeactivateFilter(TFilter* filter) {
  CheckOpen();
  auto it = FindFilter(filters_, filter);
  if (it == filters_.end()) Raise(ec::InvalidFilterHandle);
  if (!filter->Active()) return;
  TCursorFrame::Run(*this, [&] {
    const std::vector<uint8_t> bookmark = Bookmark();
    filter->active_ = false;
    filter->bits_.Resize(0);
    UpdateMode();
    if (bitmapMode_) BuildBitmaps(false);
    GotoBookmarkInternal(bookmark, true);
  });
}

void TDataCursor::DropFilter(TFilter* filter) {
  CheckOpen();
  auto it = FindFilter(filters_, filter);
  if (it == filters_.end()) Raise(ec::InvalidFilterHandle);
  if (filter->Active()) DeactivateFilter(filter);
  filters_.erase(FindFilter(filters_, filter));
}

void TDataCursor::DropAllFilters() {
  CheckOpen();
  const bool wasFiltered = Filtered();
  if (!wasFiltered) {
    filters_.clear();
    return;
  }
  TCursorFrame::Run(*this, [&] {
    const std::vector<uint8_t> bookmark = Bookmark();
    filters_.clear();
    UpdateMode();
    if (bitmapMode_) BuildBitmaps(false);
    GotoBookmarkInternal(bookmark, true);
  });
}

}  // namespace tessel
