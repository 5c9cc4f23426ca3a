#include "grid/qt/DBGridWidget.h"

#include <algorithm>
#include <stdexcept>

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "grid/qt/GridHeader.h"
#include "grid/qt/GridItemModel.h"
#include "grid/qt/GridRowsView.h"
#include "grid/qt/GroupPanel.h"
#include "grid/qt/InplaceEdit.h"
#include "platform/qt/AnsiText.h"
#include "platform/qt/Clipboard.h"
#include "platform/qt/MessageBoxes.h"
#include "platform/qt/PaletteColorScheme.h"
#include "platform/qt/Shell.h"

namespace grid::qt {

using marrowick::platform::AnsiToQString;
using marrowick::platform::QStringToAnsi;
using marrowick::platform::ToQFont;

namespace {

// How long the layout waits after a change before it is stored, so that a
// burst of changes (a header being sized) is stored once.
constexpr int kLayoutSaveDelayMs = 500;

}  // namespace

// While a header is dragged: the drop arrows where it would go and the
// dragged header under the mouse, over the whole grid.
class TDragOverlay : public QWidget {
 public:
  explicit TDragOverlay(TDBGridWidget& owner) : QWidget(&owner), owner_(owner) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!owner_.drag_) return;
    const TDBGridWidget::THeaderDrag& drag = *owner_.drag_;
    QPainter painter(this);
    const TGridColors colors = owner_.Colors();
    if (drag.Drop.Allowed && drag.Drop.Target != TDBGridWidget::TDropTarget::None) {
      DrawDropArrows(painter, drag.Drop.Arrows, drag.Drop.ArrowsHeight, colors.Arrows);
    }
    const TTreeListColumn* column = owner_.grid_.Columns(drag.Column);
    if (column == nullptr) return;
    const int h = owner_.HeaderRowHeight();
    QRect image(drag.Pos.x() - 50, drag.Pos.y() - h / 2, 100, h);
    painter.setOpacity(0.7);
    DrawHeaderButton(painter, image, AnsiToQString(column->Caption()), column->HeaderAlignment(), column->Sorted(),
                     ToQFont(owner_.grid_.Appearance().HeaderFont), colors, false);
  }

 private:
  TDBGridWidget& owner_;
};

// ---------------------------------------------------------------------------
// Construction

TDBGridWidget::TDBGridWidget(TCustomDBGrid& grid, const TGridPlatform& platform, QWidget* parent)
    : QFrame(parent), grid_(grid) {
  Build(platform);
}

TDBGridWidget::TDBGridWidget(std::unique_ptr<TDBGrid> grid, const TGridPlatform& platform, QWidget* parent)
    : QFrame(parent), ownedGrid_(std::move(grid)), grid_(*ownedGrid_) {
  Build(platform);
}

TDBGridWidget::~TDBGridWidget() {
  // Focus moves while the parts go away; this widget no longer follows them.
  disconnect(qApp, nullptr, this, nullptr);
  grid_.RemoveObserver(this);
  // The parts observe the core (the model) or call it: they go before a
  // core this widget owns.
  if (editor_) delete editor_.data();
  delete rows_;
  delete model_;
  if (ownMessageBoxes_) grid_.SetMessageBoxes(nullptr);
  if (ownClipboard_) grid_.SetClipboard(nullptr);
  if (ownShell_) grid_.SetShell(nullptr);
}

void TDBGridWidget::Build(const TGridPlatform& platform) {
  setObjectName(AnsiToQString(grid_.Appearance().Name));
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

  if (platform.MessageBoxes != nullptr) {
    messageBoxes_ = platform.MessageBoxes;
  } else {
    ownMessageBoxes_ = std::make_unique<marrowick::platform::TQtMessageBoxes>(this);
    messageBoxes_ = ownMessageBoxes_.get();
  }
  grid_.SetMessageBoxes(messageBoxes_);
  if (platform.Clipboard != nullptr) {
    grid_.SetClipboard(platform.Clipboard);
  } else {
    ownClipboard_ = std::make_unique<marrowick::platform::TQtClipboard>();
    grid_.SetClipboard(ownClipboard_.get());
  }
  if (platform.Shell != nullptr) {
    grid_.SetShell(platform.Shell);
  } else {
    ownShell_ = std::make_unique<marrowick::platform::TQtShell>();
    grid_.SetShell(ownShell_.get());
  }
  if (platform.Colors != nullptr) {
    colors_ = platform.Colors;
  } else {
    ownColors_ = std::make_unique<marrowick::platform::TPaletteColorScheme>();
    colors_ = ownColors_.get();
  }
  onError_ = [this](const std::exception& error) { messageBoxes_->ShowError(error.what()); };

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  groupPanel_ = new TGroupPanel(*this);
  rows_ = new TGridRowsView(*this);
  header_ = new TGridHeader(*this);
  rows_->setHeader(header_);
  // The model observes the core before the widget does, so that it has
  // followed a change by the time the widget hears of it.
  model_ = new TGridItemModel(grid_, this);
  rows_->setModel(model_);
  layout->addWidget(groupPanel_);
  layout->addWidget(rows_, 1);
  overlay_ = new TDragOverlay(*this);
  setFocusProxy(rows_);

  clickEditTimer_ = new QTimer(this);
  clickEditTimer_->setObjectName(QStringLiteral("ClickEditTimer"));
  clickEditTimer_->setSingleShot(true);
  connect(clickEditTimer_, &QTimer::timeout, this, &TDBGridWidget::ClickEditTimeout);
  layoutTimer_ = new QTimer(this);
  layoutTimer_->setSingleShot(true);
  layoutTimer_->setInterval(kLayoutSaveDelayMs);
  connect(layoutTimer_, &QTimer::timeout, this, [this] { Run([this] { grid_.SaveLayoutIfModified(); }); });

  // Leaving the grid for another control of its window ends an untouched
  // insertion or hands the editor's text to the field.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    if (exiting_ || old == nullptr || now == nullptr) return;
    auto inside = [this](QWidget* w) { return w == this || isAncestorOf(w); };
    if (!inside(old) || inside(now) || now->window() != window()) return;
    exiting_ = true;
    try {
      grid_.ExitGrid();
    } catch (const std::exception& error) {
      rows_->setFocus(Qt::OtherFocusReason);
      ReportError(error);
    }
    exiting_ = false;
  });

  grid_.AddObserver(this);
  OptionsChanged();
  SyncExpansion(nullptr);
  SyncCurrent(true);
}

