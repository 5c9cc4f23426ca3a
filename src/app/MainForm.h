// The program's one window: start-up (opening the site table, restoring the
// window placement), the minimum size, and the two ways the program ends.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QMainWindow>
#include <QSize>

#include "app/ErrorDisplay.h"
#include "app/SiteTable.h"
#include "platform/qt/MessageBoxes.h"
#include "platform/qt/SettingsStore.h"

namespace marrowick {

// What the window is given by whoever creates it. Empty functions take the
// real platform: the executable's directory and ending the event loop.
struct TMainFormServices {
  std::unique_ptr<ISiteTable> Table;
  platform::SettingsStoreFactory CreateSettings;
  platform::IMessageBoxes* MessageBoxes = nullptr;  // not owned; must outlive the window
  std::function<std::string()> ProgramDirectory;
  std::function<void()> QuitApplication;
};

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kDesignLeft = 242;
  static constexpr int kDesignTop = 70;
  static constexpr int kDesignWidth = 528;
  static constexpr int kDesignHeight = 399;
  static constexpr int kMinimumWidth = 500;
  static constexpr int kMinimumHeight = 300;

  static constexpr const char* kCaption = "Marrowick";
  static constexpr const char* kTableFileName = "linksdata.dat";
  static constexpr const char* kPlacementKey = "Software\\Tolvane\\Marrowick";
  static constexpr const char* kTableMissingMessage =
      "Links information not found please redownload or reinstall Marrowick";

  explicit TMainForm(TMainFormServices services, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Runs the creation handler through the error display; the creator calls
  // it once, right after constructing the window.
  void Create();

  // Handlers.
  void FormCreate();
  void FormResize();
  void FormClose();
  void Exit1Click();

  const std::string& ProgramDir() const { return programDir_; }
  ISiteTable& DBTable() { return *table_; }
  TErrorDisplay& ErrorDisplay() { return errorDisplay_; }

  // The placement as the settings store keeps it: the frame's position and
  // size. Before the window system has framed the window they equal the
  // window's own geometry.
  int FrameLeft() const;
  int FrameTop() const;
  int FrameWidth() const;
  int FrameHeight() const;
  void SetFrameLeft(int left);
  void SetFrameTop(int top);
  void SetFrameWidth(int width);
  void SetFrameHeight(int height);

 protected:
  // Sets the View > Columns check marks from the grid's column visibility;
  // runs at the end of a successful start. The menu and grid are not built
  // yet, so there is nothing to set.
  virtual void SyncColumnsMenu();

  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void RestorePlacement();
  void SavePlacement();
  void SetFrameSize(QSize frameSize);
  QSize FrameExtent() const;
  void ApplyPendingFrameSize();

  std::unique_ptr<ISiteTable> table_;
  platform::SettingsStoreFactory createSettings_;
  std::function<std::string()> programDirectory_;
  std::function<void()> quitApplication_;
  std::unique_ptr<platform::IMessageBoxes> ownBoxes_;  // when none was given
  TErrorDisplay errorDisplay_;
  std::string programDir_;

  // A frame size set before the window system reported the frame's extent;
  // applied once the extent is known, so a stored size does not grow by the
  // frame on every start.
  std::optional<QSize> pendingFrameSize_;
  bool inResize_ = false;
};

}  // namespace marrowick
