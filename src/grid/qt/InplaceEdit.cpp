#include "grid/qt/InplaceEdit.h"

#include <algorithm>
#include <optional>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

#include "grid/model/Column.h"
#include "grid/qt/DBGridWidget.h"
#include "platform/qt/AnsiText.h"

namespace grid::qt {

using marrowick::platform::AnsiToQString;
using marrowick::platform::QStringToAnsi;

namespace {
bool TypedCharacter(const QKeyEvent* event) {
  if (event->text().isEmpty() || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
  return event->text().at(0).isPrint();
}
}  // namespace

// ---- TInplaceDBTreeListEdit

TInplaceDBTreeListEdit::TInplaceDBTreeListEdit(TDBGridWidget& owner, QWidget* parent)
    : QLineEdit(parent), owner_(owner) {
  setObjectName(QStringLiteral("InplaceEdit"));
  setFrame(false);
  connect(this, &QLineEdit::textChanged, this, &TInplaceDBTreeListEdit::TextChanged);
}

void TInplaceDBTreeListEdit::SetGridText(const QString& text) {
  settingText_ = true;
  setText(text);
  accepted_ = text;
  settingText_ = false;
}

void TInplaceDBTreeListEdit::TextChanged(const QString& text) {
  if (settingText_) return;
  if (owner_.EditorTextChanged(text)) {
    accepted_ = text;
    return;
  }
  // Refused (a read-only cell or record set): the text stays as it was.
  const int cursor = cursorPosition();
  settingText_ = true;
  setText(accepted_);
  setCursorPosition(std::min<int>(cursor, static_cast<int>(accepted_.size())));
  settingText_ = false;
}

bool TInplaceDBTreeListEdit::event(QEvent* event) {
  // Tab and Shift+Tab would move the keyboard focus before the key reached
  // the editor; they belong to the grid.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
        !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      keyPressEvent(key);
      return true;
    }
  }
  return QLineEdit::event(event);
}

bool TInplaceDBTreeListEdit::IsPassKey(const QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return !(mods & (Qt::ControlModifier | Qt::AltModifier));
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Up:
    case Qt::Key_Down: return !(mods & Qt::AltModifier);
    case Qt::Key_Escape: return true;
    case Qt::Key_Insert: return !(mods & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
    default: return false;
  }
}

bool TInplaceDBTreeListEdit::AcceptsCharacter(const QKeyEvent* event) const {
  if (!TypedCharacter(event)) return true;
  std::string ansi = QStringToAnsi(event->text().left(1));
  return ansi.empty() || owner_.grid_.CanEditAcceptKey(ansi[0]);
}

void TInplaceDBTreeListEdit::keyPressEvent(QKeyEvent* event) {
  event->accept();
  if (HandleKey(event)) return;
  if (IsPassKey(event)) {
    // The grid closes this editor; nothing of it may be touched afterwards.
    owner_.EditorPassKey(event);
    return;
  }
  if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
    deselect();
    return;
  }
  if (!AcceptsCharacter(event)) return;
  QLineEdit::keyPressEvent(event);
}

// ---- TPickList

TPickList::TPickList(QWidget* editor) : QListWidget(editor) {
  setObjectName(QStringLiteral("PickList"));
  // A window that floats over the editor's window without ever becoming the
  // active one (a tool window would take the activation on some desktops).
  setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void TPickList::mouseReleaseEvent(QMouseEvent* event) {
  QListWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  QListWidgetItem* item = viewport()->rect().contains(pos) ? itemAt(pos) : nullptr;
  if (item != nullptr) {
    emit Picked(row(item));
  } else {
    emit Rejected();
  }
}

// ---- TInplaceDBTreeListPickEdit

TInplaceDBTreeListPickEdit::TInplaceDBTreeListPickEdit(TDBGridWidget& owner, QWidget* parent,
                                                       const TDBTreeListPickColumn& column)
    : TInplaceDBTreeListEdit(owner, parent), column_(column) {
  setObjectName(QStringLiteral("InplacePickEdit"));
  button_ = new QToolButton(this);
  button_->setObjectName(QStringLiteral("PickButton"));
  button_->setArrowType(Qt::DownArrow);
  button_->setFocusPolicy(Qt::NoFocus);
  button_->setCursor(Qt::ArrowCursor);
  connect(button_, &QToolButton::pressed, this, [this] {
    searching_ = false;
    if (ListVisible()) {
      CloseUp(false);
    } else {
      DropDown();
    }
  });
  list_ = new TPickList(this);
  for (const std::string& item : column_.Items()) list_->addItem(AnsiToQString(item));
  connect(list_, &TPickList::Picked, this, [this](int row) {
    list_->setCurrentRow(row);
    CloseUp(true);
  });
  connect(list_, &TPickList::Rejected, this, [this] { CloseUp(false); });
}

TInplaceDBTreeListPickEdit::~TInplaceDBTreeListPickEdit() { qApp->removeEventFilter(this); }

bool TInplaceDBTreeListPickEdit::ListVisible() const { return list_->isVisible(); }

void TInplaceDBTreeListPickEdit::resizeEvent(QResizeEvent* event) {
  TInplaceDBTreeListEdit::resizeEvent(event);
  const int w = std::min(style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this), width() / 2);
  button_->setGeometry(width() - w, 0, w, height());
  setTextMargins(0, 0, w, 0);
}