QLineEdit* TDBGridWidget::Editor() const { return editor_.data(); }

bool TDBGridWidget::Run(const std::function<void()>& command) {
  try {
    command();
    return true;
  } catch (const std::exception& error) {
    ReportError(error);
  } catch (...) {
    ReportError(std::runtime_error("Unknown error"));
  }
  return false;
}

void TDBGridWidget::ReportError(const std::exception& error) {
  if (onError_) onError_(error);
}

void TDBGridWidget::OptionsChanged() {
  groupPanel_->setVisible(grid_.Switches().ShowGroupPanel);
  groupPanel_->setFixedHeight(GroupPanelHeight());
  header_->setVisible(grid_.Switches().ShowHeader);
  QPalette colors = rows_->viewport()->palette();
  colors.setColor(QPalette::Base, Colors().Window);
  rows_->viewport()->setPalette(colors);
  rows_->setUniformRowHeights(!grid_.HasOption(goPreview));
  SyncHeader();
  rows_->doItemsLayout();
  header_->updateGeometry();
  rows_->viewport()->update();
  groupPanel_->update();
  PositionEditor();
}

void TDBGridWidget::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  overlay_->setGeometry(rect());
}

void TDBGridWidget::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) OptionsChanged();
}

// ---------------------------------------------------------------------------
// Geometry

int TDBGridWidget::HeaderRowHeight() const { return TGridGeometry(grid_, metrics_).HeaderRowHeight(); }

int TDBGridWidget::GroupPanelHeight() const { return TGridGeometry(grid_, metrics_).GroupPanelHeight(); }

int TDBGridWidget::CellHeight() const {
  return std::max(grid_.Switches().DefaultRowHeight, metrics_.TextHeight(grid_.Appearance().Font) + 4);
}

int TDBGridWidget::PreviewLineCount(const TTreeListNode* node) const {
  if (!grid_.HasOption(goPreview)) return 0;
  return TGridGeometry(grid_, metrics_).PreviewLineCount(node, std::max(1, RowsRight() - RowsLeft()));
}

int TDBGridWidget::RowHeightOf(const TTreeListNode* node) const {
  int lines = node != nullptr ? PreviewLineCount(node) : 0;
  if (lines <= 0) return CellHeight();
  return CellHeight() + lines * metrics_.TextHeight(grid_.Appearance().PreviewFont) + 2;
}

int TDBGridWidget::RowsLeft() const {
  std::vector<int> columns = grid_.DisplayColumns();
  if (columns.empty() || columns.front() >= header_->count()) return 0;
  return header_->sectionViewportPosition(columns.front());
}

int TDBGridWidget::RowsRight() const {
  std::vector<int> columns = grid_.DisplayColumns();
  if (columns.empty() || columns.back() >= header_->count()) return 0;
  return header_->sectionViewportPosition(columns.back()) + header_->sectionSize(columns.back());
}

TTreeListNode* TDBGridWidget::NodeAt(const QPoint& viewportPos) const {
  std::vector<int> columns = grid_.DisplayColumns();
  if (columns.empty()) return nullptr;
  int x = header_->sectionViewportPosition(columns.front()) + 1;
  return TGridItemModel::NodeOf(rows_->indexAt(QPoint(x, viewportPos.y())));
}

int TDBGridWidget::ColumnAt(int x) const {
  int logical = header_->logicalIndexAt(x);
  return logical >= 0 && logical < grid_.ColumnCount() ? logical : -1;
}

