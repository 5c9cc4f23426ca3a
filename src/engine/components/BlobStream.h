// The stream over one BLOB or memo field of a record set's current row.
//
// Made by the record set's CreateBlobStream. While a stream is open on a
// row, the cursor holds the field's value in a BLOB buffer attached to the
// row (the row's BLOB reference is then the buffer's negative handle). A
// stream that wrote marks the field modified, so the buffer stays attached
// until the row is posted or cancelled; a stream that only read detaches it
// again when it is destroyed.
#pragma once

#include <cstdint>

#include "dataset/BlobStream.h"
#include "dataset/FieldKinds.h"

namespace tessel {

class TTesselDataSet;

class TTesselBlobStream : public dataset::TStream {
 public:
  // Write and read-write streams need a row being edited or inserted
  // ("Dataset not in edit or insert mode") and a field that may be written
  // ("Field '%s' cannot be modified"). A write stream starts by cutting the
  // value to nothing.
  TTesselBlobStream(TTesselDataSet& dataSet, dataset::TBlobField& field, dataset::TBlobStreamMode mode);
  ~TTesselBlobStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, dataset::TSeekOrigin origin) override;
  void Truncate() override;

 private:
  TTesselDataSet& dataSet_;
  dataset::TBlobField& field_;
  int fieldNo_ = 0;
  uint8_t* row_ = nullptr;
  int64_t position_ = 0;
  bool opened_ = false;
  bool modified_ = false;
};

}  // namespace tessel
