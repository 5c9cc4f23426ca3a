#include "app/MainForm.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QGroupBox>
#include <QHideEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariant>
#include <QWidget>

#include "app/AboutBox.h"
#include "app/Banner.h"
#include "app/CatalogueCheck.h"
#include "app/CredentialCopy.h"
#include "app/DBMemo.h"
#include "app/HelpViewer.h"
#include "app/LiveView.h"
#include "app/ProgramIcon.h"
#include "app/QuickFindBox.h"
#include "app/SiteCategories.h"
#include "app/SiteCommands.h"
#include "app/WindowExport.h"
#include "dataset/DataSet.h"
#include "dataset/DataSource.h"
#include "grid/model/ProgramGrid.h"
#include "grid/qt/DBGridWidget.h"
#include "platform/core/OwnerOnlyFiles.h"
#include "platform/qt/Clipboard.h"
#include "platform/qt/PaletteColorScheme.h"
#include "platform/qt/ProgramDirectory.h"
#include "platform/qt/Shell.h"
#include "platform/qt/Timers.h"

namespace marrowick {

namespace {

// The conversion error of a text that is not a decimal integer.
class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& text)
      : std::runtime_error("'" + text + "' is not a valid integer value") {}
};

// Strict decimal conversion: an optional sign and at least one digit, nothing
// else, within the 32-bit range.
int StrToInt(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) throw EConvertError(text);
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') throw EConvertError(text);
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) throw EConvertError(text);
  }
  if (negative) value = -value;
  if (value > INT32_MAX) throw EConvertError(text);
  return static_cast<int>(value);
}

platform::IMessageBoxes& BoxesOf(TMainFormServices& services,
                                 std::unique_ptr<platform::IMessageBoxes>& own) {
  if (services.MessageBoxes != nullptr) return *services.MessageBoxes;
  own = std::make_unique<platform::TQtMessageBoxes>();
  return *own;
}

}  // namespace

// Follows the grid: the focused row decides whether there is a current
// site, and the columns' visibility decides the Columns check marks.
class TMainForm::TGridWatcher : public grid::IGridObserver {
 public:
  explicit TGridWatcher(TMainForm& form) : form_(form) {}
  void TreeReset() override { form_.UpdateCommandStates(); }
  void RowsInserted(grid::TTreeListNode*, int, int) override { form_.UpdateCommandStates(); }
  void RowsRemoved(grid::TTreeListNode*, int, int) override { form_.UpdateCommandStates(); }
  void RowChanged(grid::TTreeListNode*) override { form_.UpdateCommandStates(); }
  void FocusChanged(grid::TTreeListNode*, int) override { form_.UpdateCommandStates(); }
  void ColumnsChanged() override { form_.ShowColumnVisibility(); }

 private:
  TMainForm& form_;
};

// Follows the record set: opening, closing, moving and changing state.
class TMainForm::TStateLink : public dataset::TDataLink {
 public:
  explicit TStateLink(TMainForm& form) : form_(form) {}
  ~TStateLink() override { SetDataSource(nullptr); }

 protected:
  void ActiveChanged() override { form_.UpdateCommandStates(); }
  void EditingChanged() override { form_.UpdateCommandStates(); }
  void RecordChanged(dataset::TField*) override { form_.UpdateCommandStates(); }

 private:
  TMainForm& form_;
};

TMainForm::TMainForm(TMainFormServices services, QWidget* parent)
    : QMainWindow(parent),
      table_(std::move(services.Table)),
      createSettings_(std::move(services.CreateSettings)),
      programDirectory_(std::move(services.ProgramDirectory)),
      quitApplication_(std::move(services.QuitApplication)),
      narrowTable_(std::move(services.NarrowTable)),
      errorDisplay_(BoxesOf(services, ownBoxes_)) {
  if (!table_) throw std::invalid_argument("TMainForm needs a site table");
  if (!createSettings_) createSettings_ = platform::CreateSettingsStore;
  if (!programDirectory_) programDirectory_ = platform::ProgramDirectory;
  if (!quitApplication_) quitApplication_ = [] { QCoreApplication::exit(0); };
  if (!narrowTable_) narrowTable_ = platform::NarrowTableToOwner;
  if (auto* own = dynamic_cast<platform::TQtMessageBoxes*>(ownBoxes_.get())) own->SetParent(this);

  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QString::fromLatin1(kCaption));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  icon_ = ProgramIcon(programDirectory_());
  setWindowIcon(icon_);
  BuildWindow(services);
  move(kDesignLeft, kDesignTop);
  SetFrameSize(QSize(kDesignWidth, kDesignHeight));
}