QRect TDBGridWidget::CellRect(const TTreeListNode* node, int column) const {
  std::vector<int> columns = grid_.DisplayColumns();
  if (node == nullptr || columns.empty()) return {};
  QRect row = rows_->visualRect(model_->IndexOf(node, columns.front()));
  if (row.isEmpty()) return {};
  const int indent = 16 * node->Level();
  const int left = RowsLeft();
  if (grid_.IsRowGroup(node)) {
    int textLeft = left + indent + 16;
    return QRect(textLeft, row.top(), std::max(0, RowsRight() - textLeft), CellHeight());
  }
  if (column < 0 || column >= header_->count() || header_->isSectionHidden(column)) return {};
  int x = header_->sectionViewportPosition(column);
  int w = header_->sectionSize(column);
  if (column == columns.front()) {
    x += indent;
    w -= indent;
  }
  return QRect(x, row.top(), std::max(0, w), CellHeight());
}

QRect TDBGridWidget::ExpandButtonRect(const TTreeListNode* node) const {
  if (!grid_.IsRowGroup(node)) return {};
  std::vector<int> columns = grid_.DisplayColumns();
  if (columns.empty()) return {};
  QRect row = rows_->visualRect(model_->IndexOf(node, columns.front()));
  if (row.isEmpty()) return {};
  return QRect(RowsLeft() + 16 * node->Level(), row.top(), 16, CellHeight());
}

TGridColors TDBGridWidget::Colors() const { return TGridColors(grid_.Appearance(), *colors_); }

QFont TDBGridWidget::CellFont(int column) const {
  QFont font = ToQFont(grid_.GetColumnFont(column));
  if (dynamic_cast<const TDBTreeListHyperLinkColumn*>(grid_.Columns(column)) != nullptr) font.setUnderline(true);
  return font;
}

// ---------------------------------------------------------------------------
// Following the core

void TDBGridWidget::TreeReset() {
  TTreeListNode* top = grid_.TopNode();
  syncing_ = true;
  SyncHeader();
  SyncExpansion(nullptr);
  if (top != nullptr && grid_.IsLiveNode(top)) {
    std::vector<int> columns = grid_.DisplayColumns();
    if (!columns.empty()) rows_->ScrollRowToTop(model_->IndexOf(top, columns.front()));
  }
  syncing_ = false;
  UpdateTopNode();
  groupPanel_->update();
  rows_->viewport()->update();
  PositionEditor();
}

void TDBGridWidget::RowsInserted(TTreeListNode* parent, int /*first*/, int /*last*/) {
  if (parent != nullptr) rows_->setExpanded(model_->IndexOf(parent), parent->Expanded());
}

void TDBGridWidget::RowChanged(TTreeListNode* /*node*/) {
  // Rows whose preview decides their height are laid out again.
  if (grid_.HasOption(goPreview)) rows_->doItemsLayout();
  rows_->viewport()->update();
}

void TDBGridWidget::ExpandedChanged(TTreeListNode* node) {
  rows_->setExpanded(model_->IndexOf(node), node->Expanded());
  rows_->viewport()->update();
}

void TDBGridWidget::FocusChanged(TTreeListNode* /*node*/, int /*column*/) {
  SyncCurrent(true);
  rows_->viewport()->update();
  PositionEditor();
}

void TDBGridWidget::ColumnsChanged() {
  SyncHeader();
  rows_->viewport()->update();
  PositionEditor();
}

void TDBGridWidget::GroupingChanged() {
  groupPanel_->setFixedHeight(GroupPanelHeight());
  groupPanel_->setVisible(grid_.Switches().ShowGroupPanel);
  groupPanel_->update();
  SyncHeader();
  rows_->viewport()->update();
}

void TDBGridWidget::EditorStateChanged() { SyncEditor(); }

void TDBGridWidget::LayoutModified() { layoutTimer_->start(); }

void TDBGridWidget::SyncHeader() {
  const int n = grid_.ColumnCount();
  if (header_->count() != n) return;
  for (int i = 0; i < n; ++i) {
    const bool shown = grid_.IsHeaderVisible(i);
    if (header_->isSectionHidden(i) == shown) header_->setSectionHidden(i, !shown);
    if (!shown) continue;
    const int width = grid_.GetHeaderBoundsWidth(i);
    if (header_->sectionSize(i) != width) header_->resizeSection(i, width);
  }
  header_->viewport()->update();
}

void TDBGridWidget::SyncExpansion(TTreeListNode* parent) {
  // Only group rows can be expanded; a level whose rows are data rows is
  // not walked.
  const int count = grid_.ShownChildCount(parent);
  for (int i = 0; i < count; ++i) {
    TTreeListNode* node = grid_.ShownChild(parent, i);
    if (!node->HasChildren()) {
      if (parent != nullptr) break;
      continue;
    }
    if (node->Expanded()) rows_->setExpanded(model_->IndexOf(node), true);
    SyncExpansion(node);
  }
}

