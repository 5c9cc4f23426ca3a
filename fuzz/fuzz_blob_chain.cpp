// Builds a table whose records name BLOB chains in a BLOB file from the input,
// reads every value, checks and repairs the chains, and rewrites, empties and
// deletes values.
#include <cstddef>
#include <cstdint>

#include "engine/storage/FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::fuzz::RunBlobChains(data, size);
  return 0;
}
