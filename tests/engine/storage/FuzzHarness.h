// The code shared by the engine's fuzz targets and by the regression test
// that replays the inputs they found: each Run function takes one input of
// arbitrary bytes, builds table files (or index pages, or a BLOB file) from
// it in the in-memory file store, and works through them the way a program
// would. A run must end in success or in an engine error; anything else (a
// crash, a sanitizer report, another exception, a broken invariant reported
// as TFuzzFinding) is a finding.
//
// Input framing. File images are zero-run coded so that the fuzzer spends its
// mutations on the bytes that carry meaning rather than on the long runs of
// zeros in headers and pages: a byte other than 0 stands for itself, a 0 byte
// is followed by a count c and stands for c + 1 zero bytes (a 0 at the very
// end stands for one zero).
//
// Table input (RunOpenTable, RunScrambledTable):
//   byte 0       options (kOpt... below)
//   3 sections   data, index and BLOB file: u32 little-endian length n, then
//                n bytes of zero-run coded image (n is cut to what is left)
//
// Index page input (RunIndexPages):
//   byte 0       bits 0-1 compression, bit 2 unique, bit 3 descending,
//                bit 4 scrambled store, bit 5 no tree edits
//   bytes 1-2    key length (u16; taken modulo the largest key length, plus 1)
//   byte 3       root page (page number modulo the page count; 255: no root)
//   byte 4       free page head (as the root)
//   byte 5       number of keys to insert and delete in the tree phase
//   rest         zero-run coded image of up to 64 pages (page n at 4096 * n)
//
// BLOB chain input (RunBlobChains):
//   byte 0       options (kBlob... below)
//   byte 1       block size: 64 + 4 * byte (when kBlobOwnBlockSize, else 512)
//   byte 2       record count n
//   n * 16       per record: first block and BLOB identifier of the "note"
//                field, then of the "data" field (i32 little-endian each)
//   rest         zero-run coded image of the BLOB file
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessel::fuzz {

// A broken invariant that the harness checks itself (a leaked file handle,
// a page that does not read back as written, a sound table left unsound).
class TFuzzFinding : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// Options of a table input.
constexpr uint8_t kOptNoIndexFile = 0x01;   // the index file is missing (re-created at open)
constexpr uint8_t kOptNoBlobFile = 0x02;    // the BLOB file is missing
constexpr uint8_t kOptReadOnly = 0x04;      // opened read-only
constexpr uint8_t kOptExclusive = 0x08;     // opened exclusively
constexpr uint8_t kOptWrites = 0x10;        // insert, modify and delete after the walk
constexpr uint8_t kOptRepair = 0x20;        // repair (exclusive, writable) after the check
constexpr uint8_t kOptSearches = 0x40;      // key searches, ranges and a filter on every order
constexpr uint8_t kOptSecondCursor = 0x80;  // a clone walks beside the first cursor;
                                            // scrambled tables: the password is withheld

// Options of a BLOB chain input.
constexpr uint8_t kBlobRepair = 0x01;        // repair (exclusive) after the check
constexpr uint8_t kBlobWrites = 0x02;        // rewrite, shorten, empty values, delete records
constexpr uint8_t kBlobExclusive = 0x04;     // opened exclusively
constexpr uint8_t kBlobOwnBlockSize = 0x08;  // block size from byte 1
constexpr uint8_t kBlobScrambled = 0x10;     // an encrypted table

// What one run came to (for statistics and tests; a run never fails through it).
struct TRunOutcome {
  bool Opened = false;        // a cursor opened the table
  uint16_t FirstError = 0;    // the first engine error met, 0 when none
  int EngineErrors = 0;       // engine errors met (and accepted)
  int RecordsRead = 0;        // records read by the walks
  int VerifyFindings = 0;     // findings of the structure check(s)
};

TRunOutcome RunOpenTable(const uint8_t* data, size_t size);
TRunOutcome RunScrambledTable(const uint8_t* data, size_t size);
TRunOutcome RunIndexPages(const uint8_t* data, size_t size);
TRunOutcome RunBlobChains(const uint8_t* data, size_t size);

// --- framing, for the seed maker and the tests ---

// The largest file image an input may expand to.
constexpr size_t kMaxImageSize = size_t{4} << 20;

std::vector<uint8_t> PackZeroRuns(const std::vector<uint8_t>& image);
// Expands at most limit bytes.
std::vector<uint8_t> UnpackZeroRuns(const uint8_t* data, size_t size, size_t limit = kMaxImageSize);

struct TTableImages {
  uint8_t Options = 0;
  std::vector<uint8_t> Data;
  std::vector<uint8_t> Index;
  std::vector<uint8_t> Blob;
};
std::vector<uint8_t> FrameTable(const TTableImages& images);
TTableImages UnframeTable(const uint8_t* data, size_t size);

// Scrambles (or, applied again, unscrambles) the units of an encrypted
// table's images: the field descriptors as one unit, each record slot, the
// index header and each page, the BLOB header, each block's header and data.
// The data header is never scrambled; the layout is taken from it.
void ScrambleTableImages(TTableImages& images);

}  // namespace tessel::fuzz
