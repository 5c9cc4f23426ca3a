#include "engine/storage/BlobFile.h"

#include "engine/storage/Bytes.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/Scramble.h"

namespace tessel {

TBlobFile::TBlobFile(TDataTable& table) : table_(table) {}

TBlobFile::~TBlobFile() = default;

void TBlobFile::ReadBlobHeader() {
  uint8_t image[kBlobHeaderSize];
  ReadAt(0, image, sizeof image);
  if (table_.IsEncrypted()) ScrambleData(image, sizeof image);
  Header = TBlobHeader::Decode(image);
  HeaderModified = false;
}

void TBlobFile::WriteBlobHeader(bool force) {
  if (!force && !HeaderModified) return;
  ++Header.ChangeCounter;
  Header.HeaderModifiedFlag = HeaderModified ? 1 : 0;
  uint8_t image[kBlobHeaderSize];
  Header.Encode(image);
  if (table_.IsEncrypted()) ScrambleData(image, sizeof image);
  WriteAt(0, image, sizeof image);
  HeaderModified = false;
}

int32_t TBlobFile::ReadChangeCounter() {
  uint8_t counter[4];
  ReadAt(0, counter, sizeof counter);
  if (table_.IsEncrypted()) ScrambleData(counter, sizeof counter);
  return GetI32(counter);
}

void TBlobFile::InitBlobHeader() {
  Header = TBlobHeader{};
  Header.Version = kFormatVersion;
  Header.FreeBlock = 0;
  Header.EndOfFile = kBlobHeaderSize;
  HeaderModified = true;
}

void TBlobFile::EmptyBlobs() {
  const uint8_t none = 0;
  Seek(kBlobHeaderSize);
  Write(&none, 0);
  Header.EndOfFile = kBlobHeaderSize;
  Header.FreeBlock = 0;
  HeaderModified = true;
}

}  // namespace tessel
