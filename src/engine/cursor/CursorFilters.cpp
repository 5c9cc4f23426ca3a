// Attaching, activating and dropping the cursor's filters. Activating or
// deactivating one switches bitmap mode as needed and keeps the cursor on
// its record when that record is still in the record set.
#include "engine/base/TesselError.h"
#include "engine/cursor/CursorFilter.h"
#include "engine/cursor/CursorFrame.h"
#include "engine/cursor/DataCursor.h"

namespace tessel {

TFilter* TDataCursor::AddFilter(std::unique_ptr<TFilter> filter) {
  CheckOpen();
  if (!filter) Raise(ec::InvalidFilterHandle);
  if (results_.Full()) Raise(ec::TooManyFilters);
  return results_.AddFilter(std::move(filter));
}

bool TDataCursor::Filtered() const { return results_.Filtered(); }

void TDataCursor::ActivateFilter(TFilter* filter) {
  CheckOpen();
  if (!results_.Holds(filter)) Raise(ec::InvalidFilterHandle);
  if (filter->Active()) return;
  TCursorFrame::Run(*this, [&] {
    const std::vector<uint8_t> bookmark = Bookmark();
    results_.Activate(*filter);
    try {
      UpdateMode();
      RecomputeRangeOrdinals();
      BuildAllRecordsBitmap();
      EvaluateFilter(*filter);
      BuildBitmaps(false);
    } catch (...) {
      results_.Deactivate(*filter);
      UpdateMode();
      throw;
    }
    GotoBookmarkInternal(bookmark, true);
  });
}

void TDataCursor::DeactivateFilter(TFilter* filter) {
  CheckOpen();
  if (!results_.Holds(filter)) Raise(ec::InvalidFilterHandle);
  if (!filter->Active()) return;
  TCursorFrame::Run(*this, [&] {
    const std::vector<uint8_t> bookmark = Bookmark();
    results_.Deactivate(*filter);
    UpdateMode();
    if (results_.BitmapMode()) BuildBitmaps(false);
    GotoBookmarkInternal(bookmark, true);
  });
}

void TDataCursor::DropFilter(TFilter* filter) {
  CheckOpen();
  if (!results_.Holds(filter)) Raise(ec::InvalidFilterHandle);
  if (filter->Active()) DeactivateFilter(filter);
  results_.Remove(filter);
}

void TDataCursor::DropAllFilters() {
  CheckOpen();
  if (!Filtered()) {
    results_.RemoveAll();
    return;
  }
  TCursorFrame::Run(*this, [&] {
    const std::vector<uint8_t> bookmark = Bookmark();
    results_.RemoveAll();
    UpdateMode();
    if (results_.BitmapMode()) BuildBitmaps(false);
    GotoBookmarkInternal(bookmark, true);
  });
}

}  // namespace tessel
