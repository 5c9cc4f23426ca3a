// Field kinds over the field data exchange: the bytes each kind hands to the
// record set (checked at their offsets), conversions, range checks, and
// binding persistent fields to the definitions.
#include <gtest/gtest.h>

#include "MemDataSet.h"

namespace {

using namespace dataset;
using namespace dataset_test;

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

template <class T>
T At(const uint8_t* place) {
  T value;
  std::memcpy(&value, place + 1, sizeof(T));
  return value;
}

class FieldKindsTest : public ::testing::Test {
 protected:
  FieldKindsTest()
      : ds({{"s", ftString, 5},
            {"small", ftSmallint},
            {"word", ftWord},
            {"flag", ftBoolean},
            {"day", ftDate},
            {"clock", ftTime},
            {"stamp", ftDateTime},
            {"money", ftBCD, 2},
            {"raw", ftVarBytes, 6},
            {"f", ftFloat}}) {
    ds.Open();
    ds.Append();
  }
  TMemDataSet ds;
};

TEST_F(FieldKindsTest, StringsAreZeroTerminatedAndCut) {
  ds.FieldByName("s").SetAsString("abcdefgh");
  const uint8_t* place = ds.ActivePlace(0);
  EXPECT_EQ(place[0], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(place + 1), 6), std::string("abcde\0", 6));
  EXPECT_EQ(ds.FieldByName("s").AsString(), "abcde");
  EXPECT_EQ(ds.FieldByName("s").DataSize(), 6);
}

TEST_F(FieldKindsTest, NullFieldsReadAsBlanksButHaveNoVariantText) {
  TField& s = ds.FieldByName("s");
  EXPECT_TRUE(s.IsNull());
  EXPECT_EQ(s.AsString(), "");
  EXPECT_TRUE(s.Value().IsNull());
  // The application's Edit reads the value into a string.
  EXPECT_EQ(ErrorOf([&] { (void)s.Value().ToString(); }), "Invalid variant type conversion");
  EXPECT_EQ(ds.FieldByName("small").AsInteger(), 0);
  EXPECT_EQ(ds.FieldByName("stamp").AsString(), "");
}

TEST_F(FieldKindsTest, WholeNumbersKeepTheirWidthAndRange) {
  ds.FieldByName("small").SetAsInteger(-2);
  ds.FieldByName("word").SetAsString("65535");
  EXPECT_EQ(At<int16_t>(ds.ActivePlace(1)), -2);
  EXPECT_EQ(At<uint16_t>(ds.ActivePlace(2)), 65535);
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("small").SetAsInteger(40000); }),
            "40000 is not a valid value for field 'small'. The allowed range is -32768 to 32767");
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("word").SetAsString("x1"); }),
            "'x1' is not a valid integer value for field 'word'");
  EXPECT_EQ(ds.FieldByName("small").AsInteger(), -2);  // a refused value leaves the old one
  ds.FieldByName("small").SetAsString("  ");
  EXPECT_TRUE(ds.FieldByName("small").IsNull());
  ds.FieldByName("small").SetValue(Variant("12"));
  EXPECT_TRUE(ds.FieldByName("small").Value() == Variant(12));
}

TEST_F(FieldKindsTest, BooleansAcceptLeadingPartsOfTheirTexts) {
  TField& flag = ds.FieldByName("flag");
  flag.SetAsString("t");
  EXPECT_EQ(At<uint16_t>(ds.ActivePlace(3)), 1);
  EXPECT_EQ(flag.AsString(), "True");
  flag.SetAsString("FAL");
  EXPECT_FALSE(flag.AsBoolean());
  EXPECT_EQ(flag.DataSize(), 2);
  EXPECT_EQ(ErrorOf([&] { flag.SetAsString("yes"); }),
            "'yes' is not a valid boolean value for field 'flag'");
}

TEST_F(FieldKindsTest, DatesAndTimesUseTheEngineForms) {
  TDateTime moment = EncodeDate(1899, 12, 30) + EncodeTime(6, 0, 0, 5);
  ds.FieldByName("day").SetAsDateTime(moment);
  ds.FieldByName("clock").SetAsDateTime(moment);
  ds.FieldByName("stamp").SetAsDateTime(moment);
  EXPECT_EQ(At<int32_t>(ds.ActivePlace(4)), 693594);
  EXPECT_EQ(At<int32_t>(ds.ActivePlace(5)), 6 * 3600000 + 5);
  EXPECT_DOUBLE_EQ(At<double>(ds.ActivePlace(6)), 693594.0 * 86400000 + 6 * 3600000 + 5);
  EXPECT_DOUBLE_EQ(ds.FieldByName("day").AsDateTime(), 0.0);
  EXPECT_DOUBLE_EQ(ds.FieldByName("stamp").AsDateTime(), moment);
  EXPECT_EQ(ds.FieldByName("clock").AsString(), "06:00:00");
  ds.FieldByName("day").SetAsString("2001-02-03");
  EXPECT_EQ(ds.FieldByName("day").Value().ToString(), "2001-02-03");
  EXPECT_THROW(ds.FieldByName("day").SetAsDateTime(-693594.0), EConvertError);
}

