// Runs the built tessel tool on tables in temporary directories and checks
// its output and the bytes it lays down.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct ToolRun {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class TesselTool : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tessel-tool-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  ToolRun Tool(const std::string& args) {
    const fs::path out = dir_ / "stdout.txt";
    const fs::path err = dir_ / "stderr.txt";
    const std::string cmd = std::string(TESSEL_TOOL) + " " + args + " >" + out.string() + " 2>" + err.string();
    ToolRun r;
    const int status = std::system(cmd.c_str());
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Out = ReadFile(out);
    r.Err = ReadFile(err);
    return r;
  }

  std::string Structure(const std::string& name, const json& doc) {
    const fs::path p = dir_ / name;
    std::ofstream(p) << doc.dump();
    return p.string();
  }

  std::string CatalogueStructure() const { return std::string(MARROWICK_DATA_DIR) + "/linksdata.structure.json"; }

  fs::path dir_;
};

const uint8_t* U(const std::string& s, size_t offset) {
  return reinterpret_cast<const uint8_t*>(s.data()) + offset;
}

TEST_F(TesselTool, CreatesTheCatalogueTableByteExact) {
  const std::string table = (dir_ / "linksdata").string();
  ToolRun r = Tool("create " + table + " --structure " + CatalogueStructure());
  ASSERT_EQ(r.Exit, 0) << r.Err;

  const std::string dat = ReadFile(dir_ / "linksdata.DAT");
  const std::string idx = ReadFile(dir_ / "linksdata.IDX");
  const std::string blb = ReadFile(dir_ / "linksdata.BLB");
  // Header plus six descriptors, no records; one index header; one BLOB header.
  ASSERT_EQ(dat.size(), 127u + 6 * 768);
  ASSERT_EQ(idx.size(), 4096u);
  ASSERT_EQ(blb.size(), 512u);

  using namespace tessel;
  EXPECT_EQ(GetU32(U(dat, 4)), 512u);   // BLOB block size
  EXPECT_EQ(dat[8], 4);                 // version
  EXPECT_EQ(GetI32(U(dat, 9)), 0);      // first free record
  EXPECT_EQ(GetI32(U(dat, 13)), 1);     // next record number
  EXPECT_EQ(GetI32(U(dat, 17)), 0);     // last auto-increment value
  // 9 + (31+1) + (101+1) + (61+1) + (31+1) + (31+1) + (8+1)
  EXPECT_EQ(GetU16(U(dat, 21)), 278);   // record size
  EXPECT_EQ(GetU16(U(dat, 23)), 6);     // field count
  EXPECT_EQ(GetU16(U(dat, 25)), 1);     // BLOB field count
  EXPECT_EQ(dat[86], 0);                // not encrypted
  EXPECT_EQ(dat[87], 0);                // no password
  EXPECT_EQ(GetU16(U(dat, 103)), 0);    // language id

  struct Expected {
    const char* name;
    uint8_t type, subType, declared, physical;
    uint16_t offset;
    uint8_t required;
  };
  const Expected fields[] = {{"sitetype", 1, 0, 30, 31, 9, 0},   {"siteurl", 1, 0, 100, 101, 41, 1},
                             {"sitename", 1, 0, 60, 61, 143, 0}, {"login", 1, 0, 30, 31, 205, 0},
                             {"password", 1, 0, 30, 31, 237, 0}, {"note", 3, 22, 0, 8, 269, 0}};
  for (int i = 0; i < 6; ++i) {
    const size_t d = 127 + 768 * static_cast<size_t>(i);
    SCOPED_TRACE(fields[i].name);
    EXPECT_EQ(GetU16(U(dat, d)), i + 1);
    EXPECT_EQ(GetShortString(U(dat, d + 2), 30), fields[i].name);
    EXPECT_EQ(U(dat, d)[84], fields[i].type);
    EXPECT_EQ(U(dat, d)[85], fields[i].subType);
    EXPECT_EQ(U(dat, d)[86], fields[i].declared);
    EXPECT_EQ(U(dat, d)[88], fields[i].physical);
    EXPECT_EQ(GetU16(U(dat, d + 90)), fields[i].offset);
    EXPECT_EQ(U(dat, d)[92], fields[i].required);
    for (size_t b = 248; b < 768; ++b) ASSERT_EQ(U(dat, d)[b], 0) << b;
  }

  EXPECT_EQ(idx[8], 4);
  EXPECT_EQ(GetI32(U(idx, 9)), 4096);   // end of file
  EXPECT_EQ(idx[13], 1);                // one secondary index
  const size_t primary = 14, siteurl = 14 + 120, sysDeleted = 14 + 31 * 120;
  EXPECT_EQ(GetU16(U(idx, primary + 31)), 0);
  EXPECT_EQ(GetShortString(U(idx, siteurl), 30), "siteurl");
  EXPECT_EQ(GetU16(U(idx, siteurl + 31)), 102);  // 101 + 1, unique
  EXPECT_EQ(idx[siteurl + 33], 0);               // ascending
  EXPECT_EQ(idx[siteurl + 34], 0);               // case-sensitive
  EXPECT_EQ(idx[siteurl + 35], 1);               // unique
  EXPECT_EQ(idx[siteurl + 36], 0);               // uncompressed
  EXPECT_EQ(idx[siteurl + 37], 1);               // one field
  EXPECT_EQ(GetU16(U(idx, siteurl + 54)), 2);    // field 2: siteurl
  EXPECT_EQ(GetI32(U(idx, siteurl + 86)), 0);    // empty: no root
  EXPECT_EQ(GetShortString(U(idx, sysDeleted), 30), "Sys Deleted");
  EXPECT_EQ(GetU16(U(idx, sysDeleted + 31)), 5);
  EXPECT_EQ(idx[sysDeleted + 36], 0);
  EXPECT_EQ(GetI32(U(idx, 3974)), 0);            // active records
  EXPECT_EQ(idx[3978], 1);                       // no primary index

  EXPECT_EQ(blb[8], 4);
  EXPECT_EQ(GetI32(U(blb, 9)), 0);      // free block
  EXPECT_EQ(GetI32(U(blb, 13)), 512);   // end of file
}

