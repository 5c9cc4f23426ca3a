// Structure checks, table creation (down to the bytes of the catalogue's
// files), index definition changes, header changes and emptying.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "TableTestSupport.h"
#include "engine/base/Bytes.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/ValueText.h"

namespace tessel {
namespace {

using testing::CatalogueStructure;
using testing::ErrorOf;
using testing::Field;
using testing::Index;
using testing::ReadFileBytes;
using testing::TempDir;

constexpr const char* kTable = "t";

testing::RaisedError CheckError(TTableStructure s, bool allowNoPrimary = true) {
  return ErrorOf([&] { TDataTable::CheckStructure(s, allowNoPrimary, kTable); });
}

TEST(TableCreateTest, RecordOffsetsAndSizeWithAnAutoIncrementField) {
  TTableStructure s;
  s.Fields = {Field(1, "id", ftInteger, 0, fstAutoInc), Field(2, "name", ftString, 30)};
  TDataTable::CheckStructure(s, true, kTable);
  EXPECT_EQ(s.Fields[0].RecordOffset, 5);
  EXPECT_EQ(s.Fields[0].PhysicalSize, 4);
  EXPECT_EQ(s.Fields[1].RecordOffset, 9);
  EXPECT_EQ(s.Fields[1].PhysicalSize, 31);

  TempDir dir;
  TDataTable t(dir.Dir(), kTable);
  t.CreateFiles(s);
  EXPECT_EQ(t.Data().RecordSize(), 41);
  EXPECT_TRUE(t.IsOpen());
  EXPECT_FALSE(t.IsReadOnly());
  t.CloseFiles(true);
}

TEST(TableCreateTest, FieldChecks) {
  auto withFields = [](std::vector<TFieldDesc> fields) {
    TTableStructure s;
    s.Fields = std::move(fields);
    return s;
  };
  auto e = CheckError(withFields({Field(1, "1st", ftString, 5)}));
  EXPECT_EQ(e.Code, ec::InvalidFieldName);
  EXPECT_EQ(e.Message, "Invalid or duplicate field name '1st' specified for table 't'");
  EXPECT_EQ(CheckError(withFields({Field(1, "\xC4rger", ftString, 5), Field(2, "\x81x", ftInteger)})).Code, 0);
  EXPECT_EQ(CheckError(withFields({Field(1, "\xFFx", ftString, 5)})).Code, ec::InvalidFieldName);
  EXPECT_EQ(CheckError(withFields({Field(1, "   ", ftString, 5)})).Code, ec::InvalidFieldName);
  EXPECT_EQ(CheckError(withFields({Field(1, std::string(31, 'a'), ftString, 5)})).Code, ec::InvalidFieldName);
  e = CheckError(withFields({Field(1, "Name", ftString, 5), Field(2, " nAME ", ftInteger)}));
  EXPECT_EQ(e.Code, ec::InvalidFieldName);
  EXPECT_EQ(e.Message, "Invalid or duplicate field name 'nAME' specified for table 't'");

  e = CheckError(withFields({Field(1, "a", ftString, 251)}));
  EXPECT_EQ(e.Code, ec::InvalidFieldDef);
  EXPECT_EQ(e.Message, "Invalid field definition specified for the field 'a' in table 't'");
  EXPECT_EQ(CheckError(withFields({Field(1, "a", ftVarBytes, 251)})).Code, ec::InvalidFieldDef);
  EXPECT_EQ(CheckError(withFields({Field(1, "a", ftInvalid)})).Code, ec::InvalidFieldDef);
  EXPECT_EQ(CheckError(withFields({Field(1, "a", ftInteger), Field(1, "b", ftInteger)})).Code, ec::InvalidFieldDef);
  EXPECT_EQ(CheckError(withFields({Field(1, "a", ftInteger), Field(3, "b", ftInteger)})).Code, ec::InvalidFieldDef);

  // Declared size and decimals are dropped where the type has no use for them.
  TTableStructure s = withFields({Field(1, "a", ftInteger, 200), Field(2, "b", ftBCD, 9), Field(3, "c", ftBytes, 250)});
  s.Fields[0].DeclaredDecimals = 3;
  s.Fields[1].DeclaredDecimals = 2;
  TDataTable::CheckStructure(s, true, kTable);
  EXPECT_EQ(s.Fields[0].DeclaredSize, 0);
  EXPECT_EQ(s.Fields[0].DeclaredDecimals, 0);
  EXPECT_EQ(s.Fields[1].DeclaredSize, 0);
  EXPECT_EQ(s.Fields[1].PhysicalDecimals, 2);
  EXPECT_EQ(s.Fields[2].PhysicalSize, 250);
}

TEST(TableCreateTest, TableLimits) {
  TTableStructure s;
  s.Fields = {Field(1, "a", ftInteger)};
  s.LastAutoIncValue = -2;
  EXPECT_EQ(CheckError(s).Code, ec::FieldLimits);
  s.LastAutoIncValue = -1;
  s.BlobBlockSize = 63;
  EXPECT_EQ(CheckError(s).Code, ec::BlobFieldsOrBlockSize);
  s.BlobBlockSize = 64;
  EXPECT_EQ(CheckError(s).Code, 0);
  s.Secondary.assign(33, Index("x", {1}, false));
  EXPECT_EQ(CheckError(s).Code, ec::IndexLimits);
  s.Secondary.clear();
  s.Fields.clear();
  for (uint16_t i = 1; i <= 1025; ++i) s.Fields.push_back(Field(i, "f" + std::to_string(i), ftInteger));
  EXPECT_EQ(CheckError(s).Code, ec::FieldLimits);
}

TEST(TableCreateTest, DefaultMinimumAndMaximumTexts) {
  auto check = [](uint8_t type, const std::string& text) {
    TTableStructure s;
    s.Fields = {Field(1, "f", type, type == ftString ? 10 : 0)};
    s.Fields[0].Default = text;
    return CheckError(s).Code;
  };
  EXPECT_EQ(check(ftTimeStamp, "now"), 0);
  EXPECT_EQ(check(ftTimeStamp, "Date"), 0);
  EXPECT_EQ(check(ftTimeStamp, "2024-02-29 13:45:10"), 0);
  EXPECT_EQ(check(ftTimeStamp, "2024-02-29T13:45"), 0);
  EXPECT_EQ(check(ftTimeStamp, "13:45:10.250"), 0);
  EXPECT_EQ(check(ftTimeStamp, "2023-02-29"), ec::InvalidValidity);
  EXPECT_EQ(check(ftTimeStamp, "yesterday"), ec::InvalidValidity);
  EXPECT_EQ(check(ftDate, "DATE"), 0);
  EXPECT_EQ(check(ftDate, "NOW"), ec::InvalidValidity);
  EXPECT_EQ(check(ftTime, "time"), 0);
  EXPECT_EQ(check(ftTime, "24:00"), ec::InvalidValidity);
  EXPECT_EQ(check(ftBoolean, "true"), 0);
  EXPECT_EQ(check(ftBoolean, "yes"), ec::InvalidValidity);
  EXPECT_EQ(check(ftSmallInt, "-32768"), 0);
  EXPECT_EQ(check(ftSmallInt, "32768"), ec::InvalidValidity);
  EXPECT_EQ(check(ftWord, "65535"), 0);
  EXPECT_EQ(check(ftWord, "-1"), ec::InvalidValidity);
  EXPECT_EQ(check(ftInteger, "2147483648"), ec::InvalidValidity);
  EXPECT_EQ(check(ftFloat, "-1.5e3"), 0);
  EXPECT_EQ(check(ftFloat, "inf"), ec::InvalidValidity);
  EXPECT_EQ(check(ftBCD, "12.345"), 0);
  EXPECT_EQ(check(ftBCD, "12,5"), ec::InvalidValidity);
  EXPECT_EQ(check(ftString, "anything at all"), 0);

  // Default, then minimum, then maximum; the message names the field.
  TTableStructure s;
  s.Fields = {Field(1, "amount", ftInteger)};
  s.Fields[0].Maximum = "x";
  const auto e = CheckError(s);
  EXPECT_EQ(e.Message, "Invalid default, min or max validity check, or expression specified for 'amount' in table 't'");
}

// A BCD text is a valid default, minimum or maximum when it is a value of
// the field as stored, scaled by the field's own decimals.
TEST(TableCreateTest, BcdTextsAreCheckedAtTheFieldsDecimals) {
  auto check = [](uint8_t decimals, const std::string& text) {
    TTableStructure s;
    s.Fields = {Field(1, "amount", ftBCD)};
    s.Fields[0].DeclaredDecimals = decimals;
    s.Fields[0].Minimum = text;
    return CheckError(s).Code;
  };
  // 100 at 18 decimals is beyond 64 bits: no record could take it.
  EXPECT_EQ(check(18, "100"), ec::InvalidValidity);
  EXPECT_EQ(check(18, "9.223372036854775807"), 0);
  // 5e15 whole units fit a field without decimals, not a currency value.
  EXPECT_EQ(check(0, "5000000000000000"), 0);
  EXPECT_EQ(check(0, "9223372036854775808"), ec::InvalidValidity);
  EXPECT_EQ(check(2, "12.345"), 0);
}

TEST(TableCreateTest, ValueTextParsers) {
  int32_t day = 0;
  ASSERT_TRUE(ParseDateText("1899-12-30", day));
  EXPECT_EQ(day, 693594);
  ASSERT_TRUE(ParseDateText("0001-01-01", day));
  EXPECT_EQ(day, 1);
  int32_t ms = 0;
  ASSERT_TRUE(ParseTimeText("01:02:03.4", ms));
  EXPECT_EQ(ms, 3723400);
  double stamp = 0;
  ASSERT_TRUE(ParseDateTimeText("1899-12-31 12:00", stamp));
  EXPECT_DOUBLE_EQ(stamp, 693595.0 * 86400000.0 + 43200000.0);
  int64_t scaled = 0;
  ASSERT_TRUE(ParseScaledText("-12.345", 2, scaled));
  EXPECT_EQ(scaled, -1235);  // half away from zero
  ASSERT_TRUE(ParseCurrencyText("922337203685477.5807", scaled));
  EXPECT_EQ(scaled, INT64_MAX);
  EXPECT_FALSE(ParseCurrencyText("922337203685477.5808", scaled));
  ASSERT_TRUE(ParseCurrencyText("-922337203685477.5808", scaled));
  EXPECT_EQ(scaled, INT64_MIN);
  EXPECT_FALSE(ParseScaledText(".", 2, scaled));
}

TEST(TableCreateTest, IndexChecks) {
  TTableStructure s;
  s.Fields = {Field(1, "n", ftInteger), Field(2, "name", ftString, 20)};
  s.Secondary = {Index("byN", {1}, false), Index("byNu", {1}, true)};
  TDataTable::CheckStructure(s, true, kTable);
  EXPECT_EQ(s.Secondary[0].KeyLength, 9);
  EXPECT_EQ(s.Secondary[1].KeyLength, 5);
  EXPECT_EQ(s.Primary.FieldCount, 0);

  s.Secondary = {Index("byName", {2}, true), Index("  BYNAME ", {1}, true)};
  auto e = CheckError(s);
  EXPECT_EQ(e.Code, ec::IndexExists);
  EXPECT_EQ(e.Message, "The secondary index 'BYNAME' already exists for table 't'");

  s.Secondary = {Index("9x", {1}, true)};
  e = CheckError(s);
  EXPECT_EQ(e.Message, "Invalid secondary index name '9x' specified for table 't'");
  s.Secondary = {Index("x", {1, 7}, true)};
  e = CheckError(s);
  EXPECT_EQ(e.Message, "Invalid field number '7' specified in index 'x' for table 't'");
  s.Secondary = {Index("x", {}, true)};
  e = CheckError(s);
  EXPECT_EQ(e.Message, "Invalid key size specified in index 'x' for table 't'");

  // A primary definition without fields is allowed only where the caller says so.
  s.Secondary.clear();
  s.Primary = Index("", {}, true);
  EXPECT_EQ(CheckError(s, true).Code, 0);
  EXPECT_EQ(CheckError(s, false).Message, "Invalid key size specified in index 'Primary' for table 't'");
  s.Primary = Index("", {1, 2}, false);
  TDataTable::CheckStructure(s, false, kTable);
  EXPECT_EQ(s.Primary.Unique, 1);
  EXPECT_EQ(s.Primary.KeyLength, 5 + 22);

  // Key length limit: 1036 before the identifier is added.
  TTableStructure wide;
  for (uint16_t i = 1; i <= 5; ++i) wide.Fields.push_back(Field(i, "s" + std::to_string(i), ftString, 205));
  wide.Fields.push_back(Field(6, "pad", ftBytes, 5));
  wide.Secondary = {Index("w", {1, 2, 3, 4, 5, 6}, false)};  // 5 x 207 + 6 = 1041
  EXPECT_EQ(CheckError(wide).Code, ec::InvalidKeySize);
  wide.Fields[5].DeclaredSize = 0;  // 5 x 207 + 1 = 1036
  TDataTable::CheckStructure(wide, true, kTable);
  EXPECT_EQ(wide.Secondary[0].KeyLength, 1040);
}

TEST(TableCreateTest, CreatedCatalogueFilesByteForByte) {
  TempDir dir;
  TTableStructure s = CatalogueStructure();
  TDataTable::CheckStructure(s, true, "linksdata.dat");
  TDataTable t(dir.Dir(), "linksdata.dat");
  t.CreateFiles(s);
  t.CloseFiles(true);

  const std::vector<uint8_t> dat = ReadFileBytes(dir.Dir() + "linksdata.DAT");
  ASSERT_EQ(dat.size(), 127u + 6u * 768u);
  EXPECT_EQ(GetI32(dat.data() + 0), 1);  // one header write
  EXPECT_EQ(GetU32(dat.data() + 4), 512u);
  EXPECT_EQ(dat[8], 4);
  EXPECT_EQ(GetI32(dat.data() + 9), 0);
  EXPECT_EQ(GetI32(dat.data() + 13), 1);
  EXPECT_EQ(GetI32(dat.data() + 17), 0);
  // 9 + 32 + 102 + 62 + 32 + 32 + 9
  EXPECT_EQ(GetU16(dat.data() + 21), 278);
  EXPECT_EQ(GetU16(dat.data() + 23), 6);
  EXPECT_EQ(GetU16(dat.data() + 25), 1);
  EXPECT_EQ(dat[35], 0);
  EXPECT_EQ(dat[86], 0);
  EXPECT_EQ(dat[87], 0);
  EXPECT_EQ(GetU16(dat.data() + 103), 0);
  EXPECT_EQ(GetI32(dat.data() + 112), 0);

  struct Expected {
    const char* Name;
    uint8_t Type, SubType, Declared, Physical;
    uint16_t Offset;
    uint8_t Required;
  };
  const Expected fields[] = {{"sitetype", 1, 0, 30, 31, 9, 0},   {"siteurl", 1, 0, 100, 101, 41, 1},
                             {"sitename", 1, 0, 60, 61, 143, 0}, {"login", 1, 0, 30, 31, 205, 0},
                             {"password", 1, 0, 30, 31, 237, 0}, {"note", 3, 22, 0, 8, 269, 0}};
  for (int i = 0; i < 6; ++i) {
    const uint8_t* d = dat.data() + 127 + 768 * i;
    const Expected& x = fields[i];
    SCOPED_TRACE(x.Name);
    EXPECT_EQ(GetU16(d), i + 1);
    EXPECT_EQ(d[2], std::strlen(x.Name));
    EXPECT_EQ(std::memcmp(d + 3, x.Name, std::strlen(x.Name)), 0);
    EXPECT_EQ(d[84], x.Type);
    EXPECT_EQ(d[85], x.SubType);
    EXPECT_EQ(d[86], x.Declared);
    EXPECT_EQ(d[88], x.Physical);
    EXPECT_EQ(GetU16(d + 90), x.Offset);
    EXPECT_EQ(d[92], x.Required);
    for (int k = 248; k < 768; ++k) ASSERT_EQ(d[k], 0);
  }

  const std::vector<uint8_t> idx = ReadFileBytes(dir.Dir() + "linksdata.IDX");
  ASSERT_EQ(idx.size(), 4096u);
  EXPECT_EQ(GetI32(idx.data()), 1);
  EXPECT_EQ(idx[8], 4);
  EXPECT_EQ(GetI32(idx.data() + 9), 4096);
  EXPECT_EQ(idx[13], 1);
  for (int k = 14; k < 134; ++k) ASSERT_EQ(idx[static_cast<size_t>(k)], 0) << "primary slot " << k;
  const uint8_t* x = idx.data() + 134;
  EXPECT_EQ(x[0], 7);
  EXPECT_EQ(std::memcmp(x + 1, "siteurl", 7), 0);
  EXPECT_EQ(GetU16(x + 31), 102);
  EXPECT_EQ(x[35], 1);  // unique
  EXPECT_EQ(x[37], 1);  // one field
  EXPECT_EQ(GetU16(x + 54), 2);
  EXPECT_EQ(GetI32(x + 86), 0);
  const uint8_t* sys = idx.data() + 14 + 31 * 120;
  EXPECT_EQ(sys[0], 11);
  EXPECT_EQ(std::memcmp(sys + 1, "Sys Deleted", 11), 0);
  EXPECT_EQ(GetU16(sys + 31), 5);
  EXPECT_EQ(sys[36], 0);
  EXPECT_EQ(sys[37], 0);
  EXPECT_EQ(GetI32(idx.data() + 3974), 0);
  EXPECT_EQ(idx[3978], 1);  // no primary index

  const std::vector<uint8_t> blb = ReadFileBytes(dir.Dir() + "linksdata.BLB");
  ASSERT_EQ(blb.size(), 512u);
  EXPECT_EQ(GetI32(blb.data()), 1);
  EXPECT_EQ(blb[8], 4);
  EXPECT_EQ(GetI32(blb.data() + 9), 0);
  EXPECT_EQ(GetI32(blb.data() + 13), 512);
}

TEST(TableCreateTest, CreationRefusesBadIndexDefinitionsAndTooManyBlobFields) {
  TempDir dir;
  auto create = [&](TTableStructure s) {
    return ErrorOf([&] {
      TDataTable::CheckStructure(s, true, kTable);
      TDataTable t(dir.Dir(), kTable);
      t.CreateFiles(s);
      t.CloseFiles(true);
    });
  };
  TTableStructure s = CatalogueStructure();
  s.Primary = Index("", {6}, true);
  auto e = create(s);
  EXPECT_EQ(e.Code, ec::InvalidIndexFieldType);
  EXPECT_EQ(e.Message, "Invalid field type specified for index 'Primary' in table 't'");

  s = CatalogueStructure();
  s.Secondary = {Index("n", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, false)};
  EXPECT_EQ(create(s).Code, 0);
  s.Secondary[0].FieldCount = 17;  // passes the structure check, refused when laid down
  EXPECT_EQ(create(s).Code, ec::IndexLimits);

  s = CatalogueStructure();
  s.Secondary.clear();
  for (int i = 0; i < 31; ++i) s.Secondary.push_back(Index("i" + std::to_string(i), {1}, false));
  EXPECT_EQ(create(s).Code, ec::IndexLimits);
  s.Secondary.pop_back();
  EXPECT_EQ(create(s).Code, 0);

  s = TTableStructure{};
  for (uint16_t i = 1; i <= 65; ++i) s.Fields.push_back(Field(i, "b" + std::to_string(i), ftBlob));
  e = create(s);
  EXPECT_EQ(e.Code, ec::BlobFieldsOrBlockSize);
  s.Fields.pop_back();
  EXPECT_EQ(create(s).Code, 0);

  s = TTableStructure{};
  for (uint16_t i = 1; i <= 261; ++i) s.Fields.push_back(Field(i, "s" + std::to_string(i), ftString, 250));
  EXPECT_EQ(create(s).Code, ec::RecordTooBig);  // 9 + 261 x 252 = 65781
}

TEST(TableCreateTest, IndexDefinitionChangesOnAnOpenTable) {
  TempDir dir;
  TTableStructure s = CatalogueStructure();
  TDataTable::CheckStructure(s, true, kTable);
  TDataTable t(dir.Dir(), kTable);
  t.CreateFiles(s);
  TIndexFile& index = t.Index();

  auto e = ErrorOf([&] { index.AddSecondaryIndex(Index(" SiteUrl ", {1}, true)); });
  EXPECT_EQ(e.Message, "The secondary index 'SiteUrl' already exists for table 't'");
  EXPECT_EQ(ErrorOf([&] { index.AddSecondaryIndex(Index("  ", {1}, true)); }).Code, ec::IndexNameMissing);
  EXPECT_EQ(ErrorOf([&] { index.AddSecondaryIndex(Index("_x", {1}, true)); }).Code, ec::InvalidIndexName);
  EXPECT_EQ(ErrorOf([&] { index.AddSecondaryIndex(Index("memo", {6}, true)); }).Code, ec::InvalidIndexFieldType);

  TIndexDesc byName = Index("byname", {3}, false);
  byName.KeyLength = 66;
  index.AddSecondaryIndex(byName);
  index.AddSecondaryIndex(Index("bytype", {1}, false));
  EXPECT_EQ(index.Header.SecondaryCount, 3);
  EXPECT_EQ(index.FindIndex(" BYNAME"), 2);
  EXPECT_EQ(index.FindIndex("sys deleted"), kSysDeletedSlot);
  EXPECT_EQ(index.FindIndex("none"), -1);
  EXPECT_EQ(index.IndexName(0), "Primary");
  EXPECT_EQ(index.IndexName(2), "byname");

  index.DropIndex(2);
  EXPECT_EQ(index.Header.SecondaryCount, 2);
  EXPECT_EQ(index.Header.Indexes[1].Name, "siteurl");
  EXPECT_EQ(index.Header.Indexes[2].Name, "bytype");
  EXPECT_EQ(index.Header.Indexes[3].Name, "");

  TIndexDesc primary = Index("", {2}, true);
  primary.KeyLength = 102;
  index.SetPrimaryIndex(primary);
  EXPECT_EQ(index.Header.NoPrimaryIndex, 0);
  e = ErrorOf([&] { index.SetPrimaryIndex(primary); });
  EXPECT_EQ(e.Message, "A primary index is already defined for table 't' and cannot be added again");
  index.DropIndex(0);
  EXPECT_EQ(index.Header.NoPrimaryIndex, 1);
  index.SetPrimaryIndex(primary);  // a dropped primary index can be set again
  t.CloseFiles(true);
}

TEST(TableCreateTest, HeaderInfoAndFieldRedefinition) {
  TempDir dir;
  TTableStructure s = CatalogueStructure();
  TDataTable::CheckStructure(s, true, kTable);
  {
    TDataTable t(dir.Dir(), kTable);
    t.CreateFiles(s);
    t.Data().SetHeaderInfo("ignored", "My links", 2, 3, 41);
    TFieldDesc changed = t.Data().Fields[2];
    changed.Name = "title";
    changed.Required = 1;
    changed.Default = "none";
    changed.Type = ftInteger;  // type, sizes, offset and case stay
    changed.RecordOffset = 1;
    t.Data().RedefineField(3, changed);
    t.CloseFiles(true);
  }
  TDataTable t(dir.Dir(), kTable);
  t.OpenFiles();
  t.ValidateHeaders();
  EXPECT_EQ(t.Description(), "My links");
  EXPECT_EQ(t.Password(), "");
  EXPECT_EQ(t.Data().Header.Password, "");  // not encrypted: no password kept
  EXPECT_EQ(t.Data().Header.UserMinor, 2);
  EXPECT_EQ(t.Data().Header.UserMajor, 3);
  EXPECT_EQ(t.Data().Header.LastAutoIncValue, 41);
  const TFieldDesc& f = t.Data().Fields[2];
  EXPECT_EQ(f.Name, "title");
  EXPECT_EQ(f.Required, 1);
  EXPECT_EQ(f.Default, "none");
  EXPECT_EQ(f.Type, ftString);
  EXPECT_EQ(f.RecordOffset, 143);
  t.CloseFiles(false);
}

TEST(TableCreateTest, EmptyingKeepsDefinitionsAndRestartsNumbering) {
  TempDir dir;
  TTableStructure s = CatalogueStructure();
  s.Fields.insert(s.Fields.begin(), Field(7, "id", ftInteger, 0, fstAutoInc));
  TDataTable::CheckStructure(s, true, kTable);
  TDataTable t(dir.Dir(), kTable);
  t.CreateFiles(s);
  TDataFile& data = t.Data();
  for (int i = 0; i < 3; ++i) {
    TRecord* r = data.AllocateSlot();
    data.InitImage(r, true);
    data.ReleaseRecord(r);
  }
  t.Index().Header.EndOfFile = 3 * 4096;
  t.Index().Header.ActiveRecordCount = 3;
  t.Index().Header.Indexes[1].RootPage = 4096;
  t.Index().Header.Indexes[kSysDeletedSlot].RootPage = 8192;
  t.Blob().Header.EndOfFile = 2048;
  t.FlushTable(false, true, true);
  ASSERT_EQ(std::filesystem::file_size(t.DataFileName()), 127u + 7u * 768u + 3u * 278u);

  t.EmptyTable();
  EXPECT_EQ(std::filesystem::file_size(t.DataFileName()), 127u + 7u * 768u);
  EXPECT_EQ(data.Header.NextRecordNumber, 1);
  EXPECT_EQ(data.Header.LastAutoIncValue, 0);
  EXPECT_EQ(data.Header.ChangeCounter, 0);
  EXPECT_TRUE(data.HeaderModified);
  EXPECT_EQ(data.Header.FieldCount, 7);
  const TIndexHeader& h = t.Index().Header;
  EXPECT_EQ(h.EndOfFile, 4096);
  EXPECT_EQ(h.ActiveRecordCount, 0);
  EXPECT_EQ(h.SecondaryCount, 1);
  EXPECT_EQ(h.Indexes[1].Name, "siteurl");
  EXPECT_EQ(h.Indexes[1].RootPage, 0);
  EXPECT_EQ(h.Indexes[kSysDeletedSlot].RootPage, 0);
  EXPECT_EQ(t.Blob().Header.EndOfFile, 512);

  TRecord* r = data.AllocateSlot();
  data.InitImage(r, true);
  EXPECT_EQ(r->RecordNumber, 1);
  EXPECT_EQ(r->RecordId(), 1);
  data.ReleaseRecord(r);
  t.CloseFiles(true);
  EXPECT_EQ(std::filesystem::file_size(t.IndexFileName()), 4096u);
  EXPECT_EQ(std::filesystem::file_size(t.BlobFileName()), 512u);
}

}  // namespace
}  // namespace tessel