void TInplaceDBTreeListPickEdit::DropDown() {
  if (ListVisible() || column_.Items().empty() || !owner_.EditorWritable()) return;
  list_->setFont(font());
  const int rows = column_.ListRowCount();
  int rowHeight = list_->sizeHintForRow(0);
  if (rowHeight <= 0) rowHeight = fontMetrics().height() + 2;
  const int frame = list_->frameWidth();
  const int height = rows * rowHeight + 2 * frame;
  int widest = 0;
  const QFontMetrics metrics(font());
  for (int i = 0; i < list_->count(); ++i) widest = std::max(widest, metrics.horizontalAdvance(list_->item(i)->text()));
  int scrollBar = list_->count() > rows ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_) : 0;
  const int width = std::max(this->width(), widest + 8 + 2 * frame + scrollBar);
  // Below the editor; above it when the screen has no room below.
  QPoint at = mapToGlobal(QPoint(0, this->height()));
  if (QScreen* screen = this->screen()) {
    const QRect available = screen->availableGeometry();
    const int above = mapToGlobal(QPoint(0, 0)).y() - height;
    if (at.y() + height > available.bottom() + 1 && above >= available.top()) at.setY(above);
  }
  list_->setGeometry(QRect(at, QSize(width, height)));
  const int selected = owner_.grid_.PickListSelection();
  list_->clearSelection();
  list_->setCurrentRow(selected);
  if (selected >= 0) list_->scrollToItem(list_->item(selected));
  list_->show();
  list_->raise();
  qApp->installEventFilter(this);
}

void TInplaceDBTreeListPickEdit::CloseUp(bool accept) {
  if (!ListVisible()) return;
  qApp->removeEventFilter(this);
  QListWidgetItem* item = list_->currentItem();
  if (item != nullptr && !item->isSelected()) item = nullptr;
  list_->hide();
  if (!accept) return;
  const std::string value = QStringToAnsi(item != nullptr ? item->text() : text());
  if (owner_.PickAccept(value)) {
    SetGridText(AnsiToQString(value));
    selectAll();
  }
}

void TInplaceDBTreeListPickEdit::MoveSelection(int step) {
  const int count = list_->count();
  if (count == 0) return;
  const int current = list_->currentItem() != nullptr && list_->currentItem()->isSelected() ? list_->currentRow() : -1;
  int next = current < 0 ? (step > 0 ? 0 : count - 1) : std::clamp(current + step, 0, count - 1);
  list_->setCurrentRow(next);
}

bool TInplaceDBTreeListPickEdit::Complete(const std::string& search) {
  std::optional<std::string> item = owner_.PickComplete(search);
  if (!item) return false;
  // The item, with the part not typed selected.
  SetGridText(AnsiToQString(*item));
  setSelection(static_cast<int>(search.size()), static_cast<int>(item->size()) - static_cast<int>(search.size()));
  searching_ = true;
  search_ = search;
  if (ListVisible()) list_->setCurrentRow(column_.FindItem(*item));
  return true;
}

