// Runs the built tessel tool's data commands on tables in temporary
// directories: a sequence of inserts, updates and deletes checked against a
// model of them, values of every kind, passwords, two processes inserting
// into one table at once, and the sample catalogue the build ships.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

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

class TesselDataCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tessel-data-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    table_ = (dir_ / "linksdata").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Starts the tool with its output going to files named after tag.
  pid_t Start(const std::vector<std::string>& args, const std::string& tag) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = (dir_ / (tag + ".out")).string();
    const std::string err = (dir_ / (tag + ".err")).string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all = {TESSEL_TOOL};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, TESSEL_TOOL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0);
    return pid;
  }

  ToolRun Wait(pid_t pid, const std::string& tag) {
    int status = 0;
    ToolRun r;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.Exit = WEXITSTATUS(status);
    r.Out = ReadFile(dir_ / (tag + ".out"));
    r.Err = ReadFile(dir_ / (tag + ".err"));
    return r;
  }

  ToolRun Tool(const std::vector<std::string>& args) { return Wait(Start(args, "run"), "run"); }

  std::string WriteLines(const std::string& name, const std::vector<json>& records) {
    const fs::path p = dir_ / name;
    std::ofstream out(p);
    for (const json& r : records) out << r.dump() << '\n';
    return p.string();
  }

  void CreateCatalogue() {
    ToolRun r = Tool({"create", table_, "--structure", std::string(MARROWICK_DATA_DIR) + "/linksdata.structure.json"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
  }

  std::vector<json> Dump(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"dump", table_};
    args.insert(args.end(), extra.begin(), extra.end());
    ToolRun r = Tool(args);
    EXPECT_EQ(r.Exit, 0) << r.Err;
    std::vector<json> records;
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);) records.push_back(json::parse(line));
    return records;
  }

  static json Site(const std::string& type, const std::string& url, const std::string& name, const json& note,
                   const json& login = nullptr) {
    return {{"sitetype", type}, {"siteurl", url}, {"sitename", name},
            {"login", login},   {"password", nullptr}, {"note", note}};
  }

  fs::path dir_;
  std::string table_;
};

