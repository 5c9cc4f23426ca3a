#include "engine/storage/FieldValue.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/TableLocale.h"

namespace tessel {
namespace {

constexpr int kOffset = 9;   // the field's null-indicator byte
constexpr uint8_t kFill = 0xEE;

TFieldDesc Field(uint8_t type, uint8_t physicalSize, uint8_t subType = 0) {
  TFieldDesc f;
  f.FieldNumber = 1;
  f.Name = "f";
  f.Type = type;
  f.SubType = subType;
  f.PhysicalSize = physicalSize;
  f.DeclaredSize = type == ftString ? physicalSize - 1 : 0;
  f.RecordOffset = kOffset;
  return f;
}

class FieldValueTest : public ::testing::Test {
 protected:
  FieldValueTest() { image.fill(kFill); }

  void PutString(const TFieldDesc& f, const std::string& text) {
    PutFieldValue(f, image.data(), reinterpret_cast<const uint8_t*>(text.c_str()), locale);
  }
  void Put(const TFieldDesc& f, const std::vector<uint8_t>& bytes) {
    PutFieldValue(f, image.data(), bytes.data(), locale);
  }
  // The value bytes of the field's area (after the indicator).
  std::vector<uint8_t> Area(const TFieldDesc& f) const {
    return {image.begin() + kOffset + 1, image.begin() + kOffset + 1 + f.PhysicalSize};
  }

  TTableLocale locale;
  std::array<uint8_t, 128> image{};
};

TEST_F(FieldValueTest, StringLosesTrailingBlanksAndIsZeroFilled) {
  const TFieldDesc f = Field(ftString, 31);  // declared size 30
  PutString(f, "abc   ");
  EXPECT_EQ(image[kOffset], 1);
  std::vector<uint8_t> expected(31, 0);
  expected[0] = 'a';
  expected[1] = 'b';
  expected[2] = 'c';
  EXPECT_EQ(Area(f), expected);
  EXPECT_EQ(image[kOffset - 1], kFill);
  EXPECT_EQ(image[kOffset + 32], kFill);

  // Leading and inner blanks stay.
  PutString(f, " a b ");
  const std::vector<uint8_t> area = Area(f);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(area.data())), " a b");
}

TEST_F(FieldValueTest, BlankOrEmptyStringIsNull) {
  const TFieldDesc f = Field(ftString, 31);
  for (const char* text : {"      ", ""}) {
    image.fill(kFill);
    PutString(f, text);
    EXPECT_EQ(image[kOffset], 0) << '"' << text << '"';
    EXPECT_EQ(Area(f), std::vector<uint8_t>(31, 0));
    EXPECT_TRUE(GetFieldValue(f, image.data(), nullptr));
  }
}

TEST_F(FieldValueTest, StringTakesCharacterCaseAndDeclaredSize) {
  TFieldDesc f = Field(ftString, 11);  // declared size 10
  f.CharCase = 2;
  PutString(f, "MiXed 1-z");
  std::vector<uint8_t> area = Area(f);
  EXPECT_STREQ(reinterpret_cast<const char*>(area.data()), "MIXED 1-Z");
  f.CharCase = 1;
  PutString(f, "MiXed 1-z");
  area = Area(f);
  EXPECT_STREQ(reinterpret_cast<const char*>(area.data()), "mixed 1-z");
  // Only A-Z and a-z change without a table locale.
  f.CharCase = 2;
  PutString(f, "\xe9t\xe9");
  area = Area(f);
  EXPECT_STREQ(reinterpret_cast<const char*>(area.data()), "\xe9T\xe9");

  // At most the declared ten characters are kept, then the zero byte.
  f.CharCase = 0;
  PutString(f, "abcdefghijklmnop");
  std::vector<uint8_t> expected = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 0};
  EXPECT_EQ(Area(f), expected);
  EXPECT_EQ(image[kOffset + 12], kFill);

  std::array<uint8_t, 11> read{};
  EXPECT_FALSE(GetFieldValue(f, image.data(), read.data()));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), read.begin()));
}