TMainForm::~TMainForm() {
  // The timers' users go before the timers: the live view, and the copied
  // password (taken off the clipboard if it is still there).
  liveView_.reset();
  credentialCopy_.reset();
  // The components go before the record set they are bound to: the tray
  // icon, the watchers, the grid on screen, the notes pane, then the grid
  // itself (which stores its layout), and last the table.
  delete tray_;
  tray_ = nullptr;
  if (helpViewer_) delete helpViewer_.data();
  stateLink_.reset();
  if (grid_ && gridWatcher_) grid_->RemoveObserver(gridWatcher_.get());
  gridWatcher_.reset();
  delete gridWidget_;
  gridWidget_ = nullptr;
  delete memo_;
  memo_ = nullptr;
  commands_.reset();
  grid_.reset();
  table_.reset();
}

void TMainForm::BuildWindow(const TMainFormServices& services) {
  // ---- services
  if (services.SiteDialog != nullptr) {
    siteDialog_ = services.SiteDialog;
  } else {
    ownSiteDialog_ = std::make_unique<TSiteDialogRunner>(this);
    siteDialog_ = ownSiteDialog_.get();
  }
  if (services.ExportDialog != nullptr) {
    exportDialog_ = services.ExportDialog;
  } else {
    ownExportDialog_ = std::make_unique<TExportDialogRunner>(this);
    exportDialog_ = ownExportDialog_.get();
  }
  if (services.SaveDialog != nullptr) {
    saveDialog_ = services.SaveDialog;
  } else {
    ownSaveDialog_ = std::make_unique<TQtSaveDialog>(this);
    saveDialog_ = ownSaveDialog_.get();
  }
  if (services.Colors != nullptr) {
    colors_ = services.Colors;
  } else {
    ownColors_ = std::make_unique<platform::TPaletteColorScheme>();
    colors_ = ownColors_.get();
  }
  platform::IShell* shell = services.Shell;
  if (shell == nullptr) {
    ownShell_ = std::make_unique<platform::TQtShell>();
    shell = ownShell_.get();
  }
  shell_ = std::make_unique<TGuardedShell>(*shell, [this](const std::string& message) {
    errorDisplay_.ShowMessage(message);
  });
  if (services.Timers != nullptr) {
    timers_ = services.Timers;
  } else {
    ownTimers_ = std::make_unique<platform::TQtTimers>();
    timers_ = ownTimers_.get();
  }
  platform::IClipboard* clipboard = services.Clipboard;
  if (clipboard == nullptr) {
    ownClipboard_ = std::make_unique<platform::TQtClipboard>();
    clipboard = ownClipboard_.get();
  }
  credentialCopy_ = std::make_unique<TCredentialCopy>(*clipboard, *timers_);
  if (services.CheckDialogs != nullptr) {
    checkDialogs_ = services.CheckDialogs;
  } else {
    ownCheckDialogs_ = std::make_unique<TQtCheckDialogs>(this);
    checkDialogs_ = ownCheckDialogs_.get();
  }
  if (services.ImportDialog != nullptr) {
    importDialog_ = services.ImportDialog;
  } else {
    ownImportDialog_ = std::make_unique<TImportDialogRunner>(this);
    importDialog_ = ownImportDialog_.get();
  }

  // ---- the grid's core: built from its columns, its stored layout read,
  // bound to the record set (still closed).
  const std::vector<std::string> categories(kSiteCategories.begin(), kSiteCategories.end());
  grid_ = grid::BuildGrid(grid::ProgramGridDescription(categories), createSettings_, table_->BindingSource());
  commands_ = std::make_unique<TSiteCommands>(*grid_, *siteDialog_, *shell_);
  commands_->SetOnChangedElsewhere([this](const std::exception& error) { errorDisplay_.ShowException(error); },
                                   [this] { RefreshFromTable(); });

  // ---- menus and toolbar
  TMainMenuHandlers handlers;
  handlers.ImportBookmarks1Click = Handler(&TMainForm::ImportBookmarks1Click);
  handlers.Export1Click = Handler(&TMainForm::Export1Click);
  handlers.Exit1Click = Handler(&TMainForm::Exit1Click);
  handlers.Add1Click = Handler(&TMainForm::Add1Click);
  handlers.Edit1Click = Handler(&TMainForm::Edit1Click);
  handlers.Delete1Click = Handler(&TMainForm::Delete1Click);
  handlers.SpeedButton4Click = Handler(&TMainForm::SpeedButton4Click);
  handlers.Category1Click = Handler(&TMainForm::Category1Click);
  handlers.SiteName1Click = Handler(&TMainForm::SiteName1Click);
  handlers.SiteURL1Click = Handler(&TMainForm::SiteURL1Click);
  handlers.SitePassword1Click = Handler(&TMainForm::SitePassword1Click);
  handlers.SiteLogin1Click = Handler(&TMainForm::SiteLogin1Click);
  handlers.Help2Click = Handler(&TMainForm::Help2Click);
  handlers.About1Click = Handler(&TMainForm::About1Click);
  handlers.CopyUrl1Click = Handler(&TMainForm::CopyUrl1Click);
  handlers.CopyLogin1Click = Handler(&TMainForm::CopyLogin1Click);
  handlers.CopyPassword1Click = Handler(&TMainForm::CopyPassword1Click);
  handlers.Refresh1Click = Handler(&TMainForm::Refresh1Click);
  handlers.CheckCatalogue1Click = Handler(&TMainForm::CheckCatalogue1Click);
  BuildMainMenus(*menuBar(), this, handlers, menus_);
  connect(menus_.Sites, &QMenu::aboutToShow, this, &TMainForm::UpdateCommandStates);
  connect(menus_.PopupMenu1, &QMenu::aboutToShow, this, &TMainForm::UpdateCommandStates);
  connect(menus_.View, &QMenu::aboutToShow, this, &TMainForm::UpdateCommandStates);

  // ---- layout
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("CentralPanel"));
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  toolbar_ = BuildToolbar(central, handlers, menus_);
  banner_ = new TBannerPanel(icon_, central);
  auto* client = new QWidget(central);
  client->setObjectName(QStringLiteral("ClientPanel"));
  auto* clientLayout = new QVBoxLayout(client);
  clientLayout->setContentsMargins(0, 0, 0, 0);
  clientLayout->setSpacing(0);
  splitter_ = new QSplitter(Qt::Vertical, client);
  splitter_->setObjectName(QStringLiteral("Splitter1"));
  splitter_->setHandleWidth(kSplitterWidth);
  splitter_->setChildrenCollapsible(false);
  clientLayout->addWidget(splitter_);

  grid::qt::TGridPlatform gridPlatform;
  gridPlatform.MessageBoxes = &errorDisplay_.MessageBoxes();
  gridPlatform.Clipboard = services.Clipboard;
  gridPlatform.Shell = shell_.get();
  gridPlatform.Colors = nullptr;  // the grid draws with the desktop's palette
  gridWidget_ = new grid::qt::TDBGridWidget(*grid_, gridPlatform, splitter_);
  gridWidget_->SetErrorHandler([this](const std::exception& error) { errorDisplay_.ShowException(error); });
  gridWidget_->SetPopupMenu(menus_.PopupMenu1);
  // Small enough minimums that the window's own minimum of 500 x 300 holds.
  gridWidget_->setMinimumHeight(kNotesHeight / 2);

  notesBox_ = new QGroupBox(QStringLiteral("Notes"), splitter_);
  notesBox_->setObjectName(QStringLiteral("GroupBox1"));
  notesBox_->setMinimumHeight(kNotesHeight / 2);
  auto* notesLayout = new QVBoxLayout(notesBox_);
  notesLayout->setContentsMargins(2, 2, 2, 2);
  memo_ = new TDBMemo(notesBox_);
  // The pane fits the box's 76 pixels whatever the font's metrics.
  memo_->setMinimumHeight(kNotesHeight / 4);
  memo_->SetErrorHandler([this](const std::exception& error) { errorDisplay_.ShowException(error); });
  memo_->SetDataField("note");
  memo_->SetDataSource(table_->BindingSource());
  notesLayout->addWidget(memo_);
  splitter_->addWidget(gridWidget_);
  splitter_->addWidget(notesBox_);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);

  layout->addWidget(toolbar_);
  layout->addWidget(banner_);
  layout->addWidget(client, 1);
  setCentralWidget(central);

  statusBar()->setObjectName(QStringLiteral("StatusBar1"));
  statusBar()->setFixedHeight(kStatusBarHeight);

  // ---- the tray icon, in the notification area from the start
  tray_ = new TTrayIcon(this, services.TrayAvailable);
  tray_->SetHint(kTrayHint);
  tray_->SetMinimizeToTray(true);
  tray_->SetCloseToTray(false);
  tray_->SetIcon(icon_);
  TTrayMenuHandlers trayHandlers;
  trayHandlers.Add = handlers.Add1Click;
  trayHandlers.Restore = Handler(&TMainForm::Restore1Click);
  trayHandlers.Exit = handlers.Exit1Click;
  trayMenu_ = CreateTrayMenu(this, trayHandlers);
  tray_->SetPopupMenu(trayMenu_);

  // ---- quick find: Ctrl+F into the box, the box's text to the grid
  QuickFind()->SetReturnFocusTo(gridWidget_);
  QuickFind()->SetOnFind([this](const std::string& text) { ApplyQuickFind(text); });
  auto* find = new QShortcut(QKeySequence(QStringLiteral("Ctrl+F")), this);
  find->setObjectName(QStringLiteral("FindShortcut"));
  find->setContext(Qt::WindowShortcut);
  connect(find, &QShortcut::activated, this, [this] {
    QuickFind()->setFocus(Qt::ShortcutFocusReason);
    QuickFind()->selectAll();
  });

  // ---- following other programs' changes while shown
  TLiveView::THooks live;
  live.ChangedElsewhere = [this] { return isVisible() && table_->ChangedElsewhere(); };
  live.Busy = [this] { return LiveViewBusy(); };
  live.Refresh = [this] { RefreshFromTable(); };
  live.OnError = [this](const std::exception& error) { errorDisplay_.ShowException(error); };
  liveView_ = std::make_unique<TLiveView>(*timers_, std::move(live));

  // ---- following the grid and the record set
  gridWatcher_ = std::make_unique<TGridWatcher>(*this);
  grid_->AddObserver(gridWatcher_.get());
  stateLink_ = std::make_unique<TStateLink>(*this);
  stateLink_->SetDataSource(table_->BindingSource());

  // The check marks show the grid's real visibility from the first moment.
  ShowColumnVisibility();
  UpdateCommandStates();
  // The keyboard starts in the grid.
  gridWidget_->setFocus(Qt::OtherFocusReason);
}

