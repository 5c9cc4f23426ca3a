// Streams: the interface through which BLOB and memo fields are read and
// written (a record set's CreateBlobStream makes one for a field of the
// current record).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace dataset {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };
enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes at the position; answers the number read.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes at the position; answers the number written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; answers the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  // Cuts the stream off at the position.
  virtual void Truncate() = 0;

  virtual int64_t Size() {
    int64_t position = Seek(0, soCurrent);
    int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
  }
  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }

  // The bytes from the position to the end, read in one call of the length
  // the stream's size leaves, so that a stream which reports reading past
  // its end as an error never runs into it.
  std::string ReadToEnd() {
    const int64_t position = Position();
    const int64_t left = Size() - position;
    if (left <= 0) return {};
    std::string result(static_cast<std::size_t>(left), '\0');
    const int64_t n = Read(result.data(), left);
    result.resize(static_cast<std::size_t>(std::max<int64_t>(n, 0)));
    return result;
  }
  void WriteString(const std::string& bytes) {
    if (!bytes.empty()) Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
};

}  // namespace dataset