TEST_F(TesselDataCommands, DumpAgreesWithAModelOfTheOperations) {
  CreateCatalogue();
  std::string longNote;
  for (int i = 0; i < 120; ++i) longNote += "Zeile " + std::to_string(i) + " — café\n";
  // The model: url -> record, and the order the records were inserted in.
  std::map<std::string, json> model;
  std::vector<std::string> inserted;
  std::vector<json> batch;
  for (int i = 0; i < 12; ++i) {
    const std::string url = "https://site" + std::to_string((i * 7) % 12) + ".example/";
    json note = i == 3 ? json(longNote) : (i % 4 == 0 ? json(nullptr) : json("note " + std::to_string(i)));
    json record = Site(i % 2 ? "News" : "Reference", url, "Site " + std::to_string(i), note,
                       i == 5 ? json("user5") : json(nullptr));
    batch.push_back(record);
    model[url] = record;
    inserted.push_back(url);
  }
  ToolRun ins = Tool({"insert", table_, WriteLines("batch.jsonl", batch)});
  ASSERT_EQ(ins.Exit, 0) << ins.Err;

  // Change a name and a note; move a record to another key; delete two.
  ASSERT_EQ(Tool({"update", table_, "--index", "siteurl", "--key", "https://site2.example/", "--set",
                  R"({"sitename": "Renamed", "note": "ünïcode"})"})
                .Exit,
            0);
  model["https://site2.example/"]["sitename"] = "Renamed";
  model["https://site2.example/"]["note"] = "ünïcode";
  ToolRun moved = Tool({"update", table_, "--index", "siteurl", "--key", "\"https://site5.example/\"", "--set",
                        R"({"siteurl": "https://aaa.example/", "login": null})"});
  ASSERT_EQ(moved.Exit, 0) << moved.Err;
  json movedRecord = model["https://site5.example/"];
  movedRecord["siteurl"] = "https://aaa.example/";
  movedRecord["login"] = nullptr;
  model.erase("https://site5.example/");
  model["https://aaa.example/"] = movedRecord;
  for (const std::string url : {"https://site0.example/", "https://site11.example/"}) {
    ToolRun del = Tool({"delete", table_, "--index", "siteurl", "--key", url});
    ASSERT_EQ(del.Exit, 0) << del.Err;
    model.erase(url);
  }

  // In index order, numbered from 1.
  std::vector<json> dumped = Dump({"--index", "siteurl"});
  ASSERT_EQ(dumped.size(), model.size());
  int recno = 1;
  auto it = model.begin();
  for (const json& record : dumped) {
    EXPECT_EQ(record["recno"], recno++);
    json expected = it->second;
    json actual = record;
    actual.erase("recno");
    EXPECT_EQ(actual, expected);
    ++it;
  }
  // Without an index: physical order, which is insertion order here (the
  // table has no primary index, so new records go to the end).
  std::vector<std::string> physical;
  for (const json& record : Dump()) physical.push_back(record["siteurl"]);
  std::vector<std::string> expectedOrder;
  for (std::string url : inserted) {
    if (url == "https://site5.example/") url = "https://aaa.example/";
    if (model.count(url) != 0) expectedOrder.push_back(url);
  }
  EXPECT_EQ(physical, expectedOrder);

  ToolRun count = Tool({"count", table_});
  ASSERT_EQ(count.Exit, 0) << count.Err;
  EXPECT_EQ(std::stoi(count.Out), static_cast<int>(model.size()));

  // Refusals change nothing.
  ToolRun missing = Tool({"delete", table_, "--index", "siteurl", "--key", "https://none.example/"});
  EXPECT_EQ(missing.Exit, 3);
  ToolRun duplicate = Tool({"insert", table_, WriteLines("dup.jsonl", {Site("News", "https://site1.example/", "D", nullptr)})});
  EXPECT_EQ(duplicate.Exit, 1);
  EXPECT_NE(duplicate.Err.find("Duplicate key found in index 'siteurl' of table 'linksdata.DAT'"), std::string::npos)
      << duplicate.Err;
  ToolRun required = Tool({"insert", table_, WriteLines("req.jsonl", {Site("News", "", "No url", nullptr)})});
  EXPECT_EQ(required.Exit, 1);
  EXPECT_NE(required.Err.find("req.jsonl:1: Field 'siteurl' must have a value"), std::string::npos) << required.Err;
  ToolRun unknown = Tool({"update", table_, "--index", "siteurl", "--key", "https://site1.example/", "--set",
                          R"({"colour": "red"})"});
  EXPECT_NE(unknown.Exit, 0);
  EXPECT_NE(unknown.Err.find("unknown field 'colour'"), std::string::npos) << unknown.Err;
  EXPECT_EQ(Dump({"--index", "siteurl"}), dumped);

  // The engine's own structure check finds nothing wrong after all of it.
  ToolRun verify = Tool({"verify", table_});
  EXPECT_EQ(verify.Exit, 0) << verify.Out << verify.Err;
}

TEST_F(TesselDataCommands, ValuesOfEveryKindRoundTrip) {
  const json structure = {
      {"fields",
       {{{"name", "id"}, {"type", "autoinc"}},
        {{"name", "flag"}, {"type", "boolean"}},
        {{"name", "small"}, {"type", "smallint"}},
        {{"name", "big"}, {"type", "integer"}},
        {{"name", "ratio"}, {"type", "float"}},
        {{"name", "price"}, {"type", "bcd"}, {"decimals", 2}},
        {{"name", "day"}, {"type", "date"}},
        {{"name", "at"}, {"type", "time"}},
        {{"name", "stamp"}, {"type", "timestamp"}},
        {{"name", "raw"}, {"type", "bytes"}, {"size", 4}},
        {{"name", "blob"}, {"type", "blob"}},
        {{"name", "text"}, {"type", "string"}, {"size", 20}}}},
      {"primary", {{"fields", {"id"}}}},
      {"password", "Secret"}};
  const fs::path structureFile = dir_ / "kinds.json";
  std::ofstream(structureFile) << structure.dump();
  const std::string table = (dir_ / "kinds").string();
  ToolRun c = Tool({"create", table, "--structure", structureFile.string()});
  ASSERT_EQ(c.Exit, 0) << c.Err;

  const json record = {{"flag", true},
                       {"small", -12},
                       {"big", 123456789},
                       {"ratio", 0.1},
                       {"price", 12.34},
                       {"day", "2024-02-29"},
                       {"at", "13:45:07.250"},
                       {"stamp", "1999-12-31T23:59:58.125"},
                       {"raw", "00ff10ab"},
                       {"blob", "cafebabe00"},
                       {"text", "Grüße"}};
  const std::string file = WriteLines("kinds.jsonl", {record, {{"text", "second"}}});
  ToolRun refused = Tool({"insert", table, file});
  EXPECT_EQ(refused.Exit, 1);
  EXPECT_NE(refused.Err.find("a password is required"), std::string::npos) << refused.Err;
  ToolRun ins = Tool({"insert", table, file, "--password", "Secret", "--exclusive", "--no-flush"});
  ASSERT_EQ(ins.Exit, 0) << ins.Err;

  ToolRun dump = Tool({"dump", table, "--password", "Secret"});
  ASSERT_EQ(dump.Exit, 0) << dump.Err;
  std::istringstream lines(dump.Out);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  json expected = record;
  expected["recno"] = 1;
  expected["id"] = 1;
  EXPECT_EQ(json::parse(first), expected);
  const json other = json::parse(second);
  EXPECT_EQ(other["id"], 2);
  EXPECT_EQ(other["text"], "second");
  EXPECT_TRUE(other["flag"].is_null());
  EXPECT_TRUE(other["blob"].is_null());

  // A key of the integer primary index given as JSON.
  ToolRun up = Tool({"update", table, "--password", "Secret", "--index", "", "--key", "2", "--set",
                     R"({"day": "1900-01-01", "flag": false})"});
  ASSERT_EQ(up.Exit, 0) << up.Err;
  ToolRun after = Tool({"dump", table, "--password", "Secret"});
  EXPECT_NE(after.Out.find(R"("day":"1900-01-01")"), std::string::npos) << after.Out;
  EXPECT_NE(after.Out.find(R"("flag":false)"), std::string::npos) << after.Out;
  ToolRun wrong = Tool({"insert", table, WriteLines("bad.jsonl", {{{"day", "yesterday"}}}), "--password", "Secret"});
  EXPECT_NE(wrong.Exit, 0);
  EXPECT_NE(wrong.Err.find("field 'day'"), std::string::npos) << wrong.Err;
}

TEST_F(TesselDataCommands, TwoProcessesInsertIntoOneTableAtOnce) {
  CreateCatalogue();
  std::vector<json> a, b;
  std::string note(900, 'n');  // two BLOB blocks per record
  for (int i = 0; i < 40; ++i) {
    a.push_back(Site("News", "https://a" + std::to_string(i) + ".example/", "A", note));
    b.push_back(Site("Arts", "https://b" + std::to_string(i) + ".example/", "B", note));
  }
  const pid_t first = Start({"insert", table_, WriteLines("a.jsonl", a)}, "a");
  const pid_t second = Start({"insert", table_, WriteLines("b.jsonl", b)}, "b");
  ToolRun ra = Wait(first, "a");
  ToolRun rb = Wait(second, "b");
  ASSERT_EQ(ra.Exit, 0) << ra.Err;
  ASSERT_EQ(rb.Exit, 0) << rb.Err;

  std::vector<json> records = Dump({"--index", "siteurl"});
  ASSERT_EQ(records.size(), 80u);
  std::vector<std::string> urls;
  for (const json& r : records) {
    urls.push_back(r["siteurl"]);
    EXPECT_EQ(r["note"], note);
  }
  std::vector<std::string> expected;
  for (const json& r : a) expected.push_back(r["siteurl"]);
  for (const json& r : b) expected.push_back(r["siteurl"]);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(urls, expected);
  ToolRun verify = Tool({"verify", table_});
  EXPECT_EQ(verify.Exit, 0) << verify.Out << verify.Err;
}

// A table whose index file was lost shows its active records to every
// command, whichever comes first, and as often as asked.
TEST_F(TesselDataCommands, LostIndexFileShowsTheActiveRecordsToEveryCommand) {
  CreateCatalogue();
  std::vector<json> sites;
  for (int i = 1; i <= 60; ++i) sites.push_back(Site("News", "https://s" + std::to_string(i) + ".example/", "S", nullptr));
  ASSERT_EQ(Tool({"insert", table_, WriteLines("sites.jsonl", sites)}).Exit, 0);
  for (int i = 6; i <= 60; i += 6) {
    ToolRun r = Tool({"delete", table_, "--index", "siteurl", "--key", "https://s" + std::to_string(i) + ".example/"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
  }
  const fs::path idx = dir_ / "linksdata.IDX";
  const std::string dat = ReadFile(dir_ / "linksdata.DAT");
  const std::string blb = ReadFile(dir_ / "linksdata.BLB");

  auto count = [&] {
    ToolRun r = Tool({"count", table_});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    return r.Out;
  };
  const std::vector<std::vector<std::string>> orders = {
      {"count", "count", "dump", "verify", "count"},
      {"verify", "count", "count", "dump", "verify"},
      {"verify --repair", "dump", "count", "verify"},
      {"dump", "insert", "count", "verify", "dump"},
  };
  for (const std::vector<std::string>& order : orders) {
    SCOPED_TRACE(order.front());
    std::ofstream(dir_ / "linksdata.DAT", std::ios::binary) << dat;
    std::ofstream(dir_ / "linksdata.BLB", std::ios::binary) << blb;
    fs::remove(idx);
    std::set<std::string> expected;
    for (int i = 1; i <= 60; ++i)
      if (i % 6 != 0) expected.insert("https://s" + std::to_string(i) + ".example/");
    for (const std::string& command : order) {
      SCOPED_TRACE(command);
      if (command == "count") {
        EXPECT_EQ(count(), std::to_string(expected.size()) + "\n");
      } else if (command == "dump") {
        std::set<std::string> urls;
        for (const json& r : Dump()) urls.insert(r["siteurl"].get<std::string>());
        EXPECT_EQ(urls, expected);
      } else if (command == "insert") {
        ToolRun r = Tool({"insert", table_, WriteLines("one.jsonl", {Site("Arts", "https://new.example/", "N", "note")})});
        ASSERT_EQ(r.Exit, 0) << r.Err;
        expected.insert("https://new.example/");
      } else {
        std::vector<std::string> args = {"verify", table_};
        if (command == "verify --repair") args.push_back("--repair");
        ToolRun r = Tool(args);
        EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
      }
    }
  }
}

TEST_F(TesselDataCommands, SampleCatalogueLoadsCompletely) {
  CreateCatalogue();
  const std::string sites = std::string(MARROWICK_DATA_DIR) + "/sites.jsonl";
  ToolRun ins = Tool({"insert", table_, sites, "--exclusive", "--no-flush"});
  ASSERT_EQ(ins.Exit, 0) << ins.Err;
  std::vector<json> expected;
  std::ifstream in(sites);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) expected.push_back(json::parse(line));
  }
  ASSERT_EQ(expected.size(), 66u);
  std::vector<json> dumped = Dump();
  ASSERT_EQ(dumped.size(), expected.size());
  std::set<std::string> categories;
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    json record = dumped[i];
    record.erase("recno");
    EXPECT_EQ(record, expected[i]) << i;
    categories.insert(record["sitetype"].get<std::string>());
  }
  EXPECT_EQ(categories.size(), 15u);
}

}  // namespace
