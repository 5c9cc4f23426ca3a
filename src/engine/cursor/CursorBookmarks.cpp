// Bookmarks: the current index entry's key (or the physical record number in
// physical order), found again by a key search.
#include <cstring>

#include "engine/base/Bytes.h"
#include "engine/cursor/CursorFrame.h"
#include "engine/cursor/DataCursor.h"
#include "engine/cursor/KeySearch.h"
#include "engine/storage/IndexKey.h"

namespace tessel {

uint16_t TDataCursor::BookmarkSize() const {
  if (!open_) return 0;
  return PhysicalOrder() ? 4 : KeyLength();
}

std::vector<uint8_t> TDataCursor::Bookmark() const {
  std::vector<uint8_t> result(BookmarkSize(), 0);
  if (!open_ || Empty()) return result;
  if (PhysicalOrder()) {
    PutI32(result.data(), physical_);
  } else if (key_.size() == result.size()) {
    result = key_;
  }
  return result;
}

void TDataCursor::GetBookmark(uint8_t* destination) const {
  if (destination == nullptr) return;
  const std::vector<uint8_t> bookmark = Bookmark();
  if (!bookmark.empty()) std::memcpy(destination, bookmark.data(), bookmark.size());
}

int TDataCursor::CompareBookmarks(const uint8_t* a, const uint8_t* b) const {
  CheckOpen();
  if (PhysicalOrder()) {
    const int32_t x = GetI32(a);
    const int32_t y = GetI32(b);
    return x > y ? 1 : (x < y ? -1 : 0);
  }
  const int c = keys_->Made(indexNumber_)->CompareKeys(a, b, KeyLength());
  return c > 0 ? 1 : (c < 0 ? -1 : 0);
}

bool TDataCursor::GotoBookmark(const uint8_t* bookmark, bool loose) {
  CheckOpen();
  if (bookmark == nullptr) return false;
  const std::vector<uint8_t> copy(bookmark, bookmark + BookmarkSize());
  return TCursorFrame::Run(*this, [&]() -> bool {
    const bool found = GotoBookmarkInternal(copy, loose);
    return found;
  });
}

bool TDataCursor::GotoBookmarkInternal(const std::vector<uint8_t>& bookmark, bool loose) {
  const bool wasBof = bof_;
  const bool wasEof = eof_;
  bool pastEnd = false;

  if (PhysicalOrder()) {
    const int32_t wanted = bookmark.size() >= 4 ? GetI32(bookmark.data()) : 0;
    if (results_.Count() == 0 || results_.Bits().Size() == 0) {
      SetEmpty();
      return loose;
    }
    MakePhysicalCurrent(wanted);
    if (Empty()) return loose;
    pastEnd = physical_ < wanted;
  } else {
    if (RecordCount() == 0 || bookmark.size() != KeyLength()) {
      SetEmpty();
      return loose;
    }
    TIndexEntry entry;
    if (Search().Seek(bookmark.data(), results_, entry)) {
      TakeEntry(std::move(entry));
    } else {
      pastEnd = true;
    }
    if (pastEnd && !LastOfSet()) {
      SetEmpty();
      return loose;
    }
  }
  bof_ = eof_ = false;

  bool result = true;
  if (loose) {
    // A cursor that stood on a crack goes back to it when the entry found is
    // still the first (last) one of the record set.
    if (wasBof && !pastEnd) {
      if (Step(false)) {
        Step(true);
      } else {
        bof_ = true;
      }
    } else if (wasEof) {
      if (Step(true)) {
        Step(false);
      } else {
        eof_ = true;
      }
    }
  } else {
    if (pastEnd) eof_ = true;
    result = !pastEnd && CompareBookmarks(Bookmark().data(), bookmark.data()) == 0;
  }
  backward_ = false;
  ReadAtPosition();
  return result;
}

}  // namespace tessel
