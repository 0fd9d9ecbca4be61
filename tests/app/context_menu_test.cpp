// The window's context menu on real widgets: copying the summary to the
// clipboard and the map entry of a photo with a GPS position.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QTimer>

#include "tests/app/app_support.h"

namespace peloria::testing {
namespace {

std::vector<std::string> Entries(QMenu& menu) {
  std::vector<std::string> texts;
  for (QAction* action : menu.actions()) texts.push_back(action->text().toStdString());
  return texts;
}

QAction* Entry(QMenu& menu, const char* text) {
  for (QAction* action : menu.actions())
    if (action->text() == QString::fromUtf8(text)) return action;
  return nullptr;
}

std::string GpsPhoto(const char* latRef, const char* lonRef) {
  return ExifJpeg([&](TiffWriter& t) {
    t.Ascii(t.Ifd0(), 0x0110, "GPS cam");
    const int gps = t.AddIfd();
    t.AddPointer(t.Ifd0(), 0x8825, gps);
    t.Ascii(gps, 0x0001, latRef);
    t.Rational(gps, 0x0002, {{48, 1}, {51, 1}, {2952, 100}});
    t.Ascii(gps, 0x0003, lonRef);
    t.Rational(gps, 0x0004, {{2, 1}, {17, 1}, {4000, 100}});
  });
}

TEST(ContextMenuTest, CopyPutsTheSummaryOnTheClipboard) {
  TempDir dir;
  // The file holds CP932, as a camera's texts are read.
  WriteFile(dir.path() / "plain.jpg",
            ExifJpeg([](TiffWriter& t) { t.Ascii(t.Ifd0(), 0x0110, Cp932("コピー機")); }));
  Window window(FileUrl(dir.path() / "plain.jpg"));
  ASSERT_FALSE(window.unhandled);
  auto menu = window.form->ContextMenu();
  // No position, no map.
  EXPECT_EQ(Entries(*menu), (std::vector<std::string>{"コピー", "貼り付け"}));
  QGuiApplication::clipboard()->setText("before");
  Entry(*menu, "コピー")->trigger();
  const std::string copied = QGuiApplication::clipboard()->text().toStdString();
  EXPECT_EQ(copied, Utf8(window.form->Label1.Caption()));
  EXPECT_TRUE(copied.ends_with("機種名            :コピー機\n")) << copied;
}

TEST(ContextMenuTest, MapEntryOpensThePositionInTheBrowser) {
  const struct {
    const char *latRef, *lonRef, *address;
  } rows[] = {
      {"N", "E",
       "https://www.openstreetmap.org/?mlat=48.858200&mlon=2.294444#map=15/48.858200/2.294444"},
      {"S", "W",
       "https://www.openstreetmap.org/?mlat=-48.858200&mlon=-2.294444#map=15/-48.858200/"
       "-2.294444"},
  };
  for (const auto& r : rows) {
    TempDir dir;
    WriteFile(dir.path() / "gps.jpg", GpsPhoto(r.latRef, r.lonRef));
    Window window(FileUrl(dir.path() / "gps.jpg"));
    std::vector<std::string> opened;
    window.form->OpenAddress = [&opened](const std::string& address) { opened.push_back(address); };
    auto menu = window.form->ContextMenu();
    EXPECT_EQ(Entries(*menu), (std::vector<std::string>{"コピー", "貼り付け", "地図で表示"}));
    Entry(*menu, "地図で表示")->trigger();
    EXPECT_EQ(opened, std::vector<std::string>{r.address});
  }
}

TEST(ContextMenuTest, RightClickOnSummaryAndPictureOpensTheMenu) {
  TempDir dir;
  WriteFile(dir.path() / "gps.jpg", GpsPhoto("N", "E"));
  Window window(FileUrl(dir.path() / "gps.jpg"));
  window.form->Show();
  for (QWidget* widget : {window.form->Label1.Widget(), window.form->Image1.Widget()}) {
    // The menu runs its own event loop: read it and close it from there.
    std::vector<std::string> seen;
    QTimer::singleShot(0, [&seen] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        seen = Entries(*menu);
        menu->close();
      }
    });
    // A right-click on a widget whose policy is a custom menu emits this.
    EXPECT_EQ(widget->contextMenuPolicy(), Qt::CustomContextMenu);
    emit widget->customContextMenuRequested(QPoint(2, 2));
    EXPECT_EQ(seen, (std::vector<std::string>{"コピー", "貼り付け", "地図で表示"}));
  }
}

}  // namespace
}  // namespace peloria::testing
