// From bookmarks to sites of the catalogue, in two steps: a plan that the
// caller (the import dialog, the command line) shows and may change, then
// the import itself through the site table's record set.
//
//   TImportPlan plan = MakeImportPlan(list, TCategoryGuesser(categories),
//                                     CatalogueLookup(table), "Personal");
//   plan.Folders[2].Category = "News";        // the user's choice
//   plan.Bookmarks[7].Chosen = false;         // left out
//   TImportResult done = ImportSites(table, plan.SitesToImport(),
//                                    [&](int done, int total) { return !cancelled; });
//
// Addresses are compared as the catalogue's unique siteurl key compares
// them: byte for byte, trailing blanks aside; inside the table the record
// set's own search (Lookup) decides, so a table whose key ignores letter
// case is served too.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bookmarks/Bookmarks.h"
#include "bookmarks/CategoryGuess.h"
#include "dataset/DataSet.h"

namespace bookmarks {

// Field sizes of the site table.
inline constexpr std::size_t kCategorySize = 30;
inline constexpr std::size_t kNameSize = 60;
inline constexpr std::size_t kUrlSize = 100;

enum class TBookmarkStatus {
  New,          // to be inserted
  InCatalogue,  // the catalogue has its address already
  TwiceInList,  // an earlier bookmark of the list has the same address
  UrlTooLong,   // longer than the URL field: it could not be kept whole
};

struct TPlannedFolder {
  std::string PathText;  // "Bookmarks bar / News"; "" outside any folder
  // The guessed category (a position in the guesser's categories); none
  // when the folder's names say nothing.
  std::optional<std::size_t> Guess;
  // The category its sites are filed under: the guess, else the fallback.
  // The caller may change it; "" leaves the folder's sites out.
  std::string Category;
  int Bookmarks = 0;  // of any status
};

struct TPlannedBookmark {
  std::size_t Folder = 0;  // position in TImportPlan::Folders
  std::string Name;        // the title, cut to the name field (the host when there is none)
  std::string Url;
  TBookmarkStatus Status = TBookmarkStatus::New;
  bool Chosen = true;  // the caller may leave a new bookmark out
};

struct TSiteToImport {
  std::string Category;
  std::string Name;
  std::string Url;
};

struct TImportPlan {
  std::vector<TPlannedFolder> Folders;
  std::vector<TPlannedBookmark> Bookmarks;
  // What the reader skipped (copied from the list).
  int MissingUrl = 0;
  int NotSites = 0;

  int Count(TBookmarkStatus status) const;
  // The new bookmarks that are chosen and whose folder has a category.
  std::vector<TSiteToImport> SitesToImport() const;
};

// Whether the catalogue has a site of that address.
using TCatalogueLookup = std::function<bool(const std::string& url)>;

// The plan for a list: each folder's guess (else fallbackCategory), each
// bookmark's name and status against the catalogue and the earlier
// bookmarks of the list.
TImportPlan MakeImportPlan(const TBookmarkList& list, const TCategoryGuesser& guesser,
                           const TCatalogueLookup& inCatalogue, const std::string& fallbackCategory);

// The site table's own search on its siteurl field; it does not move the
// current record.
TCatalogueLookup CatalogueLookup(dataset::TDataSet& table);

struct TImportRefusal {
  std::string Url;
  TBookmarkStatus Why = TBookmarkStatus::InCatalogue;  // InCatalogue or UrlTooLong
};

struct TImportResult {
  int Inserted = 0;
  // Sites not inserted because the catalogue had the address already (also
  // one another program added meanwhile) or the address was too long.
  std::vector<TImportRefusal> Refused;
  bool Cancelled = false;
  // Sites not inserted after a cancel (those not tried) or an error (the
  // one that failed and those after it).
  int NotReached = 0;
  // The error that stopped the import; empty when none did.
  std::string Error;
};

// Called before each site with the sites done so far and their total, and
// once more at the end (done == total); answering false cancels.
using TImportProgress = std::function<bool(int done, int total)>;

// Inserts the sites into the site table (fields sitetype, sitename,
// siteurl) in one pass: each appended and posted, category and name cut to
// their fields, an address longer than its field or already in the
// catalogue refused and reported. The record set's controls are disabled
// meanwhile, so its views read the table once, at the end. A cancel keeps
// what was inserted before it; an error of the table (a full disk, a lock
// another program holds) cancels the site it met, stops the import and is
// reported in Error, what was inserted before it staying. A pending edit
// of the record set is posted first (as any move of it would).
TImportResult ImportSites(dataset::TDataSet& table, const std::vector<TSiteToImport>& sites,
                          const TImportProgress& progress = {});

}  // namespace bookmarks
