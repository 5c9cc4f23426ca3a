// Scrambling of encrypted tables: the cipher units, the password rules and
// an encrypted table's files checked against a hand-written scrambler.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TableTestSupport.h"
#include "engine/base/Bytes.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/Scramble.h"

namespace tessel {
namespace {

using testing::ErrorOf;
using testing::Field;
using testing::Index;
using testing::ReadFileBytes;
using testing::TempDir;

// Byte i of a unit is XORed with (low + i) and (high - i), both mod 256.
uint8_t KeyByte(uint8_t low, uint8_t high, size_t i) {
  return static_cast<uint8_t>(static_cast<uint8_t>(low + i) ^ static_cast<uint8_t>(high - i));
}
constexpr uint8_t kDataLow = 0x5A, kDataHigh = 0xC3, kTextLow = 0x2E, kTextHigh = 0x97;

std::vector<uint8_t> HandScrambled(std::vector<uint8_t> bytes, uint8_t low, uint8_t high) {
  for (size_t i = 0; i < bytes.size() && i < 65536; ++i) bytes[i] ^= KeyByte(low, high, i);
  return bytes;
}

TEST(ScrambleTest, TwiceRestoresAndEveryUnitStartsFromTheSameState) {
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  std::vector<uint8_t> once = data;
  ScrambleData(once.data(), once.size());
  EXPECT_NE(once, data);
  EXPECT_EQ(once, HandScrambled(data, kDataLow, kDataHigh));
  std::vector<uint8_t> twice = once;
  ScrambleData(twice.data(), twice.size());
  EXPECT_EQ(twice, data);

  // The first byte of a unit is XORed with the same value wherever it lies.
  for (size_t length : {1u, 4u, 18u, 512u, 4096u}) {
    std::vector<uint8_t> unit(length, 0x00);
    ScrambleData(unit.data(), unit.size());
    EXPECT_EQ(unit[0], 0x5A ^ 0xC3) << length;
    ScrambleText(unit.data(), 1);
    EXPECT_EQ(unit[0], 0x5A ^ 0xC3 ^ 0x2E ^ 0x97) << length;
  }
  EXPECT_EQ(ScrambledText(ScrambledText("secret")), "secret");
}

TEST(ScrambleTest, DescriptorBlockOf86FieldsIsScrambledOnlyInItsFirst512Bytes) {
  std::vector<uint8_t> block(86 * 768, 0);
  ScrambleData(block.data(), block.size());
  for (size_t i = 0; i < 512; ++i) ASSERT_EQ(block[i], KeyByte(kDataLow, kDataHigh, i)) << i;
  for (size_t i = 512; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;
}

TEST(ScrambleTest, PasswordRulesForEncryptedTables) {
  TTableStructure s;
  s.Fields = {Field(1, "a", ftInteger)};
  s.Encrypted = true;
  auto check = [&](const std::string& password) {
    s.Password = password;
    return ErrorOf([&] { TTableStructure copy = s; TDataTable::CheckStructure(copy, true, "t"); });
  };
  EXPECT_EQ(check(std::string(15, 'p')).Code, 0);
  EXPECT_EQ(check("  abc  ").Code, 0);
  const auto e = check(std::string(16, 'p'));
  EXPECT_EQ(e.Code, ec::InvalidPassword);
  EXPECT_EQ(e.Message, "Password provided for table 't' is invalid");
  EXPECT_EQ(check("     ").Code, ec::InvalidPassword);
  EXPECT_EQ(check("").Code, ec::InvalidPassword);
  s.Encrypted = false;
  EXPECT_EQ(check("").Code, 0);
}

TEST(ScrambleTest, EncryptedTableFilesAndRoundTrip) {
  TempDir dir;
  TTableStructure s;
  for (uint16_t i = 1; i <= 85; ++i) s.Fields.push_back(Field(i, "f" + std::to_string(i), ftString, 10));
  s.Fields.push_back(Field(86, "memo", ftBlob, 0, fstMemo));
  s.Secondary = {Index("byf1", {1}, false)};
  s.Encrypted = true;
  s.Password = "secret";
  s.Description = "Links";
  TDataTable::CheckStructure(s, true, "enc");
  {
    TDataTable t(dir.Dir(), "enc");
    t.CreateFiles(s);
    t.CloseFiles(true);
  }

  const std::vector<uint8_t> dat = ReadFileBytes(dir.Dir() + "enc.DAT");
  ASSERT_EQ(dat.size(), 127u + 86u * 768u);
  EXPECT_EQ(dat[8], 4);     // the data header itself stays plain
  EXPECT_EQ(dat[86], 1);
  EXPECT_EQ(dat[87], 6);    // the length byte stays plain
  EXPECT_EQ(std::vector<uint8_t>(dat.begin() + 88, dat.begin() + 94),
            HandScrambled({'s', 'e', 'c', 'r', 'e', 't'}, kTextLow, kTextHigh));
  EXPECT_EQ(dat[35], 5);
  EXPECT_EQ(std::vector<uint8_t>(dat.begin() + 36, dat.begin() + 41),
            HandScrambled({'L', 'i', 'n', 'k', 's'}, kTextLow, kTextHigh));

  // 86 x 768 = 66048 bytes: only the first 66048 mod 65536 = 512 are scrambled.
  std::vector<uint8_t> plain(86 * 768);
  for (size_t i = 0; i < 86; ++i) s.Fields[i].Encode(plain.data() + i * 768);
  const std::vector<uint8_t> stored(dat.begin() + 127, dat.end());
  for (size_t i = 0; i < 512; ++i) ASSERT_EQ(stored[i], plain[i] ^ KeyByte(kDataLow, kDataHigh, i)) << i;
  for (size_t i = 512; i < plain.size(); ++i) ASSERT_EQ(stored[i], plain[i]) << i;

  const std::vector<uint8_t> idx = HandScrambled(ReadFileBytes(dir.Dir() + "enc.IDX"), kDataLow, kDataHigh);
  ASSERT_EQ(idx.size(), 4096u);
  EXPECT_EQ(GetI32(idx.data()), 1);
  EXPECT_EQ(idx[8], 4);
  EXPECT_EQ(idx[13], 1);
  EXPECT_EQ(idx[134], 4);
  EXPECT_EQ(std::memcmp(idx.data() + 135, "byf1", 4), 0);
  const std::vector<uint8_t> blb = HandScrambled(ReadFileBytes(dir.Dir() + "enc.BLB"), kDataLow, kDataHigh);
  ASSERT_EQ(blb.size(), 512u);
  EXPECT_EQ(blb[8], 4);
  EXPECT_EQ(GetI32(blb.data() + 13), 512);

  EXPECT_EQ(TDataTable::ReadPasswordFromFile(dir.Dir() + "enc.DAT"), "secret");
  TDataTable t(dir.Dir(), "enc");
  t.OpenFiles();
  t.ValidateHeaders();
  EXPECT_TRUE(t.IsEncrypted());
  EXPECT_EQ(t.Password(), "secret");
  EXPECT_EQ(t.Description(), "Links");
  EXPECT_EQ(t.Data().Fields[84].Name, "f85");
  EXPECT_EQ(t.Data().Fields[85].Type, ftBlob);
  EXPECT_EQ(t.Index().Header.Indexes[1].Name, "byf1");
  EXPECT_EQ(t.Index().ReadChangeCounter(), 1);
  EXPECT_EQ(t.Blob().ReadChangeCounter(), 1);

  // Written again: still readable, counters move on in the scrambled files.
  t.Data().DescsModified = true;
  t.FlushTable(false, true, true);
  EXPECT_EQ(t.Index().ReadChangeCounter(), 2);
  EXPECT_EQ(t.Blob().ReadChangeCounter(), 2);
  t.DropCaches(false, true);
  t.Data().ReadFieldDescs();
  EXPECT_EQ(t.Data().Fields[0].Name, "f1");
  EXPECT_EQ(t.Index().Header.ChangeCounter, 2);
  t.CloseFiles(false);
}

TEST(ScrambleTest, PlainTableHasNoPassword) {
  TempDir dir;
  TTableStructure s;
  s.Fields = {Field(1, "a", ftInteger)};
  s.Password = "unused";
  s.Description = "plain";
  TDataTable::CheckStructure(s, true, "p");
  {
    TDataTable t(dir.Dir(), "p");
    t.CreateFiles(s);
    t.CloseFiles(true);
  }
  const std::vector<uint8_t> dat = ReadFileBytes(dir.Dir() + "p.DAT");
  EXPECT_EQ(dat[87], 0);
  EXPECT_EQ(dat[35], 5);
  EXPECT_EQ(dat[36], 'p');  // not encrypted: the description is plain
  EXPECT_EQ(TDataTable::ReadPasswordFromFile(dir.Dir() + "p.DAT"), "");
}

}  // namespace
}  // namespace tessel
