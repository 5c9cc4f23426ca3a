// Counts the bytes the program holds through operator new, so that a
// workload's peak heap use on the Tessel side can be read. SQLite allocates
// through its own allocator, whose high-water mark SQLite keeps itself.
#pragma once

#include <cstddef>

namespace bench {

// Bytes currently held through operator new.
size_t HeapInUse();
// Sets the peak to the bytes held now; answers that figure.
size_t ResetHeapPeak();
// The highest figure of HeapInUse since the last reset.
size_t HeapPeak();

}  // namespace bench
