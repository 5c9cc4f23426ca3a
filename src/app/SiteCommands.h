// The commands on one site, Add, Edit, Delete and View Site, over the site
// table's record set and the grid that shows it.
//
// The record set owns the current record and the grid keeps its focused row
// on it; a command that works on "the current site" acts only when the
// focused row is a site's row and its record is the current one. A group
// row, an empty or closed catalogue, or a record being inserted give no
// current site: Edit, Delete and View Site then do nothing (the window
// disables them), so no command can reach a site the user did not pick.
#pragma once

#include <optional>
#include <string>

#include "app/SiteDialog.h"
#include "dataset/DataSet.h"
#include "grid/model/DBGrid.h"
#include "platform/core/Shell.h"

namespace marrowick {

class TSiteCommands {
 public:
  // None of the three is owned; all must outlive the commands.
  TSiteCommands(grid::TCustomDBGrid& grid, ISiteDialog& dialog, platform::IShell& shell)
      : grid_(grid), dialog_(dialog), shell_(shell) {}

  // The focused row is a site's row and its record is the record set's
  // current record.
  bool HasCurrentSite() const;

  // Add: the dialog with its initial contents; on OK a new record with its
  // values. A pending edit of the current record is posted before the
  // dialog opens. Fails with the record set's closed-table error, before
  // the dialog, when the catalogue is closed.
  void Add();
  // Edit: the dialog loaded from the current site; on OK the site takes
  // its values (together with a pending edit of its notes).
  void Edit();
  // Delete: asks the grid's "Delete record?" question, then deletes the
  // current site.
  void Delete();
  // View Site: the current site's address to the shell, which opens only
  // web and mail addresses and host names.
  void ViewSite();

  // A site dialog of Add or Edit is open (a second one is not opened).
  bool DialogOpen() const { return dialogOpen_; }

 private:
  dataset::TDataSet* RecordSet() const;
  // Field values by name, null as nothing.
  static std::optional<std::string> FieldText(dataset::TDataSet& ds, const char* name);
  static void Store(dataset::TDataSet& ds, const TSiteValues& values);
  std::optional<TSiteValues> RunDialog(const TSiteRecordValues* site);

  grid::TCustomDBGrid& grid_;
  ISiteDialog& dialog_;
  platform::IShell& shell_;
  bool dialogOpen_ = false;
};

}  // namespace marrowick