std::function<void()> TMainForm::Handler(void (TMainForm::*handler)()) {
  return [this, handler] {
    struct TBusy {
      int& count;
      explicit TBusy(int& c) : count(c) { ++count; }
      ~TBusy() { --count; }
    } busy(busy_);
    errorDisplay_.Run([this, handler] { (this->*handler)(); });
    UpdateCommandStates();
  };
}

TQuickFindBox* TMainForm::QuickFind() const { return static_cast<TQuickFindBox*>(menus_.QuickFind); }

dataset::TDataSet* TMainForm::RecordSet() const {
  dataset::TDataSource* source = table_ ? table_->BindingSource() : nullptr;
  return source != nullptr ? source->DataSet() : nullptr;
}

void TMainForm::Create() {
  errorDisplay_.Run([this] { FormCreate(); });
  UpdateCommandStates();
}

void TMainForm::FormCreate() {
  programDir_ = programDirectory_();
  const std::string tablePath = programDir_ + kTableFileName;
  if (!platform::FileExistsIgnoringCase(tablePath)) {
    // The program never creates its catalogue: it runs with the table closed.
    errorDisplay_.MessageBoxes().ShowNotice(kTableMissingMessage);
    return;
  }
  // The catalogue holds logins and passwords in plain text: files of the
  // user's that others may read are narrowed to the user, who is told once
  // (afterwards they are the user's alone and nothing changes).
  if (narrowTable_(tablePath)) errorDisplay_.MessageBoxes().ShowNotice(kNarrowedMessage);
  table_->SetTableName(tablePath);
  OpenTableOrRepair(tablePath);
  RestorePlacement();
  SyncColumnsMenu();
}

