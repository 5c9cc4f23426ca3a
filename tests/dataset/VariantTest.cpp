#include <gtest/gtest.h>

#include "dataset/DateTime.h"
#include "dataset/TextConvert.h"
#include "dataset/Variant.h"

namespace {

using namespace dataset;

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

TEST(VariantTest, NullHasNoTextButEmptyIsBlank) {
  EXPECT_EQ(ErrorOf([] { (void)Variant::Null().ToString(); }), "Invalid variant type conversion");
  EXPECT_THROW((void)Variant::Null().ToInteger(), EVariantError);
  EXPECT_THROW((void)Variant::Null().ToDouble(), EVariantError);
  EXPECT_EQ(Variant().ToString(), "");
  EXPECT_EQ(Variant().ToInteger(), 0);
}

TEST(VariantTest, ConvertsBetweenKinds) {
  EXPECT_EQ(Variant(42).ToString(), "42");
  EXPECT_EQ(Variant(1.5).ToString(), "1.5");
  EXPECT_EQ(Variant(true).ToString(), "True");
  EXPECT_EQ(Variant(true).ToInteger(), -1);
  EXPECT_EQ(Variant::FromDateTime(EncodeDate(2003, 4, 5)).ToString(), "2003-04-05");
  EXPECT_EQ(Variant(" 17 ").ToInteger(), 17);
  EXPECT_DOUBLE_EQ(Variant("2.25").ToDouble(), 2.25);
  EXPECT_EQ(Variant(2.5).ToInteger(), 2);  // ties to even, as the platform rounds
  EXPECT_EQ(Variant(3.5).ToInteger(), 4);
  EXPECT_TRUE(Variant("TRUE").ToBoolean());
  EXPECT_EQ(ErrorOf([] { (void)Variant("abc").ToInteger(); }),
            "Could not convert variant of type (String) into type (Integer)");
  EXPECT_THROW((void)Variant::FromBytes("ab").ToString(), EVariantError);
}

TEST(VariantTest, EqualityAndOrdering) {
  EXPECT_TRUE(Variant::Null() == Variant::Null());
  EXPECT_FALSE(Variant::Null() == Variant(""));
  EXPECT_TRUE(Variant(2) == Variant(2.0));
  EXPECT_TRUE(Variant("2") == Variant(2));
  EXPECT_FALSE(Variant("News") == Variant("news"));
  EXPECT_TRUE(Variant::Array({1, "a"}) == Variant::Array({1, "a"}));

  EXPECT_LT(CompareVariants(Variant::Null(), Variant("")), 0);
  EXPECT_EQ(CompareVariants(Variant::Null(), Variant::Null()), 0);
  EXPECT_LT(CompareVariants(Variant("News"), Variant("news")), 0);   // byte order
  EXPECT_LT(CompareVariants(Variant("Ab"), Variant("Abc")), 0);      // prefix first
  EXPECT_LT(CompareVariants(Variant("z"), Variant("\xE9")), 0);      // unsigned bytes
  EXPECT_GT(CompareVariants(Variant(10), Variant(9.5)), 0);
  EXPECT_THROW(CompareVariants(Variant(), Variant(1)), EVariantError);
}

TEST(DateTimeTest, DayNumbersAndTimeStamps) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(DateTimeToTimeStamp(0.0).Date, 693594);
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(1, 1, 1)).Date, 1);
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(2000, 3, 1)).Date - DateTimeToTimeStamp(EncodeDate(2000, 2, 28)).Date, 2);
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(1900, 3, 1)).Date - DateTimeToTimeStamp(EncodeDate(1900, 2, 28)).Date, 1);

  // Before 1899-12-30 the fraction still counts forward from midnight.
  TTimeStamp stamp = DateTimeToTimeStamp(-1.25);
  EXPECT_EQ(stamp.Date, 693593);
  EXPECT_EQ(stamp.Time, 6 * 3600000);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(stamp), -1.25);

  TDateTime moment = EncodeDate(2024, 2, 29) + EncodeTime(13, 14, 15, 16);
  double msecs = TimeStampToMSecs(DateTimeToTimeStamp(moment));
  EXPECT_DOUBLE_EQ(msecs, DateTimeToTimeStamp(moment).Date * 86400000.0 + 47655016);
  int y, m, d, h, n, s, ms;
  DecodeDate(TimeStampToDateTime(MSecsToTimeStamp(msecs)), y, m, d);
  DecodeTime(moment, h, n, s, ms);
  EXPECT_EQ((std::vector<int>{y, m, d, h, n, s, ms}), (std::vector<int>{2024, 2, 29, 13, 14, 15, 16}));
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
}

TEST(DateTimeTest, TextForms) {
  TDateTime moment = EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 58, 0);
  EXPECT_EQ(DateTimeToStr(moment), "1999-12-31 23:59:58");
  EXPECT_EQ(DateTimeToStr(EncodeDate(1999, 12, 31)), "1999-12-31");
  EXPECT_DOUBLE_EQ(StrToDateTime("1999-12-31 23:59:58"), moment);
  EXPECT_DOUBLE_EQ(StrToDate("1999/12/31"), EncodeDate(1999, 12, 31));
  EXPECT_DOUBLE_EQ(StrToTime("07:05"), EncodeTime(7, 5, 0, 0));
  EXPECT_EQ(ErrorOf([] { StrToDate("31.13.1999"); }), "'31.13.1999' is not a valid date");
}

TEST(TextConvertTest, NumbersAndCase) {
  EXPECT_EQ(FloatToStr(100.0), "100");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(1e20), "1E20");
  EXPECT_EQ(FloatToStr(-1.5e-6), "-1.5E-6");
  EXPECT_EQ(FloatToStrF(2.5, 2), "2.50");
  int64_t i;
  EXPECT_FALSE(TryStrToInt64("12a", i));
  double f;
  EXPECT_FALSE(TryStrToFloat("inf", f));
  EXPECT_EQ(AnsiUpperCase("caf\xE9 \x9A\xFF"), "CAF\xC9 \x8A\x9F");
  EXPECT_TRUE(AnsiSameText("\xE9t\xE9", "\xC9T\xC9"));
  EXPECT_EQ(AnsiUpperCase("\xF7\xDF"), "\xF7\xDF");  // division sign and sharp s stay
}

}  // namespace
