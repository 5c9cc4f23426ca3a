// Tools > Check Catalogue and the repair on copies of the sample catalogue:
// the check with its progress and report, a damaged catalogue repaired after
// a dated backup of its three files (owner-only, never overwriting an
// earlier one) and opened again on the focused site, and a start whose
// catalogue is too damaged to open offered the same repair.
#include <sys/stat.h>

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/CatalogueCheck.h"
#include "app/MainWindowSupport.h"
#include "app/OtherProgram.h"

namespace marrowick {
namespace {

using namespace marrowick::testing;

class CheckCatalogueTest : public MainWindowTest {
 protected:
  fs::path File(const char* name) const { return program_ / name; }
  std::string Backup(const char* extension, const std::string& suffix = "") const {
    return "linksdata-2026-12-09-1405" + suffix + "." + extension;
  }
  // A wrong active record count in the index header: the table opens, the
  // check finds it and the repair sets it right.
  void DamageCount() {
    std::string index = ReadBytes(File("linksdata.IDX"));
    index[3974] = 7;
    WriteBytes(File("linksdata.IDX"), index);
  }
  // Part of a slot beyond those the data header counts (an insert cut
  // short): the table does not open, the repair cuts the bytes.
  void DamageSlots() {
    WriteBytes(File("linksdata.DAT"), ReadBytes(File("linksdata.DAT")) + std::string(7, 'A'));
  }
  std::set<std::string> BackupsIn() const {
    std::set<std::string> names;
    for (const std::string& name : Entries(program_)) {
      if (name.rfind("linksdata-", 0) == 0) names.insert(name);
    }
    return names;
  }

  static constexpr const char* kReuters = "https://www.reuters.com/";
  static constexpr const char* kHeaderCorrupt =
      "Tessel Engine Error # 8961 Header information corrupt in table 'linksdata.dat'";
};

TEST_F(CheckCatalogueTest, ASoundCatalogueIsCheckedWithProgressAndOpenedAgainOnTheFocusedSite) {
  TMainForm& form = ShowForm();
  ClickSite(kReuters);
  form.DBMemo1()->setFocus();
  QTest::keyClicks(form.DBMemo1(), " checked");
  const std::set<std::string> before = Entries(program_);

  form.Menus().CheckCatalogue1->trigger();
  EXPECT_EQ(checkDialogs_.titles, std::vector<std::string>{"Checking the catalogue..."});
  ASSERT_FALSE(checkDialogs_.steps.empty());
  EXPECT_EQ(checkDialogs_.steps.back(), 1000);
  EXPECT_TRUE(std::is_sorted(checkDialogs_.steps.begin(), checkDialogs_.steps.end()));
  EXPECT_FALSE(checkDialogs_.inProgress);
  ASSERT_EQ(checkDialogs_.reports.size(), 1u);
  const TCatalogueCheckReport& report = checkDialogs_.reports[0];
  EXPECT_TRUE(report.Sound());
  EXPECT_FALSE(report.Repaired);
  EXPECT_EQ(report.Summary.ActiveRecords, 66);
  EXPECT_EQ(checkDialogs_.offered, std::vector<bool>{false});
  EXPECT_EQ(ReportSummary(report).substr(0, 16), "Checked 66 sites");
  EXPECT_NE(ReportSummary(report).find("The catalogue is sound."), std::string::npos);

  // The typed note was stored before the table closed; the table is open
  // again on the same site, and nothing was copied.
  EXPECT_NE(ReadSites(program_).at(kReuters).at("note").find(" checked"), std::string::npos);
  EXPECT_TRUE(form.DBTable().Active());
  EXPECT_EQ(CurrentUrl(), kReuters);
  EXPECT_EQ(Grid().FocusedNode(), SiteRow(kReuters));
  EXPECT_EQ(Entries(program_), before);
  EXPECT_TRUE(boxes_.errors.empty());
}

TEST_F(CheckCatalogueTest, RepairBacksTheFilesUpFirstAndAnEarlierBackupIsNeverOverwritten) {
  DamageCount();
  const std::string damaged[] = {ReadBytes(File("linksdata.DAT")), ReadBytes(File("linksdata.IDX")),
                                 ReadBytes(File("linksdata.BLB"))};
  TMainForm& form = ShowForm();
  ClickSite(kReuters);

  checkDialogs_.answers = {true};
  form.Menus().CheckCatalogue1->trigger();
  ASSERT_EQ(checkDialogs_.reports.size(), 2u);
  const TCatalogueCheckReport& check = checkDialogs_.reports[0];
  EXPECT_FALSE(check.Sound());
  EXPECT_EQ(check.Findings,
            std::vector<std::string>{"Active record count is 7 in the index header, 66 records are active, "
                                     "error not fixed"});
  EXPECT_EQ(checkDialogs_.offered, (std::vector<bool>{true, false}));
  EXPECT_EQ(checkDialogs_.titles,
            (std::vector<std::string>{"Checking the catalogue...", "Backing up and repairing the catalogue..."}));
  const TCatalogueCheckReport& repair = checkDialogs_.reports[1];
  EXPECT_TRUE(repair.Repaired);
  EXPECT_TRUE(repair.Sound());
  EXPECT_EQ(repair.Summary.TotalFixed(), 1);

  // The backup holds the files as they were, for the owner alone.
  EXPECT_EQ(BackupsIn(), (std::set<std::string>{Backup("DAT"), Backup("IDX"), Backup("BLB")}));
  const char* extensions[] = {"DAT", "IDX", "BLB"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ReadBytes(program_ / Backup(extensions[i])), damaged[i]) << extensions[i];
    EXPECT_EQ(FileMode(program_ / Backup(extensions[i])), "0600") << extensions[i];
  }
  const std::string summary = ReportSummary(repair);
  EXPECT_NE(summary.find("found 1 error and fixed 1"), std::string::npos) << summary;
  EXPECT_NE(summary.find(Backup("DAT") + ", " + Backup("IDX") + " and " + Backup("BLB")), std::string::npos)
      << summary;

