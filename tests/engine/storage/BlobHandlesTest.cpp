// The cursor-level BLOB calls: handles in the row buffer, reading past the
// end, writing, truncating, posting the buffers of a row, and the refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BlobTestSupport.h"
#include "engine/storage/BlobHandles.h"

namespace tessel {
namespace {

using testing::BlobTable;
using testing::kNoteField;
using testing::kPicField;
using testing::Pattern;

class BlobHandlesTest : public ::testing::Test {
 protected:
  BlobHandlesTest() : bt_(64), handles_(bt_.T(), nullptr) {}

  std::vector<uint8_t> Row(int32_t recordNumber = 1) {
    std::vector<uint8_t> row(static_cast<size_t>(bt_.RecordSize()), 0);
    PutI32(row.data() + 1, recordNumber);
    return row;
  }
  int Offset(int field) const { return bt_.FieldDesc(field).RecordOffset; }
  int32_t Position(const std::vector<uint8_t>& row, int field) const { return GetI32(row.data() + Offset(field) + 1); }
  int32_t Identifier(const std::vector<uint8_t>& row, int field) const { return GetI32(row.data() + Offset(field) + 5); }
  uint8_t NullIndicator(const std::vector<uint8_t>& row, int field) const { return row[static_cast<size_t>(Offset(field))]; }
  void SetReference(std::vector<uint8_t>& row, int field, int32_t position, int32_t id) {
    row[static_cast<size_t>(Offset(field))] = position != 0 ? 1 : 0;
    PutI32(row.data() + Offset(field) + 1, position);
    PutI32(row.data() + Offset(field) + 5, id);
  }
  uint16_t Write(std::vector<uint8_t>& row, int field, int64_t offset, const std::vector<uint8_t>& bytes) {
    return handles_.WriteBlob(field, row.data(), offset, static_cast<int64_t>(bytes.size()), bytes.data());
  }
  std::string MessageOf(uint16_t code) { return ErrorContext::MessageFor(code); }

  BlobTable bt_;
  TBlobHandles handles_;
};

TEST_F(BlobHandlesTest, OpenWritePostAndClose) {
  auto row = Row();
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row.data()), 0);
  EXPECT_EQ(Position(row, kNoteField), -1);
  EXPECT_EQ(NullIndicator(row, kNoteField), 0);
  // Opening again does nothing.
  EXPECT_EQ(handles_.OpenBlob(kNoteField, row.data()), 0);
  EXPECT_EQ(handles_.OpenCount(), 1);

  const auto value = Pattern(100);
  EXPECT_EQ(Write(row, kNoteField, 0, value), 0);
  EXPECT_EQ(NullIndicator(row, kNoteField), 1);
  EXPECT_EQ(handles_.BlobSize(kNoteField, row.data()).Size, 100u);

  // The post writes the stored reference into the slot image; the row keeps its handle.
  auto image = row;
  handles_.PostBlobs(image.data());
  EXPECT_EQ(Position(image, kNoteField), 512);
  EXPECT_EQ(Identifier(image, kNoteField), 1);
  EXPECT_EQ(NullIndicator(image, kNoteField), 1);
  EXPECT_EQ(Position(row, kNoteField), -1);

  EXPECT_EQ(handles_.CloseBlob(kNoteField, row.data()), 0);
  EXPECT_EQ(Position(row, kNoteField), 512);
  EXPECT_EQ(Identifier(row, kNoteField), 1);
  EXPECT_EQ(handles_.OpenCount(), 0);

  // Read back through a cold cache.
  bt_.Flush();
  bt_.Blob().DropBlocks();
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row.data()), 0);
  std::vector<uint8_t> read(100);
  EXPECT_EQ(handles_.ReadBlob(kNoteField, row.data(), 0, 100, read.data()).BytesRead, 100u);
  EXPECT_EQ(read, value);
}

TEST_F(BlobHandlesTest, ReadingInChunksEndsWithThePrematureEndCode) {
  auto row = Row();
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row.data()), 0);
  ASSERT_EQ(Write(row, kNoteField, 0, Pattern(10)), 0);

  std::vector<uint8_t> got;
  std::vector<size_t> sizes;
  TBlobReadResult r;
  for (int64_t offset = 0; offset < 10; offset += 3) {
    uint8_t chunk[3] = {};
    r = handles_.ReadBlob(kNoteField, row.data(), offset, 3, chunk);
    sizes.push_back(r.BytesRead);
    got.insert(got.end(), chunk, chunk + r.BytesRead);
    if (offset < 9) {
      EXPECT_EQ(r.Code, 0);
    }
  }
  EXPECT_EQ(sizes, (std::vector<size_t>{3, 3, 3, 1}));
  EXPECT_EQ(r.Code, ec::EndOfBlob);
  EXPECT_EQ(MessageOf(r.Code), "End of blob data in table 't' reached prematurely");
  EXPECT_EQ(got, Pattern(10));

  uint8_t none[3];
  r = handles_.ReadBlob(kNoteField, row.data(), 10, 3, none);
  EXPECT_EQ(r.BytesRead, 0u);
  EXPECT_EQ(r.Code, ec::EndOfBlob);
  r = handles_.ReadBlob(kNoteField, row.data(), 12, 3, none);
  EXPECT_EQ(r.BytesRead, 0u);
  EXPECT_EQ(r.Code, ec::EndOfBlob);
  r = handles_.ReadBlob(kNoteField, row.data(), 10, 0, none);
  EXPECT_EQ(r.Code, 0);
}