void TDBGridWidget::SyncCurrent(bool makeVisible) {
  TTreeListNode* node = grid_.FocusedNode();
  int column = grid_.FocusedColumn();
  std::vector<int> columns = grid_.DisplayColumns();
  if (column < 0 || header_->isSectionHidden(column)) column = columns.empty() ? 0 : columns.front();
  QModelIndex index = model_->IndexOf(node, column);
  if (!index.isValid()) {
    rows_->selectionModel()->clearCurrentIndex();
    return;
  }
  rows_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  if (makeVisible && node->IsVisible()) rows_->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void TDBGridWidget::UpdatePageRows() {
  grid_.SetPageRowCount(std::max(1, rows_->viewport()->height() / std::max(1, CellHeight())));
}

void TDBGridWidget::UpdateTopNode() {
  if (syncing_) return;
  // Rows scroll by whole rows: the scroll value is the top row's position
  // among the shown rows, which the view and the core count alike.
  TTreeListNode* top = grid_.VisibleRow(rows_->verticalScrollBar()->value());
  if (top != nullptr) grid_.SetTopNode(top);
}

// ---------------------------------------------------------------------------
// Drawing the rows

// What every row of one paint shares, resolved once per paint: colours,
// fonts and their metrics, the shown columns and where they stand.
struct TDBGridWidget::TRowPaint {
  explicit TRowPaint(const TDBGridWidget& owner)
      : colors(owner.Colors()),
        font(ToQFont(owner.grid_.Appearance().Font)),
        fontMetrics(font),
        previewFont(ToQFont(owner.grid_.Appearance().PreviewFont)) {
    const TCustomDBGrid& grid = owner.grid_;
    columns = grid.DisplayColumns();
    for (int column : columns) {
      Cell cell;
      cell.x = owner.header_->sectionViewportPosition(column);
      cell.width = owner.header_->sectionSize(column);
      cell.font = owner.CellFont(column);
      cell.back = ResolveColor(grid.GetColumnColor(column), *owner.colors_);
      cell.text = ResolveColor(grid.GetColumnFont(column).Color, *owner.colors_);
      const TTreeListColumn* object = grid.Columns(column);
      switch (object != nullptr ? object->Alignment() : taLeftJustify) {
        case taRightJustify: cell.alignment = Qt::AlignRight; break;
        case taCenter: cell.alignment = Qt::AlignHCenter; break;
        case taLeftJustify: cell.alignment = Qt::AlignLeft; break;
      }
      cells.push_back(cell);
    }
    if (!cells.empty()) {
      left = cells.front().x;
      right = cells.back().x + cells.back().width;
    }
    cellHeight = owner.CellHeight();
    showGrid = grid.Switches().ShowGrid;
    showPreviewGrid = grid.Switches().ShowPreviewGrid;
    focused = grid.FocusedNode();
    focusedColumn = grid.FocusedColumn();
  }

  struct Cell {
    int x = 0, width = 0;
    QFont font;
    QColor back, text;
    Qt::Alignment alignment = Qt::AlignLeft;
  };
  TGridColors colors;
  QFont font;
  QFontMetrics fontMetrics;
  QFont previewFont;
  std::vector<int> columns;
  std::vector<Cell> cells;
  int left = 0, right = 0, cellHeight = 0;
  bool showGrid = true, showPreviewGrid = true;
  const TTreeListNode* focused = nullptr;
  int focusedColumn = -1;
};

void TDBGridWidget::BeginPaintRows() { rowPaint_ = std::make_unique<TRowPaint>(*this); }

void TDBGridWidget::EndPaintRows() { rowPaint_.reset(); }

void TDBGridWidget::PaintRow(QPainter& painter, const QRect& rowRect, TTreeListNode* node) const {
  std::unique_ptr<TRowPaint> own;
  if (!rowPaint_) own = std::make_unique<TRowPaint>(*this);
  const TRowPaint& paint = rowPaint_ ? *rowPaint_ : *own;
  if (paint.cells.empty()) return;
  const TGridColors& colors = paint.colors;
  const int left = paint.left;
  const int right = paint.right;
  const int top = rowRect.top();
  const int cellHeight = paint.cellHeight;
  const int bottom = top + cellHeight - 1;
  const int indent = std::min(16 * node->Level(), std::max(0, right - left));
  const bool showGrid = paint.showGrid;
  const bool focusedRow = node == paint.focused;
  painter.save();

  // The indent beside a row is the band of the groups above it.
  if (indent > 0) painter.fillRect(QRect(left, top, indent, rowRect.height()), colors.GroupNode);

  if (grid_.IsRowGroup(node)) {
    QRect band(left + indent, top, right - left - indent, rowRect.height());
    painter.fillRect(band, colors.GroupNode);
    QRect button(left + indent, top, 16, cellHeight);
    DrawExpandButton(painter, button, node->Expanded(), colors);
    QRect text(button.right() + 1, top, std::max(0, right - button.right() - 1), cellHeight - (showGrid ? 1 : 0));
    if (focusedRow) painter.fillRect(text, colors.Highlight);
    painter.setFont(paint.font);
    painter.setPen(focusedRow ? colors.HighlightText : colors.GroupNodeText);
    QRect inner = text.adjusted(2, 0, -2, 0);
    painter.drawText(inner, int(Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine),
                     paint.fontMetrics.elidedText(AnsiToQString(grid_.GetNodeString(node, 0)), Qt::ElideRight,
                                                  inner.width()));
    if (showGrid) {
      painter.setPen(colors.GridLine);
      painter.drawLine(left + indent, bottom, right - 1, bottom);
    }
    painter.restore();
    return;
  }

  const int width = rowRect.width();
  for (std::size_t i = 0; i < paint.cells.size(); ++i) {
    const TRowPaint::Cell& c = paint.cells[i];
    const int column = paint.columns[i];
    int x = c.x;
    int w = c.width;
    if (i == 0) {
      x += indent;
      w -= indent;
    }
    if (w <= 0 || x >= width || x + w <= 0) continue;
    QRect cell(x, top, w, cellHeight);
    const bool focusedCell = focusedRow && column == paint.focusedColumn;
    painter.fillRect(cell, focusedCell ? colors.Highlight : c.back);
    painter.setFont(c.font);
    painter.setPen(focusedCell ? colors.HighlightText : c.text);
    QRect inner = cell.adjusted(2, 0, -3, showGrid ? -1 : 0);
    QString text = AnsiToQString(grid_.GetNodeString(node, column));
    if (painter.fontMetrics().horizontalAdvance(text) > inner.width()) {
      text = painter.fontMetrics().elidedText(text, Qt::ElideRight, inner.width());
    }
    painter.drawText(inner, int(c.alignment | Qt::AlignVCenter | Qt::TextSingleLine), text);
    if (showGrid) {
      painter.setPen(colors.GridLine);
      painter.drawLine(cell.right(), top, cell.right(), bottom);
      painter.drawLine(cell.left(), bottom, cell.right(), bottom);
    }
  }

  // The preview line(s) under the cells, from the notes, indented.
  if (rowRect.height() > cellHeight) {
    QRect preview(left + indent, top + cellHeight, right - left - indent, rowRect.height() - cellHeight);
    painter.fillRect(preview, colors.Window);
    painter.setFont(paint.previewFont);
    painter.setPen(colors.PreviewText);
    QRect text = preview.adjusted(grid_.IndentDesc() + 2, 1, -2, -2);
    painter.setClipRect(text);
    painter.drawText(text, int(Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap),
                     AnsiToQString(grid_.GetPreviewString(grid_.GetPreviewText(node))));
    painter.setClipping(false);
    if (paint.showPreviewGrid) {
      painter.setPen(colors.GridLine);
      painter.drawLine(preview.left(), preview.bottom(), preview.right(), preview.bottom());
    }
  }
  painter.restore();
}

// ---------------------------------------------------------------------------
// Keys and clicks on the rows

namespace {

TShiftState ShiftOf(Qt::KeyboardModifiers mods) {
  TShiftState shift = 0;
  if (mods & Qt::ShiftModifier) shift |= ssShift;
  if (mods & Qt::ControlModifier) shift |= ssCtrl;
  if (mods & Qt::AltModifier) shift |= ssAlt;
  return shift;
}

// The grid's key for a Qt key; none for keys the grid does not answer.
std::optional<TGridKey> GridKeyOf(const QKeyEvent* event, TShiftState& shift) {
  shift = ShiftOf(event->modifiers());
  switch (event->key()) {
    case Qt::Key_Up: return TGridKey::Up;
    case Qt::Key_Down: return TGridKey::Down;
    case Qt::Key_Left: return TGridKey::Left;
    case Qt::Key_Right: return TGridKey::Right;
    case Qt::Key_Home: return TGridKey::Home;
    case Qt::Key_End: return TGridKey::End;
    case Qt::Key_PageUp: return TGridKey::PageUp;
    case Qt::Key_PageDown: return TGridKey::PageDown;
    case Qt::Key_Tab: return TGridKey::Tab;
    case Qt::Key_Backtab:
      shift |= ssShift;
      return TGridKey::Tab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return TGridKey::Enter;
    case Qt::Key_F2: return TGridKey::F2;
    case Qt::Key_Escape: return TGridKey::Escape;
    case Qt::Key_Insert: return TGridKey::Insert;
    case Qt::Key_Delete: return TGridKey::Delete;
    default: return std::nullopt;
  }
}

// A key that starts editing: a typed character, Backspace, Ctrl+V, Ctrl+X.
bool StartsEditing(const QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  const bool ctrl = (mods & Qt::ControlModifier) != 0;
  const bool alt = (mods & Qt::AltModifier) != 0;
  if (alt) return false;
  if (ctrl) return event->key() == Qt::Key_V || event->key() == Qt::Key_X;
  if (event->key() == Qt::Key_Backspace) return true;
  return !event->text().isEmpty() && event->text().at(0).isPrint();
}

}  // namespace

void TDBGridWidget::RowsKeyPress(QKeyEvent* event) {
  CancelClickEdit();
  event->accept();
  if (Dragging()) return;
  TShiftState shift = 0;
  std::optional<TGridKey> key = GridKeyOf(event, shift);
  const bool ctrl = (shift & ssCtrl) != 0;
  TTreeListNode* focused = grid_.FocusedNode();
  if (!key) {
    if (ctrl && event->key() == Qt::Key_C) key = TGridKey::C;
    // + - * expand and collapse a focused group row; on a data row they
    // are typed like any character.
    if (grid_.IsRowGroup(focused) && !ctrl) {
      switch (event->key()) {
        case Qt::Key_Plus: key = TGridKey::Plus; break;
        case Qt::Key_Minus: key = TGridKey::Minus; break;
        case Qt::Key_Asterisk: key = TGridKey::Multiply; break;
        default: break;
      }
    }
  }
  if (event->key() == Qt::Key_Menu) {
    QRect cell = CellRect(focused, grid_.FocusedColumn());
    RowsContextMenu(rows_->viewport()->mapToGlobal(cell.isEmpty() ? QPoint(0, 0) : cell.bottomLeft()));
    return;
  }
  if (key) {
    bool handled = false;
    if (*key == TGridKey::PageUp || *key == TGridKey::PageDown) {
      // A page keeps the focused row where it stands on the screen.
      QRect before = CellRect(focused, grid_.FocusedColumn());
      Run([&] { handled = grid_.KeyDown(*key, shift); });
      TTreeListNode* now = grid_.FocusedNode();
      if (!before.isEmpty() && now != nullptr && now != focused && rows_->uniformRowHeights()) {
        int above = before.top() / std::max(1, CellHeight());
        rows_->verticalScrollBar()->setValue(now->GetAbsoluteIndex() - above);
      }
    } else {
      Run([&] { handled = grid_.KeyDown(*key, shift); });
    }
    // Tab the grid could not take moves on to the next control.
    if (!handled && *key == TGridKey::Tab) event->ignore();
    return;
  }
  if (grid_.HasOption(goEnterShowEditor) && StartsEditing(event)) {
    ShowEditorChar(event);
    return;
  }
  event->ignore();
}

void TDBGridWidget::RowsInputMethod(QInputMethodEvent* event) {
  // A composed character (a dead key, an input method) starts editing as a
  // typed one does.
  event->accept();
  if (event->commitString().isEmpty() || !grid_.HasOption(goEnterShowEditor) || Dragging()) return;
  CancelClickEdit();
  bool opened = false;
  Run([&] { opened = grid_.ShowEditor(); });
  if (opened && editor_) QCoreApplication::sendEvent(editor_.data(), event);
}

void TDBGridWidget::ShowEditorChar(QKeyEvent* event) {
  bool opened = false;
  Run([&] { opened = grid_.ShowEditor(); });
  if (!opened || !editor_) return;
  QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(), event->isAutoRepeat(),
                 static_cast<quint16>(event->count()));
  QCoreApplication::sendEvent(editor_.data(), &copy);
}