  // The catalogue is sound and open again on the same site.
  EXPECT_EQ(ReadBytes(File("linksdata.IDX"))[3974], 66);
  EXPECT_TRUE(form.DBTable().Active());
  EXPECT_EQ(CurrentUrl(), kReuters);
  EXPECT_EQ(ReadSites(program_).size(), 66u);

  // A second repair in the same minute takes the next name.
  DamageCount();
  checkDialogs_.answers = {true};
  form.Menus().CheckCatalogue1->trigger();
  EXPECT_EQ(BackupsIn().size(), 6u);
  EXPECT_EQ(ReadBytes(program_ / Backup("IDX", "-2"))[3974], 7);
  EXPECT_EQ(ReadBytes(program_ / Backup("DAT")), damaged[0]);
  EXPECT_TRUE(checkDialogs_.reports.back().Sound());

  // Closing the report without Repair changes nothing.
  DamageCount();
  const std::string index = ReadBytes(File("linksdata.IDX"));
  form.Menus().CheckCatalogue1->trigger();
  EXPECT_EQ(ReadBytes(File("linksdata.IDX")), index);
  EXPECT_EQ(BackupsIn().size(), 6u);
  EXPECT_TRUE(form.DBTable().Active());
}

TEST_F(CheckCatalogueTest, AtStartACatalogueTooDamagedToOpenIsOfferedTheRepair) {
  DamageSlots();
  const std::string dat = ReadBytes(File("linksdata.DAT"));
  boxes_.answers = {true};
  TMainForm& form = CreateForm();
  ASSERT_EQ(boxes_.questions.size(), 1u);
  EXPECT_EQ(boxes_.questions[0], std::string("Marrowick: The catalogue could not be opened: ") + kHeaderCorrupt +
                                     "\n\n" + TMainForm::kDamagedQuestion);
  ASSERT_EQ(checkDialogs_.reports.size(), 1u);
  EXPECT_TRUE(checkDialogs_.reports[0].Repaired);
  EXPECT_TRUE(checkDialogs_.reports[0].Sound());
  EXPECT_TRUE(boxes_.errors.empty());
  EXPECT_TRUE(form.DBTable().Active());
  EXPECT_EQ(ReadSites(program_).size(), 66u);
  EXPECT_EQ(ReadBytes(program_ / Backup("DAT")), dat);
  EXPECT_EQ(ReadBytes(File("linksdata.DAT")).size(), dat.size() - 7);
}

TEST_F(CheckCatalogueTest, DecliningTheRepairAtStartEndsTheStartAsBefore) {
  DamageSlots();
  const std::string dat = ReadBytes(File("linksdata.DAT"));
  boxes_.answers = {false};
  TMainForm& form = CreateForm();
  EXPECT_EQ(boxes_.questions.size(), 1u);
  EXPECT_EQ(boxes_.errors, std::vector<std::string>{kHeaderCorrupt});
  EXPECT_FALSE(form.DBTable().Active());
  EXPECT_TRUE(checkDialogs_.reports.empty());
  EXPECT_TRUE(BackupsIn().empty());
  EXPECT_EQ(ReadBytes(File("linksdata.DAT")), dat);

  // Tools > Check Catalogue still reaches the closed catalogue, and its
  // repair opens it.
  checkDialogs_.answers = {true};
  form.Menus().CheckCatalogue1->trigger();
  EXPECT_FALSE(checkDialogs_.reports.at(0).Sound());
  EXPECT_TRUE(checkDialogs_.reports.at(1).Sound());
  EXPECT_TRUE(form.DBTable().Active());
  EXPECT_EQ(BackupsIn().size(), 3u);
}

TEST_F(CheckCatalogueTest, ACatalogueAnotherProgramHoldsIsNotOfferedTheRepair) {
  TOtherProgram other((program_ / "linksdata.dat").string());
  ASSERT_EQ(other.HoldExclusive(), "ok");
  TMainForm& form = CreateForm();
  EXPECT_TRUE(boxes_.questions.empty());
  ASSERT_EQ(boxes_.errors.size(), 1u);
  EXPECT_FALSE(form.DBTable().Active());
  // The check cannot have it either; nothing is copied.
  form.Menus().CheckCatalogue1->trigger();
  EXPECT_EQ(boxes_.errors.size(), 2u);
  EXPECT_TRUE(checkDialogs_.reports.empty());
  EXPECT_FALSE(checkDialogs_.inProgress);
  EXPECT_TRUE(BackupsIn().empty());
  EXPECT_EQ(other.Release(), "ok");
}

TEST(CheckReportDialogTest, ShowsTheSummaryAndFindingsAndOffersRepairOnlyWhenAsked) {
  TestApplication();
  TCatalogueCheckReport report;
  report.Summary.RecordSlots = 3;
  report.Summary.ActiveRecords = 2;
  report.Summary.IndexesChecked = 2;
  report.Summary.Found[0] = 1;
  report.Findings = {"Active record count is 7 in the index header, 2 records are active, error not fixed"};
  TCheckReportDialog offered(report, true);
  EXPECT_EQ(offered.objectName(), "CheckReport");
  EXPECT_EQ(offered.Summary()->text().toStdString(), ReportSummary(report));
  EXPECT_NE(ReportSummary(report).find("The check found 1 error."), std::string::npos);
  EXPECT_EQ(offered.Findings()->toPlainText().toStdString(), report.Findings[0] + "\n");
  EXPECT_TRUE(offered.Findings()->isReadOnly());
  ASSERT_NE(offered.RepairButton(), nullptr);
  EXPECT_EQ(offered.RepairButton()->objectName(), "Repair");
  offered.RepairButton()->click();
  EXPECT_EQ(offered.result(), QDialog::Accepted);

  TCheckReportDialog closing(report, false);
  EXPECT_EQ(closing.RepairButton(), nullptr);
  closing.CloseButton()->click();
  EXPECT_EQ(closing.result(), QDialog::Rejected);

  // The progress dialog comes and goes without a parent as well.
  TQtCheckDialogs dialogs(nullptr);
  dialogs.BeginProgress("Checking the catalogue...");
  dialogs.Progress(500);
  dialogs.EndProgress();
  dialogs.Progress(600);  // after the end: nothing
}

TEST(CatalogueBackupTest, NamesCarryTheMinuteAndANumberForLaterBackups) {
  const ::platform::LocalDateTime when{2027, 1, 2, 3, 4, 59, 0};
  EXPECT_EQ(BackupFileName("/p/linksdata.DAT", when), "/p/linksdata-2027-01-02-0304.DAT");
  EXPECT_EQ(BackupFileName("/p/linksdata.BLB", when, 3), "/p/linksdata-2027-01-02-0304-3.BLB");
  EXPECT_EQ(BackupFileName("/p.d/links", when), "/p.d/links-2027-01-02-0304");

  TTempDir dir;
  CopyCatalogue(dir.Path());
  // Any one of the three names taken moves all three on.
  WriteBytes(dir.Path() / "linksdata-2027-01-02-0304.BLB", "earlier");
  const std::vector<std::string> copies = BackupCatalogue((dir.Path() / "linksdata.dat").string(), when);
  ASSERT_EQ(copies.size(), 3u);
  EXPECT_EQ(fs::path(copies[0]).filename(), "linksdata-2027-01-02-0304-2.DAT");
  EXPECT_EQ(fs::path(copies[2]).filename(), "linksdata-2027-01-02-0304-2.BLB");
  EXPECT_EQ(ReadBytes(dir.Path() / "linksdata-2027-01-02-0304.BLB"), "earlier");
  EXPECT_EQ(ReadBytes(copies[1]), ReadBytes(dir.Path() / "linksdata.IDX"));

  // No catalogue: the engine's "not found", nothing made.
  TTempDir empty;
  EXPECT_THROW(BackupCatalogue((empty.Path() / "linksdata.dat").string(), when), std::exception);
  EXPECT_TRUE(Entries(empty.Path()).empty());
}

}  // namespace
}  // namespace marrowick
