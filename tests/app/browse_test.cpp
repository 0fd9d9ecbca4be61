// The window lives on: stepping through a folder of generated pictures with
// the keys and the wheel, a folder that changes, pictures dropped on the
// window in each data format and pasted from each clipboard form.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QWheelEvent>
#include <chrono>

#include "app/transfer.h"
#include "tests/app/app_support.h"
#include "tests/app/sample_photo.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace peloria::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// A folder of small pictures, each of its own width so that the window's
// bitmap tells which one is shown.
struct Folder {
  TempDir dir;
  std::string Add(const std::string& name, int width) const {
    return dir.Write(name, Bmp24(width, 4, [](int, int) { return Rgb8{90, 60, 30}; }));
  }
  std::string Url(const std::string& name) const { return FileUrl(dir.path() / name); }
};

// The name of the shown picture's file.
std::string Shown(const TForm1& f) {
  return f.Photo() == nullptr ? "" : fs::path(f.Photo()->LocalPath()).filename().string();
}

void Key(TForm1& f, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(f.Button1.Widget(), key, modifiers);
}

struct ShownWindow {
  explicit ShownWindow(const std::string& address) : window(address) {
    form().Show();
    QApplication::setActiveWindow(form().Widget());
  }
  TForm1& form() { return *window.form; }
  Window window;
};

TEST(BrowseTest, KeysStepThroughTheFolderInNaturalOrder) {
  Folder folder;
  // Created out of order; shown as IMG_2, IMG_10, img_11, Z, さくら, 写真2, 写真10.
  const std::vector<std::pair<std::string, int>> files = {
      {"写真10.bmp", 7}, {"IMG_10.bmp", 2}, {"Z.bmp", 4},     {"IMG_2.bmp", 1},
      {"さくら.bmp", 5}, {"img_11.bmp", 3}, {"写真2.bmp", 6}, {".hidden.bmp", 9},
  };
  for (const auto& [name, width] : files) folder.Add(name, width);
  folder.dir.Write("notes.txt", "not a picture");
  ShownWindow w(folder.Url("IMG_2.bmp"));
  TForm1& f = w.form();

  const std::vector<std::string> order = {"IMG_2.bmp",  "IMG_10.bmp", "img_11.bmp", "Z.bmp",
                                          "さくら.bmp", "写真2.bmp",  "写真10.bmp"};
  for (std::size_t i = 1; i < order.size(); ++i) {
    Key(f, i % 2 ? Qt::Key_Right : Qt::Key_PageDown);
    EXPECT_EQ(Shown(f), order[i]);
    EXPECT_EQ(f.bmp->Width(), static_cast<int>(i) + 1);
  }
  // No wrap-around at the end, nor at the start.
  Key(f, Qt::Key_Right);
  EXPECT_EQ(Shown(f), order.back());
  Key(f, Qt::Key_Left);
  EXPECT_EQ(Shown(f), order[order.size() - 2]);
  Key(f, Qt::Key_PageUp);
  EXPECT_EQ(Shown(f), order[order.size() - 3]);
  Key(f, Qt::Key_Home);
  EXPECT_EQ(Shown(f), order.front());
  Key(f, Qt::Key_Left);
  EXPECT_EQ(Shown(f), order.front());
  Key(f, Qt::Key_End);
  EXPECT_EQ(Shown(f), order.back());
  EXPECT_FALSE(w.window.unhandled.has_value());
}

TEST(BrowseTest, WheelOverTheThumbnail) {
  Folder folder;
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) folder.Add(name, 3);
  ShownWindow w(folder.Url("a.bmp"));
  TForm1& f = w.form();
  const auto wheel = [&f](int delta) {
    QWheelEvent event(QPointF(2, 2), QPointF(2, 2), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(f.Image1.Widget(), &event);
  };
  wheel(-120);
  EXPECT_EQ(Shown(f), "b.bmp");
  // Half notches add up to one step.
  wheel(-60);
  EXPECT_EQ(Shown(f), "b.bmp");
  wheel(-60);
  EXPECT_EQ(Shown(f), "c.bmp");
  wheel(240);
  EXPECT_EQ(Shown(f), "a.bmp");
}

