// Turns real tables into seed inputs for the fuzz targets.
//
//   fuzz_seeds CORPUS_DIR TABLE...
//
// TABLE is a table's path without extension (its .DAT and, when present,
// .IDX and .BLB file are read; a table without its .IDX makes seeds that
// open without the index file, which the engine then re-creates, and one
// more that opens it read-only). For every table it writes, in the target's
// directory under CORPUS_DIR:
//   fuzz_open_table  the three files with a few option sets (plain tables)
//   fuzz_scrambled   the plain images (an encrypted table is unscrambled)
//   fuzz_index_page  the index file's pages, once per index that has a root
//   fuzz_blob_chain  the BLOB file and the records' BLOB references
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/storage/Formats.h"
#include "engine/storage/FuzzHarness.h"
#include "engine/storage/Record.h"

namespace {

using namespace tessel;
using namespace tessel::fuzz;
namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteSeed(const fs::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::cout << (dir / name).string() << " " << bytes.size() << " bytes\n";
}

void AppendU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void AppendI32(std::vector<uint8_t>& out, int32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

// Index page seeds: all pages of the index file, the root and free head of
// one index, its settings.
void IndexSeeds(const fs::path& corpus, const std::string& name, const TTableImages& plain) {
  if (plain.Index.size() < static_cast<size_t>(2 * kPageSize)) return;
  const TIndexHeader header = TIndexHeader::Decode(plain.Index.data());
  const std::vector<uint8_t> pages(plain.Index.begin() + kPageSize, plain.Index.end());
  const int pageCount = static_cast<int>(pages.size() / kPageSize);
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    const TIndexDesc& d = header.Indexes[static_cast<size_t>(slot)];
    if (d.RootPage == 0 || d.KeyLength == 0) continue;
    auto selector = [&](int32_t position) -> uint8_t {
      const int page = position / kPageSize - 1;
      return position == 0 || page < 0 || page >= pageCount || page > 254 ? 255 : static_cast<uint8_t>(page);
    };
    std::vector<uint8_t> seed;
    seed.push_back(static_cast<uint8_t>((d.Compression & 3) | (d.Unique != 0 ? 4 : 0) | (d.Descending != 0 ? 8 : 0)));
    AppendU16(seed, static_cast<uint16_t>(d.KeyLength - 1));
    seed.push_back(selector(d.RootPage));
    seed.push_back(selector(d.FreePage));
    seed.push_back(24);
    const std::vector<uint8_t> packed = PackZeroRuns(pages);
    seed.insert(seed.end(), packed.begin(), packed.end());
    WriteSeed(corpus / "fuzz_index_page", name + "-index" + std::to_string(slot), seed);
  }
}

// BLOB chain seeds: the block size, the first two BLOB fields' references of
// every active record (at most 255), the BLOB file.
void BlobSeeds(const fs::path& corpus, const std::string& name, const TTableImages& plain) {
  if (plain.Blob.empty() || plain.Data.size() < static_cast<size_t>(kDataHeaderSize)) return;
  const TDataHeader header = TDataHeader::Decode(plain.Data.data());
  std::vector<TFieldDesc> blobFields;
  for (int f = 0; f < header.FieldCount; ++f) {
    const size_t at = kDataHeaderSize + static_cast<size_t>(f) * kFieldDescSize;
    if (at + kFieldDescSize > plain.Data.size()) return;
    const TFieldDesc d = TFieldDesc::Decode(plain.Data.data() + at);
    if (d.Type == ftBlob && blobFields.size() < 2) blobFields.push_back(d);
  }
  if (blobFields.empty() || header.RecordSize == 0) return;
  const size_t start = kDataHeaderSize + size_t{header.FieldCount} * kFieldDescSize;
  std::vector<uint8_t> refs;
  int records = 0;
  for (size_t at = start; at + header.RecordSize <= plain.Data.size() && records < 255; at += header.RecordSize) {
    const uint8_t* slot = plain.Data.data() + at;
    if (slot[0] != 0) continue;
    for (size_t b = 0; b < 2; ++b) {
      if (b < blobFields.size()) {
        const uint8_t* area = slot + blobFields[b].RecordOffset;
        AppendI32(refs, GetI32(area + 1));
        AppendI32(refs, GetI32(area + 5));
      } else {
        AppendI32(refs, 0);
        AppendI32(refs, 0);
      }
    }
    ++records;
  }
  const uint32_t blockSize = header.EffectiveBlockSize();
  uint8_t options = 0;
  uint8_t sizeByte = 0;
  if (blockSize != 512) {
    if (blockSize < 64 || (blockSize - 64) % 4 != 0 || (blockSize - 64) / 4 > 255) return;
    options |= kBlobOwnBlockSize;
    sizeByte = static_cast<uint8_t>((blockSize - 64) / 4);
  }
  const std::vector<uint8_t> packed = PackZeroRuns(plain.Blob);
  for (uint8_t extra : {uint8_t{0}, uint8_t{kBlobWrites | kBlobExclusive | kBlobRepair}}) {
    std::vector<uint8_t> seed{static_cast<uint8_t>(options | extra), sizeByte, static_cast<uint8_t>(records)};
    seed.insert(seed.end(), refs.begin(), refs.end());
    seed.insert(seed.end(), packed.begin(), packed.end());
    WriteSeed(corpus / "fuzz_blob_chain", name + (extra != 0 ? "-writes" : ""), seed);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: fuzz_seeds CORPUS_DIR TABLE...\n";
    return 2;
  }
  const fs::path corpus = argv[1];
  for (int i = 2; i < argc; ++i) {
    const fs::path base = argv[i];
    const std::string name = base.filename().string();
    TTableImages images;
    const uint8_t lost = fs::exists(base.string() + ".IDX") ? 0 : kOptNoIndexFile;
    images.Data = ReadFile(base.string() + ".DAT");
    images.Index = ReadFile(base.string() + ".IDX");
    images.Blob = ReadFile(base.string() + ".BLB");
    if (images.Data.size() < static_cast<size_t>(kDataHeaderSize)) {
      std::cerr << "fuzz_seeds: no data file for " << base << "\n";
      return 1;
    }
    const bool encrypted = images.Data[86] != 0;
    TTableImages plain = images;
    if (encrypted) ScrambleTableImages(plain);

    if (!encrypted) {
      images.Options = lost;
      WriteSeed(corpus / "fuzz_open_table", name, FrameTable(images));
      images.Options = lost | kOptWrites | kOptSearches | kOptSecondCursor;
      WriteSeed(corpus / "fuzz_open_table", name + "-writes", FrameTable(images));
      images.Options = lost | kOptExclusive | kOptRepair | kOptWrites;
      WriteSeed(corpus / "fuzz_open_table", name + "-repair", FrameTable(images));
      if (lost != 0) {
        images.Options = lost | kOptReadOnly | kOptSearches;
        WriteSeed(corpus / "fuzz_open_table", name + "-readonly", FrameTable(images));
      }
    }
    plain.Options = lost;
    WriteSeed(corpus / "fuzz_scrambled", name, FrameTable(plain));
    plain.Options = lost | kOptWrites | kOptSearches;
    WriteSeed(corpus / "fuzz_scrambled", name + "-writes", FrameTable(plain));
    IndexSeeds(corpus, name, plain);
    BlobSeeds(corpus, name, plain);
  }
  return 0;
}
