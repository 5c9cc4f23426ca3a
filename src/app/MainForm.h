// The program's one window: start-up (opening the site table, restoring the
// window placement), the minimum size, the two ways the program ends, and
// everything the user works with: the toolbar, the banner, the grid of
// sites, the notes pane under it, the menus and the grid's popup menu, the
// site commands, the export, help, the about box and the tray icon.
//
// From top to bottom: the toolbar panel (41 pixels), the banner panel (68),
// the grid, a splitter (3) and the "Notes" group box (76) holding the notes
// pane, and the status bar (19). The record set owns the current record; the
// grid keeps its focused row on it and the notes pane shows its note.
//
// Beyond that: the toolbar's quick find box (Ctrl+F) narrows the grid as the
// user types; Sites > Copy URL, Copy Login and Copy Password copy the
// focused site's values without showing them; while the window is shown it
// follows other programs' changes of the catalogue about once a second (View
// > Refresh, F5, at once); Tools > Check Catalogue runs the engine's check
// and offers its repair, as a start does for a catalogue too damaged to
// open; File > Import Bookmarks brings a browser's bookmarks in.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QSize>

#include "app/CheckDialogs.h"
#include "app/ErrorDisplay.h"
#include "app/ExportDialog.h"
#include "app/GuardedShell.h"
#include "app/HelpViewer.h"
#include "app/ImportDialog.h"
#include "app/MainMenus.h"
#include "app/SiteDialog.h"
#include "app/SiteTable.h"
#include "platform/core/Clipboard.h"
#include "platform/core/ColorScheme.h"
#include "platform/core/Timers.h"
#include "platform/qt/MessageBoxes.h"
#include "platform/qt/SettingsStore.h"
#include "tray/TrayIcon.h"

class QGroupBox;
class QMenu;
class QSplitter;

namespace grid {
class TDBGrid;
namespace qt {
class TDBGridWidget;
}
}  // namespace grid

namespace dataset {
class TDataSet;
}

namespace marrowick {

class TBannerPanel;
class TCredentialCopy;
class TDBMemo;
class TLiveView;
class TQuickFindBox;
class TSiteCommands;

// What the window is given by whoever creates it. Empty members take the
// real platform: the executable's directory, ending the event loop, the
// real dialogs, the desktop's shell and clipboard, the application's
// palette for the exports' colours, QSystemTrayIcon's notification area,
// narrowing the catalogue's files to their owner, Qt's timers and the
// system's local time, and the check's progress and report dialogs.
// Objects given are not owned and must outlive the window.
struct TMainFormServices {
  std::unique_ptr<ISiteTable> Table;
  platform::SettingsStoreFactory CreateSettings;
  platform::IMessageBoxes* MessageBoxes = nullptr;
  std::function<std::string()> ProgramDirectory;
  std::function<void()> QuitApplication;
  ISiteDialog* SiteDialog = nullptr;
  IExportDialog* ExportDialog = nullptr;
  ISaveDialog* SaveDialog = nullptr;
  platform::IShell* Shell = nullptr;
  platform::IClipboard* Clipboard = nullptr;
  const platform::IColorScheme* Colors = nullptr;
  TTrayIcon::TAvailabilityProbe TrayAvailable;
  // Takes group and other rights off the catalogue's files; true when it
  // changed any (see NarrowTableToOwner).
  std::function<bool(const std::string& tablePath)> NarrowTable;
  platform::ITimers* Timers = nullptr;
  ICheckDialogs* CheckDialogs = nullptr;
  IImportDialog* ImportDialog = nullptr;
};

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kDesignLeft = 242;
  static constexpr int kDesignTop = 70;
  static constexpr int kDesignWidth = 528;
  static constexpr int kDesignHeight = 399;
  static constexpr int kMinimumWidth = 500;
  static constexpr int kMinimumHeight = 300;
  static constexpr int kNotesHeight = 76;
  static constexpr int kSplitterWidth = 3;
  static constexpr int kStatusBarHeight = 19;