TEST_F(BlobHandlesTest, RefusalsAndTheirMessages) {
  auto row = Row();
  uint8_t byte = 0;
  uint16_t code = handles_.OpenBlob(1, row.data());
  EXPECT_EQ(code, ec::InvalidBlobField);
  EXPECT_EQ(MessageOf(code), "Invalid blob field 'id' specified for table 't'");
  EXPECT_EQ(handles_.OpenBlob(9, row.data()), ec::InvalidBlobField);
  EXPECT_EQ(handles_.ReadBlob(0, row.data(), 0, 1, &byte).Code, ec::InvalidBlobField);

  // No buffer open on the field.
  code = handles_.ReadBlob(kNoteField, row.data(), 0, 1, &byte).Code;
  EXPECT_EQ(code, ec::InvalidBlobHandle);
  EXPECT_EQ(MessageOf(code), "Invalid blob handle for table 't' specified");
  EXPECT_EQ(handles_.CloseBlob(kNoteField, row.data()), ec::InvalidBlobHandle);
  EXPECT_EQ(handles_.BlobSize(kNoteField, row.data()).Code, ec::InvalidBlobHandle);
  EXPECT_EQ(handles_.TruncateBlob(kNoteField, row.data(), 0), ec::InvalidBlobHandle);

  // A negative value that is no handle of this cursor.
  SetReference(row, kNoteField, -5, 0);
  code = handles_.OpenBlob(kNoteField, row.data());
  EXPECT_EQ(code, ec::InvalidBlobOffset);
  EXPECT_EQ(MessageOf(code), "Invalid blob offset into table 't' specified");
  EXPECT_EQ(Write(row, kNoteField, 0, {1}), ec::InvalidBlobHandle);

  SetReference(row, kNoteField, 0, 0);
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row.data()), 0);
  EXPECT_EQ(handles_.ReadBlob(kNoteField, row.data(), -1, 1, &byte).Code, ec::InvalidBlobOffset);
  EXPECT_EQ(Write(row, kNoteField, -1, {1}), ec::InvalidBlobOffset);
  EXPECT_EQ(handles_.TruncateBlob(kNoteField, row.data(), -1), ec::InvalidBlobOffset);
  EXPECT_EQ(Write(row, kNoteField, 2147483647, {1}), ec::InvalidBlobLength);
}

TEST_F(BlobHandlesTest, AtMost64BuffersAreOpen) {
  std::vector<std::vector<uint8_t>> rows;
  for (int i = 0; i < 65; ++i) rows.push_back(Row());
  for (int i = 0; i < 64; ++i) ASSERT_EQ(handles_.OpenBlob(kNoteField, rows[static_cast<size_t>(i)].data()), 0);
  EXPECT_EQ(Position(rows[63], kNoteField), -64);
  const uint16_t code = handles_.OpenBlob(kNoteField, rows[64].data());
  EXPECT_EQ(code, ec::TooManyBlobs);
  EXPECT_EQ(MessageOf(code), "Too many blobs opened in table 't'");
  EXPECT_EQ(Position(rows[64], kNoteField), 0);
  // A closed handle is given out again.
  ASSERT_EQ(handles_.CloseBlob(kNoteField, rows[10].data()), 0);
  EXPECT_EQ(handles_.OpenBlob(kNoteField, rows[64].data()), 0);
  EXPECT_EQ(Position(rows[64], kNoteField), -11);
}

