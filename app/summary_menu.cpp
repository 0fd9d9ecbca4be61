// The window's context menu: a right-click on the summary or the picture
// offers to copy the summary, to paste a picture or its address and, for a
// photo with a GPS position, to show the place on a map in the desktop's
// browser.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QTimer>

#include "app/exif_report.h"
#include "app/unit1.h"
#include "platform/cp932.h"

namespace peloria {

void TForm1::attachContextMenu() {
  OpenAddress = [](const std::string& address) {
    QProcess::startDetached("xdg-open", {QString::fromStdString(address)});
  };
  for (QWidget* widget : {Label1.Widget(), Image1.Widget()}) {
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(widget, &QWidget::customContextMenuRequested, widget,
                     [this, widget](const QPoint& at) {
                       std::unique_ptr<QMenu> menu = ContextMenu();
                       menu->exec(widget->mapToGlobal(at));
                     });
  }
}

std::unique_ptr<QMenu> TForm1::ContextMenu() {
  auto menu = std::make_unique<QMenu>(Widget());
  QObject::connect(menu->addAction(QString::fromUtf8("コピー")), &QAction::triggered, menu.get(),
                   [this] { CopySummary(); });
  // 貼り付け: the clipboard's picture or its address, when it holds one.
  QAction* paste = menu->addAction(QString::fromUtf8("貼り付け"));
  paste->setEnabled(Openable(QGuiApplication::clipboard()->mimeData()));
  QObject::connect(paste, &QAction::triggered, menu.get(), [this] {
    // After the menu has closed: the picture may be downloaded first.
    QTimer::singleShot(0, Widget(), [this] { guarded([this] { Paste(); }); });
  });
  if (std::optional<std::string> address = MapAddress(ExifInfo1)) {
    QObject::connect(menu->addAction(QString::fromUtf8("地図で表示")), &QAction::triggered,
                     menu.get(), [this, address = *address] {
                       if (OpenAddress) OpenAddress(address);
                     });
  }
  return menu;
}

void TForm1::CopySummary() {
  QGuiApplication::clipboard()->setText(QString::fromStdString(Utf8(Label1.Caption())));
}

}  // namespace peloria
