// The value-text encoder: defaults, minimums and maximums turned into slot
// values, with the clock a test chooses, and the validity check that asks
// the same encoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TableTestSupport.h"
#include "engine/base/Bytes.h"
#include "platform/core/Exceptions.h"
#include "engine/storage/ValueText.h"

namespace tessel {
namespace {

using testing::Field;

int clockReadings = 0;

// 2024-02-29 23:59:58.750, counting how often it is read.
platform::LocalDateTime LeapDayNight() {
  ++clockReadings;
  return {2024, 2, 29, 23, 59, 58, 750};
}

TFieldDesc Bcd(uint8_t decimals) {
  TFieldDesc f = Field(1, "amount", ftBCD);
  f.DeclaredDecimals = decimals;
  f.PhysicalSize = 8;
  return f;
}

TEST(ValueTextTest, KeywordsReadTheGivenClockOnce) {
  const int32_t leapDay = DayNumberOf(2024, 2, 29);
  const int32_t lateMs = 86398750;
  std::vector<uint8_t> v;
  TFieldDesc date = Field(1, "d", ftDate);
  date.PhysicalSize = 4;
  clockReadings = 0;
  ASSERT_TRUE(EncodeValueText(date, " date ", LeapDayNight, v));
  EXPECT_EQ(GetI32(v.data()), leapDay);
  TFieldDesc time = Field(1, "t", ftTime);
  time.PhysicalSize = 4;
  ASSERT_TRUE(EncodeValueText(time, "Time", LeapDayNight, v));
  EXPECT_EQ(GetI32(v.data()), lateMs);
  TFieldDesc stamp = Field(1, "s", ftTimeStamp);
  stamp.PhysicalSize = 8;
  ASSERT_TRUE(EncodeValueText(stamp, "now", LeapDayNight, v));
  EXPECT_DOUBLE_EQ(GetF64(v.data()), leapDay * 86400000.0 + lateMs);
  ASSERT_TRUE(EncodeValueText(stamp, "DATE", LeapDayNight, v));
  EXPECT_DOUBLE_EQ(GetF64(v.data()), leapDay * 86400000.0);
  ASSERT_TRUE(EncodeValueText(stamp, "TIME", LeapDayNight, v));
  EXPECT_DOUBLE_EQ(GetF64(v.data()), 693594 * 86400000.0 + lateMs);
  EXPECT_EQ(clockReadings, 5);

  // A value text does not read the clock; a keyword of another type is no value.
  ASSERT_TRUE(EncodeValueText(stamp, "2024-03-01 00:00:01", LeapDayNight, v));
  EXPECT_DOUBLE_EQ(GetF64(v.data()), DayNumberOf(2024, 3, 1) * 86400000.0 + 1000);
  EXPECT_FALSE(EncodeValueText(date, "NOW", LeapDayNight, v));
  EXPECT_EQ(clockReadings, 5);
}

// The check and the conversion are one: a BCD text is valid exactly when it
// converts at the field's declared decimals, and converts to that scale.
TEST(ValueTextTest, BcdValidWhereItConvertsAtTheFieldsDecimals) {
  std::vector<uint8_t> v;
  ASSERT_TRUE(EncodeValueText(Bcd(6), "1.2345678", LeapDayNight, v));
  EXPECT_EQ(GetI64(v.data()), 1234568);
  ASSERT_TRUE(EncodeValueText(Bcd(0), "5000000000000000", LeapDayNight, v));
  EXPECT_EQ(GetI64(v.data()), 5000000000000000);
  // Beyond 64 bits at the field's scale, or beyond the 18 decimals a scale holds.
  EXPECT_FALSE(EncodeValueText(Bcd(18), "100", LeapDayNight, v));
  EXPECT_FALSE(EncodeValueText(Bcd(19), "0", LeapDayNight, v));
  ASSERT_TRUE(EncodeValueText(Bcd(18), "-9.223372036854775808", LeapDayNight, v));
  EXPECT_EQ(GetI64(v.data()), INT64_MIN);
  EXPECT_FALSE(IsValidValueText(Bcd(18), "100"));
  EXPECT_TRUE(IsValidValueText(Bcd(0), "5000000000000000"));
}

TEST(ValueTextTest, TextsThatAreNoValueRaiseNamingTheirKind) {
  std::vector<uint8_t> v;
  try {
    EncodeValueTextOrRaise(Bcd(18), " 100 ", LeapDayNight, v);
    FAIL();
  } catch (const dataset::EConvertError& e) {
    EXPECT_STREQ(e.what(), "' 100 ' is not a valid BCD value");
  }
  TFieldDesc word = Field(1, "w", ftWord);
  word.PhysicalSize = 2;
  EXPECT_THROW(EncodeValueTextOrRaise(word, "65536", LeapDayNight, v), dataset::EConvertError);

  // Strings take any text, cut to the field; bytes take none and accept any.
  TFieldDesc name = Field(1, "n", ftString, 3);
  name.PhysicalSize = 4;
  ASSERT_TRUE(EncodeValueTextOrRaise(name, " abcdef", LeapDayNight, v));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.data())), " ab");
  TFieldDesc bytes = Field(1, "b", ftBytes, 4);
  bytes.PhysicalSize = 4;
  EXPECT_FALSE(EncodeValueTextOrRaise(bytes, "zz", LeapDayNight, v));
  EXPECT_TRUE(IsValidValueText(bytes, "zz"));
}

}  // namespace
}  // namespace tessel
