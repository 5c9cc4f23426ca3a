// The export dialog (which columns, which format) and the save dialog that
// asks for the file. Both hand plain values to the export command: the
// column choice, the format, and the chosen file name.
#pragma once

#include <optional>
#include <string>

#include <QDialog>

class QCheckBox;
class QFileDialog;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace marrowick {

// The radio items of the format choice, by position. Bookmarks: the file
// browsers import, one folder per category.
enum class TExportFormat { Html = 0, Excel = 1, Text = 2, Bookmarks = 3 };
inline constexpr int kExportFormatCount = 4;

// The dialog's answer: the format and, per grid column, whether to export it.
struct TExportChoice {
  TExportFormat Format = TExportFormat::Html;
  bool Name = true;      // Site Name
  bool Url = true;       // Site Url
  bool Category = true;  // Site Category
  bool Login = true;     // Site Login
  bool Password = true;  // Site Password
  friend bool operator==(const TExportChoice&, const TExportChoice&) = default;
};

class TfrmExport : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 330;
  static constexpr int kClientHeight = 195;

  explicit TfrmExport(QWidget* parent = nullptr);

  TExportChoice Choice() const;

  QGroupBox* ColumnsBox() const { return groupBox1_; }
  QCheckBox* NameBox() const { return name_; }
  QCheckBox* UrlBox() const { return url_; }
  QCheckBox* CategoryBox() const { return category_; }
  QCheckBox* LoginBox() const { return login_; }
  QCheckBox* PasswordBox() const { return password_; }
  QGroupBox* FormatGroup() const { return exportFormat_; }
  QRadioButton* FormatItem(TExportFormat format) const;
  QPushButton* OkButton() const { return bitBtn1_; }
  QPushButton* CancelButton() const { return bitBtn2_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QGroupBox* groupBox1_;
  QCheckBox* name_;
  QCheckBox* url_;
  QCheckBox* category_;
  QCheckBox* login_;
  QCheckBox* password_;
  QGroupBox* exportFormat_;
  QRadioButton* formats_[kExportFormatCount];
  QPushButton* bitBtn1_;
  QPushButton* bitBtn2_;
};

// How the export command asks for the columns and the format; tests answer
// it. Nothing when the user cancels.
class IExportDialog {
 public:
  virtual ~IExportDialog() = default;
  virtual std::optional<TExportChoice> Execute() = 0;
};

// The real dialog, created anew (all columns checked, HTML selected) for
// each export and owned by the given window while it is shown.
class TExportDialogRunner : public IExportDialog {
 public:
  explicit TExportDialogRunner(QWidget* owner) : owner_(owner) {}
  std::optional<TExportChoice> Execute() override;

 private:
  QWidget* owner_;
};

// ---- the save dialog ----

// What the save dialog is asked: its title, its one filter pattern (no
// description), the extension added to a name typed without one, and
// whether replacing an existing file is confirmed first.
struct TSaveDialogRequest {
  std::string Title;
  std::string Filter;
  std::string DefaultExtension;
  bool OverwritePrompt = true;
  friend bool operator==(const TSaveDialogRequest&, const TSaveDialogRequest&) = default;
};

// The request for each export format: "Export to HTML" / "*.HTML" / "HTML",
// "Export to Excel" / "*.xls" / "xls", "Export to TXT" / "*.TXT" / "TXT",
// "Export to Bookmarks" / "*.html" / "html".
TSaveDialogRequest SaveRequestFor(TExportFormat format);

// The save dialog of the main window. It is one object for every export,
// so it offers the file name chosen last.
class ISaveDialog {
 public:
  virtual ~ISaveDialog() = default;
  // The chosen file as a local path (the file system's bytes, not
  // Windows-1252), with the default extension added when the user typed
  // none; nothing when the user cancels.
  virtual std::optional<std::string> Execute(const TSaveDialogRequest& request) = 0;
};

// The save dialog as a QFileDialog: prompts before overwriting, resizable.
class TQtSaveDialog : public ISaveDialog {
 public:
  explicit TQtSaveDialog(QWidget* owner) : owner_(owner) {}
  std::optional<std::string> Execute(const TSaveDialogRequest& request) override;

  // Sets up dialog for the request, starting at the last chosen name.
  void Configure(QFileDialog& dialog, const TSaveDialogRequest& request) const;
  const std::string& LastFileName() const { return lastFileName_; }

 private:
  QWidget* owner_;
  std::string lastFileName_;
};

}  // namespace marrowick