void TDBGridWidget::RowsMousePress(QMouseEvent* event) {
  CancelClickEdit();
  event->accept();
  if (Dragging()) return;
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
  rows_->setFocus(Qt::MouseFocusReason);
  const QPoint pos = event->position().toPoint();
  TTreeListNode* node = NodeAt(pos);
  if (node == nullptr) return;
  if (event->button() == Qt::LeftButton && ExpandButtonRect(node).contains(pos)) {
    // The expand button acts at once and leaves the focus where it is.
    Run([&] { grid_.ToggleExpanded(node); });
    return;
  }
  int column = ColumnAt(pos.x());
  if (column < 0 || grid_.IsRowGroup(node)) column = grid_.FocusedColumn();
  bool focusedAlready = false;
  Run([&] { focusedAlready = grid_.CellClick(node, column); });
  if (event->button() == Qt::LeftButton && focusedAlready && !grid_.IsRowGroup(node) && !grid_.EditorOpen()) {
    // A click on the focused cell: the editor may open once it is clear
    // that no double click follows.
    clickNode_ = node;
    clickColumn_ = column;
  }
}

void TDBGridWidget::RowsMouseRelease(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton || clickNode_ == nullptr) return;
  const QPoint pos = event->position().toPoint();
  if (NodeAt(pos) == clickNode_ && ColumnAt(pos.x()) == clickColumn_) {
    clickEditTimer_->start(QApplication::doubleClickInterval());
  } else {
    clickNode_ = nullptr;
  }
}