TEST_F(TesselTool, InfoReportsTheStructure) {
  const std::string table = (dir_ / "linksdata").string();
  ASSERT_EQ(Tool("create " + table + " --structure " + CatalogueStructure()).Exit, 0);
  // Any spelling of the extension names the same table.
  ToolRun r = Tool("info " + (dir_ / "linksdata.dat").string());
  ASSERT_EQ(r.Exit, 0) << r.Err;
  json info = json::parse(r.Out);
  EXPECT_EQ(info["data"]["recordSize"], 278);
  EXPECT_EQ(info["data"]["nextRecordNumber"], 1);
  EXPECT_EQ(info["fields"].size(), 6u);
  EXPECT_EQ(info["fields"][1]["name"], "siteurl");
  EXPECT_EQ(info["fields"][1]["required"], true);
  EXPECT_EQ(info["fields"][1]["size"], 100);
  EXPECT_EQ(info["fields"][1]["recordOffset"], 41);
  EXPECT_EQ(info["fields"][5]["type"], "memo");
  ASSERT_EQ(info["indexes"].size(), 2u);  // siteurl and the system index
  EXPECT_EQ(info["indexes"][0]["name"], "siteurl");
  EXPECT_EQ(info["indexes"][0]["fields"], json::array({"siteurl"}));
  EXPECT_EQ(info["indexes"][0]["keyLength"], 102);
  EXPECT_EQ(info["indexes"][1]["name"], "Sys Deleted");
  EXPECT_EQ(info["index"]["noPrimaryIndex"], true);
  EXPECT_EQ(info["blob"]["endOfFile"], 512);
}

