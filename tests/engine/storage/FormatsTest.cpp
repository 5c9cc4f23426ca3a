// The header and descriptor images, checked at hand-computed offsets.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/storage/Formats.h"

namespace tessel {
namespace {

TEST(FormatsTest, PhysicalSizesByType) {
  EXPECT_EQ(PhysicalSize(ftString, 30), 31);
  EXPECT_EQ(PhysicalSize(ftString, 250), 251);
  EXPECT_EQ(PhysicalSize(ftDate, 9), 4);
  EXPECT_EQ(PhysicalSize(ftBlob, 0), 8);
  EXPECT_EQ(PhysicalSize(ftBoolean, 0), 2);
  EXPECT_EQ(PhysicalSize(ftSmallInt, 0), 2);
  EXPECT_EQ(PhysicalSize(ftInteger, 0), 4);
  EXPECT_EQ(PhysicalSize(ftFloat, 0), 8);
  EXPECT_EQ(PhysicalSize(ftBCD, 0), 8);
  EXPECT_EQ(PhysicalSize(ftBytes, 17), 17);
  EXPECT_EQ(PhysicalSize(ftTime, 0), 4);
  EXPECT_EQ(PhysicalSize(ftTimeStamp, 0), 8);
  EXPECT_EQ(PhysicalSize(ftWord, 0), 2);
  EXPECT_EQ(PhysicalSize(ftRaw4, 0), 4);
  EXPECT_EQ(PhysicalSize(ftRaw10, 0), 10);
  EXPECT_EQ(PhysicalSize(ftVarBytes, 20), 20);
  EXPECT_EQ(PhysicalSize(ftInvalid, 5), 0);
}

TEST(FormatsTest, DataHeaderLayout) {
  TDataHeader h;
  h.ChangeCounter = 0x01020304;
  h.BlobBlockSize = 1024;
  h.FirstFreeRecord = 7;
  h.NextRecordNumber = 0x00ABCDEF;
  h.LastAutoIncValue = -2;
  h.RecordSize = 273;
  h.FieldCount = 6;
  h.BlobFieldCount = 1;
  h.LastUpdateStamp = 1.5;
  h.Description = "Links";
  h.Encrypted = 1;
  h.Password = "pw";
  h.LanguageId = 0x0407;
  h.SortId = 1;
  h.UserMajor = 0x1122;
  h.UserMinor = 0x3344;
  h.HeaderModifiedFlag = 1;
  h.LastBlobId = 0x7FFFFFFF;
  std::vector<uint8_t> img(kDataHeaderSize, 0xEE);
  h.Encode(img.data());

  const std::vector<uint8_t> expectedStart = {0x04, 0x03, 0x02, 0x01,  // counter
                                              0x00, 0x04, 0x00, 0x00,  // block size 1024
                                              0x04,                    // version
                                              0x07, 0x00, 0x00, 0x00,  // first free
                                              0xEF, 0xCD, 0xAB, 0x00,  // next record number
                                              0xFE, 0xFF, 0xFF, 0xFF,  // last auto-increment -2
                                              0x11, 0x01,              // record size 273
                                              0x06, 0x00, 0x01, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(img.begin(), img.begin() + 27), expectedStart);
  // 1.5 as an IEEE double: 0x3FF8000000000000, little-endian.
  EXPECT_EQ(std::vector<uint8_t>(img.begin() + 27, img.begin() + 35),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  EXPECT_EQ(img[35], 5);
  EXPECT_EQ(std::memcmp(img.data() + 36, "Links", 5), 0);
  for (int i = 41; i < 86; ++i) EXPECT_EQ(img[static_cast<size_t>(i)], 0) << i;
  EXPECT_EQ(img[86], 1);
  EXPECT_EQ(img[87], 2);
  EXPECT_EQ(img[88], 'p');
  EXPECT_EQ(img[89], 'w');
  for (int i = 90; i < 103; ++i) EXPECT_EQ(img[static_cast<size_t>(i)], 0) << i;
  EXPECT_EQ(img[103], 0x07);
  EXPECT_EQ(img[104], 0x04);
  EXPECT_EQ(img[105], 0x01);
  EXPECT_EQ(img[106], 0x00);
  EXPECT_EQ(img[107], 0x22);
  EXPECT_EQ(img[108], 0x11);
  EXPECT_EQ(img[109], 0x44);
  EXPECT_EQ(img[110], 0x33);
  EXPECT_EQ(img[111], 1);
  EXPECT_EQ(std::vector<uint8_t>(img.begin() + 112, img.begin() + 116),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F}));
  for (int i = 116; i < kDataHeaderSize; ++i) EXPECT_EQ(img[static_cast<size_t>(i)], 0) << i;

