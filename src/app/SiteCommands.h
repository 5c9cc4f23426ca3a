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

#include <exception>
#include <functional>
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
  // its values (together with a pending edit of its notes). When another
  // program changed or deleted the site while the dialog was open, the
  // engine's "changed by another user" error is reported (see
  // SetOnChangedElsewhere), the view brought up to date, and the dialog
  // opens again with what the user typed: over the site as it now stands,
  // or, when it is gone, as a new site. Cancel then lets the typing go.
  void Edit();
  // Delete: asks the grid's "Delete record?" question, then deletes the
  // current site.
  void Delete();
  // View Site: the current site's address to the shell, which opens only
  // web and mail addresses and host names.
  void ViewSite();

  // A field of the current site as text, as the record set holds it now
  // (a value typed and not yet stored included; empty for no value); none
  // without a current site.
  std::optional<std::string> CurrentSiteText(const char* field) const;

  // Where Edit reports a site changed elsewhere, and how it brings the
  // view up to date; without a report the error is raised as any other.
  void SetOnChangedElsewhere(std::function<void(const std::exception&)> report, std::function<void()> refresh) {
    reportChanged_ = std::move(report);
    refreshView_ = std::move(refresh);
  }

  // A site dialog of Add or Edit is open (a second one is not opened).
  bool DialogOpen() const { return dialogOpen_; }

 private:
  dataset::TDataSet* RecordSet() const;
  // Field values by name, null as nothing.
  static std::optional<std::string> FieldText(dataset::TDataSet& ds, const char* name);
  static void Store(dataset::TDataSet& ds, const TSiteValues& values);
  std::optional<TSiteValues> RunDialog(const TSiteRecordValues* site);
  void OfferTypedAgain(const TSiteValues& typed, const dataset::Variant& key);

  grid::TCustomDBGrid& grid_;
  ISiteDialog& dialog_;
  platform::IShell& shell_;
  bool dialogOpen_ = false;
  std::function<void(const std::exception&)> reportChanged_;
  std::function<void()> refreshView_;
};

}  // namespace marrowick
