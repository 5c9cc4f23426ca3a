#include "bookmarks/BookmarkImport.h"

#include <unordered_set>

#include "bookmarks/BookmarkText.h"

namespace bookmarks {

namespace {

// The text cut to the field's size, without the blanks the cut leaves at
// its end (the table drops them anyway).
std::string Cut(const std::string& text, std::size_t size) {
  std::string cut = text.substr(0, size);
  while (!cut.empty() && cut.back() == ' ') cut.pop_back();
  return cut;
}

}  // namespace

int TImportPlan::Count(TBookmarkStatus status) const {
  int count = 0;
  for (const TPlannedBookmark& b : Bookmarks) count += b.Status == status ? 1 : 0;
  return count;
}

std::vector<TSiteToImport> TImportPlan::SitesToImport() const {
  std::vector<TSiteToImport> sites;
  for (const TPlannedBookmark& b : Bookmarks) {
    if (b.Status != TBookmarkStatus::New || !b.Chosen || b.Folder >= Folders.size()) continue;
    const std::string& category = Folders[b.Folder].Category;
    if (category.empty()) continue;
    sites.push_back(TSiteToImport{category, b.Name, b.Url});
  }
  return sites;
}

TImportPlan MakeImportPlan(const TBookmarkList& list, const TCategoryGuesser& guesser,
                           const TCatalogueLookup& inCatalogue, const std::string& fallbackCategory) {
  TImportPlan plan;
  plan.MissingUrl = list.MissingUrl;
  plan.NotSites = list.NotSites;
  std::unordered_set<std::string> seen;
  for (const TBookmarkFolder& folder : list.Folders) {
    TPlannedFolder planned;
    planned.PathText = folder.PathText();
    planned.Guess = guesser.Guess(folder.Path);
    planned.Category = planned.Guess ? guesser.Categories()[*planned.Guess] : fallbackCategory;
    planned.Bookmarks = static_cast<int>(folder.Bookmarks.size());
    const std::size_t index = plan.Folders.size();
    plan.Folders.push_back(std::move(planned));
    for (const TBookmark& bookmark : folder.Bookmarks) {
      TPlannedBookmark b;
      b.Folder = index;
      b.Url = bookmark.Url;
      std::string name = bookmark.Title.empty() ? AddressHost(bookmark.Url) : bookmark.Title;
      if (name.empty()) name = bookmark.Url;
      b.Name = Cut(name, kNameSize);
      const std::string key = AddressKey(bookmark.Url);
      if (key.size() > kUrlSize) {
        b.Status = TBookmarkStatus::UrlTooLong;
      } else if (inCatalogue && inCatalogue(key)) {
        b.Status = TBookmarkStatus::InCatalogue;
      } else if (!seen.insert(key).second) {
        b.Status = TBookmarkStatus::TwiceInList;
      }
      plan.Bookmarks.push_back(std::move(b));
    }
  }
  return plan;
}

TCatalogueLookup CatalogueLookup(dataset::TDataSet& table) {
  return [&table](const std::string& url) {
    return !table.Lookup("siteurl", dataset::Variant(url), "siteurl").IsNull();
  };
}

TImportResult ImportSites(dataset::TDataSet& table, const std::vector<TSiteToImport>& sites,
                          const TImportProgress& progress) {
  TImportResult result;
  const int total = static_cast<int>(sites.size());
  table.CheckBrowseMode();
  dataset::TField& category = table.FieldByName("sitetype");
  dataset::TField& name = table.FieldByName("sitename");
  dataset::TField& url = table.FieldByName("siteurl");
  const TCatalogueLookup inCatalogue = CatalogueLookup(table);
  table.DisableControls();
  try {
    for (int i = 0; i < total; ++i) {
      if (progress && !progress(i, total)) {
        result.Cancelled = true;
        result.NotReached = total - i;
        break;
      }
      const TSiteToImport& site = sites[static_cast<std::size_t>(i)];
      const std::string key = AddressKey(site.Url);
      if (key.size() > kUrlSize) {
        result.Refused.push_back({site.Url, TBookmarkStatus::UrlTooLong});
        continue;
      }
      if (inCatalogue(key)) {
        result.Refused.push_back({site.Url, TBookmarkStatus::InCatalogue});
        continue;
      }
      try {
        table.Append();
        category.SetAsString(Cut(site.Category, kCategorySize));
        name.SetAsString(Cut(site.Name, kNameSize));
        url.SetAsString(key);
        table.Post();
      } catch (const std::exception& e) {
        try {
          table.Cancel();
        } catch (...) {
          // The first error is the one to report.
        }
        // Another program may have added the address since it was looked
        // up: a duplicate, not a failure.
        bool there = false;
        try {
          there = inCatalogue(key);
        } catch (...) {
        }
        if (there) {
          result.Refused.push_back({site.Url, TBookmarkStatus::InCatalogue});
          continue;
        }
        result.Error = e.what();
        result.NotReached = total - i;
        break;
      }
      ++result.Inserted;
    }
    if (!result.Cancelled && result.Error.empty() && progress) progress(total, total);
  } catch (...) {
    table.EnableControls();
    throw;
  }
  table.EnableControls();
  return result;
}

}  // namespace bookmarks
