// The help viewer: a window of the program that shows the help file (HTML,
// shipped beside the executable as MARROWICK.HLP) at a topic, which is the
// name of an anchor in the file. Links inside the file move within it, with
// Back and Forward; links to web or mail addresses go to the shell.
#pragma once

#include <optional>
#include <string>

#include <QWidget>

#include "platform/core/Shell.h"

class QTextBrowser;
class QToolButton;
class QUrl;

namespace marrowick {

inline constexpr const char* kHelpFileName = "MARROWICK.HLP";
inline constexpr const char* kHelpContentsTopic = "welcome";

// The help file's full path: a bare name is looked up in programDir (with
// its trailing '/'), a path as it stands; either without regard to the
// letter case of the file name, so "marrowick.hlp" finds MARROWICK.HLP.
// Nothing when no such file exists.
std::optional<std::string> ResolveHelpFile(const std::string& helpFile, const std::string& programDir);

class THelpViewer : public QWidget {
  Q_OBJECT

 public:
  THelpViewer(platform::IShell& shell, std::string programDir, QWidget* parent = nullptr);

  // Shows the window (raised, in front) with the help file at the topic.
  // False, and the window left as it was, when the file cannot be found or
  // read.
  bool ShowTopic(const std::string& helpFile, const std::string& topic);

  // The file shown, the topic shown last.
  const std::string& HelpFilePath() const { return helpPath_; }
  QTextBrowser* Browser() const { return browser_; }
  QToolButton* ContentsButton() const { return contents_; }
  QToolButton* BackButton() const { return back_; }
  QToolButton* ForwardButton() const { return forward_; }

 private:
  void LinkClicked(const QUrl& link);

  platform::IShell& shell_;
  std::string programDir_;
  std::string helpPath_;
  QTextBrowser* browser_;
  QToolButton* contents_;
  QToolButton* back_;
  QToolButton* forward_;
};

}  // namespace marrowick