void TDBGridWidget::RowsDoubleClick(QMouseEvent* event) {
  CancelClickEdit();
  event->accept();
  if (event->button() != Qt::LeftButton || Dragging()) return;
  TTreeListNode* node = NodeAt(event->position().toPoint());
  // A double click toggles a group row (its button included: the second
  // press of the button toggles again, as a press does).
  if (node != nullptr && grid_.IsRowGroup(node)) Run([&] { grid_.ToggleExpanded(node); });
}

void TDBGridWidget::ClickEditTimeout() {
  TTreeListNode* node = clickNode_;
  const int column = clickColumn_;
  clickNode_ = nullptr;
  if (node == nullptr || !grid_.IsLiveNode(node) || node != grid_.FocusedNode() || column != grid_.FocusedColumn() ||
      Dragging() || grid_.EditorOpen()) {
    return;
  }
  Run([this] { grid_.ShowEditor(); });
}

void TDBGridWidget::CancelClickEdit() {
  clickEditTimer_->stop();
  clickNode_ = nullptr;
}

void TDBGridWidget::RowsContextMenu(const QPoint& globalPos) {
  if (popupMenu_) popupMenu_->popup(globalPos);
}

// ---------------------------------------------------------------------------
// The in-place editor

void TDBGridWidget::SyncEditor() {
  if (!grid_.EditorOpen()) {
    CloseEditorWidget();
    return;
  }
  if (!editor_) {
    OpenEditorWidget();
    return;
  }
  // The grid read the field again (the record changed elsewhere).
  QString text = AnsiToQString(grid_.EditorText());
  if (!grid_.EditorModified() && editor_->text() != text) {
    editor_->SetGridText(text);
    editor_->selectAll();
  }
}

