// The window on real widgets (offscreen platform): the design, the failure
// display, the general error display and the layout after start-up.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <array>
#include <vector>

#include "platform/exception.h"
#include "platform/numbers.h"
#include "tests/app/app_support.h"

namespace peloria::testing {
namespace {

struct Bounds {
  int left, top, width, height;
  friend bool operator==(const Bounds&, const Bounds&) = default;
};

Bounds BoundsOf(const TControl& c) {
  return {c.Left(), c.Top(), c.Width(), c.Height()};
}

std::ostream& operator<<(std::ostream& os, const Bounds& b) {
  return os << b.left << "," << b.top << " " << b.width << "x" << b.height;
}

// A picture whose summary fails after loading: an exposure time of 0/1
// divides by zero.
std::string ZeroDivideJpeg() {
  return ExifJpeg([](TiffWriter& t) { t.Rational(t.ExifIfd(), 0x829A, {{0, 1}}); });
}

// The design's rules rather than its numbers: the label and the Close
// button inside the client area, the button below the label; the thumbnail,
// the histogram and its radio buttons right of the client area (shown only
// once the layout moves them in), the histogram below the thumbnail at its
// left edge, the radio buttons in one row, left to right (the layout moves
// them below the histogram).
void ExpectDesignLayout(const TForm1& f) {
  auto inside = [&](const TControl& c) {
    return c.Left() >= 0 && c.Top() >= 0 && c.Left() + c.Width() <= f.ClientWidth() &&
           c.Top() + c.Height() <= f.ClientHeight();
  };
  EXPECT_TRUE(inside(f.Label1)) << BoundsOf(f.Label1);
  EXPECT_TRUE(inside(f.Button1)) << BoundsOf(f.Button1);
  EXPECT_GE(f.Button1.Top(), f.Label1.Top() + f.Label1.Height());
  const std::vector<const TControl*> histogramPart = {&f.Image1, &f.Image2, &f.Red,
                                                      &f.Green,  &f.Blue,   &f.All_c};
  for (const TControl* c : histogramPart) EXPECT_GE(c->Left(), f.ClientWidth()) << BoundsOf(*c);
  EXPECT_EQ(f.Image2.Left(), f.Image1.Left());
  EXPECT_GT(f.Image2.Top(), f.Image1.Top() + f.Image1.Height());
  const std::array<const TRadioButton*, 4> radios = {&f.Red, &f.Green, &f.Blue, &f.All_c};
  for (std::size_t i = 0; i < radios.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(radios[i]->Top(), f.Red.Top());
    EXPECT_EQ(radios[i]->Height(), f.Red.Height());
    if (i > 0) {
      EXPECT_GT(radios[i]->Left(), radios[i - 1]->Left());
    }
  }
  // The thumbnail box and the drawing surface (one column per level).
  EXPECT_EQ(f.Image1.Width(), 160);
  EXPECT_EQ(f.Image1.Height(), 120);
  EXPECT_EQ(f.Image2.Width(), 255);
  // As designed, only the green and blue buttons are marked visible.
  EXPECT_FALSE(f.Red.Visible());
  EXPECT_TRUE(f.Green.Visible());
  EXPECT_TRUE(f.Blue.Visible());
  EXPECT_FALSE(f.All_c.Visible());
  for (const TControl* c : std::initializer_list<const TControl*>{&f.Label1, &f.Button1}) {
    EXPECT_TRUE(c->Visible());
    EXPECT_TRUE(c->Enabled());
  }
  for (const TControl* c : histogramPart) EXPECT_TRUE(c->Enabled());
}

TEST(WindowTest, GeneralErrorKeepsTheDesign) {
  TempDir dir;
  WriteFile(dir.path() / "z.jpg", ZeroDivideJpeg());
  Window w(FileUrl(dir.path() / "z.jpg"));
  TForm1& f = *w.form;

  std::string expected;
  try {
    Divide(1, 0);
  } catch (const Exception& e) {
    expected = e.Message();
  }
  ASSERT_TRUE(w.unhandled.has_value());
  EXPECT_EQ(*w.unhandled, expected);
  EXPECT_FALSE(f.Failed());

  ExpectDesignLayout(f);
  EXPECT_EQ(f.Label1.Caption(), "System Error!!");
  EXPECT_EQ(f.Button1.Caption(), "Close(&C)");
  EXPECT_EQ(static_cast<QPushButton*>(f.Button1.Widget())->shortcut(),
            QKeySequence(Qt::ALT | Qt::Key_C));
  EXPECT_EQ(f.Red.Caption() + f.Green.Caption() + f.Blue.Caption() + f.All_c.Caption(), "RGBALL");
  EXPECT_EQ(f.Caption(), Cp932("Peloria\xE3\x80\x80 画像クリックでヒストグラム表示"));
  EXPECT_EQ(f.Width(), f.ClientWidth() + FrameMetrics::kLeft + FrameMetrics::kRight);
  EXPECT_EQ(f.Height(), f.ClientHeight() + FrameMetrics::kTop + FrameMetrics::kBottom);

  // Tab order Close, R, G, B, ALL.
  EXPECT_EQ(f.Button1.Widget()->nextInFocusChain(), f.Red.Widget());
  EXPECT_EQ(f.Red.Widget()->nextInFocusChain(), f.Green.Widget());
  EXPECT_EQ(f.Green.Widget()->nextInFocusChain(), f.Blue.Widget());
  EXPECT_EQ(f.Blue.Widget()->nextInFocusChain(), f.All_c.Widget());

  // A dialog without title-bar buttons and of fixed size.
  const Qt::WindowFlags flags = f.Widget()->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::Dialog));
  EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowSystemMenuHint));
  EXPECT_EQ(f.Widget()->minimumSize(), f.Widget()->maximumSize());

  // The summary font is fixed pitch: a double-byte character is twice as
  // wide as a single-byte one.
  const QFont font = f.Label1.Widget()->font();
  EXPECT_EQ(font.pixelSize(), 12);
  const QFontMetrics metrics(font);
  EXPECT_EQ(metrics.horizontalAdvance(QString::fromUtf8("画")), 2 * metrics.horizontalAdvance("a"));
  EXPECT_EQ(metrics.horizontalAdvance("i"), metrics.horizontalAdvance("W"));
  EXPECT_EQ(f.Widget()->font().pixelSize(), 12);
}

