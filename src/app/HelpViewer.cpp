#include "app/HelpViewer.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/core/PosixFile.h"
#include "platform/qt/AnsiText.h"

namespace marrowick {

std::optional<std::string> ResolveHelpFile(const std::string& helpFile, const std::string& programDir) {
  if (helpFile.empty()) return std::nullopt;
  const std::string path = helpFile.find('/') == std::string::npos ? programDir + helpFile : helpFile;
  std::string resolved;
  if (::platform::ResolveFileName(path, resolved) != 0) return std::nullopt;
  if (!QFileInfo(QFile::decodeName(resolved.c_str())).isFile()) return std::nullopt;
  return resolved;
}

THelpViewer::THelpViewer(platform::IShell& shell, std::string programDir, QWidget* parent)
    : QWidget(parent, Qt::Window), shell_(shell), programDir_(std::move(programDir)) {
  setObjectName(QStringLiteral("HelpViewer"));
  setWindowTitle(QStringLiteral("Marrowick Help"));
  resize(640, 520);

  contents_ = new QToolButton(this);
  contents_->setObjectName(QStringLiteral("HelpContents"));
  contents_->setText(QStringLiteral("&Contents"));
  back_ = new QToolButton(this);
  back_->setObjectName(QStringLiteral("HelpBack"));
  back_->setText(QStringLiteral("&Back"));
  back_->setEnabled(false);
  forward_ = new QToolButton(this);
  forward_->setObjectName(QStringLiteral("HelpForward"));
  forward_->setText(QStringLiteral("&Forward"));
  forward_->setEnabled(false);

  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("HelpBrowser"));
  // Every link comes to LinkClicked: the file's own links are followed
  // here, and nothing else is ever loaded into the viewer.
  browser_->setOpenLinks(false);
  browser_->setOpenExternalLinks(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(contents_);
  buttons->addWidget(back_);
  buttons->addWidget(forward_);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(buttons);
  layout->addWidget(browser_, 1);

  connect(browser_, &QTextBrowser::anchorClicked, this, &THelpViewer::LinkClicked);
  connect(browser_, &QTextBrowser::backwardAvailable, back_, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QWidget::setEnabled);
  connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
  connect(contents_, &QToolButton::clicked, this, [this] {
    if (!helpPath_.empty()) ShowTopic(helpPath_, kHelpContentsTopic);
  });
}

bool THelpViewer::ShowTopic(const std::string& helpFile, const std::string& topic) {
  const std::optional<std::string> path = ResolveHelpFile(helpFile, programDir_);
  if (!path) return false;
  QFile file(QFile::decodeName(path->c_str()));
  if (!file.open(QIODevice::ReadOnly)) return false;
  file.close();

  helpPath_ = *path;
  QUrl url = QUrl::fromLocalFile(file.fileName());
  if (!topic.empty()) url.setFragment(QString::fromStdString(topic));
  // The file is HTML whatever its extension says.
  browser_->setSource(url, QTextDocument::HtmlResource);
  show();
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  return true;
}

void THelpViewer::LinkClicked(const QUrl& link) {
  const QUrl target = browser_->source().resolved(link);
  if (target.isLocalFile()) {
    // Only the help file itself is shown; a link to another local file is
    // not followed.
    const QUrl page = target.adjusted(QUrl::RemoveFragment);
    if (page == browser_->source().adjusted(QUrl::RemoveFragment)) {
      browser_->setSource(target, QTextDocument::HtmlResource);
    }
    return;
  }
  shell_.OpenAddress(platform::QStringToAnsi(link.toString()));
}

}  // namespace marrowick