void TDBGridWidget::OpenEditorWidget() {
  TTreeListNode* node = grid_.FocusedNode();
  const int column = grid_.FocusedColumn();
  TTreeListColumn* object = grid_.Columns(column);
  if (node == nullptr || object == nullptr) return;
  QWidget* parent = rows_->viewport();
  TInplaceDBTreeListEdit* editor;
  if (auto* pick = dynamic_cast<TDBTreeListPickColumn*>(object)) {
    editor = new TInplaceDBTreeListPickEdit(*this, parent, *pick);
  } else if (auto* link = dynamic_cast<TDBTreeListHyperLinkColumn*>(object)) {
    editor = new TInplaceDBTreeListHyperLinkEdit(*this, parent, *link);
  } else {
    editor = new TInplaceDBTreeListEdit(*this, parent);
  }
  editor->setFont(CellFont(column));
  const int limit = grid_.GetEditLimit();
  editor->setMaxLength(limit > 0 ? limit : 32767);
  editor->SetGridText(AnsiToQString(grid_.EditorText()));
  editor->selectAll();
  editor_ = editor;
  rows_->scrollTo(model_->IndexOf(node, column), QAbstractItemView::EnsureVisible);
  PositionEditor();
  editor->show();
  editor->setFocus(Qt::OtherFocusReason);
}

void TDBGridWidget::CloseEditorWidget() {
  if (!editor_) return;
  TInplaceDBTreeListEdit* editor = editor_.data();
  editor_ = nullptr;
  editor->ClosePopup();
  QWidget* focus = QApplication::focusWidget();
  // The focus stays in the grid when it was in the editor.
  if (focus != nullptr && (focus == editor || editor->isAncestorOf(focus))) rows_->setFocus(Qt::OtherFocusReason);
  editor->hide();
  editor->deleteLater();
}

void TDBGridWidget::PositionEditor() {
  if (!editor_) return;
  QRect cell = CellRect(grid_.FocusedNode(), grid_.FocusedColumn());
  if (cell.isEmpty()) return;
  // The grid lines stay visible around the editor.
  if (grid_.Switches().ShowGrid) cell.adjust(0, 0, -1, -1);
  editor_->setGeometry(cell);
}

void TDBGridWidget::EditorPassKey(QKeyEvent* event) {
  TShiftState shift = 0;
  std::optional<TGridKey> key = GridKeyOf(event, shift);
  if (!key) return;
  Run([&] {
    if (*key == TGridKey::Escape) {
      // Back to the field's text, closed; nothing else happens.
      grid_.CancelEditor();
      return;
    }
    grid_.HideEditor();
    grid_.KeyDown(*key, shift);
  });
}

bool TDBGridWidget::EditorTextChanged(const QString& text) {
  bool accepted = false;
  Run([&] { accepted = grid_.SetEditorText(QStringToAnsi(text)); });
  return accepted;
}

bool TDBGridWidget::EditorWritable() const {
  auto* column = dynamic_cast<TDBTreeListColumn*>(grid_.FocusedColumnObject());
  dataset::TDataSet* ds = grid_.ActiveDataSet();
  if (column == nullptr || ds == nullptr || column->ReadOnly() || column->Field() == nullptr) return false;
  return !column->Field()->ReadOnly() && !grid_.DataLink().ReadOnly() && ds->CanModify();
}

bool TDBGridWidget::PickAccept(const std::string& value) {
  bool accepted = false;
  Run([&] { accepted = grid_.PickAccept(value); });
  return accepted;
}

std::optional<std::string> TDBGridWidget::PickComplete(const std::string& search) {
  std::optional<std::string> item;
  Run([&] { item = grid_.PickComplete(search); });
  return item;
}

void TDBGridWidget::StartLink() {
  Run([this] { grid_.StartLink(); });
}

// ---------------------------------------------------------------------------
// Headers and the group panel

void TDBGridWidget::HeaderPressed() {
  CancelClickEdit();
  Run([this] { grid_.HideEditor(); });
}

void TDBGridWidget::HeaderClick(int column, bool ctrl) {
  Run([&] { grid_.ColumnClick(grid_.Columns(column), ctrl); });
}

void TDBGridWidget::ColumnResize(int column, int width) {
  TTreeListColumn* object = grid_.Columns(column);
  if (object == nullptr || !grid_.HasOption(goColumnSizing) || !object->Sizing()) return;
  // The first header holds the group indent besides the column's width.
  std::vector<int> columns = grid_.DisplayColumns();
  if (!columns.empty() && columns.front() == column) width -= grid_.IndentWidth();
  Run([&] { object->SetWidth(width); });
}

void TDBGridWidget::ColumnBestFit(int column) {
  Run([&] { grid_.DoBestFitColumn(grid_.Columns(column), metrics_); });
}

