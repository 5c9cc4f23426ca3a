// What a cache needs of the cursor on whose behalf it reads: the change
// check that runs when a record, page or block is not cached, and the
// read-ahead plan in the cursor's direction of travel.
#pragma once

#include <cstdint>

namespace tessel {

class TReadContext {
 public:
  virtual ~TReadContext() = default;

  // Runs before a record, page or block is read from the file because it is
  // not cached. With strict change detection off the cursor takes the read
  // lock here (which checks the change counters). Returns true when another
  // user changed the table: the fetch then hands back no holder and the
  // caller restarts its operation from its saved position.
  virtual bool BeforeCacheMiss() = 0;

  // The record numbers the cursor will visit next, starting with first, in
  // its direction of travel: fills up to max numbers into out and returns how
  // many; 0 means "no plan" (the cache reads the following slots instead).
  virtual int PlanRecordRun(int32_t first, int32_t* out, int max) {
    (void)first;
    (void)out;
    (void)max;
    return 0;
  }
  // True while the cursor walks backwards (a run then ends at the record).
  virtual bool ReadingBackward() const { return false; }

  // Scattered read-ahead while the cursor walks an index record by record:
  // the record numbers it will visit after first (which it is reading now),
  // wherever they lie; up to max into out, answering how many. 0: none.
  // The cache reads those it lacks under the same read lock as the miss.
  virtual int PlanRecordPrefetch(int32_t first, int32_t* out, int max) {
    (void)first;
    (void)out;
    (void)max;
    return 0;
  }
  // The same for BLOBs: the first blocks of the BLOBs of the records the
  // cursor will visit next (those whose record is cached), when a BLOB of
  // the current record had to be read from the file.
  virtual int PlanBlockPrefetch(int32_t* out, int max) {
    (void)out;
    (void)max;
    return 0;
  }
};

}  // namespace tessel
