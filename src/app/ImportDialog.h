// File > Import Bookmarks: the dialog that brings a browser's bookmarks into
// the catalogue.
//
// The user picks a bookmark file (through the file dialog) or one of the
// browser profiles found for this user; the dialog then shows its preview:
// each folder with its number of sites and the category its sites go to
// (the guess from the folder's names, changeable in a combo box), how many
// sites are skipped because the catalogue or an earlier bookmark has their
// address (their list in a details area), and how many are left to insert.
// Import inserts them in one pass with a progress bar; Cancel stops it, and
// what was inserted before stays. The dialog then reports what was
// inserted, skipped and refused.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>

#include "app/ImportCommand.h"
#include "bookmarks/BookmarkImport.h"
#include "bookmarks/BrowserProfiles.h"
#include "dataset/DataSet.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace marrowick {

// How the dialog asks for a bookmark file; tests answer it. Nothing when the
// user cancels.
class IBookmarkFileDialog {
 public:
  virtual ~IBookmarkFileDialog() = default;
  // The chosen file as a local path (the file system's bytes).
  virtual std::optional<std::string> Execute() = 0;
};

// The open dialog as a QFileDialog: bookmark files, Firefox's
// places.sqlite and Chromium's Bookmarks, or any file.
class TQtBookmarkFileDialog : public IBookmarkFileDialog {
 public:
  explicit TQtBookmarkFileDialog(QWidget* owner) : owner_(owner) {}
  std::optional<std::string> Execute() override;

 private:
  QWidget* owner_;
};

struct TImportDialogServices {
  // The file dialog; none: the dialog's own TQtBookmarkFileDialog.
  IBookmarkFileDialog* FileDialog = nullptr;
  // The browser profiles offered; empty: FindBrowserProfiles() for this user.
  std::function<std::vector<bookmarks::TBrowserProfile>()> FindProfiles;
};

class TfrmImport : public QDialog {
  Q_OBJECT

 public:
  // The table is the site table's record set, open; the dialog looks
  // addresses up in it and inserts into it.
  TfrmImport(dataset::TDataSet& table, TImportDialogServices services, QWidget* parent = nullptr);
  ~TfrmImport() override;

  // Reads the file and shows its preview. False, with the reason shown in
  // the dialog, when it cannot be read; the preview is empty then.
  bool LoadFile(const std::string& path);
  // The file button: asks the file dialog, then LoadFile.
  void ChooseFile();
  // Import: inserts the planned sites (see the file's head). Nothing while
  // an import runs, without a preview or after an import.
  void RunImport();

  bool Importing() const { return importing_; }
  const std::vector<bookmarks::TBrowserProfile>& Profiles() const { return profiles_; }
  const bookmarks::TImportPlan& Plan() const { return plan_; }
  // The counts of the import run; none before it.
  const std::optional<TImportCounts>& Counts() const { return counts_; }

  QListWidget* ProfileList() const { return profileList_; }
  QPushButton* FileButton() const { return fileButton_; }
  QLabel* SourceLabel() const { return sourceLabel_; }
  QTableWidget* FolderTable() const { return folderTable_; }
  // The category combo box of a folder's row.
  QComboBox* CategoryBox(int row) const;
  QLabel* SkippedLabel() const { return skippedLabel_; }
  QPushButton* DetailsButton() const { return detailsButton_; }
  QPlainTextEdit* DetailsText() const { return detailsText_; }
  QLabel* TotalLabel() const { return totalLabel_; }
  QProgressBar* ProgressBar() const { return progressBar_; }
  QLabel* StatusLabel() const { return statusLabel_; }
  QPushButton* ImportButton() const { return importButton_; }
  QPushButton* CancelButton() const { return cancelButton_; }

 public slots:
  // While an import runs: cancels it (the dialog stays); otherwise closes.
  void reject() override;

 signals:
  // Before each site of an import, and once at its end.
  void progressed(int done, int total);

 private:
  void ShowPreview();
  void ClearPreview();
  void ShowTotal();
  void LoadProfile(int row);

  dataset::TDataSet& table_;
  std::unique_ptr<IBookmarkFileDialog> ownFileDialog_;
  IBookmarkFileDialog* fileDialog_ = nullptr;
  std::vector<bookmarks::TBrowserProfile> profiles_;
  bookmarks::TImportPlan plan_;
  bool planned_ = false;
  bool importing_ = false;
  bool cancelRequested_ = false;
  std::optional<TImportCounts> counts_;

  QListWidget* profileList_;
  QPushButton* fileButton_;
  QLabel* sourceLabel_;
  QTableWidget* folderTable_;
  QLabel* skippedLabel_;
  QPushButton* detailsButton_;
  QPlainTextEdit* detailsText_;
  QLabel* totalLabel_;
  QProgressBar* progressBar_;
  QLabel* statusLabel_;
  QPushButton* importButton_;
  QPushButton* cancelButton_;
};

// How the window runs the dialog; tests drive the real dialog without its
// event loop. Answers whether an import ran (some sites may be new).
class IImportDialog {
 public:
  virtual ~IImportDialog() = default;
  virtual bool Execute(dataset::TDataSet& table) = 0;
};

// The real dialog, created anew for each import and owned by the given
// window while it is shown.
class TImportDialogRunner : public IImportDialog {
 public:
  explicit TImportDialogRunner(QWidget* owner, TImportDialogServices services = {})
      : owner_(owner), services_(std::move(services)) {}
  bool Execute(dataset::TDataSet& table) override;

 private:
  QWidget* owner_;
  TImportDialogServices services_;
};

}  // namespace marrowick