bool TInplaceDBTreeListPickEdit::TypeCharacter(QKeyEvent* event) {
  if (!TypedCharacter(event)) return false;
  if (!AcceptsCharacter(event)) return true;
  if (column_.ImmediateDropDown() && !ListVisible()) DropDown();
  const std::string typed = QStringToAnsi(event->text().left(1));
  std::string search;
  if (searching_) {
    if (static_cast<int>(search_.size()) + 1 > maxLength()) {
      searching_ = false;
      return false;
    }
    search = search_ + typed;
  } else {
    // The text with the selection replaced by the typed character.
    const std::string current = QStringToAnsi(text());
    const std::size_t start = static_cast<std::size_t>(hasSelectedText() ? selectionStart() : cursorPosition());
    const std::size_t length = hasSelectedText() ? static_cast<std::size_t>(selectedText().size()) : 0;
    search = current.substr(0, std::min(start, current.size())) + typed +
             (start + length < current.size() ? current.substr(start + length) : std::string());
  }
  if (Complete(search)) return true;
  // Nothing begins so: the character is typed as it is.
  searching_ = false;
  return false;
}

bool TInplaceDBTreeListPickEdit::HandleKey(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  const int key = event->key();
  const bool alt = (mods & Qt::AltModifier) != 0;
  if ((key == Qt::Key_F4 && !alt) || (alt && (key == Qt::Key_Down || key == Qt::Key_Up))) {
    if (ListVisible()) {
      CloseUp(true);
    } else {
      DropDown();
    }
    return true;
  }
  if (ListVisible()) {
    const int page = std::max(1, column_.ListRowCount());
    switch (key) {
      case Qt::Key_Up: MoveSelection(-1); return true;
      case Qt::Key_Down: MoveSelection(1); return true;
      case Qt::Key_PageUp: MoveSelection(-page); return true;
      case Qt::Key_PageDown: MoveSelection(page); return true;
      case Qt::Key_Return:
      case Qt::Key_Enter: CloseUp(true); return true;
      case Qt::Key_Escape:
        searching_ = false;
        CloseUp(false);
        return true;
      default: break;
    }
  }
  if (key == Qt::Key_Backspace && searching_ && !(mods & (Qt::ControlModifier | Qt::AltModifier))) {
    search_.pop_back();
    if (!search_.empty() && Complete(search_)) return true;
    searching_ = false;
    return false;
  }
  if (TypeCharacter(event)) return true;
  switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta: break;
    default: searching_ = false;  // any other key ends the search
  }
  return false;
}

void TInplaceDBTreeListPickEdit::mousePressEvent(QMouseEvent* event) {
  searching_ = false;
  CloseUp(false);
  TInplaceDBTreeListEdit::mousePressEvent(event);
}

void TInplaceDBTreeListPickEdit::hideEvent(QHideEvent* event) {
  CloseUp(false);
  TInplaceDBTreeListEdit::hideEvent(event);
}

bool TInplaceDBTreeListPickEdit::InsideList(QObject* object) const {
  auto* widget = qobject_cast<QWidget*>(object);
  return widget != nullptr && (widget == list_ || list_->isAncestorOf(widget));
}

bool TInplaceDBTreeListPickEdit::eventFilter(QObject* watched, QEvent* event) {
  // A press anywhere but in the list or on the button closes the list
  // without taking an item; the press goes on to where it was made.
  if (event->type() == QEvent::MouseButtonPress && ListVisible() && qobject_cast<QWidget*>(watched) != nullptr &&
      !InsideList(watched) && watched != button_) {
    CloseUp(false);
  }
  return false;
}

// ---- TInplaceDBTreeListHyperLinkEdit

TInplaceDBTreeListHyperLinkEdit::TInplaceDBTreeListHyperLinkEdit(TDBGridWidget& owner, QWidget* parent,
                                                                 const TDBTreeListHyperLinkColumn& column)
    : TInplaceDBTreeListEdit(owner, parent) {
  setObjectName(QStringLiteral("InplaceHyperLinkEdit"));
  QPalette colors = palette();
  colors.setColor(QPalette::Base, ResolveColor(column.EditBackgroundColor(), *owner.colors_));
  colors.setColor(QPalette::Text, ResolveColor(column.EditFontColor(), *owner.colors_));
  setPalette(colors);
  setCursor(Qt::PointingHandCursor);
}

bool TInplaceDBTreeListHyperLinkEdit::HandleKey(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & Qt::ControlModifier)) {
    owner_.StartLink();
    return true;
  }
  return false;
}

void TInplaceDBTreeListHyperLinkEdit::mouseReleaseEvent(QMouseEvent* event) {
  TInplaceDBTreeListEdit::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) owner_.StartLink();
}

}  // namespace grid::qt
