// The "Site Info" dialog through which Add and Edit take a site's values:
// name, URL, category, login and password. The dialog only collects texts;
// the site commands store them. OK is refused, silently, while the name, the
// URL or the category is empty; Cancel, Escape and the title bar's close
// button end the dialog without values.
#pragma once

#include <optional>
#include <string>

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace marrowick {

// What the dialog returns on OK. Texts are Windows-1252 bytes; a character
// the code page cannot hold arrives as '?'. Category is one of the fifteen
// site categories (never empty on OK).
struct TSiteValues {
  std::string Name;
  std::string Url;
  std::string Category;
  std::string Login;
  std::string Password;
  friend bool operator==(const TSiteValues&, const TSiteValues&) = default;
};

// A stored site as Edit hands it to the dialog; a null field is empty.
struct TSiteRecordValues {
  std::optional<std::string> Name;
  std::optional<std::string> Url;
  std::optional<std::string> Category;
  std::optional<std::string> Login;
  std::optional<std::string> Password;
};

class TOKBottomDlg : public QDialog {
  Q_OBJECT

 public:
  // The client area; wider only when the desktop's font needs more room
  // for the labels.
  static constexpr int kClientWidth = 337;
  static constexpr int kClientHeight = 183;
  static constexpr const char* kCaption = "Site Info";
  static constexpr const char* kInitialUrl = "http://";
  // The longest texts the site table's fields hold; longer typing would be
  // cut short silently when stored.
  static constexpr int kNameLength = 60;
  static constexpr int kUrlLength = 100;
  static constexpr int kLoginLength = 30;
  static constexpr int kPasswordLength = 30;

  explicit TOKBottomDlg(QWidget* parent = nullptr);

  // Fills the controls from a stored site, as Edit does: name and URL
  // replace the initial texts (a null value leaves the initial text), the
  // category selects the list item equal to it ignoring case (none when no
  // item matches or the value is null), login and password are set only
  // when they are not null.
  void LoadValues(const TSiteRecordValues& site);

  // The controls' current texts.
  TSiteValues Values() const;

  // Whether OK would close the dialog now: name, URL and category are not
  // empty. Texts are not trimmed, so "   " counts as a name.
  bool CanAccept() const;

  QLineEdit* NameEdit() const { return edit1_; }
  QLineEdit* UrlEdit() const { return edit2_; }
  QComboBox* CategoryList() const { return comboBox1_; }
  QLineEdit* LoginEdit() const { return edit5_; }
  QLineEdit* PasswordEdit() const { return edit6_; }
  QPushButton* OkButton() const { return bitBtn1_; }
  QPushButton* CancelButton() const { return bitBtn2_; }

 public slots:
  // OK: closes with the OK result when CanAccept, else does nothing at all
  // (no message, no change of focus).
  void BitBtn1Click();
  // Cancel: closes with the Cancel result.
  void BitBtn2Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* AddLabel(const char* text, int top);

  int labelWidth_ = 0;
  QFrame* bevel_;
  QLineEdit* edit1_;
  QLineEdit* edit2_;
  QComboBox* comboBox1_;
  QLineEdit* edit5_;
  QLineEdit* edit6_;
  QPushButton* bitBtn1_;
  QPushButton* bitBtn2_;
};

// How the site commands ask for a site's values; tests answer it.
class ISiteDialog {
 public:
  virtual ~ISiteDialog() = default;
  // Shows the dialog modally, loaded from site when given (Edit) or with
  // its initial contents (Add). The values on OK; nothing on Cancel.
  virtual std::optional<TSiteValues> Execute(const TSiteRecordValues* site) = 0;
};

// The real dialog, owned by the given window while it is shown.
class TSiteDialogRunner : public ISiteDialog {
 public:
  explicit TSiteDialogRunner(QWidget* owner) : owner_(owner) {}
  std::optional<TSiteValues> Execute(const TSiteRecordValues* site) override;

 private:
  QWidget* owner_;
};

}  // namespace marrowick