void TMainForm::OpenTableOrRepair(const std::string& tablePath) {
  try {
    table_->SetActive(true);
    return;
  } catch (const std::exception& error) {
    // A missing, locked or password-protected catalogue, and a damaged one
    // the user does not want repaired, end the start as they always have.
    if (!IsDamagedTableError(error)) throw;
    const std::string question =
        "The catalogue could not be opened: " + ErrorDisplayText(error.what()) + "\n\n" + kDamagedQuestion;
    if (!errorDisplay_.MessageBoxes().AskOkCancel(question, kCaption)) throw;
  }
  // A load that failed after the files opened leaves the table to close.
  if (table_->Active()) table_->SetActive(false);
  const TCatalogueCheckReport report = RunWithProgress(kRepairingTitle, [&](const TCheckProgress& progress) {
    return RepairCatalogue(tablePath, timers_->LocalNow(), table_->Session(), progress);
  });
  checkDialogs_->ShowReport(report, false);
  table_->SetActive(true);
}

void TMainForm::SyncColumnsMenu() { ShowColumnVisibility(); }

void TMainForm::ShowColumnVisibility() {
  if (!grid_ || menus_.Columns1 == nullptr) return;
  const std::pair<QAction*, const char*> items[] = {
      {menus_.SiteLogin1, "SiteLogin"}, {menus_.SiteName1, "SiteName"},  {menus_.SitePassword1, "SitePassword"},
      {menus_.Category1, "SiteCategory"}, {menus_.SiteURL1, "SiteUrl"},
  };
  for (const auto& [item, name] : items) {
    if (grid::TTreeListColumn* column = grid_->FindColumn(name)) item->setChecked(column->Visible());
  }
}

