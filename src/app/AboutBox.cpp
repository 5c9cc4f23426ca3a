#include "app/AboutBox.h"

#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>

#include "app/ScreenCentre.h"
#include "platform/qt/AnsiText.h"

#if !defined(MARROWICK_WEB_ADDRESS) || !defined(MARROWICK_MAIL_ADDRESS) || \
    !defined(MARROWICK_MAKER) || !defined(MARROWICK_COPYRIGHT_YEAR)
#error "The build sets the maker and the about box's addresses (data/CMakeLists.txt)"
#endif

namespace marrowick {

std::string MakerWebAddress() { return MARROWICK_WEB_ADDRESS; }
std::string MakerMailAddress() { return MARROWICK_MAIL_ADDRESS; }
QString MakerLine() {
  return QStringLiteral("Copyright \u00A9 ") + QString::fromUtf8(MARROWICK_COPYRIGHT_YEAR) + QLatin1Char(' ') +
         QString::fromUtf8(MARROWICK_MAKER);
}

// ---- link label ----

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setCursor(Qt::PointingHandCursor);
  // An address too long for one line goes on to a second.
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setFocusPolicy(Qt::TabFocus);
  QFont bold(font());
  bold.setBold(true);
  setFont(bold);
  QPalette blue(palette());
  blue.setColor(QPalette::WindowText, Qt::blue);
  setPalette(blue);
}

void TLinkLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click) emit clicked();
}

void TLinkLabel::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    emit clicked();
    return;
  }
  QLabel::keyPressEvent(event);
}

// ---- about box ----

TAboutBox::TAboutBox(platform::IShell& shell, const QIcon& icon, QWidget* parent)
    : QDialog(parent), shell_(shell) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About Marrowick"));
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  panel_ = new QFrame(this);
  panel_->setObjectName(QStringLiteral("Panel1"));
  panel_->setFrameShape(QFrame::Panel);
  panel_->setFrameShadow(QFrame::Raised);
  panel_->setGeometry(8, 8, 282, 190);

  programIcon_ = new QLabel(panel_);
  programIcon_->setObjectName(QStringLiteral("ProgramIcon"));
  programIcon_->setGeometry(8, 8, 41, 33);
  programIcon_->setScaledContents(true);  // stretched to the 41 x 33 area
  programIcon_->setPixmap(icon.pixmap(QSize(48, 48)));

  productName_ = new QLabel(QStringLiteral("Marrowick"), panel_);
  productName_->setObjectName(QStringLiteral("ProductName"));
  productName_->setGeometry(64, 8, 200, 16);
  QFont bold(productName_->font());
  bold.setBold(true);
  productName_->setFont(bold);

  version_ = new QLabel(QStringLiteral("Version 1.0"), panel_);
  version_->setObjectName(QStringLiteral("Version"));
  version_->setGeometry(64, 28, 200, 16);

  copyright_ = new QLabel(MakerLine(), panel_);
  copyright_->setObjectName(QStringLiteral("Copyright"));
  copyright_->setGeometry(8, 56, 266, 16);

  comments_ = new QLabel(QString::fromLatin1(kComments), panel_);
  comments_->setObjectName(QStringLiteral("Comments"));
  comments_->setGeometry(8, 78, 266, 36);
  comments_->setWordWrap(true);
  comments_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  mailLink_ = new TLinkLabel(QStringLiteral("Email Us at ") + platform::AnsiToQString(MakerMailAddress()), panel_);
  mailLink_->setObjectName(QStringLiteral("MailLink"));
  mailLink_->setGeometry(8, 116, 266, 34);
  webLink_ = new TLinkLabel(QStringLiteral("Visit our website at ") + platform::AnsiToQString(MakerWebAddress()),
                            panel_);
  webLink_->setObjectName(QStringLiteral("WebLink"));
  webLink_->setGeometry(8, 150, 266, 34);

  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName(QStringLiteral("OKButton"));
  okButton_->setGeometry(111, 203, 75, 25);
  okButton_->setDefault(true);

  connect(mailLink_, &TLinkLabel::clicked, this, &TAboutBox::MailLinkClick);
  connect(webLink_, &TLinkLabel::clicked, this, &TAboutBox::WebLinkClick);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::MailLinkClick() { shell_.OpenAddress("Mailto:" + MakerMailAddress()); }

void TAboutBox::WebLinkClick() { shell_.OpenAddress(MakerWebAddress()); }

void TAboutBox::showEvent(QShowEvent* event) {
  MoveToScreenCentre(*this);
  QDialog::showEvent(event);
  okButton_->setFocus();
}

void ShowAboutBox(platform::IShell& shell, const QIcon& icon, QWidget* owner) {
  QPointer<TAboutBox> box = new TAboutBox(shell, icon, owner);
  box->exec();
  delete box.data();
}

}  // namespace marrowick
