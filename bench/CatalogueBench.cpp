#include "CatalogueBench.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "dataset/FieldKinds.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/Formats.h"

namespace bench {

tessel::TTableStructure CatalogueStructure() {
  using namespace tessel;
  TTableStructure s;
  s.Fields = {FieldDefinition(1, "sitetype", ftString, 30), FieldDefinition(2, "siteurl", ftString, 100),
              FieldDefinition(3, "sitename", ftString, 60), FieldDefinition(4, "login", ftString, 30),
              FieldDefinition(5, "password", ftString, 30), FieldDefinition(6, "note", ftBlob, 0, fstMemo)};
  s.Fields[1].Required = 1;
  s.Secondary = {IndexDefinition("siteurl", {2}, true)};
  return s;
}

void PutSite(tessel::TTesselTable& table, const Site& site) {
  table.FieldByName("sitetype").SetAsString(site.sitetype);
  table.FieldByName("siteurl").SetAsString(site.siteurl);
  table.FieldByName("sitename").SetAsString(site.sitename);
  table.FieldByName("login").SetAsString(site.login);
  table.FieldByName("password").SetAsString(site.password);
  table.FieldByName("note").SetAsString(site.note);
}

void CreateCatalogue(const std::string& dir) {
  for (const char* ext : {"DAT", "IDX", "BLB"}) std::filesystem::remove(dir + "linksdata." + ext);
  tessel::TTableStructure s = CatalogueStructure();
  tessel::TDataTable::CheckStructure(s, true, "linksdata");
  tessel::TDataTable t(dir, "linksdata");
  t.CreateFiles(s);
  t.FlushTable(false, true, true);
  t.CloseFiles(true);
}

void PrepareCatalogue(const std::string& dir, int sites) {
  const std::string marker = dir + "grid-loaded";
  if (std::filesystem::exists(marker)) return;
  CreateCatalogue(dir);
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
  for (int i = 0; i < sites; ++i) {
    t.Append();
    PutSite(t, MakeSite(i));
    t.Post();
  }
  t.Close();
  std::ofstream(marker) << "loaded\n";
}

TBenchSites::TBenchSites(const std::string& dir, bool writeThrough) {
  session.SetSessionName("ses");
  session.SetForceBufferFlush(writeThrough);
  session.SetKeepConnections(false);
  session.SetLockRetryCount(0);
  session.SetLockWaitTime(0);
  table.SetSessionName("ses");
  table.SetIndexFieldNames("siteurl");
  table.SetTableName(dir + "linksdata.dat");
  table.AddField<dataset::TStringField>("sitetype", 30);
  table.AddField<dataset::TStringField>("siteurl", 100).SetRequired(true);
  table.AddField<dataset::TStringField>("sitename", 60);
  table.AddField<dataset::TStringField>("login", 30);
  table.AddField<dataset::TStringField>("password", 30);
  table.AddField<dataset::TMemoField>("note");
  source.SetDataSet(&table);
  table.Open();
}

TBenchSites::~TBenchSites() {
  source.SetDataSet(nullptr);
  table.Close();
}

void TSummaryReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.iterations == 0) continue;
    ms[run.run_name.function_name] = run.GetAdjustedRealTime();
    cpu[run.run_name.function_name] = run.GetAdjustedCPUTime();
  }
  ConsoleReporter::ReportRuns(runs);
}

std::string BenchDirectory(int argc, char** argv, const std::string& prefix, std::vector<char*>& args,
                           bool& owned) {
  std::string dir;
  owned = false;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--bench_dir=", 0) == 0) {
      dir = a.substr(12);
      continue;
    }
    args.push_back(argv[i]);
  }
  if (dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};
    dir = pattern;
    owned = true;
  }
  if (dir.back() != '/') dir += '/';
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace bench