  const TDataHeader d = TDataHeader::Decode(img.data());
  EXPECT_EQ(d.ChangeCounter, h.ChangeCounter);
  EXPECT_EQ(d.NextRecordNumber, h.NextRecordNumber);
  EXPECT_EQ(d.LastAutoIncValue, -2);
  EXPECT_EQ(d.Description, "Links");
  EXPECT_EQ(d.Password, "pw");
  EXPECT_EQ(d.Locale(), 0x00010407u);
  EXPECT_EQ(d.LastBlobId, 0x7FFFFFFF);
  EXPECT_DOUBLE_EQ(d.LastUpdateStamp, 1.5);
}

TEST(FormatsTest, DataHeaderReadsOverlongStringsAsCapacityAndZeroBlockSizeAs512) {
  std::vector<uint8_t> img(kDataHeaderSize, 0);
  img[35] = 200;  // description length beyond its capacity of 50
  img[87] = 99;   // password length beyond 15
  std::memset(img.data() + 36, 'x', 50);
  std::memset(img.data() + 88, 'y', 15);
  const TDataHeader d = TDataHeader::Decode(img.data());
  EXPECT_EQ(d.Description, std::string(50, 'x'));
  EXPECT_EQ(d.Password, std::string(15, 'y'));
  EXPECT_EQ(d.EffectiveBlockSize(), 512u);

  TDataHeader cut;
  cut.Description = std::string(60, 'd');
  cut.Encode(img.data());
  EXPECT_EQ(img[35], 50);
  EXPECT_EQ(img[86], 0);  // the 51st character did not spill into the encrypted flag
}

TEST(FormatsTest, FieldDescriptorLayout) {
  TFieldDesc f;
  f.FieldNumber = 2;
  f.Name = "siteurl";
  f.Description = "URL";
  f.Type = ftBCD;
  f.SubType = fstMoney;
  f.DeclaredSize = 100;
  f.DeclaredDecimals = 2;
  f.PhysicalSize = 101;
  f.PhysicalDecimals = 2;
  f.RecordOffset = 0x0128;
  f.Required = 1;
  f.CharCase = 2;
  f.Minimum = "1";
  f.Maximum = "99";
  f.Default = "NOW";
  f.NotStored = 1;
  std::vector<uint8_t> img(kFieldDescSize, 0xEE);
  f.Encode(img.data());
  EXPECT_EQ(GetU16(img.data() + 0), 2);
  EXPECT_EQ(img[2], 7);
  EXPECT_EQ(std::memcmp(img.data() + 3, "siteurl", 7), 0);
  EXPECT_EQ(img[10], 0);
  EXPECT_EQ(img[33], 3);
  EXPECT_EQ(std::memcmp(img.data() + 34, "URL", 3), 0);
  EXPECT_EQ(img[84], ftBCD);
  EXPECT_EQ(img[85], fstMoney);
  EXPECT_EQ(img[86], 100);
  EXPECT_EQ(img[87], 2);
  EXPECT_EQ(img[88], 101);
  EXPECT_EQ(img[89], 2);
  EXPECT_EQ(img[90], 0x28);
  EXPECT_EQ(img[91], 0x01);
  EXPECT_EQ(img[92], 1);
  EXPECT_EQ(img[93], 2);
  EXPECT_EQ(img[94], 1);
  EXPECT_EQ(img[95], '1');
  EXPECT_EQ(img[145], 2);
  EXPECT_EQ(img[146], '9');
  EXPECT_EQ(img[196], 3);
  EXPECT_EQ(std::memcmp(img.data() + 197, "NOW", 3), 0);
  EXPECT_EQ(img[247], 1);
  for (int i = kFieldDescMeaningful; i < kFieldDescSize; ++i) EXPECT_EQ(img[static_cast<size_t>(i)], 0) << i;

  // A reader ignores bytes 248 to 767.
  std::memset(img.data() + kFieldDescMeaningful, 0x5A, kFieldDescSize - kFieldDescMeaningful);
  const TFieldDesc d = TFieldDesc::Decode(img.data());
  EXPECT_EQ(d.FieldNumber, 2);
  EXPECT_EQ(d.Name, "siteurl");
  EXPECT_EQ(d.RecordOffset, 0x0128);
  EXPECT_EQ(d.Default, "NOW");
  EXPECT_EQ(d.NotStored, 1);
}

TEST(FormatsTest, IndexDescriptorLayout) {
  TIndexDesc x;
  x.Name = "byname";
  x.KeyLength = 0x0203;
  x.Descending = 1;
  x.CaseInsensitive = 1;
  x.Unique = 1;
  x.Compression = 3;
  x.FieldCount = 2;
  x.FieldDescending[1] = 1;
  x.FieldNumbers[0] = 0x0102;
  x.FieldNumbers[15] = 9;
  x.RootPage = 4096;
  x.FreePage = 8192;
  std::vector<uint8_t> img(kIndexDescSize, 0xEE);
  x.Encode(img.data());
  EXPECT_EQ(img[0], 6);
  EXPECT_EQ(std::memcmp(img.data() + 1, "byname", 6), 0);
  EXPECT_EQ(img[31], 0x03);
  EXPECT_EQ(img[32], 0x02);
  EXPECT_EQ(img[33], 1);
  EXPECT_EQ(img[34], 1);
  EXPECT_EQ(img[35], 1);
  EXPECT_EQ(img[36], 3);
  EXPECT_EQ(img[37], 2);
  EXPECT_EQ(img[38], 0);
  EXPECT_EQ(img[39], 1);
  EXPECT_EQ(img[54], 0x02);
  EXPECT_EQ(img[55], 0x01);
  EXPECT_EQ(img[54 + 30], 9);
  EXPECT_EQ(GetI32(img.data() + 86), 4096);
  EXPECT_EQ(GetI32(img.data() + 90), 8192);
  for (int i = 94; i < kIndexDescSize; ++i) EXPECT_EQ(img[static_cast<size_t>(i)], 0) << i;

  const TIndexDesc d = TIndexDesc::Decode(img.data());
  EXPECT_EQ(d.Name, "byname");
  EXPECT_EQ(d.KeyLength, 0x0203);
  EXPECT_EQ(d.FieldNumbers[0], 0x0102);
  EXPECT_EQ(d.FieldNumbers[15], 9);
  EXPECT_EQ(d.FieldDescending[1], 1);
  EXPECT_EQ(d.FreePage, 8192);
}

TEST(FormatsTest, IndexHeaderLayout) {
  TIndexHeader h;
  h.ChangeCounter = 5;
  h.EndOfFile = 3 * 4096;
  h.SecondaryCount = 2;
  h.Indexes[1].Name = "a";
  h.Indexes[1].KeyLength = 9;
  h.Indexes[31].Name = kSysDeletedName;
  h.Indexes[31].KeyLength = 5;
  h.ActiveRecordCount = 1234;
  h.NoPrimaryIndex = 1;
  h.HeaderModifiedFlag = 1;
  std::vector<uint8_t> img(kIndexHeaderSize, 0xEE);
  h.Encode(img.data());
  EXPECT_EQ(GetI32(img.data() + 0), 5);
  for (int i = 4; i < 8; ++i) EXPECT_EQ(img[static_cast<size_t>(i)], 0);
  EXPECT_EQ(img[8], 4);
  EXPECT_EQ(GetI32(img.data() + 9), 12288);
  EXPECT_EQ(img[13], 2);
  // Slot 1 at 14 + 120; slot 31 at 14 + 31 x 120 = 3734.
  EXPECT_EQ(img[134], 1);
  EXPECT_EQ(img[135], 'a');
  EXPECT_EQ(GetU16(img.data() + 134 + 31), 9);
  EXPECT_EQ(img[3734], 11);
  EXPECT_EQ(std::memcmp(img.data() + 3735, "Sys Deleted", 11), 0);
  EXPECT_EQ(GetU16(img.data() + 3734 + 31), 5);
  for (int i = 3854; i < 3974; ++i) EXPECT_EQ(img[static_cast<size_t>(i)], 0) << i;
  EXPECT_EQ(GetI32(img.data() + 3974), 1234);
  EXPECT_EQ(img[3978], 1);
  EXPECT_EQ(img[3979], 1);
  for (int i = 3980; i < kIndexHeaderSize; ++i) EXPECT_EQ(img[static_cast<size_t>(i)], 0) << i;

  const TIndexHeader d = TIndexHeader::Decode(img.data());
  EXPECT_EQ(d.EndOfFile, 12288);
  EXPECT_EQ(d.Indexes[31].Name, "Sys Deleted");
  EXPECT_EQ(d.Indexes[1].KeyLength, 9);
  EXPECT_EQ(d.ActiveRecordCount, 1234);
  EXPECT_EQ(d.NoPrimaryIndex, 1);
}

TEST(FormatsTest, BlobHeaderLayout) {
  TBlobHeader h;
  h.ChangeCounter = -1;
  h.FreeBlock = 1024;
  h.EndOfFile = 2048;
  h.HeaderModifiedFlag = 1;
  std::vector<uint8_t> img(kBlobHeaderSize, 0xEE);
  h.Encode(img.data());
  EXPECT_EQ(GetI32(img.data()), -1);
  EXPECT_EQ(img[8], 4);
  EXPECT_EQ(GetI32(img.data() + 9), 1024);
  EXPECT_EQ(GetI32(img.data() + 13), 2048);
  EXPECT_EQ(img[17], 1);
  for (int i = 18; i < kBlobHeaderSize; ++i) EXPECT_EQ(img[static_cast<size_t>(i)], 0) << i;
  const TBlobHeader d = TBlobHeader::Decode(img.data());
  EXPECT_EQ(d.FreeBlock, 1024);
  EXPECT_EQ(d.EndOfFile, 2048);
  EXPECT_EQ(d.Version, 4);
}

}  // namespace
}  // namespace tessel