// What a tooltip shows when Qt renders it: markup is rendered, so a text
// shown as written comes back unchanged and nothing else (no picture).
TEST(WindowTest, TooltipsAndMessageBoxesShowMarkupAsText) {
  TempDir dir;
  const std::string markup = "<h1>Big</h1><img src=\"file:///etc/hosts\">";
  // A failure whose cause holds the markup: a missing file named with it.
  const std::string address = FileUrl(dir.path() / (markup + ".jpg"));
  Window w(address);
  ASSERT_TRUE(w.form->Failed());
  QTextDocument shown;
  shown.setHtml(w.form->Label1.Widget()->toolTip());
  EXPECT_EQ(shown.toPlainText().toStdString(), Utf8(w.form->Label1.Hint()));
  EXPECT_NE(shown.toPlainText().toStdString().find(markup), std::string::npos);
  EXPECT_EQ(shown.toHtml().indexOf("<img"), -1);
  EXPECT_EQ(shown.toHtml().indexOf("<h1"), -1);

  // The general error display: a message box whose text is plain.
  std::optional<Qt::TextFormat> format;
  QString text;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      format = box->textFormat();
      text = box->text();
      box->accept();
    }
  });
  Application().HandleException(Exception("EIdProtocolReplyError", "404 " + markup));
  EXPECT_EQ(format, Qt::PlainText);
  EXPECT_EQ(text.toStdString(), "404 " + markup);
}

TEST(WindowTest, DesktopIdentity) {
  App();
  IdentifyApplication();
  // Compositors and task bars find the entry peloria.desktop by this name.
  EXPECT_EQ(QGuiApplication::desktopFileName(), "peloria");
  // The window icon is the drawn SVG (Qt's SVG plugins render it).
  const QImage icon = QGuiApplication::windowIcon().pixmap(48, 48).toImage();
  ASSERT_FALSE(icon.isNull()) << "no window icon: are Qt's SVG plugins installed?";
  int opaque = 0;
  for (int y = 0; y < icon.height(); ++y) {
    for (int x = 0; x < icon.width(); ++x) opaque += qAlpha(icon.pixel(x, y)) == 255;
  }
  EXPECT_GT(opaque, icon.width() * icon.height() / 2);
}

TEST(WindowTest, LabelSizesItselfToItsText) {
  App();
  TForm form;
  TLabel label(form.Widget());
  struct Row {
    const char* text;  // UTF-8
    int width, height;
  } rows[] = {
      {"System Error!!", 84, 12}, {"ab\nabcd\nabc", 24, 36},
      {"ab\n", 12, 12},  // a final line break opens no line
      {"a&bc", 18, 12},  // the accelerator mark is not drawn
      {"a&&b", 18, 12},  // "&&" draws one "&"
      {"画像\nx", 24, 24},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    label.SetCaption(Cp932(row.text));
    EXPECT_EQ(label.Width(), row.width);
    EXPECT_EQ(label.Height(), row.height);
  }
}

