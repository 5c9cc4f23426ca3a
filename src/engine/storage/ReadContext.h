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
};

}  // namespace tessel
