// Helpers of the grid core's tests: catalogue tables in temporary
// directories (empty, filled in-process, or the sample catalogue made by
// the tessel tool), the site table opened as the program opens it, the
// program's grid over it, another process writing through the tool, and a
// model of the tree the grid must show, read straight from the table.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/FieldKinds.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableTestSupport.h"
#include "grid/model/ProgramGrid.h"
#include "support/FakePlatform.h"
#include "support/MemorySettingsStore.h"

extern char** environ;

namespace grid::testing {

using tessel::testing::TempDir;

inline const std::vector<std::string>& Categories() {
  static const std::vector<std::string> list = {
      "Arts & Humanities", "Business & Economy", "Computers & Internet", "Education", "Entertainment",
      "Government", "Health", "News", "Personal", "Recreation & Sports", "Reference", "Regional",
      "Science", "Social Science", "Society & Culture"};
  return list;
}

// One site; an empty text is a null field.
struct TSite {
  TSite(std::string type_ = {}, std::string url_ = {}, std::string name_ = {}, std::string login_ = {},
        std::string password_ = {}, std::string note_ = {})
      : type(std::move(type_)), url(std::move(url_)), name(std::move(name_)), login(std::move(login_)),
        password(std::move(password_)), note(std::move(note_)) {}
  std::string type, url, name, login, password, note;
};

inline void CreateCatalogue(const std::string& dir) {
  tessel::TTableStructure s = tessel::testing::CatalogueStructure();
  tessel::TDataTable::CheckStructure(s, true, "linksdata");
  tessel::TDataTable t(dir, "linksdata");
  t.CreateFiles(s);
  t.FlushTable(false, true, true);
  t.CloseFiles(true);
}

inline void SetSite(tessel::TTesselTable& t, const TSite& s) {
  auto put = [&](const char* field, const std::string& value) {
    if (value.empty()) {
      t.FieldByName(field).Clear();
    } else {
      t.FieldByName(field).SetAsString(value);
    }
  };
  put("sitetype", s.type);
  put("siteurl", s.url);
  put("sitename", s.name);
  put("login", s.login);
  put("password", s.password);
  put("note", s.note);
}

inline void AddSite(tessel::TTesselTable& t, const TSite& s) {
  t.Append();
  SetSite(t, s);
  t.Post();
}

// Fills the table through a session of its own that writes back once, at
// close.
inline void FillCatalogue(const std::string& dir, const std::vector<TSite>& sites) {
  tessel::TTesselSession session;
  session.SetSessionName("fill");
  session.SetForceBufferFlush(false);
  session.SetKeepConnections(false);
  tessel::TTesselTable t;
  t.SetSessionName("fill");
  t.SetIndexFieldNames("siteurl");
  t.SetTableName(dir + "linksdata.dat");
  t.SetExclusive(true);
  t.Open();
  for (const TSite& s : sites) AddSite(t, s);
  t.Close();
}

// Generated sites: n records over the given number of categories (some
// without a category), names repeating so that sorts meet ties.
inline std::vector<TSite> GeneratedSites(int n, int categories = 15) {
  std::vector<TSite> sites;
  for (int i = 0; i < n; ++i) {
    TSite s;
    if (i % 37 != 5) s.type = Categories()[static_cast<std::size_t>((i * 7) % categories)];
    char url[64];
    std::snprintf(url, sizeof url, "https://site%05d.example/", (i * 7919) % 100000);
    s.url = url;
    s.name = "Name " + std::to_string(i % 97);
    if (i % 3 == 0) s.login = "user" + std::to_string(i);
    s.note = "Note of site " + std::to_string(i);
    sites.push_back(s);
  }
  return sites;
}

// Runs the tessel tool as another process; answers its exit status.
inline int RunTessel(const std::vector<std::string>& args) {
  std::vector<std::string> all = {TESSEL_TOOL};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The sample catalogue (66 sites) as the build makes it.
inline void MakeSampleCatalogue(const std::string& dir) {
  const std::string data = MARROWICK_DATA_DIR;
  ASSERT_EQ(RunTessel({"create", dir + "linksdata", "--structure", data + "/linksdata.structure.json"}), 0);
  ASSERT_EQ(RunTessel({"insert", dir + "linksdata", data + "/sites.jsonl", "--exclusive", "--no-flush"}), 0);
}

// Another process changes the table through the engine (the tool).
inline int OtherProcessDelete(const std::string& dir, const std::string& url) {
  return RunTessel({"delete", dir + "linksdata", "--index", "siteurl", "--key", url});
}
inline int OtherProcessUpdate(const std::string& dir, const std::string& url, const std::string& setJson) {
  return RunTessel({"update", dir + "linksdata", "--index", "siteurl", "--key", url, "--set", setJson});
}
inline int OtherProcessInsert(const std::string& dir, const std::string& jsonLine) {
  char name[] = "/tmp/grid-insert-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) return -1;
  std::string line = jsonLine + "\n";
  ssize_t written = write(fd, line.data(), line.size());
  close(fd);
  int rc = written == static_cast<ssize_t>(line.size()) ? RunTessel({"insert", dir + "linksdata", name}) : -1;
  unlink(name);
  return rc;
}

// The site table as the program opens it: session with write-through and no
// lock waits, the table on the siteurl index with its six persistent fields,
// and a data source.
class TSiteTable {
 public:
  explicit TSiteTable(const std::string& dir, const std::string& sessionName = "ses") : name_(sessionName) {
    session_.SetSessionName(name_);
    session_.SetForceBufferFlush(true);
    session_.SetKeepConnections(false);
    session_.SetLockRetryCount(0);
    session_.SetLockWaitTime(0);
    table_.SetSessionName(name_);
    table_.SetIndexFieldNames("siteurl");
    table_.SetTableName(dir + "linksdata.dat");
    table_.AddField<dataset::TStringField>("sitetype", 30);
    table_.AddField<dataset::TStringField>("siteurl", 100).SetRequired(true);
    table_.AddField<dataset::TStringField>("sitename", 60);
    table_.AddField<dataset::TStringField>("login", 30);
    table_.AddField<dataset::TStringField>("password", 30);
    table_.AddField<dataset::TMemoField>("note");
    source_.SetDataSet(&table_);
  }
  ~TSiteTable() {
    try {
      table_.Close();
    } catch (...) {
    }
  }

  tessel::TTesselTable& Table() { return table_; }
  dataset::TDataSource& Source() { return source_; }
  std::string CurrentUrl() { return table_.FieldByName("siteurl").AsString(); }

 private:
  std::string name_;
  tessel::TTesselSession session_;
  tessel::TTesselTable table_;
  dataset::TDataSource source_;
};

// Every site of the table in siteurl order, read through a record set of
// its own.
inline std::vector<TSite> ReadSites(const std::string& dir, const std::string& sessionName = "ses") {
  tessel::TTesselTable t;
  t.SetSessionName(sessionName);
  t.SetIndexFieldNames("siteurl");
  t.SetTableName(dir + "linksdata.dat");
  t.Open();
  std::vector<TSite> sites;
  for (t.First(); !t.Eof(); t.Next()) {
    TSite s;
    s.type = t.FieldByName("sitetype").AsString();
    s.url = t.FieldByName("siteurl").AsString();
    s.name = t.FieldByName("sitename").AsString();
    s.login = t.FieldByName("login").AsString();
    s.password = t.FieldByName("password").AsString();
    s.note = t.FieldByName("note").AsString();
    sites.push_back(s);
  }
  t.Close();
  return sites;
}

// The tree as text: a group row "G <row text>", a data row "  <name>|<url>".
inline std::vector<std::string> TreeLines(const TCustomDBGrid& grid) {
  std::vector<std::string> lines;
  int url = grid.FindColumn("SiteUrl")->Index();
  int name = grid.FindColumn("SiteName")->Index();
  for (TTreeListNode* node = grid.GetFirstNode(); node != nullptr; node = node->GetNext()) {
    std::string indent(static_cast<std::size_t>(node->Level()) * 2, ' ');
    if (node->HasChildren()) {
      lines.push_back(indent + "G " + node->Owner()->GetNodeString(node, 0));
    } else {
      auto* d = static_cast<TDBGridNode*>(node);
      lines.push_back(indent + d->Strings(name) + "|" + d->Strings(url));
    }
  }
  return lines;
}

// The tree the grid must show for these sites: grouped by category (unless
// grouped is false) in the given direction, the Null group first, rows in
// URL order or sorted by name (ties by URL).
struct TModelOptions {
  bool grouped = true;
  bool groupsDescending = false;
  TTreeListColumnSort nameSort = csNone;
};
inline std::vector<std::string> ModelLines(std::vector<TSite> sites, const TModelOptions& o = {}) {
  std::sort(sites.begin(), sites.end(), [](const TSite& a, const TSite& b) { return a.url < b.url; });
  if (o.nameSort != csNone) {
    std::stable_sort(sites.begin(), sites.end(), [&](const TSite& a, const TSite& b) {
      if (a.name != b.name) return o.nameSort == csUp ? a.name < b.name : a.name > b.name;
      return a.url < b.url;
    });
  }
  std::vector<std::string> lines;
  if (!o.grouped) {
    for (const TSite& s : sites) lines.push_back(s.name + "|" + s.url);
    return lines;
  }
  std::map<std::string, std::vector<const TSite*>> groups;  // "" is the Null group
  for (const TSite& s : sites) groups[s.type].push_back(&s);
  std::vector<std::string> order;
  for (auto& [type, rows] : groups) order.push_back(type);
  if (o.groupsDescending) std::reverse(order.begin(), order.end());
  for (const std::string& type : order) {
    lines.push_back("G Site Category : " + type + " ");
    for (const TSite* s : groups[type]) lines.push_back("  " + s->name + "|" + s->url);
  }
  return lines;
}

// The focus invariant: while the record set browses, the focused row is the
// current record's (or its group's, standing for it), or there is neither.
inline ::testing::AssertionResult FocusOnCurrentRecord(const TCustomDBGrid& grid, tessel::TTesselTable& table) {
  if (table.State() != dataset::dsBrowse) return ::testing::AssertionSuccess();
  TTreeListNode* focused = grid.FocusedNode();
  if (table.IsEmpty()) {
    if (focused == nullptr) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "a row is focused in an empty table";
  }
  std::string current = table.FieldByName("siteurl").AsString();
  if (focused == nullptr) return ::testing::AssertionFailure() << "no row focused; current " << current;
  const auto* node = static_cast<const TDBGridNode*>(focused);
  if (!SameNodeValue(node->KeyValue, dataset::Variant(current))) {
    return ::testing::AssertionFailure() << "focused row of "
                                         << (node->KeyValue.IsString() ? node->KeyValue.ToString() : "(null)")
                                         << ", current record " << current;
  }
  if (!focused->HasChildren()) return ::testing::AssertionSuccess();
  const auto* first = static_cast<const TDBGridNode*>(TCustomDBGrid::FirstDataNode(focused));
  if (SameNodeValue(first->KeyValue, dataset::Variant(current))) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "focused group does not stand for " << current;
}

// The program's grid over a site table.
inline std::unique_ptr<TDBGrid> ProgramGrid(TSiteTable* table = nullptr,
                                            marrowick::platform::SettingsStoreFactory settings = {}) {
  return BuildGrid(ProgramGridDescription(Categories()), std::move(settings),
                   table != nullptr ? &table->Source() : nullptr);
}

inline TDBGridNode* DataNodeOf(const TCustomDBGrid& grid, const std::string& url) {
  for (TTreeListNode* node = grid.GetFirstNode(); node != nullptr; node = node->GetNext()) {
    auto* d = static_cast<TDBGridNode*>(node);
    if (!node->HasChildren() && d->KeyValue.IsString() && d->KeyValue.ToString() == url) return d;
  }
  return nullptr;
}

inline TTreeListNode* GroupOf(const TCustomDBGrid& grid, const std::string& type) {
  for (int i = 0; i < grid.Count(); ++i) {
    auto* g = static_cast<TDBGridNode*>(grid.GetNode(i));
    if (!g->HasChildren()) continue;
    if (type.empty() ? g->GroupValue.IsNull() : (g->GroupValue.IsString() && g->GroupValue.ToString() == type)) {
      return g;
    }
  }
  return nullptr;
}

}  // namespace grid::testing