void TMainForm::ToggleColumn(QAction* item, const char* name) {
  grid::TTreeListColumn* column = grid_->FindColumn(name);
  if (column == nullptr) return;
  // The mark and the column agree at all times, so the column simply
  // changes and the mark follows it.
  column->SetVisible(!column->Visible());
  item->setChecked(column->Visible());
}

void TMainForm::Category1Click() { ToggleColumn(menus_.Category1, "SiteCategory"); }
void TMainForm::SiteName1Click() { ToggleColumn(menus_.SiteName1, "SiteName"); }
void TMainForm::SiteURL1Click() { ToggleColumn(menus_.SiteURL1, "SiteUrl"); }
void TMainForm::SitePassword1Click() { ToggleColumn(menus_.SitePassword1, "SitePassword"); }
void TMainForm::SiteLogin1Click() { ToggleColumn(menus_.SiteLogin1, "SiteLogin"); }

void TMainForm::UpdateCommandStates() {
  if (!commands_ || menus_.Edit1 == nullptr) return;
  const bool site = commands_->HasCurrentSite();
  for (QAction* action : {menus_.Edit1, menus_.Delete1, menus_.ViewSite2, menus_.EditSite1, menus_.DeleteSite1,
                          menus_.ViewSite1, menus_.CopyUrl1, menus_.CopyLogin1, menus_.CopyPassword1,
                          menus_.CopyUrl2, menus_.CopyLogin2, menus_.CopyPassword2}) {
    action->setEnabled(site);
  }
  if (menus_.Refresh1 != nullptr) menus_.Refresh1->setEnabled(table_ && table_->Active());
  for (QToolButton* button : {menus_.SpeedButton2, menus_.SpeedButton3, menus_.SpeedButton4}) {
    if (button != nullptr) button->setEnabled(site);
  }
}

