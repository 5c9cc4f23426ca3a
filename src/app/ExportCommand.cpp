#include "app/ExportCommand.h"

#include <dirent.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "app/SiteCategories.h"
#include "app/SiteRecordSet.h"
#include "dataset/TextConvert.h"
#include "export/ExportError.h"
#include "grid/model/GridRowSource.h"
#include "grid/model/ProgramGrid.h"
#include "platform/qt/ProgramDirectory.h"
#include "platform/qt/SettingsStore.h"

namespace marrowick {

namespace {

namespace fs = std::filesystem;

constexpr const char* kColumnList = "category, name, url, login or password";
constexpr const char* kFormatAdvice =
    "name it .html, .htm, .xls or .txt, or give --format html|excel|text|bookmarks";

std::string Trim(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
  while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
  return std::string(text.substr(first, last - first));
}

// The extension of the file-name part of path, with its dot; empty when
// there is none (a leading dot starts a hidden name, not an extension).
std::string ExtensionOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return {};
  return base.substr(dot);
}

// The user's settings store as the command may use it: read, never changed.
// Keys are opened only when they exist and writes go nowhere, so neither the
// grid's reading of its layout nor anything else done on the way can alter
// the layout the window will start with.
class TReadOnlySettings : public platform::ISettingsStore {
 public:
  explicit TReadOnlySettings(std::unique_ptr<platform::ISettingsStore> store) : store_(std::move(store)) {}
  void SetLazyWrite(bool) override {}
  bool OpenKey(const std::string& key, bool) override { return store_->OpenKey(key, false); }
  bool KeyExists(const std::string& key) override { return store_->KeyExists(key); }
  std::string ReadString(const std::string& name) override { return store_->ReadString(name); }
  void WriteString(const std::string&, const std::string&) override {}
  void CloseKey() override { store_->CloseKey(); }

 private:
  std::unique_ptr<platform::ISettingsStore> store_;
};

// True when target is one of the table's three files (a name or link that
// leads to it): writing the export there would replace the catalogue.
bool IsTableFile(const std::string& target, const std::string& dataFile) {
  std::error_code error;
  if (!fs::exists(target, error)) return false;
  const std::string dir = platform::ExtractFilePath(dataFile);
  const std::string stem = dataFile.substr(dir.size(), dataFile.size() - dir.size() - 4);
  std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(dir.c_str()), ::closedir);
  if (!handle) return false;
  while (const dirent* entry = ::readdir(handle.get())) {
    const std::string name = entry->d_name;
    if (name.size() != stem.size() + 4 || !dataset::AnsiSameText(name.substr(0, stem.size()), stem)) continue;
    const std::string ext = name.substr(stem.size());
    if (!dataset::AnsiSameText(ext, ".DAT") && !dataset::AnsiSameText(ext, ".IDX") &&
        !dataset::AnsiSameText(ext, ".BLB")) {
      continue;
    }
    if (fs::equivalent(target, dir + name, error)) return true;
  }
  return false;
}

TCommandResult Failure(int status, std::string message) { return {status, std::move(message)}; }