TEST_F(FieldKindsTest, BcdIsAScaledIntegerOfTheDeclaredDecimals) {
  TField& money = ds.FieldByName("money");
  money.SetAsString("-12.345");
  EXPECT_EQ(At<int64_t>(ds.ActivePlace(7)), -1235);  // rounded half away from zero
  EXPECT_EQ(money.AsString(), "-12.35");
  money.SetAsFloat(0.1);
  EXPECT_EQ(At<int64_t>(ds.ActivePlace(7)), 10);
  EXPECT_EQ(money.AsString(), "0.1");
  money.SetAsString("92233720368547758.07");
  EXPECT_EQ(At<int64_t>(ds.ActivePlace(7)), INT64_MAX);
  EXPECT_THROW(money.SetAsString("92233720368547758.08"), EDatabaseError);
}

TEST_F(FieldKindsTest, VarBytesCarryTheirLength) {
  TField& raw = ds.FieldByName("raw");
  raw.SetAsString(std::string("\x01\x00\x02", 3));
  const uint8_t* place = ds.ActivePlace(8);
  EXPECT_EQ(At<uint16_t>(place), 3);
  EXPECT_EQ(place[3], 1);
  EXPECT_EQ(raw.AsString(), std::string("\x01\x00\x02", 3));
  raw.SetAsString("abcdefgh");  // capacity is size - 2
  EXPECT_EQ(raw.AsString(), "abcd");
  EXPECT_EQ(raw.Value().VarType(), TVarType::Bytes);
}

TEST_F(FieldKindsTest, OnValidateSeesTheNewValueAndCanRefuseIt) {
  TField& f = ds.FieldByName("f");
  f.SetAsFloat(1);
  f.OnValidate = [](TField& field) {
    if (field.AsFloat() < 0) throw EDatabaseError("negative");
  };
  f.SetAsFloat(2.5);
  EXPECT_THROW(f.SetAsFloat(-1), EDatabaseError);
  EXPECT_DOUBLE_EQ(f.AsFloat(), 2.5);
  EXPECT_EQ(f.AsString(), "2.5");
}

TEST(FieldBindingTest, PersistentFieldsMustMatchTheDefinitions) {
  TMemDataSet missing({{"a", ftString, 10}});
  missing.AddField<TStringField>("b", 10);
  EXPECT_EQ(ErrorOf([&] { missing.Open(); }), "Field 'b' not found");
  EXPECT_FALSE(missing.Active());

  TMemDataSet wrongType({{"a", ftString, 10}});
  wrongType.AddField<TIntegerField>("a");
  EXPECT_EQ(ErrorOf([&] { wrongType.Open(); }),
            "Type mismatch for field 'a', expecting: Integer actual: String");

  TMemDataSet wrongSize({{"a", ftString, 10}});
  wrongSize.AddField<TStringField>("a", 20);
  EXPECT_EQ(ErrorOf([&] { wrongSize.Open(); }),
            "Size mismatch for field 'a', expecting: 20 actual: 10");

  TMemDataSet ok({{"a", ftString, 10}, {"n", ftInteger}});
  ok.AddField<TStringField>("A", 10);
  ok.Open();
  EXPECT_EQ(ok.FieldCount(), 1);  // persistent fields only
  EXPECT_EQ(ok.FieldByName("a").FieldNo(), 1);
  EXPECT_EQ(ErrorOf([&] { ok.AddField<TStringField>("n", 1); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(ErrorOf([&] { ok.FieldByName("zz"); }), "Field 'zz' not found");
}

TEST(FieldBindingTest, DefaultFieldsLiveWhileOpen) {
  TMemDataSet ds({{"a", ftString, 10}, {"n", ftAutoInc}, {"m", ftMemo}});
  ds.Open();
  ASSERT_EQ(ds.FieldCount(), 3);
  EXPECT_TRUE(ds.DefaultFields());
  EXPECT_NE(dynamic_cast<TAutoIncField*>(&ds.Fields()[1]), nullptr);
  EXPECT_NE(dynamic_cast<TMemoField*>(&ds.Fields()[2]), nullptr);
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 0);
}

TEST(FieldBindingTest, CalculatedFieldsAreComputedPerRecord) {
  TMemDataSet ds({{"a", ftString, 10}});
  ds.AddTextRow({"one"});
  ds.AddTextRow({"three"});
  ds.AddField<TStringField>("a", 10);
  TField& length = ds.AddField<TIntegerField>("len");
  length.SetFieldKind(fkCalculated);
  ds.OnCalcFields = [](TDataSet& set) {
    set.FieldByName("len").SetAsInteger(static_cast<int32_t>(set.FieldByName("a").AsString().size()));
  };
  ds.Open();
  EXPECT_EQ(length.AsInteger(), 3);
  ds.Next();
  EXPECT_EQ(length.AsInteger(), 5);
  EXPECT_FALSE(length.CanModify());
  ds.Edit();
  ds.FieldByName("a").SetAsString("ab");  // recalculated on the change
  EXPECT_EQ(length.AsInteger(), 2);
  ds.Cancel();
  EXPECT_EQ(length.AsInteger(), 5);
}

}  // namespace