TEST_F(TesselTool, RefusesWhatItCannotDo) {
  ToolRun missing = Tool("info " + (dir_ / "nothere").string());
  EXPECT_NE(missing.Exit, 0);
  EXPECT_NE(missing.Err.find("Invalid path or file name for table"), std::string::npos) << missing.Err;

  const std::string table = (dir_ / "t").string();
  ASSERT_EQ(Tool("create " + table + " --structure " + CatalogueStructure()).Exit, 0);
  ToolRun again = Tool("create " + table + " --structure " + CatalogueStructure());
  EXPECT_NE(again.Exit, 0);
  EXPECT_NE(again.Err.find("The table 't' already exists"), std::string::npos) << again.Err;
  EXPECT_EQ(Tool("create " + table + " --force --structure " + CatalogueStructure()).Exit, 0);

  // A structure the engine refuses leaves no files behind.
  const std::string bad = Structure("bad.json", {{"fields", {{{"name", "1st"}, {"type", "integer"}}}}});
  ToolRun refused = Tool("create " + (dir_ / "bad").string() + " --structure " + bad);
  EXPECT_NE(refused.Exit, 0);
  EXPECT_NE(refused.Err.find("Invalid or duplicate field name '1st' specified for table 'bad'"), std::string::npos)
      << refused.Err;
  EXPECT_FALSE(fs::exists(dir_ / "bad.DAT"));

  const std::string unknownType = Structure("u.json", {{"fields", {{{"name", "a"}, {"type", "text"}}}}});
  ToolRun usage = Tool("create " + (dir_ / "u").string() + " --structure " + unknownType);
  EXPECT_NE(usage.Exit, 0);
  EXPECT_NE(usage.Err.find("unknown type"), std::string::npos);

  // A wrong version byte is refused with the engine's message.
  {
    std::fstream f(dir_ / "t.DAT", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(8);
    f.put(3);
  }
  ToolRun version = Tool("info " + table);
  EXPECT_NE(version.Exit, 0);
  EXPECT_NE(version.Err.find("table 't' is not the correct version"), std::string::npos) << version.Err;
}

TEST_F(TesselTool, EncryptedTableNeedsItsPassword) {
  const json doc = {{"fields", {{{"name", "name"}, {"type", "string"}, {"size", 20}}}},
                    {"password", "Secret"},
                    {"description", "kept"}};
  const std::string table = (dir_ / "enc").string();
  ToolRun c = Tool("create " + table + " --structure " + Structure("enc.json", doc));
  ASSERT_EQ(c.Exit, 0) << c.Err;

  const std::string dat = ReadFile(dir_ / "enc.DAT");
  EXPECT_EQ(dat[86], 1);
  EXPECT_EQ(dat[87], 6);                           // the length byte stays plain
  EXPECT_NE(dat.substr(88, 6), "Secret");          // the characters do not

  ToolRun refused = Tool("info " + table);
  EXPECT_NE(refused.Exit, 0);
  EXPECT_NE(refused.Err.find("Insufficient rights to table 'enc', a password is required"), std::string::npos)
      << refused.Err;
  EXPECT_NE(Tool("info " + table + " --password secret").Exit, 0);  // case matters
  ToolRun ok = Tool("info " + table + " --password Secret");
  ASSERT_EQ(ok.Exit, 0) << ok.Err;
  json info = json::parse(ok.Out);
  EXPECT_EQ(info["data"]["encrypted"], true);
  EXPECT_EQ(info["data"]["description"], "kept");
  EXPECT_EQ(info["fields"][0]["name"], "name");
}

// The password on the command line is text like the structure file's: the
// same characters open the table, through every command that takes it.
TEST_F(TesselTool, PasswordOptionIsReadAsTextLikeTheStructure) {
  const std::string password = "Geh\u20acim-Pass#1";
  const json doc = {{"fields", {{{"name", "name"}, {"type", "string"}, {"size", 20}}}},
                    {"primary", {{"fields", {"name"}}}},
                    {"password", password}};
  const std::string table = (dir_ / "enc").string();
  ToolRun c = Tool("create " + table + " --structure " + Structure("enc.json", doc));
  ASSERT_EQ(c.Exit, 0) << c.Err;
  // Stored as 13 Windows-1252 characters: the euro sign is one byte.
  EXPECT_EQ(ReadFile(dir_ / "enc.DAT")[87], 13);

  const std::string option = " --password '" + password + "'";
  ToolRun info = Tool("info " + table + option);
  EXPECT_EQ(info.Exit, 0) << info.Err;
  std::ofstream(dir_ / "rows.jsonl") << "{\"name\": \"Stra\u00dfe\"}\n";
  ToolRun insert = Tool("insert " + table + " " + (dir_ / "rows.jsonl").string() + option);
  EXPECT_EQ(insert.Exit, 0) << insert.Err;
  ToolRun count = Tool("count " + table + option);
  EXPECT_EQ(count.Exit, 0) << count.Err;
  EXPECT_EQ(count.Out, "1\n");
  ToolRun verify = Tool("verify " + table + option);
  EXPECT_EQ(verify.Exit, 0) << verify.Err;
  // Another text still does not open it.
  EXPECT_NE(Tool("count " + table + " --password 'Geh?im-Pass#1'").Exit, 0);
}

TEST_F(TesselTool, EmptyKeepsTheStructure) {
  const std::string table = (dir_ / "linksdata").string();
  ASSERT_EQ(Tool("create " + table + " --structure " + CatalogueStructure()).Exit, 0);
  ToolRun r = Tool("empty " + table);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  json info = json::parse(Tool("info " + table).Out);
  EXPECT_EQ(info["data"]["nextRecordNumber"], 1);
  EXPECT_EQ(info["indexes"][0]["name"], "siteurl");
  EXPECT_EQ(fs::file_size(dir_ / "linksdata.DAT"), 127u + 6 * 768);
}

}  // namespace