TCommandResult Export(const TExportOptions& options, const TExportServices& services) {
  // Everything the command line says is checked before anything is opened.
  if (options.FileName.empty()) {
    return Failure(kExitUsage, "No file name: give the file to write after --export");
  }
  std::string error;
  const std::optional<exports::TExportFormat> format = ResolveExportFormat(options, error);
  if (!format) return Failure(kExitUsage, error);
  std::optional<std::set<std::string>> shown;
  if (options.Columns) {
    shown = ParseExportColumns(*options.Columns, error);
    if (!shown) return Failure(kExitUsage, error);
  }

  std::string dataFile;
  TCommandResult missing;
  const std::optional<std::string> found = FindCommandTable(options.Table, services.ProgramDirectory, dataFile, missing);
  if (!found) return missing;
  const std::string& tablePath = *found;
  if (IsTableFile(options.FileName, dataFile)) {
    return Failure(kExitUsage, "Refusing to write the export over the table's own file \"" + options.FileName + "\"");
  }

  // Declared before the grid, so that the grid lets go of the record set
  // before the record set closes.
  TSiteRecordSet table;
  std::unique_ptr<grid::TDBGrid> grid;
  const std::string tableName = options.Table.empty() ? tablePath : options.Table;
  try {
    platform::SettingsStoreFactory settings = services.CreateSettings;
    if (!settings) settings = platform::CreateSettingsStore;
    std::vector<std::string> categories(kSiteCategories.begin(), kSiteCategories.end());
    // The layout is read as the window reads it, before the table opens;
    // the grid is then cut off from the store, so that going away it does
    // not store a layout this command changed.
    grid = grid::BuildGrid(grid::ProgramGridDescription(categories), [settings] {
      return std::unique_ptr<platform::ISettingsStore>(new TReadOnlySettings(settings()));
    });
    grid->SetSettingsStore({});

    // The export only reads, so the table is opened read-only: the
    // catalogue's files are never changed by it, not even repaired.
    table.Table().SetReadOnly(true);
    table.SetTableName(dataFile);
    table.SetActive(true);
    grid->SetDataSource(&table.DataSource());
  } catch (const std::exception& e) {
    return Failure(kExitFailure, "Cannot read the table \"" + tableName + "\": " + e.what());
  }

  try {
    if (shown) {
      for (const TExportColumnName& name : kExportColumnNames) {
        if (grid::TTreeListColumn* column = grid->FindColumn(name.GridColumn)) {
          column->SetVisible(shown->count(name.GridColumn) != 0);
        }
      }
    }
    // The window starts with its groups collapsed, and the text export
    // writes only the rows shown: a file for scripts must hold every site,
    // so every group is opened (the page and the worksheet hold every row
    // anyway).
    for (int i = 0; i < grid->Count(); ++i) grid->GetNode(i)->Expand(true);
    const platform::TStandardColorScheme standard;
    grid::TGridRowSource source(*grid);
    exports::ExportToFile(source, options.FileName, *format, services.Scheme ? *services.Scheme : standard);
  } catch (const exports::EExportError& e) {
    return Failure(kExitFailure, e.what());
  } catch (const std::exception& e) {
    return Failure(kExitFailure, "Cannot export to \"" + options.FileName + "\": " + e.what());
  }
  return {};
}

}  // namespace

std::optional<std::set<std::string>> ParseExportColumns(std::string_view text, std::string& error) {
  std::set<std::string> columns;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string name = Trim(text.substr(start, end - start));
    start = end + 1;
    if (name.empty()) continue;
    bool known = false;
    for (const TExportColumnName& column : kExportColumnNames) {
      if (dataset::AnsiSameText(name, column.Option)) {
        columns.insert(column.GridColumn);
        known = true;
      }
    }
    if (!known) {
      error = "Unknown column \"" + name + "\" in --columns: use " + kColumnList;
      return std::nullopt;
    }
  }
  if (columns.empty()) {
    error = "--columns names no column: use " + std::string(kColumnList);
    return std::nullopt;
  }
  return columns;
}

std::optional<exports::TExportFormat> ResolveExportFormat(const TExportOptions& options, std::string& error) {
  if (!options.Format.empty()) {
    if (auto format = exports::FormatFromName(options.Format)) return format;
    error = "Unknown export format \"" + options.Format + "\": use html, excel, text or bookmarks";
    return std::nullopt;
  }
  if (auto format = exports::FormatFromExtension(options.FileName)) return format;
  const std::string extension = ExtensionOf(options.FileName);
  if (extension.empty()) {
    error = "Cannot tell the format of \"" + options.FileName + "\" without an extension: " + kFormatAdvice;
  } else {
    error = "Cannot tell the format of \"" + options.FileName + "\" from its extension \"" + extension +
            "\": " + kFormatAdvice;
  }
  return std::nullopt;
}

std::string TableDataFile(const std::string& tablePath) {
  std::error_code error;
  fs::path path = fs::absolute(tablePath, error);
  std::string full = error ? tablePath : path.string();
  const size_t slash = full.find_last_of('/');
  const size_t dot = full.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) full.erase(dot);
  return full + ".DAT";
}

std::optional<std::string> FindCommandTable(const std::string& given,
                                            const std::function<std::string()>& programDirectory,
                                            std::string& dataFile, TCommandResult& failure) {
  std::string tablePath = given;
  const bool shipped = tablePath.empty();
  if (shipped) {
    const std::string dir = programDirectory ? programDirectory() : platform::ProgramDirectory();
    tablePath = dir + "linksdata.dat";
  }
  dataFile = TableDataFile(tablePath);
  if (platform::FileExistsIgnoringCase(dataFile)) return tablePath;
  if (shipped) {
    failure = Failure(kExitFailure,
                      "Links information not found please redownload or reinstall Marrowick (no " + tablePath + ")");
  } else {
    failure = Failure(kExitFailure, "Cannot find the table \"" + given + "\" (no file " + dataFile + ")");
  }
  return std::nullopt;
}

TCommandResult RunExportCommand(const TExportOptions& options, const TExportServices& services) {
  try {
    return Export(options, services);
  } catch (const std::exception& e) {
    return Failure(kExitFailure, e.what());
  } catch (...) {
    return Failure(kExitFailure, "The export failed for an unknown reason");
  }
}

}  // namespace marrowick