  static constexpr const char* kCaption = "Marrowick";
  static constexpr const char* kTableFileName = "linksdata.dat";
  static constexpr const char* kPlacementKey = "Software\\Tolvane\\Marrowick";
  static constexpr const char* kTableMissingMessage =
      "Links information not found please redownload or reinstall Marrowick";
  static constexpr const char* kNarrowedMessage =
      "Other users of this computer could read your catalogue, which holds your logins and passwords. "
      "Marrowick has made its files readable and writable by you alone.";
  static constexpr const char* kDamagedQuestion =
      "Its files look damaged. Marrowick can copy them to a backup beside them and repair them.\n\n"
      "Back up and repair the catalogue now?";
  static constexpr const char* kCheckingTitle = "Checking the catalogue...";
  static constexpr const char* kRepairingTitle = "Backing up and repairing the catalogue...";
  static constexpr const char* kHelpTopic = "welcome";
  static constexpr const char* kTrayHint = "Marrowick";

  explicit TMainForm(TMainFormServices services, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Runs the creation handler through the error display; the creator calls
  // it once, right after constructing the window.
  void Create();

  // Handlers. Each raises its errors; the menus, buttons and the tray run
  // them through the error display.
  void FormCreate();
  void FormResize();
  void FormClose();
  // File > Exit and the tray's Exit: posts what is typed into the notes or
  // a cell (a failing post raises its error and the program goes on), then
  // closes the table and ends the event loop without closing the window.
  void Exit1Click();
  void Export1Click();
  // File > Import Bookmarks: posts a pending edit, runs the import dialog
  // over the record set, and shows the new sites in the grid, its rows
  // reused and the site that was focused focused again.
  void ImportBookmarks1Click();
  void Add1Click();
  void Edit1Click();
  void Delete1Click();
  void SpeedButton4Click();  // View Site
  void Category1Click();
  void SiteName1Click();
  void SiteURL1Click();
  void SitePassword1Click();
  void SiteLogin1Click();
  void Help2Click();
  void About1Click();
  void Restore1Click();
  // Sites > Copy URL, Copy Login, Copy Password: the focused site's value
  // to the clipboard (nothing without a current site); the password is
  // taken off again after TCredentialCopy::kPasswordLifetime.
  void CopyUrl1Click();
  void CopyLogin1Click();
  void CopyPassword1Click();
  // View > Refresh: posts a pending edit (its error stops the command),
  // then reads the table again as the live view does.
  void Refresh1Click();
  // Tools > Check Catalogue: posts a pending edit, closes the table, runs
  // the check with its progress and shows the findings; a repair the user
  // asks for backs the files up first and checks again. The table is opened
  // again on the site that was focused.
  void CheckCatalogue1Click();

  // Re-reads the open table into the grid, reusing its rows, keeping the
  // focused site (when it still exists) and the top row.
  void RefreshFromTable();
  // Whether the live view must leave the grid alone now: an edit not yet
  // stored, an open editor, dialog, menu or command, a closed table.
  bool LiveViewBusy() const;

  // Posts a pending edit of the current record (the notes pane's text and an
  // open cell editor go with it); raises the record set's error when the
  // post fails, leaving everything typed where it is.
  void PostPendingEdits();

  const std::string& ProgramDir() const { return programDir_; }
  ISiteTable& DBTable() { return *table_; }
  // The record set the grid and the notes pane are bound to; none for a
  // table that offers none.
  dataset::TDataSet* RecordSet() const;
  TErrorDisplay& ErrorDisplay() { return errorDisplay_; }

  grid::TDBGrid& DBGrid1() const { return *grid_; }
  grid::qt::TDBGridWidget* GridWidget() const { return gridWidget_; }
  TDBMemo* DBMemo1() const { return memo_; }
  QGroupBox* NotesBox() const { return notesBox_; }
  QSplitter* Splitter() const { return splitter_; }
  QWidget* ToolbarPanel() const { return toolbar_; }
  TBannerPanel* BannerPanel() const { return banner_; }
  const TMainMenus& Menus() const { return menus_; }
  TTrayIcon* Tray() const { return tray_; }
  QMenu* TrayMenu() const { return trayMenu_; }
  THelpViewer* HelpViewer() const { return helpViewer_; }
  TQuickFindBox* QuickFind() const;
  TLiveView& LiveView() const { return *liveView_; }
  TCredentialCopy& CredentialCopy() const { return *credentialCopy_; }
  TSiteCommands& Commands() const { return *commands_; }
  const QIcon& Icon() const { return icon_; }

  // Enables Edit, Delete and View Site (menu items, popup items, toolbar
  // buttons) exactly when there is a current site.
  void UpdateCommandStates();

  // The placement as the settings store keeps it: the frame's position and
  // size. Before the window system has framed the window they equal the
  // window's own geometry.
  int FrameLeft() const;
  int FrameTop() const;
  int FrameWidth() const;
  int FrameHeight() const;
  void SetFrameLeft(int left);
  void SetFrameTop(int top);
  void SetFrameWidth(int width);
  void SetFrameHeight(int height);

 protected:
  // Sets the View > Columns check marks from the grid's column visibility;
  // runs at the end of a successful start. The marks also follow the grid
  // from the window's first moment on, whatever happens at start.
  virtual void SyncColumnsMenu();

  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  class TGridWatcher;
  class TStateLink;

  void BuildWindow(const TMainFormServices& services);
  // Wraps a handler for a menu item, button or tray item: errors to the
  // error display, then the commands' states brought up to date.
  std::function<void()> Handler(void (TMainForm::*handler)());
  void ShowColumnVisibility();
  void ToggleColumn(QAction* item, const char* column);
  void PlaceSplitter();
  std::string TablePath() const { return programDir_ + kTableFileName; }
  // Opens the table; a table too damaged to open is offered the backup and
  // repair first. Raises the open's error when the user declines.
  void OpenTableOrRepair(const std::string& tablePath);
  TCatalogueCheckReport RunWithProgress(const std::string& title,
                                        const std::function<TCatalogueCheckReport(const TCheckProgress&)>& run);
  void CopySiteField(const char* field, bool secret);
  void ApplyQuickFind(const std::string& text);

  void RestorePlacement();
  void SavePlacement();
  void SetFrameSize(QSize frameSize);
  QSize FrameExtent() const;
  void ApplyPendingFrameSize();

  std::unique_ptr<ISiteTable> table_;
  platform::SettingsStoreFactory createSettings_;
  std::function<std::string()> programDirectory_;
  std::function<void()> quitApplication_;
  std::function<bool(const std::string&)> narrowTable_;
  std::unique_ptr<platform::IMessageBoxes> ownBoxes_;  // when none was given
  TErrorDisplay errorDisplay_;
  std::string programDir_;
  QIcon icon_;

  // Services, given or the window's own.
  std::unique_ptr<ISiteDialog> ownSiteDialog_;
  std::unique_ptr<IExportDialog> ownExportDialog_;
  std::unique_ptr<ISaveDialog> ownSaveDialog_;
  std::unique_ptr<platform::IShell> ownShell_;
  std::unique_ptr<platform::IColorScheme> ownColors_;
  ISiteDialog* siteDialog_ = nullptr;
  IExportDialog* exportDialog_ = nullptr;
  ISaveDialog* saveDialog_ = nullptr;
  const platform::IColorScheme* colors_ = nullptr;
  std::unique_ptr<TGuardedShell> shell_;
  std::unique_ptr<platform::ITimers> ownTimers_;
  platform::ITimers* timers_ = nullptr;
  std::unique_ptr<platform::IClipboard> ownClipboard_;
  std::unique_ptr<ICheckDialogs> ownCheckDialogs_;
  ICheckDialogs* checkDialogs_ = nullptr;
  std::unique_ptr<IImportDialog> ownImportDialog_;
  IImportDialog* importDialog_ = nullptr;

  // Components.
  std::unique_ptr<grid::TDBGrid> grid_;
  std::unique_ptr<TSiteCommands> commands_;
  std::unique_ptr<TGridWatcher> gridWatcher_;
  std::unique_ptr<TStateLink> stateLink_;
  std::unique_ptr<TCredentialCopy> credentialCopy_;
  std::unique_ptr<TLiveView> liveView_;
  // Handlers running (a nested event loop of a dialog may run the timers).
  int busy_ = 0;
  TMainMenus menus_;
  QWidget* toolbar_ = nullptr;
  TBannerPanel* banner_ = nullptr;
  QSplitter* splitter_ = nullptr;
  grid::qt::TDBGridWidget* gridWidget_ = nullptr;
  QGroupBox* notesBox_ = nullptr;
  TDBMemo* memo_ = nullptr;
  TTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QPointer<THelpViewer> helpViewer_;
  bool splitterPlaced_ = false;

  // A frame size set before the window system reported the frame's extent;
  // applied once the extent is known, so a stored size does not grow by the
  // frame on every start.
  std::optional<QSize> pendingFrameSize_;
  bool inResize_ = false;
};

}  // namespace marrowick
