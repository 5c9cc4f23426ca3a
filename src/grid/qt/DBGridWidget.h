// The grid on screen: the Qt part of TDBGrid over the grid's core.
//
//   auto* widget = new grid::qt::TDBGridWidget(*core, {}, parent);   // core owned elsewhere
//   auto* widget = new grid::qt::TDBGridWidget(std::move(core), {}, parent);  // owns it
//   widget->SetPopupMenu(menu);
//
// The widget is a frame holding the group panel ("GroupPanel") above a
// tree view of the rows ("Rows") whose header is the header panel
// ("HeaderPanel"); while a cell is edited an in-place editor is a child of
// the rows' viewport ("InplaceEdit", "InplacePickEdit" or
// "InplaceHyperLinkEdit"; the pick list's drop-down is "PickList"). The
// widget's own object name is the grid's Name ("DBGrid1").
//
// The core is the one owner of the nodes, focus, expansion, grouping,
// sorting, columns and the editor's state: the widget turns keys, clicks and
// drags into calls on the core and draws what the core holds, following the
// core's notifications. Errors of those calls (a post the record set
// refuses, a duplicate key) are handed to the error handler and the grid
// keeps its state.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QFrame>
#include <QMenu>
#include <QPointer>

#include "grid/model/DBGrid.h"
#include "grid/model/GridGeometry.h"
#include "grid/qt/GridAppearance.h"
#include "platform/core/Clipboard.h"
#include "platform/core/ColorScheme.h"
#include "platform/core/MessageBoxes.h"
#include "platform/core/Shell.h"
#include "platform/qt/FontMetrics.h"

class QLineEdit;

class QInputMethodEvent;
class QKeyEvent;
class QMouseEvent;
class QTimer;

namespace grid::qt {

class TGridItemModel;
class TGridRowsView;
class TGridHeader;
class TGroupPanel;
class TDragOverlay;
class TInplaceDBTreeListEdit;

// The platform services the grid uses; each one left out is the Qt
// implementation (message boxes over the widget, the application's
// clipboard, the desktop's URL handler, the application's palette). The
// services given are set on the core too; they must outlive the widget.
struct TGridPlatform {
  marrowick::platform::IMessageBoxes* MessageBoxes = nullptr;
  marrowick::platform::IClipboard* Clipboard = nullptr;
  marrowick::platform::IShell* Shell = nullptr;
  const marrowick::platform::IColorScheme* Colors = nullptr;
};

class TDBGridWidget : public QFrame, private IGridObserver {
  Q_OBJECT

 public:
  TDBGridWidget(TCustomDBGrid& grid, const TGridPlatform& platform = {}, QWidget* parent = nullptr);
  TDBGridWidget(std::unique_ptr<TDBGrid> grid, const TGridPlatform& platform = {}, QWidget* parent = nullptr);
  ~TDBGridWidget() override;

  TCustomDBGrid& Grid() const { return grid_; }
  TGridItemModel* Model() const { return model_; }
  TGridRowsView* RowsView() const { return rows_; }
  TGridHeader* Header() const { return header_; }
  TGroupPanel* GroupPanel() const { return groupPanel_; }
  // The open in-place editor; none while no cell is edited.
  QLineEdit* Editor() const;

  // The menu shown on a right click or the menu key over the rows (not
  // owned; none: no menu).
  void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }
  QMenu* PopupMenu() const { return popupMenu_; }

  // Receives the errors of the commands the grid runs; by default they are
  // shown with the message boxes' error display.
  void SetErrorHandler(std::function<void(const std::exception&)> handler) { onError_ = std::move(handler); }

  // ---- Geometry (rows in the coordinates of the rows' viewport).
  // The height of a header row: "Wg" in the header font plus 6.
  int HeaderRowHeight() const;
  int GroupPanelHeight() const;
  // The height of a row's cells, and of the whole row with its preview.
  int CellHeight() const;
  int RowHeightOf(const TTreeListNode* node) const;
  // The cell of a node's column (a group row: its text area, whatever the
  // column); empty when the row is not laid out.
  QRect CellRect(const TTreeListNode* node, int column) const;
  // The expand button's cell of a group row; empty for a data row.
  QRect ExpandButtonRect(const TTreeListNode* node) const;
  TTreeListNode* NodeAt(const QPoint& viewportPos) const;
  // The column Index under a viewport x; -1 beyond the headers.
  int ColumnAt(int x) const;
  // The left edge of the first header in viewport coordinates.
  int RowsLeft() const;
  int RowsRight() const;

  TGridColors Colors() const;
  QFont CellFont(int column) const;

  // The pending edit of a second click on the focused cell: it opens the
  // editor when the double-click time has passed.
  QTimer* ClickEditTimer() const { return clickEditTimer_; }

  // Runs a command; an error it raises goes to the error handler. True when
  // it ran to its end.
  bool Run(const std::function<void()>& command);

  // Call after changing the core's options, switches or appearance (for
  // example goPreview): the rows, headers and group panel are laid out anew.
  void OptionsChanged();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  friend class TGridRowsView;
  friend class TGridHeader;
  friend class TGroupPanel;
  friend class TInplaceDBTreeListEdit;
  friend class TInplaceDBTreeListPickEdit;
  friend class TInplaceDBTreeListHyperLinkEdit;
  friend class TDragOverlay;

  void Build(const TGridPlatform& platform);
  void ReportError(const std::exception& error);

