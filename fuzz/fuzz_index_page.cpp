// Decodes index pages in every compression mode and key length, encodes them
// again, and works on them as one B+-tree: structure check, walk, searches,
// inserts and deletes.
#include <cstddef>
#include <cstdint>

#include "engine/storage/FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::fuzz::RunIndexPages(data, size);
  return 0;
}