TEST_F(FieldValueTest, FixedTypesAreCopiedLittleEndian) {
  struct Case {
    uint8_t type;
    uint8_t size;
    std::vector<uint8_t> value;
  };
  // Values as handed over, which are the slot encodings: date 693594
  // (30 December 1899), small integer -2, integer -1, float 1.5, word
  // 0xABCD, time 3600000 ms, timestamp 1.0, BCD, bytes.
  const std::vector<Case> cases = {
      {ftDate, 4, {0x5A, 0x95, 0x0A, 0x00}},
      {ftSmallInt, 2, {0xFE, 0xFF}},
      {ftInteger, 4, {0xFF, 0xFF, 0xFF, 0xFF}},
      {ftFloat, 8, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
      {ftWord, 2, {0xCD, 0xAB}},
      {ftTime, 4, {0x80, 0xEE, 0x36, 0x00}},
      {ftTimeStamp, 8, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {ftBCD, 8, {1, 2, 3, 4, 5, 6, 7, 0x80}},
      {ftBytes, 3, {0, 0x20, 0}},
      {ftRaw10, 10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
  };
  for (const Case& c : cases) {
    image.fill(kFill);
    const TFieldDesc f = Field(c.type, c.size);
    Put(f, c.value);
    EXPECT_EQ(image[kOffset], 1) << int{c.type};
    EXPECT_EQ(Area(f), c.value) << int{c.type};
    EXPECT_EQ(image[kOffset + 1 + c.size], kFill) << int{c.type};

    std::vector<uint8_t> read(c.size, 0);
    EXPECT_FALSE(GetFieldValue(f, image.data(), read.data())) << int{c.type};
    EXPECT_EQ(read, c.value) << int{c.type};

    // Null: indicator 0 and zeros over the value; nothing copied out.
    PutFieldValue(f, image.data(), nullptr, locale);
    EXPECT_EQ(image[kOffset], 0);
    EXPECT_EQ(Area(f), std::vector<uint8_t>(c.size, 0)) << int{c.type};
    EXPECT_EQ(image[kOffset + 1 + c.size], kFill) << int{c.type};
    std::vector<uint8_t> untouched(c.size, 0x77);
    EXPECT_TRUE(GetFieldValue(f, image.data(), untouched.data()));
    EXPECT_EQ(untouched, std::vector<uint8_t>(c.size, 0x77));
  }
}

TEST_F(FieldValueTest, BooleanIsZeroOrOne) {
  const TFieldDesc f = Field(ftBoolean, 2);
  Put(f, {0x05, 0x01});
  EXPECT_EQ(image[kOffset], 1);
  EXPECT_EQ(Area(f), (std::vector<uint8_t>{1, 0}));
  Put(f, {0, 0});  // false is a value, not null
  EXPECT_EQ(image[kOffset], 1);
  EXPECT_EQ(Area(f), (std::vector<uint8_t>{0, 0}));
  Put(f, {1, 0});
  EXPECT_EQ(Area(f), (std::vector<uint8_t>{1, 0}));
}

TEST_F(FieldValueTest, BlobNullStateFollowsItsPosition) {
  const TFieldDesc f = Field(ftBlob, 8, fstMemo);
  const std::vector<uint8_t> stored = {0x00, 0x02, 0, 0, 7, 0, 0, 0};  // block 512, id 7
  Put(f, stored);
  EXPECT_EQ(image[kOffset], 1);
  EXPECT_EQ(Area(f), stored);
  // Only the position is read back.
  std::vector<uint8_t> read(8, 0x77);
  EXPECT_FALSE(GetFieldValue(f, image.data(), read.data()));
  EXPECT_EQ(read, (std::vector<uint8_t>{0x00, 0x02, 0, 0, 0x77, 0x77, 0x77, 0x77}));

  // No first block: null, and no identifier left behind.
  Put(f, {0, 0, 0, 0, 7, 0, 0, 0});
  EXPECT_EQ(image[kOffset], 0);
  EXPECT_EQ(Area(f), std::vector<uint8_t>(8, 0));

  // Setting null clears the whole area, identifier included.
  Put(f, stored);
  PutFieldValue(f, image.data(), nullptr, locale);
  EXPECT_EQ(image[kOffset], 0);
  EXPECT_EQ(Area(f), std::vector<uint8_t>(8, 0));

  // An in-memory value (negative handle) keeps its handle; its null state is
  // whether that value has content.
  const std::vector<uint8_t> handle = {0xFD, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};  // -3
  Put(f, handle);
  EXPECT_EQ(image[kOffset], 0);
  EXPECT_EQ(Area(f), handle);
  PutFieldValue(f, image.data(), handle.data(), locale, true);
  EXPECT_EQ(image[kOffset], 1);
  EXPECT_EQ(Area(f), handle);
}

TEST_F(FieldValueTest, AutoIncrementIsTheRecordIdentifier) {
  TFieldDesc f = Field(ftInteger, 4, fstAutoInc);
  f.RecordOffset = 5;
  Put(f, {0x44, 0x33, 0x22, 0x11});
  EXPECT_EQ(image[5], 0x44);
  EXPECT_EQ(image[6], 0x33);
  EXPECT_EQ(image[7], 0x22);
  EXPECT_EQ(image[8], 0x11);
  EXPECT_EQ(image[4], kFill);
  EXPECT_EQ(image[9], kFill);

  // Null leaves the identifier alone; it is never read as null.
  PutFieldValue(f, image.data(), nullptr, locale);
  EXPECT_EQ(image[5], 0x44);
  EXPECT_EQ(image[8], 0x11);
  std::array<uint8_t, 4> read{};
  EXPECT_FALSE(GetFieldValue(f, image.data(), read.data()));
  EXPECT_EQ(read, (std::array<uint8_t, 4>{0x44, 0x33, 0x22, 0x11}));
  image[5] = image[6] = image[7] = image[8] = 0;
  EXPECT_FALSE(GetFieldValue(f, image.data(), nullptr));
}

}  // namespace
}  // namespace tessel