// ---- commands ----

void TMainForm::Add1Click() { commands_->Add(); }
void TMainForm::Edit1Click() { commands_->Edit(); }
void TMainForm::Delete1Click() { commands_->Delete(); }
void TMainForm::SpeedButton4Click() { commands_->ViewSite(); }

void TMainForm::Export1Click() { ExportGridToFile(*grid_, *exportDialog_, *saveDialog_, *colors_); }

void TMainForm::ImportBookmarks1Click() {
  dataset::TDataSet* ds = RecordSet();
  if (ds == nullptr || !ds->Active()) {
    throw std::runtime_error("Cannot import bookmarks: the catalogue is not open");
  }
  // What is typed is stored first; a refusal ends the command here.
  if (grid_->EditorOpen()) grid_->HideEditor();
  PostPendingEdits();
  std::optional<dataset::Variant> site;
  if (commands_->HasCurrentSite()) site = grid_->KeyFieldObject()->Value();

  // The grid hears of the import once, at its end: the record set then
  // stands on the site that was focused again, and the rows are re-read
  // (reused, groups left open) so that the new sites show and that site
  // keeps the focus rather than the last one inserted.
  ds->DisableControls();
  bool ran = false;
  try {
    ran = importDialog_->Execute(*ds);
  } catch (...) {
    ds->EnableControls();
    throw;
  }
  if (ran && site && ds->Active()) {
    try {
      ds->Locate(grid_->KeyField(), *site, {});
    } catch (const std::exception&) {
      // The site went meanwhile: the grid focuses where the record set stands.
    }
  }
  ds->EnableControls();
  if (ran) RefreshFromTable();
}

void TMainForm::Help2Click() {
  // The help file is named again (in other letters), then shown at its
  // contents topic; a help file that cannot be shown says nothing.
  qApp->setProperty("HelpFile", QStringLiteral("marrowick.hlp"));
  const std::string helpFile = qApp->property("HelpFile").toString().toStdString();
  if (!helpViewer_) helpViewer_ = new THelpViewer(*shell_, programDir_, this);
  helpViewer_->ShowTopic(helpFile, kHelpTopic);
}

void TMainForm::About1Click() { ShowAboutBox(*shell_, icon_, this); }

void TMainForm::Restore1Click() { tray_->RestoreApplication(); }

// ---- quick find and copying ----

void TMainForm::ApplyQuickFind(const std::string& text) {
  // Moving the focus to the first match may post a pending edit; its
  // refusal is shown and the filter stands.
  errorDisplay_.Run([this, &text] { grid_->SetFilterText(text); });
  UpdateCommandStates();
}

void TMainForm::CopySiteField(const char* field, bool secret) {
  const std::optional<std::string> value = commands_->CurrentSiteText(field);
  if (!value) return;
  if (secret) {
    credentialCopy_->CopyPassword(*value);
  } else {
    credentialCopy_->CopyText(*value);
  }
}

void TMainForm::CopyUrl1Click() { CopySiteField("siteurl", false); }
void TMainForm::CopyLogin1Click() { CopySiteField("login", false); }
void TMainForm::CopyPassword1Click() { CopySiteField("password", true); }

// ---- following other programs ----

bool TMainForm::LiveViewBusy() const {
  if (busy_ > 0 || !isVisible() || commands_->DialogOpen()) return true;
  if (QApplication::activeModalWidget() != nullptr || QApplication::activePopupWidget() != nullptr) return true;
  dataset::TDataSet* ds = RecordSet();
  if (ds == nullptr || !ds->Active() || ds->State() != dataset::dsBrowse) return true;
  return grid_->EditorOpen() || grid_->LoadingData() || memo_->Modified();
}

