// Helpers of the grid widget's tests: the sample catalogue (or given sites)
// in a temporary directory, opened as the program opens it, the program's
// grid over it (its layout kept in a settings store in memory) inside a
// window beside a notes field, fakes for the message boxes, clipboard and
// shell, the standard colour scheme, and a person's keys and clicks (keys go
// to whatever has the keyboard focus).
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/QtTestApplication.h"
#include "grid/model/GridTestSupport.h"
#include "grid/qt/DBGridWidget.h"
#include "grid/qt/GridHeader.h"
#include "grid/qt/GridItemModel.h"
#include "grid/qt/GridRowsView.h"
#include "grid/qt/GroupPanel.h"
#include "platform/core/ColorScheme.h"

namespace grid::qt::testing {

using namespace grid::testing;

// Waits, handling events, until the condition holds; false when it did not
// within a generous time.
inline bool WaitUntil(const std::function<bool()>& condition, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

class GridWidgetTest : public ::testing::Test {
 protected:
  // The sample catalogue unless sites are given.
  void Open(const std::vector<TSite>* sites = nullptr) {
    marrowick::testing::TestApplication();
    if (sites != nullptr) {
      CreateCatalogue(dir.Dir());
      FillCatalogue(dir.Dir(), *sites);
    } else {
      MakeSampleCatalogue(dir.Dir());
    }
    table = std::make_unique<TSiteTable>(dir.Dir());
    table->Table().Open();
    core = ProgramGrid(table.get(), marrowick::fakes::TMemorySettingsStore::Factory(settings));
    window = std::make_unique<QWidget>();
    auto* layout = new QHBoxLayout(window.get());
    widget = new TDBGridWidget(*core, {&boxes, &clipboard, &shell, &scheme}, window.get());
    widget->SetErrorHandler([this](const std::exception& e) { errors.push_back(e.what()); });
    notes = new QLineEdit(window.get());
    notes->setObjectName("Notes");
    layout->addWidget(widget, 1);
    layout->addWidget(notes);
    window->resize(900, 500);
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    widget->RowsView()->setFocus();
    QCoreApplication::processEvents();
  }

  void TearDown() override {
    if (window) window->close();
    window.reset();
    core.reset();
    table.reset();
  }

  tessel::TTesselTable& t() { return table->Table(); }
  TTreeListNode* Row(const std::string& url) { return DataNodeOf(*core, url); }
  int Col(const char* name) { return core->FindColumn(name)->Index(); }
  QWidget* Viewport() { return widget->RowsView()->viewport(); }

  // ---- A person's keys: to whatever holds the keyboard focus.
  void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QTest::keyClick(target, key, mods);
    QCoreApplication::processEvents();
  }
  void Type(const std::string& text) {
    for (char c : text) {
      QWidget* target = QApplication::focusWidget();
      ASSERT_NE(target, nullptr);
      QTest::keyClick(target, c);
    }
    QCoreApplication::processEvents();
  }

  // ---- Clicks on the rows, in the middle of a cell.
  QPoint CellPoint(TTreeListNode* node, int column) {
    // A row inside a collapsed group is shown first, as a person opens it.
    core->MakeNodeVisible(node);
    widget->RowsView()->scrollTo(widget->Model()->IndexOf(node, column));
    QRect cell = widget->CellRect(node, column);
    EXPECT_FALSE(cell.isEmpty());
    return cell.center();
  }
  void Click(QWidget* target, QPoint pos, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::mousePress(target, Qt::LeftButton, mods, pos);
    QTest::mouseRelease(target, Qt::LeftButton, mods, pos);
    QCoreApplication::processEvents();
  }
  // Press, release, the second press the system reports as a double click,
  // release.
  void DoubleClick(QWidget* target, QPoint pos) {
    QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, pos);
    QCoreApplication::processEvents();
  }
  void ClickCell(TTreeListNode* node, int column) { Click(Viewport(), CellPoint(node, column)); }

  // ---- Dragging with the left button held: from a point of one widget to
  // points given in the grid widget's coordinates.
  void Drag(QWidget* from, QPoint start, const std::vector<QPoint>& gridPoints) {
    QTest::mousePress(from, Qt::LeftButton, Qt::NoModifier, start);
    for (QPoint p : gridPoints) QTest::mouseMove(from, from->mapFrom(widget, p));
    QTest::mouseRelease(from, Qt::LeftButton, Qt::NoModifier, from->mapFrom(widget, gridPoints.back()));
    QCoreApplication::processEvents();
  }

  // ---- Headers, in the header's viewport.
  QWidget* HeaderPort() { return widget->Header()->viewport(); }
  QRect HeaderRect(int column) {
    QHeaderView* h = widget->Header();
    return QRect(h->sectionViewportPosition(column), 0, h->sectionSize(column), h->viewport()->height());
  }
  void ClickHeader(const char* column, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Click(HeaderPort(), HeaderRect(Col(column)).center(), mods);
  }
  // A point of the header in the grid widget's coordinates.
  QPoint HeaderInGrid(QPoint p) { return HeaderPort()->mapTo(widget, p); }

  TempDir dir;
  std::unique_ptr<TSiteTable> table;
  std::unique_ptr<TDBGrid> core;
  std::unique_ptr<QWidget> window;
  TDBGridWidget* widget = nullptr;
  QLineEdit* notes = nullptr;
  marrowick::fakes::TMemorySettingsState settings;
  marrowick::fakes::TFakeMessageBoxes boxes;
  marrowick::fakes::TFakeClipboard clipboard;
  marrowick::fakes::TFakeShell shell;
  marrowick::platform::TStandardColorScheme scheme;
  std::vector<std::string> errors;
};

}  // namespace grid::qt::testing
