#include "app/MainForm.h"

#include <cstdint>
#include <stdexcept>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QShowEvent>
#include <QWidget>

#include "platform/qt/ProgramDirectory.h"

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

TMainForm::TMainForm(TMainFormServices services, QWidget* parent)
    : QMainWindow(parent),
      table_(std::move(services.Table)),
      createSettings_(std::move(services.CreateSettings)),
      programDirectory_(std::move(services.ProgramDirectory)),
      quitApplication_(std::move(services.QuitApplication)),
      errorDisplay_(BoxesOf(services, ownBoxes_)) {
  if (!table_) throw std::invalid_argument("TMainForm needs a site table");
  if (!createSettings_) createSettings_ = platform::CreateSettingsStore;
  if (!programDirectory_) programDirectory_ = platform::ProgramDirectory;
  if (!quitApplication_) quitApplication_ = [] { QCoreApplication::exit(0); };
  if (auto* own = dynamic_cast<platform::TQtMessageBoxes*>(ownBoxes_.get())) own->SetParent(this);

  setWindowTitle(QString::fromLatin1(kCaption));
  setCentralWidget(new QWidget(this));
  move(kDesignLeft, kDesignTop);
  SetFrameSize(QSize(kDesignWidth, kDesignHeight));
}

TMainForm::~TMainForm() = default;

void TMainForm::Create() {
  errorDisplay_.Run([this] { FormCreate(); });
}

void TMainForm::FormCreate() {
  programDir_ = programDirectory_();
  const std::string tablePath = programDir_ + kTableFileName;
  if (!platform::FileExistsIgnoringCase(tablePath)) {
    // The program never creates its catalogue: it runs with the table closed.
    errorDisplay_.MessageBoxes().ShowNotice(kTableMissingMessage);
    return;
  }
  table_->SetTableName(tablePath);
  table_->SetActive(true);
  RestorePlacement();
  SyncColumnsMenu();
}

void TMainForm::SyncColumnsMenu() {}

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

void TMainForm::Exit1Click() {
  // The event loop ends without closing the window, so the placement is not
  // saved on this path.
  table_->SetActive(false);
  quitApplication_();
}

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
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // A placement that cannot be stored is reported; the window closes anyway,
  // so a store the user may not write does not keep the program open.
  errorDisplay_.Run([this] { FormClose(); });
  QMainWindow::closeEvent(event);
}

}  // namespace marrowick