TEST(WindowTest, FailureDisplayGeometry) {
  TempDir dir;
  Window w(FileUrl(dir.path() / "missing.jpg"));
  TForm1& f = *w.form;
  EXPECT_FALSE(w.unhandled.has_value());
  EXPECT_TRUE(f.Failed());
  EXPECT_EQ(f.Label1.Caption(), Cp932("データの取得に失敗しました"));
  EXPECT_EQ(f.Caption(), "Peloria error");
  // 13 double-byte characters of 12 pixels; the button 5 below the label.
  EXPECT_EQ(BoundsOf(f.Label1), (Bounds{8, 8, 156, 12}));
  EXPECT_EQ(f.ClientWidth(), 8 + 156 + 2);
  EXPECT_EQ(f.ClientHeight(), 25 + 25 + 3);
  // Outer width 166 + 3 + 3 = 172: (172 - 75) / 2 = 48.5 rounds to even 48.
  EXPECT_EQ(BoundsOf(f.Button1), (Bounds{48, 25, 75, 25}));
  EXPECT_EQ(f.Width(), 172);
  EXPECT_EQ(f.Height(), 53 + 22 + 3);
  EXPECT_EQ(f.Top(), Nearest((TScreen::Height() - 78) / 2.0L));
  EXPECT_EQ(f.Left(), Nearest((TScreen::Width() - 172) / 2.0L));
  // The rest keeps its design (that of a window stopped by a general
  // error), the radio buttons included.
  WriteFile(dir.path() / "z.jpg", ZeroDivideJpeg());
  Window design(FileUrl(dir.path() / "z.jpg"));
  EXPECT_EQ(BoundsOf(f.Image1), BoundsOf(design.form->Image1));
  EXPECT_EQ(BoundsOf(f.Red), BoundsOf(design.form->Red));
  EXPECT_TRUE(f.Green.Visible());
  EXPECT_TRUE(f.Blue.Visible());
  EXPECT_FALSE(f.Red.Visible());
}

TEST(WindowTest, ThumbnailFitsTheBox) {
  struct Row {
    int width, height, thumbWidth, thumbHeight;
  } rows[] = {
      {4000, 3000, 160, 120},
      {3000, 4000, 90, 120},
      {500, 500, 120, 120},
      {64, 25, 160, 62},  // 62.5 rounds to even
  };
  TempDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
    JpegRecipe recipe;
    recipe.width = row.width;
    recipe.height = row.height;
    recipe.quality = 50;
    WriteJpegFile(dir.path() / "p.jpg", recipe);
    Window w(FileUrl(dir.path() / "p.jpg"));
    TForm1& f = *w.form;
    ASSERT_FALSE(w.unhandled.has_value());
    ASSERT_FALSE(f.Failed());
    // No Exif: one line of 4 single-byte and 9 double-byte characters.
    EXPECT_EQ(BoundsOf(f.Label1), (Bounds{8, 8, 132, 12}));
    EXPECT_EQ(BoundsOf(f.Image1), (Bounds{152, 0, row.thumbWidth, row.thumbHeight}));
    EXPECT_TRUE(f.Image1.Stretch());
    EXPECT_EQ(BoundsOf(f.Image2), (Bounds{152, row.thumbHeight + 3, 160, 60}));
    EXPECT_FALSE(f.Image2.Visible());
    EXPECT_EQ(f.Button1.Top(), row.thumbHeight + 5);
    EXPECT_EQ(f.ClientHeight(), row.thumbHeight + 35);
    EXPECT_EQ(f.ClientWidth(), 152 + row.thumbWidth + 3);
    EXPECT_EQ(f.Button1.Left(), Nearest((f.ClientWidth() + 6 - 75) / 2.0L));
    EXPECT_EQ(f.Left(), Nearest((TScreen::Width() - f.ClientWidth() - 6) / 2.0L));
    EXPECT_EQ(f.Top(), Nearest((TScreen::Height() - f.ClientHeight() - 25) / 2.0L));
    for (const TRadioButton* radio : {&f.Red, &f.Green, &f.Blue, &f.All_c}) {
      EXPECT_FALSE(radio->Visible());
    }
  }
}

TEST(WindowTest, ButtonBelowATallSummary) {
  // A wide, flat picture beside ten lines: the label reaches furthest down,
  // before and after a drawing.
  TempDir dir;
  WriteFile(dir.path() / "flat.jpg", ExifJpeg(
                                         [](TiffWriter& t) {
                                           t.Rational(t.ExifIfd(), 0x829A, {{1, 125}});
                                           t.Ascii(t.Ifd0(), 0x0110, "Cam");
                                         },
                                         64, 25));
  Window w(FileUrl(dir.path() / "flat.jpg"));
  TForm1& f = *w.form;
  ASSERT_FALSE(w.unhandled.has_value());
  EXPECT_EQ(f.Label1.Height(), 120);
  EXPECT_EQ(f.Image1.Height(), 62);
  EXPECT_EQ(f.Button1.Top(), 8 + 120 + 5);
  f.Image1Click();
  EXPECT_EQ(BoundsOf(f.Image2), (Bounds{f.Image1.Left(), 65, 160, 60}));
  EXPECT_EQ(f.Button1.Top(), 8 + 120 + 25);
  EXPECT_EQ(f.ClientHeight(), 153 + 25 + 5);
}

}  // namespace
}  // namespace peloria::testing
