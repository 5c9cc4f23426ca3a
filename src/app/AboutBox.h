// The about box: the program's icon, name and version, the maker, and two
// links, one that writes the maker a mail and one that opens the maker's
// web site. The addresses are set once in the build (the cache variables
// MARROWICK_WEB_ADDRESS and MARROWICK_MAIL_ADDRESS).
#pragma once

#include <string>

#include <QDialog>
#include <QIcon>
#include <QLabel>

#include "platform/core/Shell.h"

class QFrame;
class QPushButton;

namespace marrowick {

// The maker's addresses (ASCII) and the line naming the year and the maker,
// as built in.
std::string MakerWebAddress();
std::string MakerMailAddress();
QString MakerLine();

// A label that acts on a left click (press and release inside it) and, when
// it has the focus, on Enter or Space: blue, bold, with the hand cursor.
class TLinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TLinkLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool pressed_ = false;
};

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 298;
  static constexpr int kClientHeight = 238;
  static constexpr const char* kComments = "If you have any comments or sugestions please let us know.";

  TAboutBox(platform::IShell& shell, const QIcon& icon, QWidget* parent = nullptr);

  QLabel* ProgramIconLabel() const { return programIcon_; }
  QLabel* ProductName() const { return productName_; }
  QLabel* Version() const { return version_; }
  QLabel* Copyright() const { return copyright_; }
  QLabel* Comments() const { return comments_; }
  TLinkLabel* MailLink() const { return mailLink_; }
  TLinkLabel* WebLink() const { return webLink_; }
  QPushButton* OkButton() const { return okButton_; }

 public slots:
  // Opens "Mailto:" followed by the mail address through the shell.
  void MailLinkClick();
  // Opens the web address through the shell.
  void WebLinkClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  platform::IShell& shell_;
  QFrame* panel_;
  QLabel* programIcon_;
  QLabel* productName_;
  QLabel* version_;
  QLabel* copyright_;
  QLabel* comments_;
  TLinkLabel* mailLink_;
  TLinkLabel* webLink_;
  QPushButton* okButton_;
};

// Shows the about box modally over owner and destroys it when it closes.
void ShowAboutBox(platform::IShell& shell, const QIcon& icon, QWidget* owner);

}  // namespace marrowick
