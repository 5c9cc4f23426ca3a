#include "app/SiteDialog.h"

#include <algorithm>

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "app/ScreenCentre.h"
#include "app/SiteCategories.h"
#include "platform/qt/AnsiText.h"

namespace marrowick {

namespace {

// Layout: labels at x 16, fields at x 96 and 225 wide, one row every 24
// pixels, inside a bevel; the buttons below it.
constexpr int kLabelLeft = 16;
constexpr int kFieldLeft = 96;
constexpr int kFieldWidth = 225;
constexpr int kFieldHeight = 21;
constexpr int kFirstRowTop = 20;
constexpr int kRowStep = 24;
constexpr int kButtonTop = 150;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

constexpr const char* kLabels[] = {"Site Name:", "Site URL:", "Site Type:", "Site Login:", "Site Password:"};

QLineEdit* AddEdit(QWidget* parent, const char* objectName, int left, int top, int maxLength) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setGeometry(left, top, kFieldWidth, kFieldHeight);
  edit->setMaxLength(maxLength);
  return edit;
}

}  // namespace

TOKBottomDlg::TOKBottomDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("OKBottomDlg"));
  setWindowTitle(QString::fromLatin1(kCaption));

  // The design places the fields at x 96. A desktop font wider than the
  // design's moves them right, and widens the dialog, rather than cut the
  // labels short.
  int widestLabel = 0;
  for (const char* text : kLabels)
    widestLabel = std::max(widestLabel, fontMetrics().horizontalAdvance(QString::fromLatin1(text)));
  const int fieldLeft = std::max(kFieldLeft, kLabelLeft + widestLabel + 6);
  const int extra = fieldLeft - kFieldLeft;
  labelWidth_ = fieldLeft - kLabelLeft - 2;
  setFixedSize(kClientWidth + extra, kClientHeight);
  setSizeGripEnabled(false);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  bevel_ = new QFrame(this);
  bevel_->setObjectName(QStringLiteral("Bevel1"));
  bevel_->setFrameShape(QFrame::Box);
  bevel_->setFrameShadow(QFrame::Sunken);
  bevel_->setGeometry(8, 8, 321 + extra, 134);

  // Rows top to bottom: name, URL, type, login, password.
  AddLabel(kLabels[0], kFirstRowTop);
  edit1_ = AddEdit(this, "Edit1", fieldLeft, kFirstRowTop, kNameLength);
  AddLabel(kLabels[1], kFirstRowTop + kRowStep);
  edit2_ = AddEdit(this, "Edit2", fieldLeft, kFirstRowTop + kRowStep, kUrlLength);
  edit2_->setText(QString::fromLatin1(kInitialUrl));

  AddLabel(kLabels[2], kFirstRowTop + 2 * kRowStep);
  comboBox1_ = new QComboBox(this);
  comboBox1_->setObjectName(QStringLiteral("ComboBox1"));
  comboBox1_->setGeometry(fieldLeft, kFirstRowTop + 2 * kRowStep, kFieldWidth, kFieldHeight);
  comboBox1_->setEditable(false);  // selection only, no free text
  for (std::string_view category : kSiteCategories) comboBox1_->addItem(platform::AnsiToQString(category));
  comboBox1_->setMaxVisibleItems(static_cast<int>(kSiteCategories.size()));
  comboBox1_->setCurrentIndex(-1);

  AddLabel(kLabels[3], kFirstRowTop + 3 * kRowStep);
  edit5_ = AddEdit(this, "Edit5", fieldLeft, kFirstRowTop + 3 * kRowStep, kLoginLength);
  AddLabel(kLabels[4], kFirstRowTop + 4 * kRowStep);
  // Shown in clear: the catalogue is where the user looks passwords up.
  edit6_ = AddEdit(this, "Edit6", fieldLeft, kFirstRowTop + 4 * kRowStep, kPasswordLength);

  bitBtn1_ = new QPushButton(QStringLiteral("OK"), this);
  bitBtn1_->setObjectName(QStringLiteral("BitBtn1"));
  bitBtn1_->setGeometry(72 + extra / 2, kButtonTop, kButtonWidth, kButtonHeight);
  bitBtn1_->setDefault(true);
  bitBtn2_ = new QPushButton(QStringLiteral("Cancel"), this);
  bitBtn2_->setObjectName(QStringLiteral("BitBtn2"));
  bitBtn2_->setGeometry(184 + extra / 2, kButtonTop, kButtonWidth, kButtonHeight);
  bitBtn2_->setAutoDefault(false);

  // Tab order: name, URL, login, password, then the type list, OK, Cancel.
  setTabOrder(edit1_, edit2_);
  setTabOrder(edit2_, edit5_);
  setTabOrder(edit5_, edit6_);
  setTabOrder(edit6_, comboBox1_);
  setTabOrder(comboBox1_, bitBtn1_);
  setTabOrder(bitBtn1_, bitBtn2_);

  connect(bitBtn1_, &QPushButton::clicked, this, &TOKBottomDlg::BitBtn1Click);
  connect(bitBtn2_, &QPushButton::clicked, this, &TOKBottomDlg::BitBtn2Click);
}

QLabel* TOKBottomDlg::AddLabel(const char* text, int top) {
  auto* label = new QLabel(QString::fromLatin1(text), this);
  label->setGeometry(kLabelLeft, top, labelWidth_, kFieldHeight);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

void TOKBottomDlg::LoadValues(const TSiteRecordValues& site) {
  if (site.Url) edit2_->setText(platform::AnsiToQString(*site.Url));
  if (site.Name) edit1_->setText(platform::AnsiToQString(*site.Name));
  std::optional<std::size_t> category;
  if (site.Category) category = FindSiteCategory(*site.Category);
  comboBox1_->setCurrentIndex(category ? static_cast<int>(*category) : -1);
  if (site.Login) edit5_->setText(platform::AnsiToQString(*site.Login));
  if (site.Password) edit6_->setText(platform::AnsiToQString(*site.Password));
}

TSiteValues TOKBottomDlg::Values() const {
  TSiteValues values;
  values.Name = platform::QStringToAnsi(edit1_->text());
  values.Url = platform::QStringToAnsi(edit2_->text());
  if (comboBox1_->currentIndex() >= 0) values.Category = platform::QStringToAnsi(comboBox1_->currentText());
  values.Login = platform::QStringToAnsi(edit5_->text());
  values.Password = platform::QStringToAnsi(edit6_->text());
  return values;
}

bool TOKBottomDlg::CanAccept() const {
  return !edit1_->text().isEmpty() && !edit2_->text().isEmpty() && comboBox1_->currentIndex() >= 0;
}

void TOKBottomDlg::BitBtn1Click() {
  if (CanAccept()) accept();
}

// Escape and the title bar's close button reach QDialog::reject as well, so
// every way out but OK is Cancel, also after a refused OK.
void TOKBottomDlg::BitBtn2Click() { reject(); }

void TOKBottomDlg::showEvent(QShowEvent* event) {
  MoveToScreenCentre(*this);
  QDialog::showEvent(event);
}

std::optional<TSiteValues> TSiteDialogRunner::Execute(const TSiteRecordValues* site) {
  QPointer<TOKBottomDlg> dialog = new TOKBottomDlg(owner_);
  if (site != nullptr) dialog->LoadValues(*site);
  const int result = dialog->exec();
  // The owner may be gone when the program ended during the dialog.
  if (dialog.isNull()) return std::nullopt;
  std::optional<TSiteValues> values;
  if (result == QDialog::Accepted) values = dialog->Values();
  delete dialog.data();
  return values;
}

}  // namespace marrowick
