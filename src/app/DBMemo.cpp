#include "app/DBMemo.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

#include "dataset/DataSet.h"
#include "platform/qt/AnsiText.h"

namespace marrowick {

// The pane's link to its data source: every notification of the record set
// reaches the pane through it.
class TDBMemo::TMemoDataLink : public dataset::TDataLink {
 public:
  explicit TMemoDataLink(TDBMemo& memo) : memo_(memo) {}
  ~TMemoDataLink() override { SetDataSource(nullptr); }

  void Reset() override { memo_.LoadText(); }

 protected:
  void ActiveChanged() override { memo_.LoadText(); }
  void RecordChanged(dataset::TField* field) override {
    if (field == nullptr || field == memo_.Field()) memo_.LoadText();
  }
  void EditingChanged() override {
    if (!Editing()) memo_.modified_ = false;
  }
  void UpdateData() override {
    if (memo_.modified_) memo_.WriteText();
  }
  void FocusControl(dataset::TField** field) override {
    if (*field != nullptr && *field == memo_.Field() && memo_.isEnabled()) {
      *field = nullptr;
      memo_.setFocus(Qt::OtherFocusReason);
    }
  }

 private:
  TDBMemo& memo_;
};

TDBMemo::TDBMemo(QWidget* parent) : QPlainTextEdit(parent), link_(std::make_unique<TMemoDataLink>(*this)) {
  setObjectName(QStringLiteral("DBMemo1"));
  // Tab moves on to the next control, as in any form.
  setTabChangesFocus(true);
  connect(this, &QPlainTextEdit::textChanged, this, &TDBMemo::TextChangedByUser);
}

TDBMemo::~TDBMemo() {
  // The link goes first, and what it hears meanwhile is not shown.
  destroying_ = true;
  link_->SetDataSource(nullptr);
  link_.reset();
}

void TDBMemo::SetDataSource(dataset::TDataSource* source) {
  link_->SetDataSource(source);
  LoadText();
}

dataset::TDataSource* TDBMemo::DataSource() const { return link_->DataSource(); }

void TDBMemo::SetDataField(const std::string& name) {
  dataField_ = name;
  LoadText();
}

dataset::TField* TDBMemo::Field() const {
  if (destroying_) return nullptr;
  dataset::TDataSet* ds = link_->DataSet();
  if (ds == nullptr || !link_->Active() || dataField_.empty()) return nullptr;
  return ds->FindField(dataField_);
}

QString TDBMemo::FieldTextToPane(const std::string& stored) {
  std::string text;
  text.reserve(stored.size());
  for (size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '\r') {
      text += '\n';
      if (i + 1 < stored.size() && stored[i + 1] == '\n') ++i;
    } else {
      text += stored[i];
    }
  }
  return platform::AnsiToQString(text);
}

std::string TDBMemo::PaneTextToField(const QString& text) {
  const std::string ansi = platform::QStringToAnsi(text);
  std::string stored;
  stored.reserve(ansi.size());
  for (char c : ansi) {
    if (c == '\n') stored += '\r';
    stored += c;
  }
  return stored;
}

void TDBMemo::LoadText() {
  if (destroying_) return;
  dataset::TField* field = Field();
  QString text;
  if (field != nullptr && !field->IsNull()) text = FieldTextToPane(field->AsString());
  loading_ = true;
  if (text != toPlainText()) setPlainText(text);
  loading_ = false;
  modified_ = false;
}

void TDBMemo::WriteText() {
  dataset::TField* field = Field();
  if (field == nullptr) return;
  field->SetAsString(PaneTextToField(toPlainText()));
  modified_ = false;
}

void TDBMemo::UpdateRecord() {
  if (!modified_ || !link_->Editing()) return;
  link_->UpdateRecord();
}

void TDBMemo::Report(const std::exception& error) {
  if (onError_) onError_(error);
}

bool TDBMemo::BeginChange() {
  dataset::TField* field = Field();
  if (field == nullptr) return false;
  if (!link_->Editing()) {
    try {
      if (!link_->Edit()) return false;
    } catch (const std::exception& error) {
      // A record locked by another program, a read-only table.
      Report(error);
      return false;
    }
  }
  return field->CanModify();
}

void TDBMemo::TextChangedByUser() {
  if (loading_) return;
  if (link_->Editing() && Field() != nullptr) {
    modified_ = true;
    return;
  }
  // A change that came by a way no guard saw: the stored text comes back.
  if (restorePending_) return;
  restorePending_ = true;
  QTimer::singleShot(0, this, [this] {
    restorePending_ = false;
    if (!link_->Editing()) LoadText();
  });
}

namespace {

// Whether a key changes the text of an editable memo.
bool ChangesText(const QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
      return true;
    case Qt::Key_Insert:
      return (event->modifiers() & Qt::ShiftModifier) != 0;  // Shift+Insert pastes
    default:
      break;
  }
  if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut) ||
      event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
    return true;
  }
  const QString text = event->text();
  if (text.isEmpty() || (event->modifiers() & Qt::ControlModifier) != 0) return false;
  for (QChar c : text) {
    if (!c.isPrint()) return false;
  }
  return true;
}

}  // namespace

void TDBMemo::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (modified_) {
      link_->Reset();
      event->accept();
      return;
    }
    QPlainTextEdit::keyPressEvent(event);
    return;
  }
  if (ChangesText(event) && !BeginChange()) {
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void TDBMemo::inputMethodEvent(QInputMethodEvent* event) {
  if (!event->commitString().isEmpty() && !BeginChange()) {
    event->accept();
    return;
  }
  QPlainTextEdit::inputMethodEvent(event);
}

void TDBMemo::insertFromMimeData(const QMimeData* source) {
  if (!BeginChange()) return;
  QPlainTextEdit::insertFromMimeData(source);
}

void TDBMemo::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
  // The menu's changing commands ask for the record first, as keys do.
  // (Paste arrives through insertFromMimeData, which asks itself.)
  for (QAction* action : menu->actions()) {
    const QString name = action->objectName();
    std::function<void()> change;
    if (name == QLatin1String("edit-undo")) {
      change = [this] { undo(); };
    } else if (name == QLatin1String("edit-redo")) {
      change = [this] { redo(); };
    } else if (name == QLatin1String("edit-cut")) {
      change = [this] { cut(); };
    } else if (name == QLatin1String("edit-delete")) {
      change = [this] {
        QTextCursor cursor = textCursor();
        cursor.removeSelectedText();
        setTextCursor(cursor);
      };
    } else {
      continue;
    }
    disconnect(action, &QAction::triggered, nullptr, nullptr);
    connect(action, &QAction::triggered, this, [this, change] {
      if (BeginChange()) change();
    });
  }
  menu->exec(event->globalPos());
}

void TDBMemo::focusOutEvent(QFocusEvent* event) {
  // A menu opening or another window taking over is not leaving the pane.
  const Qt::FocusReason reason = event->reason();
  if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && modified_) {
    try {
      UpdateRecord();
    } catch (const std::exception& error) {
      // The text stays; the pane takes the focus back and says why.
      QPlainTextEdit::focusOutEvent(event);
      QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
      Report(error);
      return;
    }
  }
  QPlainTextEdit::focusOutEvent(event);
}

}  // namespace marrowick
