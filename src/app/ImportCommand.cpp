#include "app/ImportCommand.h"

#include <exception>
#include <utility>
#include <vector>

#include "app/SiteCategories.h"
#include "app/SiteRecordSet.h"
#include "bookmarks/BrowserProfiles.h"
#include "bookmarks/CategoryGuess.h"

namespace marrowick {

namespace {

TCommandResult Failure(int status, std::string message) { return {status, std::move(message)}; }

std::vector<std::string> Categories() { return {kSiteCategories.begin(), kSiteCategories.end()}; }

TCommandResult Import(const TImportOptions& options, std::ostream& out, const TImportServices& services) {
  // The command line is checked before anything is read or opened.
  if (options.FileName.empty()) {
    return Failure(kExitUsage, "No file name: give the bookmark file to read after --import");
  }
  std::optional<std::string> category;
  if (options.Category) {
    const std::optional<std::size_t> found = FindSiteCategory(*options.Category);
    if (!found) {
      return Failure(kExitUsage, "Unknown category \"" + *options.Category + "\": use one of " + CategoryListText());
    }
    category = std::string(kSiteCategories[*found]);
  }

  std::string dataFile;
  TCommandResult missing;
  const std::optional<std::string> found = FindCommandTable(options.Table, services.ProgramDirectory, dataFile, missing);
  if (!found) return missing;
  const std::string& tablePath = *found;

  // The file is read whole before the table is touched: a file that is no
  // bookmark file changes nothing.
  bookmarks::TBookmarkList list;
  try {
    list = bookmarks::ReadBookmarkFile(options.FileName);
  } catch (const std::exception& e) {
    return Failure(kExitFailure, e.what());
  }

  TSiteRecordSet sites;
  dataset::TDataSet& table = sites.Table();
  try {
    sites.SetTableName(dataFile);
    sites.SetActive(true);
  } catch (const std::exception& e) {
    return Failure(kExitFailure, "Cannot open the table \"" + tablePath + "\": " + e.what());
  }

  bookmarks::TImportPlan plan;
  bookmarks::TImportResult result;
  try {
    plan = bookmarks::MakeImportPlan(list, bookmarks::TCategoryGuesser(Categories()),
                                     bookmarks::CatalogueLookup(table), kImportFallbackCategory);
    if (category) {
      for (bookmarks::TPlannedFolder& folder : plan.Folders) folder.Category = *category;
    }
    result = bookmarks::ImportSites(table, plan.SitesToImport());
  } catch (const std::exception& e) {
    return Failure(kExitFailure, "Cannot import into the table \"" + tablePath + "\": " + e.what());
  }
  out << ImportReport(CountImport(plan, result)) << std::flush;
  if (!result.Error.empty()) {
    return Failure(kExitFailure, "The import stopped: " + result.Error + " (the sites inserted before it are kept)");
  }
  // Closing writes back what the table holds; its failure is the import's.
  try {
    sites.SetActive(false);
  } catch (const std::exception& e) {
    return Failure(kExitFailure, "Cannot close the table \"" + tablePath + "\": " + e.what());
  }
  return {};
}

}  // namespace

TImportCounts CountImport(const bookmarks::TImportPlan& plan, const bookmarks::TImportResult& result) {
  using bookmarks::TBookmarkStatus;
  TImportCounts counts;
  counts.Inserted = result.Inserted;
  counts.Skipped = plan.Count(TBookmarkStatus::InCatalogue) + plan.Count(TBookmarkStatus::TwiceInList);
  counts.Refused = plan.Count(TBookmarkStatus::UrlTooLong) + plan.MissingUrl + plan.NotSites;
  for (const bookmarks::TImportRefusal& refusal : result.Refused) {
    (refusal.Why == TBookmarkStatus::InCatalogue ? counts.Skipped : counts.Refused) += 1;
  }
  counts.NotReached = result.NotReached;
  counts.Cancelled = result.Cancelled;
  return counts;
}

std::string ImportReport(const TImportCounts& counts) {
  std::string text = "Inserted: " + std::to_string(counts.Inserted) + "\n";
  text += "Skipped: " + std::to_string(counts.Skipped) +
          " (the address is in the catalogue already or earlier in the file)\n";
  text += "Refused: " + std::to_string(counts.Refused) + " (no web address, or one longer than " +
          std::to_string(bookmarks::kUrlSize) + " characters)\n";
  if (counts.Cancelled) text += "Cancelled: " + std::to_string(counts.NotReached) + " not imported\n";
  return text;
}

std::string CategoryListText() {
  std::string text;
  for (std::string_view category : kSiteCategories) {
    if (!text.empty()) text += ", ";
    text += category;
  }
  return text;
}

TCommandResult RunImportCommand(const TImportOptions& options, std::ostream& out, const TImportServices& services) {
  try {
    return Import(options, out, services);
  } catch (const std::exception& e) {
    return Failure(kExitFailure, e.what());
  } catch (...) {
    return Failure(kExitFailure, "The import failed for an unknown reason");
  }
}

}  // namespace marrowick