void TMainForm::RefreshFromTable() {
  dataset::TDataSet* ds = RecordSet();
  if (ds == nullptr || !ds->Active()) return;
  if (grid_->EditorOpen()) grid_->HideEditor();
  table_->CatchUp();
  // A change that comes while the rows are read is seen at the next look.
  table_->ViewCaughtUp();
  // The rows are re-read with their nodes reused: expanded groups stay
  // open, the top row stays at the top, and the current record's row is
  // focused again.
  grid_->RefreshGroupList();
  UpdateCommandStates();
}

void TMainForm::Refresh1Click() {
  PostPendingEdits();
  liveView_->Resume();
  RefreshFromTable();
}

// ---- check and repair ----

TCatalogueCheckReport TMainForm::RunWithProgress(
    const std::string& title, const std::function<TCatalogueCheckReport(const TCheckProgress&)>& run) {
  checkDialogs_->BeginProgress(title);
  TCatalogueCheckReport report;
  try {
    report = run([this](int permille) { checkDialogs_->Progress(permille); });
  } catch (...) {
    checkDialogs_->EndProgress();
    throw;
  }
  checkDialogs_->EndProgress();
  return report;
}

void TMainForm::CheckCatalogue1Click() {
  const std::string tablePath = TablePath();
  if (programDir_.empty() || !platform::FileExistsIgnoringCase(tablePath)) {
    errorDisplay_.MessageBoxes().ShowNotice(kTableMissingMessage);
    return;
  }
  // What is typed is stored first; a refusal ends the command here.
  PostPendingEdits();
  std::optional<dataset::Variant> site;
  if (commands_->HasCurrentSite()) site = grid_->KeyFieldObject()->Value();
  bool reopen = table_->Active();
  if (reopen) table_->SetActive(false);

  auto reopenTable = [this, &site] {
    table_->SetActive(true);
    dataset::TDataSet* ds = RecordSet();
    if (site && ds != nullptr && ds->Active()) ds->Locate(grid_->KeyField(), *site, {});
  };
  try {
    TCatalogueCheckReport report = RunWithProgress(kCheckingTitle, [&](const TCheckProgress& progress) {
      return CheckCatalogue(tablePath, table_->Session(), progress);
    });
    if (checkDialogs_->ShowReport(report, !report.Sound())) {
      reopen = true;
      report = RunWithProgress(kRepairingTitle, [&](const TCheckProgress& progress) {
        return RepairCatalogue(tablePath, timers_->LocalNow(), table_->Session(), progress);
      });
      checkDialogs_->ShowReport(report, false);
    }
  } catch (...) {
    // The catalogue comes back whatever stopped the check; an error of its
    // own opening is shown too.
    if (reopen) errorDisplay_.Run(reopenTable);
    throw;
  }
  if (reopen) reopenTable();
}

void TMainForm::PostPendingEdits() {
  dataset::TDataSet* ds = RecordSet();
  if (ds == nullptr || !ds->Active() || !dataset::IsEditMode(ds->State())) return;
  // Posts a changed record (asking the notes pane and the grid's editor for
  // their text first) and drops an untouched new one.
  ds->CheckBrowseMode();
}

void TMainForm::Exit1Click() {
  // Nothing typed is lost: when the post fails, its error ends the command
  // here and the program goes on with the text still in place.
  PostPendingEdits();
  // The event loop ends without closing the window, so the placement is not
  // saved on this path.
  table_->SetActive(false);
  quitApplication_();
}

// ---- placement ----

void TMainForm::RestorePlacement() {
  std::unique_ptr<platform::ISettingsStore> settings = createSettings_();
  if (!settings->OpenKey(kPlacementKey, true)) return;
  // Each value is applied as soon as it is read. A missing value (the first
  // start, or a store someone trimmed) keeps the current one; a value that is
  // there but not a number is an error and stops the restore.
  auto apply = [&settings](const char* name, auto&& setter) {
    const std::string text = settings->ReadString(name);
    if (!text.empty()) setter(StrToInt(text));
  };
  apply("Top", [this](int v) { SetFrameTop(v); });
  apply("Left", [this](int v) { SetFrameLeft(v); });
  apply("Height", [this](int v) { SetFrameHeight(v); });
  apply("Width", [this](int v) { SetFrameWidth(v); });
  settings->CloseKey();
}

