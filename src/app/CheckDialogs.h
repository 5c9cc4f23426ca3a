// What the user sees of Check Catalogue: a progress bar while the engine's
// check or repair runs, then the report (a summary and the findings) with a
// Repair button when there is something to repair. Tests answer the same
// interface ahead of time.
#pragma once

#include <string>

#include <QDialog>

#include "app/CatalogueCheck.h"

class QLabel;
class QPlainTextEdit;
class QProgressDialog;
class QPushButton;
class QWidget;

namespace marrowick {

class ICheckDialogs {
 public:
  virtual ~ICheckDialogs() = default;

  // A check or repair runs: the title says which; Progress reports its
  // thousandths until EndProgress.
  virtual void BeginProgress(const std::string& title) = 0;
  virtual void Progress(int permille) = 0;
  virtual void EndProgress() = 0;

  // The report of a check or repair. With offerRepair the user may ask for
  // the repair: true when the user did.
  virtual bool ShowReport(const TCatalogueCheckReport& report, bool offerRepair) = 0;
};

// The report as a dialog "CheckReport": the summary ("Summary"), the
// findings ("Findings", read-only), and the buttons "Repair" (when offered)
// and "Close".
class TCheckReportDialog : public QDialog {
  Q_OBJECT

 public:
  TCheckReportDialog(const TCatalogueCheckReport& report, bool offerRepair, QWidget* parent = nullptr);

  QLabel* Summary() const { return summary_; }
  QPlainTextEdit* Findings() const { return findings_; }
  QPushButton* RepairButton() const { return repair_; }
  QPushButton* CloseButton() const { return close_; }

 private:
  QLabel* summary_;
  QPlainTextEdit* findings_;
  QPushButton* repair_ = nullptr;
  QPushButton* close_;
};

// The real dialogs, modal over parent.
class TQtCheckDialogs : public ICheckDialogs {
 public:
  explicit TQtCheckDialogs(QWidget* parent) : parent_(parent) {}
  ~TQtCheckDialogs() override;

  void BeginProgress(const std::string& title) override;
  void Progress(int permille) override;
  void EndProgress() override;
  bool ShowReport(const TCatalogueCheckReport& report, bool offerRepair) override;

 private:
  QWidget* parent_;
  QProgressDialog* progress_ = nullptr;
};

}  // namespace marrowick
