// Opens a table built from the input's data, index and BLOB file images, walks it
// in physical order and through every index, reads every field and BLOB,
// checks its structure and (by the input's options) searches, writes and
// repairs it.
#include <cstddef>
#include <cstdint>

#include "engine/storage/FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::fuzz::RunOpenTable(data, size);
  return 0;
}
