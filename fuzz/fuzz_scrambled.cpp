// As fuzz_open_table, for an encrypted table: the input holds the plain images,
// which are scrambled unit by unit before the engine opens them; the password
// is given to the session or (by an option) withheld.
#include <cstddef>
#include <cstdint>

#include "engine/storage/FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::fuzz::RunScrambledTable(data, size);
  return 0;
}
