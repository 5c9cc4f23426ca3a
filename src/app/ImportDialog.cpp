#include "app/ImportDialog.h"

#include <exception>
#include <utility>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/FileDialogRun.h"
#include "app/SiteCategories.h"
#include "bookmarks/CategoryGuess.h"
#include "platform/qt/AnsiText.h"

namespace marrowick {

namespace {

using bookmarks::TBookmarkStatus;
using platform::AnsiToQString;

enum TFolderColumn { kFolderName = 0, kFolderSites = 1, kFolderCategory = 2 };

QString Count(int n, const char* one, const char* many) {
  return QString::number(n) + QLatin1Char(' ') + QString::fromLatin1(n == 1 ? one : many);
}

QString LocalText(const std::string& bytes) { return QString::fromLocal8Bit(bytes.data(), static_cast<int>(bytes.size())); }

}  // namespace

// ---- the file dialog ----

std::optional<std::string> TQtBookmarkFileDialog::Execute() {
  QPointer<QFileDialog> dialog = new QFileDialog(owner_, QStringLiteral("Import Bookmarks"), QDir::homePath());
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilters({QStringLiteral("Bookmark files (*.html *.htm *.json places.sqlite Bookmarks)"),
                          QStringLiteral("All files (*)")});
  // Hidden folders hold the browsers' profiles.
  dialog->setFilter(dialog->filter() | QDir::Hidden);
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  return RunFileDialog(dialog);
}

// ---- the dialog ----

TfrmImport::TfrmImport(dataset::TDataSet& table, TImportDialogServices services, QWidget* parent)
    : QDialog(parent), table_(table) {
  setObjectName(QStringLiteral("frmImport"));
  setWindowTitle(QStringLiteral("Import Bookmarks"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setSizeGripEnabled(true);
  resize(560, 480);

  if (services.FileDialog != nullptr) {
    fileDialog_ = services.FileDialog;
  } else {
    ownFileDialog_ = std::make_unique<TQtBookmarkFileDialog>(this);
    fileDialog_ = ownFileDialog_.get();
  }
  profiles_ = services.FindProfiles ? services.FindProfiles() : bookmarks::FindBrowserProfiles();

  auto* layout = new QVBoxLayout(this);

  // ---- where from
  auto* source = new QGroupBox(QStringLiteral("Import From"), this);
  auto* sourceLayout = new QVBoxLayout(source);
  auto* browsersLabel = new QLabel(source);
  profileList_ = new QListWidget(source);
  profileList_->setObjectName(QStringLiteral("ProfileList"));
  for (const bookmarks::TBrowserProfile& profile : profiles_) {
    profileList_->addItem(QString::fromStdString(profile.DisplayName()));
  }
  profileList_->setMaximumHeight(90);
  if (profiles_.empty()) {
    browsersLabel->setText(QStringLiteral("No browser with bookmarks was found for you; choose a bookmark file."));
    profileList_->hide();
  } else {
    browsersLabel->setText(QStringLiteral("Your &browsers:"));
    browsersLabel->setBuddy(profileList_);
  }
  sourceLayout->addWidget(browsersLabel);
  sourceLayout->addWidget(profileList_);
  auto* fileRow = new QHBoxLayout;
  fileButton_ = new QPushButton(QStringLiteral("Bookmark &File..."), source);
  fileButton_->setObjectName(QStringLiteral("FileButton"));
  fileButton_->setAutoDefault(false);
  sourceLabel_ = new QLabel(source);
  sourceLabel_->setObjectName(QStringLiteral("SourceLabel"));
  sourceLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  fileRow->addWidget(fileButton_);
  fileRow->addWidget(sourceLabel_, 1);
  sourceLayout->addLayout(fileRow);
  layout->addWidget(source);

  // ---- the preview
  auto* preview = new QGroupBox(QStringLiteral("Folders and Categories"), this);
  auto* previewLayout = new QVBoxLayout(preview);
  folderTable_ = new QTableWidget(0, 3, preview);
  folderTable_->setObjectName(QStringLiteral("FolderTable"));
  folderTable_->setHorizontalHeaderLabels({QStringLiteral("Folder"), QStringLiteral("Sites"), QStringLiteral("Category")});
  folderTable_->verticalHeader()->hide();
  folderTable_->setSelectionMode(QAbstractItemView::NoSelection);
  folderTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  folderTable_->horizontalHeader()->setSectionResizeMode(kFolderName, QHeaderView::Stretch);
  folderTable_->horizontalHeader()->setSectionResizeMode(kFolderSites, QHeaderView::ResizeToContents);
  folderTable_->horizontalHeader()->setSectionResizeMode(kFolderCategory, QHeaderView::ResizeToContents);
  previewLayout->addWidget(folderTable_, 1);
  auto* skippedRow = new QHBoxLayout;
  skippedLabel_ = new QLabel(preview);
  skippedLabel_->setObjectName(QStringLiteral("SkippedLabel"));
  skippedLabel_->setWordWrap(true);
  detailsButton_ = new QPushButton(QStringLiteral("&Details"), preview);
  detailsButton_->setObjectName(QStringLiteral("DetailsButton"));
  detailsButton_->setCheckable(true);
  detailsButton_->setAutoDefault(false);
  skippedRow->addWidget(skippedLabel_, 1);
  skippedRow->addWidget(detailsButton_);
  previewLayout->addLayout(skippedRow);
  detailsText_ = new QPlainTextEdit(preview);
  detailsText_->setObjectName(QStringLiteral("DetailsText"));
  detailsText_->setReadOnly(true);
  detailsText_->setLineWrapMode(QPlainTextEdit::NoWrap);
  detailsText_->setMaximumHeight(110);
  detailsText_->hide();
  previewLayout->addWidget(detailsText_);
  totalLabel_ = new QLabel(preview);
  totalLabel_->setObjectName(QStringLiteral("TotalLabel"));
  previewLayout->addWidget(totalLabel_);
  layout->addWidget(preview, 1);

  // ---- progress, report and buttons
  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName(QStringLiteral("ProgressBar"));
  progressBar_->setRange(0, 1);
  progressBar_->setValue(0);
  layout->addWidget(progressBar_);
  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName(QStringLiteral("StatusLabel"));
  statusLabel_->setWordWrap(true);
  statusLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(statusLabel_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  importButton_ = new QPushButton(QStringLiteral("&Import"), this);
  importButton_->setObjectName(QStringLiteral("ImportButton"));
  importButton_->setDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("CancelButton"));
  cancelButton_->setAutoDefault(false);
  buttons->addWidget(importButton_);
  buttons->addWidget(cancelButton_);
  layout->addLayout(buttons);

  connect(fileButton_, &QPushButton::clicked, this, [this] { ChooseFile(); });
  connect(profileList_, &QListWidget::currentRowChanged, this, [this](int row) { LoadProfile(row); });
  connect(detailsButton_, &QPushButton::toggled, detailsText_, &QWidget::setVisible);
  connect(importButton_, &QPushButton::clicked, this, [this] { RunImport(); });
  connect(cancelButton_, &QPushButton::clicked, this, &TfrmImport::reject);
  ClearPreview();
}

TfrmImport::~TfrmImport() = default;

QComboBox* TfrmImport::CategoryBox(int row) const {
  return qobject_cast<QComboBox*>(folderTable_->cellWidget(row, kFolderCategory));
}

void TfrmImport::ChooseFile() {
  if (importing_ || counts_) return;
  const std::optional<std::string> file = fileDialog_->Execute();
  if (!file) return;
  // A file chosen is the source now, not a browser of the list.
  profileList_->blockSignals(true);
  profileList_->setCurrentRow(-1);
  profileList_->blockSignals(false);
  LoadFile(*file);
}

void TfrmImport::LoadProfile(int row) {
  if (importing_ || counts_ || row < 0 || row >= static_cast<int>(profiles_.size())) return;
  LoadFile(profiles_[static_cast<std::size_t>(row)].File);
}

bool TfrmImport::LoadFile(const std::string& path) {
  if (importing_ || counts_) return false;
  ClearPreview();
  sourceLabel_->setText(LocalText(path));
  try {
    const bookmarks::TBookmarkList list = bookmarks::ReadBookmarkFile(path);
    const std::vector<std::string> categories(kSiteCategories.begin(), kSiteCategories.end());
    plan_ = bookmarks::MakeImportPlan(list, bookmarks::TCategoryGuesser(categories),
                                      bookmarks::CatalogueLookup(table_), kImportFallbackCategory);
  } catch (const bookmarks::EBookmarkError& e) {
    statusLabel_->setText(LocalText(e.what()));
    return false;
  } catch (const std::exception& e) {
    // The catalogue's own errors (a lookup that failed) are in its code page.
    statusLabel_->setText(AnsiToQString(e.what()));
    return false;
  }
  planned_ = true;
  ShowPreview();
  return true;
}

void TfrmImport::ClearPreview() {
  planned_ = false;
  plan_ = {};
  folderTable_->setRowCount(0);
  skippedLabel_->clear();
  detailsText_->clear();
  detailsButton_->setEnabled(false);
  totalLabel_->clear();
  statusLabel_->clear();
  progressBar_->setRange(0, 1);
  progressBar_->setValue(0);
  importButton_->setEnabled(false);
}

void TfrmImport::ShowPreview() {
  folderTable_->setRowCount(static_cast<int>(plan_.Folders.size()));
  for (int row = 0; row < static_cast<int>(plan_.Folders.size()); ++row) {
    const bookmarks::TPlannedFolder& folder = plan_.Folders[static_cast<std::size_t>(row)];
    const QString name =
        folder.PathText.empty() ? QStringLiteral("(outside any folder)") : AnsiToQString(folder.PathText);
    folderTable_->setItem(row, kFolderName, new QTableWidgetItem(name));
    auto* sites = new QTableWidgetItem(QString::number(folder.Bookmarks));
    sites->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    folderTable_->setItem(row, kFolderSites, sites);
    auto* box = new QComboBox(folderTable_);
    box->setObjectName(QStringLiteral("Category%1").arg(row));
    for (std::string_view category : kSiteCategories) box->addItem(AnsiToQString(category));
    if (const std::optional<std::size_t> index = FindSiteCategory(folder.Category)) {
      box->setCurrentIndex(static_cast<int>(*index));
    }
    connect(box, &QComboBox::currentIndexChanged, this, [this, row](int index) {
      if (index < 0 || index >= static_cast<int>(kSiteCategories.size())) return;
      plan_.Folders[static_cast<std::size_t>(row)].Category = std::string(kSiteCategories[static_cast<std::size_t>(index)]);
    });
    folderTable_->setCellWidget(row, kFolderCategory, box);
  }

  // The bookmarks skipped, and those the catalogue could not take, listed
  // in the details area.
  const int inCatalogue = plan_.Count(TBookmarkStatus::InCatalogue);
  const int twice = plan_.Count(TBookmarkStatus::TwiceInList);
  const int tooLong = plan_.Count(TBookmarkStatus::UrlTooLong);
  QString details;
  for (const bookmarks::TPlannedBookmark& b : plan_.Bookmarks) {
    const char* why = nullptr;
    switch (b.Status) {
      case TBookmarkStatus::InCatalogue: why = "in the catalogue already"; break;
      case TBookmarkStatus::TwiceInList: why = "earlier in the list"; break;
      case TBookmarkStatus::UrlTooLong: why = "address too long"; break;
      case TBookmarkStatus::New: break;
    }
    if (why == nullptr) continue;
    details += AnsiToQString(b.Url) + QStringLiteral("  (") + QString::fromLatin1(why) + QStringLiteral(")\n");
  }
  detailsText_->setPlainText(details);
  detailsButton_->setEnabled(!details.isEmpty());
  QString skipped = Count(inCatalogue + twice, "site skipped", "sites skipped") + QStringLiteral(": ") +
                    QString::number(inCatalogue) + QStringLiteral(" in the catalogue already, ") +
                    QString::number(twice) + QStringLiteral(" twice in the list.");
  const int leftOut = tooLong + plan_.MissingUrl + plan_.NotSites;
  if (leftOut > 0) {
    skipped += QLatin1Char(' ') + Count(leftOut, "entry", "entries") +
               QStringLiteral(" left out: no web address, or one longer than ") + QString::number(bookmarks::kUrlSize) +
               QStringLiteral(" characters.");
  }
  skippedLabel_->setText(skipped);
  ShowTotal();
}

void TfrmImport::ShowTotal() {
  const int total = static_cast<int>(plan_.SitesToImport().size());
  totalLabel_->setText(Count(total, "site to import.", "sites to import."));
  importButton_->setEnabled(planned_ && total > 0 && !importing_ && !counts_);
}

void TfrmImport::RunImport() {
  if (!planned_ || importing_ || counts_) return;
  const std::vector<bookmarks::TSiteToImport> sites = plan_.SitesToImport();
  if (sites.empty()) return;
  importing_ = true;
  cancelRequested_ = false;
  importButton_->setEnabled(false);
  fileButton_->setEnabled(false);
  profileList_->setEnabled(false);
  folderTable_->setEnabled(false);
  statusLabel_->setText(QStringLiteral("Importing..."));
  progressBar_->setRange(0, static_cast<int>(sites.size()));
  progressBar_->setValue(0);

  bookmarks::TImportResult result;
  std::string failure;
  try {
    result = bookmarks::ImportSites(table_, sites, [this](int done, int total) {
      progressBar_->setValue(done);
      emit progressed(done, total);
      // Lets Cancel be clicked and the bar be painted.
      QCoreApplication::processEvents();
      return !cancelRequested_;
    });
  } catch (const std::exception& e) {
    // Nothing was inserted: the import stopped before its first site.
    failure = e.what();
  }
  importing_ = false;
  counts_ = CountImport(plan_, result);
  if (!failure.empty()) result.Error = failure;

  QString report = QString::fromStdString(ImportReport(*counts_)).trimmed();
  if (!result.Error.empty()) {
    report += QStringLiteral("\nThe import stopped: ") + AnsiToQString(result.Error) +
              QStringLiteral(" The sites inserted before it are kept.");
  }
  statusLabel_->setText(report);
  cancelButton_->setText(QStringLiteral("Close"));
  cancelButton_->setDefault(true);
}

void TfrmImport::reject() {
  if (importing_) {
    cancelRequested_ = true;
    return;
  }
  QDialog::reject();
}

// ---- the runner ----

bool TImportDialogRunner::Execute(dataset::TDataSet& table) {
  QPointer<TfrmImport> dialog = new TfrmImport(table, services_, owner_);
  dialog->exec();
  if (dialog.isNull()) return false;
  const bool ran = dialog->Counts().has_value();
  delete dialog.data();
  return ran;
}

}  // namespace marrowick