  // ---- IGridObserver
  void TreeReset() override;
  void RowsInserted(TTreeListNode* parent, int first, int last) override;
  void RowChanged(TTreeListNode* node) override;
  void ExpandedChanged(TTreeListNode* node) override;
  void FocusChanged(TTreeListNode* node, int column) override;
  void ColumnsChanged() override;
  void GroupingChanged() override;
  void EditorStateChanged() override;
  void LayoutModified() override;

  // ---- Following the core.
  void SyncHeader();
  void SyncExpansion(TTreeListNode* parent);
  void SyncCurrent(bool makeVisible);
  void UpdateRowHeights();
  void UpdatePageRows();
  void UpdateTopNode();

  // ---- Rows: drawing and input (called by the rows view).
  struct TRowPaint;
  // A paint of the rows: what the rows share is resolved once around it.
  void BeginPaintRows();
  void EndPaintRows();
  void PaintRow(QPainter& painter, const QRect& rowRect, TTreeListNode* node) const;
  void RowsKeyPress(QKeyEvent* event);
  void RowsInputMethod(QInputMethodEvent* event);
  void RowsMousePress(QMouseEvent* event);
  void RowsMouseRelease(QMouseEvent* event);
  void RowsDoubleClick(QMouseEvent* event);
  void RowsContextMenu(const QPoint& globalPos);
  void ClickEditTimeout();
  void CancelClickEdit();
  int PreviewLineCount(const TTreeListNode* node) const;

  // ---- The in-place editor.
  void SyncEditor();
  void OpenEditorWidget();
  void CloseEditorWidget();
  void PositionEditor();
  // Opens the editor and hands it the key, so typing starts editing.
  void ShowEditorChar(QKeyEvent* event);
  // A key the editor passes to the grid (Tab, Enter, Esc, PgUp, PgDn, Up,
  // Down, Insert): the editor closes (Esc: without a change), then the grid
  // handles the key.
  void EditorPassKey(QKeyEvent* event);
  // The editor's text changed; false when the change was refused.
  bool EditorTextChanged(const QString& text);
  bool EditorWritable() const;
  // The pick column's list value or completion, into the field at once.
  bool PickAccept(const std::string& value);
  std::optional<std::string> PickComplete(const std::string& search);
  void StartLink();

  // ---- Headers and the group panel (called by the header and the panel).
  void HeaderPressed();
  void HeaderClick(int column, bool ctrl);
  void ColumnResize(int column, int width);
  void ColumnBestFit(int column);
  void GroupHeaderClick(int level);
  bool CanDragColumn(int column) const;
  void BeginHeaderDrag(int column, bool fromGroupPanel, QWidget* source, const QPoint& globalPos);
  void MoveHeaderDrag(const QPoint& globalPos);
  void EndHeaderDrag(const QPoint& globalPos);
  bool Dragging() const { return drag_.has_value(); }

  // Where a dragged header would go.
  enum class TDropTarget { None, GroupPanel, Header };
  struct TDrop {
    TDropTarget Target = TDropTarget::None;
    int Position = 0;    // group position, or header boundary (0..visible headers)
    bool Allowed = false;
    QPoint Arrows;       // the upper arrow's corner in widget coordinates
    int ArrowsHeight = 0;
  };
  struct THeaderDrag {
    int Column = -1;
    bool FromGroupPanel = false;
    QPointer<QWidget> Source;
    QPoint Pos;  // widget coordinates
    TDrop Drop;
  };
  TDrop DropAt(const QPoint& widgetPos) const;
  TDrop DropAt(const QPoint& widgetPos, const THeaderDrag& drag) const;
  // The place among the shown headers other than exclude (0 .. their
  // count) that a header x falls to, and the x of that boundary.
  int HeaderBoundaryAt(int headerX, int exclude, int* arrowX) const;

  std::unique_ptr<TDBGrid> ownedGrid_;
  TCustomDBGrid& grid_;
  std::unique_ptr<marrowick::platform::IMessageBoxes> ownMessageBoxes_;
  std::unique_ptr<marrowick::platform::IClipboard> ownClipboard_;
  std::unique_ptr<marrowick::platform::IShell> ownShell_;
  std::unique_ptr<marrowick::platform::IColorScheme> ownColors_;
  marrowick::platform::IMessageBoxes* messageBoxes_ = nullptr;
  const marrowick::platform::IColorScheme* colors_ = nullptr;
  mutable marrowick::platform::TQtFontMetrics metrics_;
  std::function<void(const std::exception&)> onError_;

  TGridItemModel* model_ = nullptr;
  TGroupPanel* groupPanel_ = nullptr;
  TGridRowsView* rows_ = nullptr;
  TGridHeader* header_ = nullptr;
  TDragOverlay* overlay_ = nullptr;
  QPointer<TInplaceDBTreeListEdit> editor_;
  QPointer<QMenu> popupMenu_;
  QTimer* clickEditTimer_ = nullptr;
  QTimer* layoutTimer_ = nullptr;

  std::optional<THeaderDrag> drag_;
  std::unique_ptr<TRowPaint> rowPaint_;
  // The press of a click that may become the second click on the focused
  // cell.
  TTreeListNode* clickNode_ = nullptr;
  int clickColumn_ = -1;
  bool syncing_ = false;
  bool exiting_ = false;
};

}  // namespace grid::qt
