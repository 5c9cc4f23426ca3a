// The frame every cursor operation runs in (internal to the cursor's
// implementation files).
//
// A frame makes the cursor the read context of the table's page store for
// the operation's duration, brings the session's lock settings to the table,
// looks for other users' changes at the start (the read lock and the file
// counters with strict change detection on or when asked, else only the
// counters in memory, which other cursors of this program move) and ends
// with EndRead, also when the operation fails.
//
// When a record, page or block has to come from the file and the read lock
// taken for it shows that another user changed the table, the fetch gives up
// (ETableChanged, or TCursorRestart for a record); Run then repositions the
// cursor, returns to the position it had when the operation began and runs
// the operation again.
#pragma once

#include <type_traits>
#include <utility>
#include <vector>

#include "engine/base/TesselError.h"
#include "engine/cursor/DataCursor.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/IndexFile.h"

namespace tessel {

// A record fetch that gave up because the table changed underneath it.
struct TCursorRestart {};

// Keeps a cursor's bulk load going through the frames of one operation (an
// insert, a BLOB buffer's work); the frame of any other operation ends the
// bulk load first, so that it finds its indexes built.
class TBulkHold {
 public:
  explicit TBulkHold(TDataCursor& cursor) : cursor_(cursor) { ++cursor_.bulkHold_; }
  ~TBulkHold() { --cursor_.bulkHold_; }
  TBulkHold(const TBulkHold&) = delete;
  TBulkHold& operator=(const TBulkHold&) = delete;

 private:
  TDataCursor& cursor_;
};

class TCursorFrame {
 public:
  // lockRead: take the read lock and look for changes (SyncRead) at the
  // start whatever the session's setting. detect off: no look at the
  // counters in memory at the start (a write or an edit's lock compares the
  // record as last read with the one under the lock, and finds the changes
  // itself).
  TCursorFrame(TDataCursor& cursor, bool lockRead = false, bool detect = true);
  ~TCursorFrame();
  TCursorFrame(const TCursorFrame&) = delete;
  TCursorFrame& operator=(const TCursorFrame&) = delete;

  // Ends the frame; the outermost one releases the read lock (may raise).
  void Finish();

  template <typename F>
  static auto Run(TDataCursor& cursor, F&& body, bool lockRead = false, bool detect = true)
      -> decltype(body()) {
    using R = decltype(body());
    TCursorFrame frame(cursor, lockRead, detect);
    for (int attempt = 0;; ++attempt) {
      const uint8_t index = cursor.indexNumber_;
      const bool bof = cursor.bof_;
      const bool eof = cursor.eof_;
      const std::vector<uint8_t> bookmark = cursor.Bookmark();
      try {
        if constexpr (std::is_void_v<R>) {
          body();
          frame.Settle();
          frame.Finish();
          return;
        } else {
          R result = body();
          frame.Settle();
          frame.Finish();
          return result;
        }
      } catch (const ETableChanged&) {
        if (attempt >= kMaxRestarts) throw;
      } catch (const TCursorRestart&) {
        if (attempt >= kMaxRestarts) RaiseEngineError(ec::RecordBuffersCorrupt, cursor.TableName());
      }
      // The read lock taken by the fetch is held from here on, so the
      // repositioning sees a stable table.
      cursor.changePending_ = false;
      if (cursor.indexNumber_ != index) {
        cursor.LoadIndex(index);
        cursor.UpdateMode();
      }
      cursor.bof_ = bof;
      cursor.eof_ = eof;
      cursor.Reposition();
      cursor.GotoBookmarkInternal(bookmark, true);
    }
  }

 private:
  static constexpr int kMaxRestarts = 4;
  // A change noticed by a fetch that did not give up (a BLOB load starts
  // over by itself): the cursor repositions before the operation ends.
  void Settle();

  TDataCursor& cursor_;
  TReadContext* previousContext_ = nullptr;
  bool finished_ = false;
};

}  // namespace tessel