TEST(BrowseTest, FailingPictureMidFolderAndTheHistogramChannel) {
  Folder folder;
  folder.Add("1.bmp", 3);
  folder.dir.Write("2.jpg", "this is no JPEG");
  folder.Add("3.bmp", 5);
  ShownWindow w(folder.Url("1.bmp"));
  TForm1& f = w.form();
  f.Blue.Click();
  ASSERT_TRUE(f.Blue.Checked());

  Key(f, Qt::Key_Right);
  EXPECT_EQ(Shown(f), "2.jpg");
  EXPECT_TRUE(f.Failed());
  EXPECT_EQ(f.Label1.Caption(), Cp932("データの取得に失敗しました"));
  EXPECT_EQ(f.Caption(), "Peloria error");

  // The keys step on from the failure display; the histogram comes back in
  // blue (blue 30: one column at 30).
  Key(f, Qt::Key_Right);
  EXPECT_EQ(Shown(f), "3.bmp");
  EXPECT_FALSE(f.Failed());
  EXPECT_TRUE(f.Blue.Checked());
  EXPECT_TRUE(f.Image2.Visible());
  EXPECT_EQ(f.Image2.Canvas().Pixel(30, 119), clBlue);
  EXPECT_EQ(f.Image2.Canvas().Pixel(90, 119), clWhite);
  Key(f, Qt::Key_Left);
  EXPECT_TRUE(f.Failed());
}

TEST(BrowseTest, AFolderThatChanges) {
  Folder folder;
  for (const char* name : {"IMG_1.bmp", "IMG_2.bmp", "IMG_3.bmp", "IMG_4.bmp"}) folder.Add(name, 2);
  ShownWindow w(folder.Url("IMG_1.bmp"));
  TForm1& f = w.form();
  Key(f, Qt::Key_Right);  // IMG_2, with IMG_1 and IMG_3 read ahead
  ASSERT_EQ(Shown(f), "IMG_2.bmp");
  // Its neighbour is deleted, a new shot arrives between: it is next.
  fs::remove(folder.dir.path() / "IMG_3.bmp");
  folder.Add("IMG_2a.bmp", 6);
  Key(f, Qt::Key_Right);
  EXPECT_EQ(Shown(f), "IMG_2a.bmp");
  EXPECT_EQ(f.bmp->Width(), 6);
  Key(f, Qt::Key_Right);
  EXPECT_EQ(Shown(f), "IMG_4.bmp");
  // The shown picture itself deleted: the steps go on from its place.
  fs::remove(folder.dir.path() / "IMG_4.bmp");
  folder.Add("IMG_5.bmp", 2);
  Key(f, Qt::Key_Right);
  EXPECT_EQ(Shown(f), "IMG_5.bmp");
  Key(f, Qt::Key_Left);
  EXPECT_EQ(Shown(f), "IMG_2a.bmp");
}

TEST(BrowseTest, OnlyLocalPicturesStep) {
  Folder folder;
  folder.Add("a.bmp", 2);
  folder.Add("b.bmp", 3);
  ShownWindow w(folder.Url("a.bmp"));
  TForm1& f = w.form();
  f.OpenPictureData(Bmp24(8, 2, [](int, int) { return Rgb8{1, 2, 3}; }));
  ASSERT_EQ(f.bmp->Width(), 8);
  EXPECT_FALSE(f.Photo()->Local());
  Key(f, Qt::Key_Right);
  EXPECT_EQ(f.bmp->Width(), 8);
}

// ------------------------------------------------------------ drop and paste

