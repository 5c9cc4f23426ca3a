#include "app/MainMenus.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QToolButton>
#include <QWidget>

#include "app/QuickFindBox.h"

namespace marrowick {

namespace {

QAction* AddItem(QMenu* menu, const char* name, const char* caption, const std::function<void()>& handler,
                 bool checkable = false) {
  QAction* action = menu->addAction(QString::fromLatin1(caption));
  action->setObjectName(QString::fromLatin1(name));
  action->setCheckable(checkable);
  if (checkable) action->setChecked(true);
  QObject::connect(action, &QAction::triggered, menu, [handler] {
    if (handler) handler();
  });
  return action;
}

// An item with a key: in the menu bar the key works throughout the window;
// in a popup menu it is shown, and works only while the menu is open, so
// that the two never compete for the key.
QAction* AddKeyItem(QMenu* menu, const char* name, const char* caption, const char* key,
                    const std::function<void()>& handler, bool popup = false) {
  QAction* action = AddItem(menu, name, caption, handler);
  action->setShortcut(QKeySequence(QString::fromLatin1(key)));
  action->setShortcutContext(popup ? Qt::WidgetShortcut : Qt::WindowShortcut);
  return action;
}

QMenu* AddMenu(QMenuBar& bar, const char* name, const char* caption) {
  QMenu* menu = bar.addMenu(QString::fromLatin1(caption));
  menu->setObjectName(QString::fromLatin1(name));
  return menu;
}

QToolButton* AddButton(QWidget* panel, const char* name, const char* hint, int left, TGlyph glyph,
                       const std::function<void()>& handler) {
  auto* button = new QToolButton(panel);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(QString::fromLatin1(hint));
  button->setIcon(ToolbarGlyph(glyph));
  button->setIconSize(QSize(16, 16));
  button->setAutoRaise(true);  // flat until the mouse is over it
  button->setFocusPolicy(Qt::NoFocus);
  button->setGeometry(left, 8, 23, 22);
  QObject::connect(button, &QToolButton::clicked, panel, [handler] {
    if (handler) handler();
  });
  return button;
}

}  // namespace

void BuildMainMenus(QMenuBar& bar, QWidget* owner, const TMainMenuHandlers& h, TMainMenus& m) {
  m.File = AddMenu(bar, "File1", "&File");
  m.ImportBookmarks1 = AddItem(m.File, "ImportBookmarks1", "&Import Bookmarks...", h.ImportBookmarks1Click);
  m.Export1 = AddItem(m.File, "Export1", "Export", h.Export1Click);
  m.File->addSeparator();
  m.Exit1 = AddItem(m.File, "Exit1", "&Exit", h.Exit1Click);

  m.Sites = AddMenu(bar, "Sites1", "&Sites");
  m.Add1 = AddItem(m.Sites, "Add1", "&Add Site", h.Add1Click);
  m.Edit1 = AddItem(m.Sites, "Edit1", "&Edit Site", h.Edit1Click);
  m.Delete1 = AddItem(m.Sites, "Delete1", "&Delete Site", h.Delete1Click);
  m.Sites->addSeparator();
  m.ViewSite2 = AddItem(m.Sites, "ViewSite2", "View Site", h.SpeedButton4Click);
  m.Sites->addSeparator();
  m.CopyUrl1 = AddKeyItem(m.Sites, "CopyUrl1", "Copy &URL", "Ctrl+U", h.CopyUrl1Click);
  m.CopyLogin1 = AddKeyItem(m.Sites, "CopyLogin1", "Copy &Login", "Ctrl+B", h.CopyLogin1Click);
  m.CopyPassword1 = AddKeyItem(m.Sites, "CopyPassword1", "Copy &Password", "Ctrl+Shift+C", h.CopyPassword1Click);

  m.View = AddMenu(bar, "View1", "View");
  m.Columns1 = m.View->addMenu(QStringLiteral("Columns"));
  m.Columns1->setObjectName(QStringLiteral("Columns1"));
  // Password comes before Login here, as the window has always had it.
  m.Category1 = AddItem(m.Columns1, "Category1", "Site Category", h.Category1Click, true);
  m.SiteName1 = AddItem(m.Columns1, "SiteName1", "Site Name", h.SiteName1Click, true);
  m.SiteURL1 = AddItem(m.Columns1, "SiteURL1", "Site URL", h.SiteURL1Click, true);
  m.SitePassword1 = AddItem(m.Columns1, "SitePassword1", "Site Password", h.SitePassword1Click, true);
  m.SiteLogin1 = AddItem(m.Columns1, "SiteLogin1", "Site Login", h.SiteLogin1Click, true);
  m.View->addSeparator();
  m.Refresh1 = AddKeyItem(m.View, "Refresh1", "&Refresh", "F5", h.Refresh1Click);

  m.Tools = AddMenu(bar, "Tools1", "&Tools");
  m.CheckCatalogue1 = AddItem(m.Tools, "CheckCatalogue1", "&Check Catalogue", h.CheckCatalogue1Click);

  m.Help = AddMenu(bar, "Help1", "&Help");
  m.Help2 = AddItem(m.Help, "Help2", "&Help", h.Help2Click);
  m.Help->addSeparator();
  m.About1 = AddItem(m.Help, "About1", "&About", h.About1Click);

  m.PopupMenu1 = new QMenu(owner);
  m.PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  m.AddSite1 = AddItem(m.PopupMenu1, "AddSite1", "Add Site", h.Add1Click);
  m.EditSite1 = AddItem(m.PopupMenu1, "EditSite1", "Edit Site", h.Edit1Click);
  m.DeleteSite1 = AddItem(m.PopupMenu1, "DeleteSite1", "Delete Site", h.Delete1Click);
  m.PopupMenu1->addSeparator();
  m.ViewSite1 = AddItem(m.PopupMenu1, "ViewSite1", "View Site", h.SpeedButton4Click);
  m.PopupMenu1->addSeparator();
  m.CopyUrl2 = AddKeyItem(m.PopupMenu1, "CopyUrl2", "Copy URL", "Ctrl+U", h.CopyUrl1Click, true);
  m.CopyLogin2 = AddKeyItem(m.PopupMenu1, "CopyLogin2", "Copy Login", "Ctrl+B", h.CopyLogin1Click, true);
  m.CopyPassword2 =
      AddKeyItem(m.PopupMenu1, "CopyPassword2", "Copy Password", "Ctrl+Shift+C", h.CopyPassword1Click, true);
}

QWidget* BuildToolbar(QWidget* parent, const TMainMenuHandlers& h, TMainMenus& m) {
  auto* panel = new QWidget(parent);
  panel->setObjectName(QStringLiteral("ToolbarPanel"));
  panel->setFixedHeight(kToolbarHeight);
  m.SpeedButton1 = AddButton(panel, "SpeedButton1", "Add Site", 8, TGlyph::Add, h.Add1Click);
  m.SpeedButton2 = AddButton(panel, "SpeedButton2", "Edit Site", 40, TGlyph::Edit, h.Edit1Click);
  m.SpeedButton3 = AddButton(panel, "SpeedButton3", "Delete Site", 72, TGlyph::Delete, h.Delete1Click);
  m.SpeedButton4 = AddButton(panel, "SpeedButton4", "Launch Site in Browser", 104, TGlyph::Launch,
                             h.SpeedButton4Click);
  m.QuickFind = new TQuickFindBox(panel);
  m.QuickFind->setGeometry(kQuickFindLeft, 9, kQuickFindWidth, 22);
  return panel;
}

QIcon ToolbarGlyph(TGlyph glyph) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (glyph) {
    case TGlyph::Add: {
      // A page with a green plus.
      p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(1.5, 1.5, 9, 12));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x1E, 0x8C, 0x2E));
      p.drawRect(QRectF(10, 6, 3, 10));
      p.drawRect(QRectF(6.5, 9.5, 10, 3));
      break;
    }
    case TGlyph::Edit: {
      // A page with a pencil across it.
      p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(1.5, 1.5, 9, 12));
      p.setPen(QPen(QColor(0xD8, 0x9A, 0x1C), 3, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(14.5, 3.5), QPointF(6, 12));
      p.setPen(QPen(QColor(0x40, 0x40, 0x40), 2, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(6.5, 11.5), QPointF(4.5, 13.5));
      break;
    }
    case TGlyph::Delete: {
      // A red cross.
      p.setPen(QPen(QColor(0xC8, 0x1E, 0x1E), 3, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
      p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
      break;
    }
    case TGlyph::Launch: {
      // A globe.
      p.setPen(QPen(QColor(0x1F, 0x4E, 0x9C), 1.2));
      p.setBrush(QColor(0xCF, 0xE3, 0xFA));
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(5, 1.5, 6, 13));
      p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
      p.drawLine(QPointF(3, 4.5), QPointF(13, 4.5));
      p.drawLine(QPointF(3, 11.5), QPointF(13, 11.5));
      break;
    }
  }
  p.end();
  return QIcon(pixmap);
}

}  // namespace marrowick