void TMainForm::SavePlacement() {
  std::unique_ptr<platform::ISettingsStore> settings = createSettings_();
  settings->SetLazyWrite(false);
  if (!settings->OpenKey(kPlacementKey, true)) return;
  settings->WriteString("Top", std::to_string(FrameTop()));
  settings->WriteString("Left", std::to_string(FrameLeft()));
  settings->WriteString("Height", std::to_string(FrameHeight()));
  settings->WriteString("Width", std::to_string(FrameWidth()));
  settings->CloseKey();
}

void TMainForm::FormResize() {
  if (inResize_) return;
  inResize_ = true;
  if (FrameWidth() < kMinimumWidth) SetFrameWidth(kMinimumWidth);
  if (FrameHeight() < kMinimumHeight) SetFrameHeight(kMinimumHeight);
  inResize_ = false;
}

void TMainForm::FormClose() { SavePlacement(); }

// ---- frame placement ----

QSize TMainForm::FrameExtent() const {
  const QRect frame = frameGeometry();
  return QSize(frame.width() - width(), frame.height() - height());
}

int TMainForm::FrameLeft() const { return pos().x(); }
int TMainForm::FrameTop() const { return pos().y(); }
int TMainForm::FrameWidth() const { return frameGeometry().width(); }
int TMainForm::FrameHeight() const { return frameGeometry().height(); }

void TMainForm::SetFrameLeft(int left) { move(left, pos().y()); }
void TMainForm::SetFrameTop(int top) { move(pos().x(), top); }
void TMainForm::SetFrameWidth(int width) { SetFrameSize(QSize(width, FrameHeight())); }
void TMainForm::SetFrameHeight(int height) { SetFrameSize(QSize(FrameWidth(), height)); }

void TMainForm::SetFrameSize(QSize frameSize) {
  const QSize extent = FrameExtent();
  if (extent.isNull()) {
    pendingFrameSize_ = frameSize;
  } else {
    pendingFrameSize_.reset();
  }
  resize(frameSize - extent);
  // A hidden window gets its resize event only when shown; the minimum size
  // holds at once all the same.
  FormResize();
}

void TMainForm::ApplyPendingFrameSize() {
  if (!pendingFrameSize_ || !isVisible()) return;
  const QSize extent = FrameExtent();
  if (extent.isNull()) return;
  const QSize target = *pendingFrameSize_;
  pendingFrameSize_.reset();
  resize(target - extent);
  FormResize();
}

void TMainForm::PlaceSplitter() {
  // The notes keep their 76 pixels; the grid takes the rest. Once shown the
  // splitter is the user's.
  if (splitterPlaced_ || !isVisible()) return;
  const int total = splitter_->height() - splitter_->handleWidth();
  if (total <= kNotesHeight) return;
  splitterPlaced_ = true;
  splitter_->setSizes({total - kNotesHeight, kNotesHeight});
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // A size chosen by the user before any frame appeared replaces the pending one.
  if (pendingFrameSize_ && isVisible() && FrameExtent().isNull() &&
      event->size() != *pendingFrameSize_) {
    pendingFrameSize_.reset();
  }
  ApplyPendingFrameSize();
  FormResize();
}

void TMainForm::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  ApplyPendingFrameSize();
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ApplyPendingFrameSize();
  if (!splitterPlaced_ && layout() != nullptr) layout()->activate();
  PlaceSplitter();
  liveView_->Start();
}

void TMainForm::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  // Hidden (in the tray, say) the window does not follow; it catches up at
  // the first look after it is shown again.
  liveView_->Stop();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // What is typed is stored before the window goes; when that fails the
  // error is shown and the window stays, with the text still in place.
  if (!errorDisplay_.Run([this] { PostPendingEdits(); })) {
    event->ignore();
    return;
  }
  // A placement that cannot be stored is reported; the window closes anyway,
  // so a store the user may not write does not keep the program open.
  errorDisplay_.Run([this] { FormClose(); });
  QMainWindow::closeEvent(event);
  // The main window's closing ends the program, also while the help viewer
  // is open.
  if (event->isAccepted()) quitApplication_();
}

}  // namespace marrowick