TEST_F(BlobHandlesTest, AnEmptyValueReleasesItsBlocksAndLeavesTheFieldNull) {
  const auto [first, id] = bt_.Store(Pattern(3 * 46));
  auto row = Row();
  SetReference(row, kNoteField, first, id);
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row.data()), 0);
  EXPECT_EQ(NullIndicator(row, kNoteField), 1);
  ASSERT_EQ(handles_.TruncateBlob(kNoteField, row.data(), 0), 0);
  EXPECT_EQ(NullIndicator(row, kNoteField), 0);

  auto image = row;
  handles_.PostBlobs(image.data());
  EXPECT_EQ(Position(image, kNoteField), 0);
  EXPECT_EQ(Identifier(image, kNoteField), 0);
  EXPECT_EQ(NullIndicator(image, kNoteField), 0);
  EXPECT_EQ(bt_.Blob().Header.FreeBlock, first + 128);
  ASSERT_EQ(handles_.CloseBlob(kNoteField, row.data()), 0);
  EXPECT_EQ(Position(row, kNoteField), 0);
  EXPECT_EQ(NullIndicator(row, kNoteField), 0);
}

TEST_F(BlobHandlesTest, OnlyChangedValuesAreStoredAgain) {
  const auto [first, id] = bt_.Store(Pattern(100));
  auto row = Row();
  SetReference(row, kNoteField, first, id);
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row.data()), 0);
  uint8_t buf[100];
  ASSERT_EQ(handles_.ReadBlob(kNoteField, row.data(), 0, 100, buf).Code, 0);

  auto image = row;
  handles_.PostBlobs(image.data());
  EXPECT_EQ(Position(image, kNoteField), first);
  EXPECT_EQ(Identifier(image, kNoteField), id);
  EXPECT_EQ(bt_.T().Data().Header.LastBlobId, id);

  // Overwriting bytes inside the value is a change too.
  ASSERT_EQ(Write(row, kNoteField, 0, {0xAB, 0xCD}), 0);
  image = row;
  handles_.PostBlobs(image.data());
  EXPECT_EQ(Position(image, kNoteField), first);
  EXPECT_EQ(Identifier(image, kNoteField), id + 1);
  auto expected = Pattern(100);
  expected[0] = 0xAB;
  expected[1] = 0xCD;
  EXPECT_EQ(bt_.Load(first, id + 1), expected);
}

TEST_F(BlobHandlesTest, WritingBeyondTheEndGrowsWithZeros) {
  auto row = Row();
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row.data()), 0);
  ASSERT_EQ(Write(row, kNoteField, 5, {7, 8}), 0);
  std::vector<uint8_t> read(7);
  EXPECT_EQ(handles_.ReadBlob(kNoteField, row.data(), 0, 7, read.data()).Code, 0);
  EXPECT_EQ(read, (std::vector<uint8_t>{0, 0, 0, 0, 0, 7, 8}));
  ASSERT_EQ(handles_.TruncateBlob(kNoteField, row.data(), 6), 0);
  EXPECT_EQ(handles_.BlobSize(kNoteField, row.data()).Size, 6u);
}

TEST_F(BlobHandlesTest, PostingStoresInFieldOrderAndNeedsOneRecord) {
  auto row = Row(4);
  // Opened in reverse field order; stored in field order.
  ASSERT_EQ(handles_.OpenBlob(kPicField, row.data()), 0);
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row.data()), 0);
  ASSERT_EQ(Write(row, kPicField, 0, Pattern(3)), 0);
  ASSERT_EQ(Write(row, kNoteField, 0, Pattern(4)), 0);
  auto image = row;
  handles_.PostBlobs(image.data());
  EXPECT_EQ(Identifier(image, kNoteField), 1);
  EXPECT_EQ(Identifier(image, kPicField), 2);
  EXPECT_EQ(Position(image, kNoteField), 512);
  EXPECT_EQ(Position(image, kPicField), 576);
  handles_.CloseAll();

  // Written buffers of two records.
  auto row1 = Row(1);
  auto row2 = Row(2);
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row1.data()), 0);
  ASSERT_EQ(handles_.OpenBlob(kNoteField, row2.data()), 0);
  ASSERT_EQ(Write(row1, kNoteField, 0, {1}), 0);
  ASSERT_EQ(Write(row2, kNoteField, 0, {2}), 0);
  image = row1;
  const auto e = testing::ErrorOf([&] { handles_.PostBlobs(image.data()); });
  EXPECT_EQ(e.Code, ec::BlobBuffersCorrupt);
  EXPECT_EQ(bt_.T().Data().Header.LastBlobId, 2);  // nothing stored
}

TEST_F(BlobHandlesTest, ReleasingTheBlobsOfADeletedRow) {
  const auto [first, id] = bt_.Store(Pattern(2 * 46));
  auto image = Row();
  SetReference(image, kNoteField, first, id);
  handles_.ReleaseRowBlobs(image.data());
  EXPECT_EQ(Position(image, kNoteField), 0);
  EXPECT_EQ(NullIndicator(image, kNoteField), 0);
  EXPECT_EQ(bt_.Blob().Header.FreeBlock, first + 64);
}

}  // namespace
}  // namespace tessel