TEST(TransferTest, AddressesOfEachForm) {
  struct Row {
    std::optional<std::string> (*read)(std::string_view);
    std::string text;
    std::optional<std::string> address;
  } rows[] = {
      {UriListAddress, "file:///home/u/a.jpg\r\nfile:///home/u/b.jpg\r\n", "file:///home/u/a.jpg"},
      {UriListAddress, "# comment\r\nhttp://h/p.jpg\r\n", "http://h/p.jpg"},
      {UriListAddress, "file:///home/u/%E5%86%99%E7%9C%9F%201.jpg", "file:///home/u/写真 1.jpg"},
      {UriListAddress, "file://localhost/tmp/a.jpg\n", "file:///tmp/a.jpg"},
      {UriListAddress, "\r\n# only comments\r\n", std::nullopt},
      {HtmlImageAddress, "<meta charset='utf-8'><img src=\"https://h/a.jpg?x=1&amp;y=2\" alt=x>",
       "https://h/a.jpg?x=1&y=2"},
      {HtmlImageAddress, "<IMG data-src='no' SRC = 'http://h/b.png'>", "http://h/b.png"},
      {HtmlImageAddress, "<img src=http://h/c.gif width=3>", "http://h/c.gif"},
      {HtmlImageAddress, "<img srcset='a 1x'><img src='http://h/d.jpg'>", "http://h/d.jpg"},
      {HtmlImageAddress, "<img src=\"data:image/png;base64,AAAA\">", std::nullopt},
      {HtmlImageAddress, "<p>no picture</p>", std::nullopt},
      {TextAddress, "  https://h/e.jpg \n", "https://h/e.jpg"},
      {TextAddress, "/home/u/f.jpg", "/home/u/f.jpg"},
      {TextAddress, "file:///home/u/g%20h.jpg", "file:///home/u/g h.jpg"},
      {TextAddress, "hello world", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(row.read(row.text), row.address);
  }
}

// Sends a drag over the window and its drop: answers whether the drag was
// taken.
bool Drop(TForm1& f, const QMimeData& data) {
  const QPoint at(f.Label1.Left() + 2, f.Label1.Top() + 2);
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(f.Widget(), &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(f.Widget(), &drop);
  return drop.isAccepted();
}

// Lets the window open what was dropped (after the drop has ended).
bool ShowsSoon(const std::function<bool()>& shown) {
  return WaitUntil(
      [&] {
        QCoreApplication::processEvents();
        return shown();
      },
      seconds(10));
}

QByteArray Utf16(const std::string& utf8) {
  const QString text = QString::fromStdString(utf8);
  return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

PeerScript SampleReply() {
  const std::string body = ReadFile(PELORIA_SAMPLE);
  return PeerScript()
      .ReadRequest()
      .Send("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body)
      .Close();
}

TEST(DropTest, EachDataFormOpensThePicture) {
  Folder folder;
  folder.Add("first.bmp", 2);
  const std::string dropped = folder.Add("写真 1.bmp", 11);
  const std::string other = folder.Add("other.bmp", 12);
  ScriptedPeer server(SampleReply());
  const std::string web = "http://127.0.0.1:" + std::to_string(server.Port()) + "/d/photo.jpg";

  struct Row {
    const char* name;
    std::function<void(QMimeData&)> fill;
    std::function<bool(const TForm1&)> shown;
  };
  const std::vector<Row> rows = {
      {"file manager's uri-list, several files",
       [&](QMimeData& m) {
         m.setData("text/uri-list",
                   QByteArray::fromStdString("file://" + folder.dir.path().string() +
                                             "/%E5%86%99%E7%9C%9F%201.bmp\r\n" + FileUrl(other) +
                                             "\r\n"));
       },
       [&](const TForm1& f) { return f.Photo()->LocalPath() == dropped; }},
      {"browser's x-moz-url",
       [&](QMimeData& m) { m.setData("text/x-moz-url", Utf16(FileUrl(other) + "\nother")); },
       [&](const TForm1& f) { return f.Photo()->LocalPath() == other; }},
      {"browser's web picture",
       [&](QMimeData& m) { m.setData("text/uri-list", QByteArray::fromStdString(web + "\r\n")); },
       [&](const TForm1& f) {
         return f.Photo()->Summary() && *f.Photo()->Summary() == Cp932(SampleSummary());
       }},
      {"picture bytes alone",
       [&](QMimeData& m) {
         m.setData("image/bmp", QByteArray::fromStdString(Bmp24(13, 3, [](int, int) {
                     return Rgb8{0, 0, 0};
                   })));
       },
       [&](const TForm1& f) { return f.bmp && f.bmp->Width() == 13; }},
  };
  // On the summary, and on the failure display.
  for (const std::string& start : {folder.Url("first.bmp"), folder.Url("missing.bmp")}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(start + " " + row.name);
      ShownWindow w(start);
      QMimeData data;
      row.fill(data);
      ASSERT_TRUE(Drop(w.form(), data));
      EXPECT_TRUE(ShowsSoon([&] { return row.shown(w.form()); }));
      EXPECT_FALSE(w.form().Failed());
    }
  }
  // Picture bytes go into temp.jpg, as a download's body would (the model's
  // test reads the file back).
  ShownWindow w(folder.Url("first.bmp"));
  QMimeData data;
  data.setData("image/bmp", QByteArray::fromStdString(Bmp24(14, 3, [](int, int) {
                 return Rgb8{0, 0, 0};
               })));
  ASSERT_TRUE(Drop(w.form(), data));
  ASSERT_TRUE(ShowsSoon([&] { return w.form().bmp && w.form().bmp->Width() == 14; }));
  EXPECT_EQ(fs::path(w.form().Photo()->LocalPath()).filename(), "temp.jpg");

  // Nothing to open: the drag is refused.
  QMimeData text;
  text.setText("hello");
  EXPECT_FALSE(Drop(w.form(), text));
}

TEST(PasteTest, EachClipboardFormAndTheAddressWins) {
  Folder folder;
  folder.Add("first.bmp", 2);
  const std::string copied = folder.Add("copied.bmp", 21);
  const std::string pixels = Bmp24(22, 3, [](int, int) { return Rgb8{0, 0, 0}; });
  struct Row {
    const char* name;
    std::function<void(QMimeData&)> fill;
    int width;  // of the picture opened
  };
  const std::vector<Row> rows = {
      // A browser's copy of a picture: its address and its re-encoded pixels.
      {"html and pixels",
       [&](QMimeData& m) {
         m.setHtml(QString::fromStdString("<img src=\"" + FileUrl(copied) + "\">"));
         m.setData("image/bmp", QByteArray::fromStdString(pixels));
       },
       21},
      {"uri-list and pixels",
       [&](QMimeData& m) {
         m.setData("text/uri-list", QByteArray::fromStdString(FileUrl(copied)));
         m.setData("image/bmp", QByteArray::fromStdString(pixels));
       },
       21},
      {"an address as text", [&](QMimeData& m) { m.setText(QString::fromStdString(copied)); }, 21},
      {"pixels alone",
       [&](QMimeData& m) { m.setData("image/bmp", QByteArray::fromStdString(pixels)); }, 22},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ShownWindow w(folder.Url("first.bmp"));
    auto* data = new QMimeData;  // owned by the clipboard
    row.fill(*data);
    QGuiApplication::clipboard()->setMimeData(data);
    Key(w.form(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w.form().bmp->Width(), row.width);
  }
  // 貼り付け in the context menu, enabled only when there is something.
  ShownWindow w(folder.Url("first.bmp"));
  QGuiApplication::clipboard()->setText("just words");
  EXPECT_FALSE(TForm1::Openable(QGuiApplication::clipboard()->mimeData()));
  QGuiApplication::clipboard()->setText(QString::fromStdString(FileUrl(copied)));
  auto menu = w.form().ContextMenu();
  QAction* paste = nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text() == QString::fromUtf8("貼り付け")) paste = action;
  }
  ASSERT_NE(paste, nullptr);
  EXPECT_TRUE(paste->isEnabled());
  paste->trigger();
  EXPECT_TRUE(ShowsSoon([&] { return w.form().bmp->Width() == 21; }));
}

}  // namespace
}  // namespace peloria::testing