void TDBGridWidget::GroupHeaderClick(int level) {
  Run([&] { grid_.GroupHeaderClick(level); });
}

bool TDBGridWidget::CanDragColumn(int column) const {
  const TTreeListColumn* object = grid_.Columns(column);
  return object != nullptr && grid_.HasOption(goColumnMoving) && !object->DisableDragging();
}

void TDBGridWidget::BeginHeaderDrag(int column, bool fromGroupPanel, QWidget* source, const QPoint& globalPos) {
  CancelClickEdit();
  THeaderDrag drag;
  drag.Column = column;
  drag.FromGroupPanel = fromGroupPanel;
  drag.Source = source;
  drag_ = drag;
  overlay_->setGeometry(rect());
  overlay_->raise();
  overlay_->show();
  MoveHeaderDrag(globalPos);
}

void TDBGridWidget::MoveHeaderDrag(const QPoint& globalPos) {
  if (!drag_) return;
  drag_->Pos = mapFromGlobal(globalPos);
  drag_->Drop = DropAt(drag_->Pos);
  // The delete cursor where a drop would be refused.
  if (drag_->Source) drag_->Source->setCursor(drag_->Drop.Allowed ? Qt::ArrowCursor : Qt::ForbiddenCursor);
  overlay_->update();
}

void TDBGridWidget::EndHeaderDrag(const QPoint& globalPos) {
  if (!drag_) return;
  THeaderDrag drag = *drag_;
  drag_.reset();
  overlay_->hide();
  if (drag.Source) drag.Source->unsetCursor();
  const TDrop drop = DropAt(mapFromGlobal(globalPos), drag);
  TTreeListColumn* column = grid_.Columns(drag.Column);
  if (column == nullptr || !drop.Allowed) return;
  Run([&] {
    switch (drop.Target) {
      case TDropTarget::GroupPanel: grid_.DropOnGroupPanel(column, drop.Position); break;
      case TDropTarget::Header: {
        if (drag.FromGroupPanel) grid_.DragGroupColumnOut(column);
        if (drag.FromGroupPanel || column->ColIndex() != drop.Position) {
          grid_.HeaderMoved(column, column->BandIndex(), drop.Position, column->RowIndex());
        }
        break;
      }
      case TDropTarget::None:
        // A group header dropped outside the group panel and the headers.
        if (drag.FromGroupPanel) grid_.DragGroupColumnOut(column);
        break;
    }
  });
}

TDBGridWidget::TDrop TDBGridWidget::DropAt(const QPoint& pos) const {
  if (!drag_) return {};
  return DropAt(pos, *drag_);
}

TDBGridWidget::TDrop TDBGridWidget::DropAt(const QPoint& pos, const THeaderDrag& drag) const {
  TDrop drop;
  const TTreeListColumn* column = grid_.Columns(drag.Column);
  if (column == nullptr) return drop;
  TGridGeometry geometry(grid_, metrics_);
  const QRect panel = groupPanel_->isVisible() ? groupPanel_->geometry() : QRect();
  if (panel.contains(pos)) {
    drop.Target = TDropTarget::GroupPanel;
    drop.Allowed = grid_.CanDropOnGroupPanel(const_cast<TTreeListColumn*>(column));
    int position = geometry.GroupPanelInsertPosition(pos.x() - panel.left());
    if (column->GroupIndex() >= 0 && position >= grid_.GroupColumnCount()) position = grid_.GroupColumnCount() - 1;
    drop.Position = position;
    TGridPoint arrows = geometry.DropArrowsPosition(position);
    drop.Arrows = panel.topLeft() + QPoint(arrows.X, arrows.Y);
    drop.ArrowsHeight = geometry.HeaderRowHeight() + kDropArrowHeight;
    return drop;
  }
  const QRect header(header_->mapTo(this, QPoint(0, 0)), header_->size());
  if (header_->isVisible() && header.contains(pos)) {
    drop.Target = TDropTarget::Header;
    drop.Allowed = true;
    int arrowX = 0;
    drop.Position = HeaderBoundaryAt(pos.x() - header.left(), drag.Column, &arrowX);
    drop.Arrows = QPoint(header.left() + arrowX - kDropArrowWidth / 2, header.top() - kDropArrowHeight);
    drop.ArrowsHeight = header.height() + kDropArrowHeight;
    return drop;
  }
  // Outside both: a header of the header row goes back where it was; a
  // group header leaves the grouping.
  drop.Target = TDropTarget::None;
  drop.Allowed = drag.FromGroupPanel;
  return drop;
}

int TDBGridWidget::HeaderBoundaryAt(int headerX, int exclude, int* arrowX) const {
  int boundary = 0;
  int edge = RowsLeft();
  for (int column : grid_.DisplayColumns()) {
    if (column == exclude) continue;
    const int x = header_->sectionViewportPosition(column);
    const int w = header_->sectionSize(column);
    if (headerX < x + w / 2) {
      if (arrowX != nullptr) *arrowX = x;
      return boundary;
    }
    ++boundary;
    edge = x + w;
  }
  if (arrowX != nullptr) *arrowX = edge;
  return boundary;
}

}  // namespace grid::qt
