// The main window's commands as the user reaches them: the menu bar (File
// with Import Bookmarks,
// Sites, View with its Columns submenu and Refresh, Tools, Help), the grid's
// popup menu, and the toolbar: four flat buttons with their hints and the
// quick find box. Each item calls one handler of the window; the window
// decides what the handlers do.
#pragma once

#include <functional>

#include <QIcon>

class QAction;
class QLineEdit;
class QMenu;
class QMenuBar;
class QToolButton;
class QWidget;

namespace marrowick {

struct TMainMenuHandlers {
  std::function<void()> ImportBookmarks1Click;
  std::function<void()> Export1Click;
  std::function<void()> Exit1Click;
  std::function<void()> Add1Click;
  std::function<void()> Edit1Click;
  std::function<void()> Delete1Click;
  std::function<void()> SpeedButton4Click;  // View Site
  std::function<void()> CopyUrl1Click;
  std::function<void()> CopyLogin1Click;
  std::function<void()> CopyPassword1Click;
  std::function<void()> Refresh1Click;
  std::function<void()> CheckCatalogue1Click;
  std::function<void()> Category1Click;
  std::function<void()> SiteName1Click;
  std::function<void()> SiteURL1Click;
  std::function<void()> SitePassword1Click;
  std::function<void()> SiteLogin1Click;
  std::function<void()> Help2Click;
  std::function<void()> About1Click;
};

// The items, named as the window's definition names them (object names
// too). The menus belong to the menu bar or the owner window.
struct TMainMenus {
  QMenu* File = nullptr;
  QAction* ImportBookmarks1 = nullptr;
  QAction* Export1 = nullptr;
  QAction* Exit1 = nullptr;
  QMenu* Sites = nullptr;
  QAction* Add1 = nullptr;
  QAction* Edit1 = nullptr;
  QAction* Delete1 = nullptr;
  QAction* ViewSite2 = nullptr;
  // Copying without showing: Ctrl+U, Ctrl+B, Ctrl+Shift+C.
  QAction* CopyUrl1 = nullptr;
  QAction* CopyLogin1 = nullptr;
  QAction* CopyPassword1 = nullptr;
  QMenu* View = nullptr;
  QMenu* Columns1 = nullptr;
  QAction* Category1 = nullptr;
  QAction* SiteName1 = nullptr;
  QAction* SiteURL1 = nullptr;
  QAction* SitePassword1 = nullptr;
  QAction* SiteLogin1 = nullptr;
  QAction* Refresh1 = nullptr;  // F5
  QMenu* Tools = nullptr;
  QAction* CheckCatalogue1 = nullptr;
  QMenu* Help = nullptr;
  QAction* Help2 = nullptr;
  QAction* About1 = nullptr;

  // The grid's popup menu: Add Site, Edit Site, Delete Site, -, View Site,
  // -, Copy URL, Copy Login, Copy Password.
  QMenu* PopupMenu1 = nullptr;
  QAction* AddSite1 = nullptr;
  QAction* EditSite1 = nullptr;
  QAction* DeleteSite1 = nullptr;
  QAction* ViewSite1 = nullptr;
  QAction* CopyUrl2 = nullptr;
  QAction* CopyLogin2 = nullptr;
  QAction* CopyPassword2 = nullptr;

  QToolButton* SpeedButton1 = nullptr;  // Add Site
  QToolButton* SpeedButton2 = nullptr;  // Edit Site
  QToolButton* SpeedButton3 = nullptr;  // Delete Site
  QToolButton* SpeedButton4 = nullptr;  // Launch Site in Browser
  QLineEdit* QuickFind = nullptr;       // the quick find box
};

// Fills the menu bar and makes the popup menu (owned by owner).
void BuildMainMenus(QMenuBar& bar, QWidget* owner, const TMainMenuHandlers& handlers, TMainMenus& menus);

// The toolbar panel, 41 pixels high, with the four buttons (23 x 22 at
// x 8, 40, 72, 104, y 8); they never take the keyboard focus, so a click
// leaves the grid or the notes pane as it was. The quick find box follows
// at x 144 (made here, its text handled by the window).
inline constexpr int kToolbarHeight = 41;
inline constexpr int kQuickFindLeft = 144;
inline constexpr int kQuickFindWidth = 220;
QWidget* BuildToolbar(QWidget* parent, const TMainMenuHandlers& handlers, TMainMenus& menus);

// The toolbar's glyphs, drawn by the program (a greyed form for disabled
// buttons comes with the icon).
enum class TGlyph { Add, Edit, Delete, Launch };
QIcon ToolbarGlyph(TGlyph glyph);

}  // namespace marrowick
