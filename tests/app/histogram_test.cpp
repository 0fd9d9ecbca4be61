// The histogram: pixels read back from the drawing surface, the layout it
// makes, the radio buttons, and pictures that are not 24-bit.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QEvent>
#include <QMouseEvent>
#include <QObject>
#include <QPointingDevice>
#include <map>

#include "tests/app/app_support.h"

namespace peloria::testing {
namespace {

// The surface columns that hold the pen colour, each with the rows it
// covers; every other pixel must be white.
struct Column {
  int x, top;  // painted from `top` down to row 119
};

void ExpectSurface(TImage& image, TColor pen, const std::vector<Column>& columns) {
  ASSERT_TRUE(image.HasCanvas());
  const TCanvas& canvas = image.Canvas();
  ASSERT_EQ(canvas.Width(), 255);
  ASSERT_EQ(canvas.Height(), 120);
  int wrong = 0;
  for (int x = 0; x < 255; ++x) {
    int top = 120;
    for (const Column& c : columns) {
      if (c.x == x) top = c.top;
    }
    for (int y = 0; y < 120; ++y) {
      const TColor expected = y >= top ? pen : clWhite;
      if (canvas.Pixel(x, y) != expected && ++wrong <= 5) {
        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << canvas.Pixel(x, y);
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

// The window on a 24-bit BMP of one colour.
struct Picture {
  explicit Picture(Rgb8 colour, int width = 8, int height = 6)
      : Picture([colour](int, int) { return colour; }, width, height) {}
  Picture(const std::function<Rgb8(int, int)>& colour, int width, int height) {
    WriteFile(dir.path() / "p.bmp", Bmp24(width, height, colour));
    window = std::make_unique<Window>(FileUrl(dir.path() / "p.bmp"));
  }
  TForm1& form() { return *window->form; }
  TempDir dir;
  std::unique_ptr<Window> window;
};

TEST(HistogramTest, SinglePixelValues) {
  struct Row {
    const char* name;
    Rgb8 colour;
    int type;
    TColor pen;
    std::vector<Column> columns;
  } rows[] = {
      {"black, brightness", {0, 0, 0}, 3, clGray, {{0, 1}}},
      {"white: counter 255 lies outside", {255, 255, 255}, 3, clGray, {}},
      {"255/255/254 counts in 254", {255, 255, 254}, 3, clGray, {{254, 1}}},
      {"red channel", {200, 10, 20}, 0, clRed, {{200, 1}}},
      {"green channel", {200, 10, 20}, 1, clGreen, {{10, 1}}},
      {"blue channel", {200, 10, 20}, 2, clBlue, {{20, 1}}},
      {"brightness truncates", {1, 1, 2}, 3, clGray, {{1, 1}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Picture p(row.colour);
    ASSERT_FALSE(p.form().Failed());
    p.form().hist(row.type);
    ExpectSurface(p.form().Image2, row.pen, row.columns);
  }
}

TEST(HistogramTest, LineHeightsRoundHalfToEven) {
  // 20 pixels: 16 of value 10, 1 of value 20 (1/16 * 120 = 7.5 gives a line
  // of 8, rows 113 to 119), 3 of value 30 (22.5 gives 22, rows 99 to 119).
  Picture p(
      [](int x, int) -> Rgb8 {
        const std::uint8_t v = x < 16 ? 10 : x < 17 ? 20 : 30;
        return {v, v, v};
      },
      20, 1);
  p.form().hist(0);
  ExpectSurface(p.form().Image2, clRed, {{10, 1}, {20, 113}, {30, 99}});
}

TEST(HistogramTest, LayoutAndRadioButtons) {
  Picture p({0, 0, 0}, 64, 25);
  TForm1& f = p.form();
  const int thumbLeft = f.Image1.Left();
  f.Image1Click();
  EXPECT_TRUE(f.Image2.Visible());
  EXPECT_EQ(
      (std::vector<int>{f.Image2.Left(), f.Image2.Top(), f.Image2.Width(), f.Image2.Height()}),
      (std::vector<int>{thumbLeft, 62 + 3, 160, 60}));
  EXPECT_EQ(f.Button1.Top(), 125 + 25);
  EXPECT_EQ(f.ClientHeight(), 150 + 25 + 5);
  EXPECT_EQ(f.ClientWidth(), thumbLeft + 163);
  // The radio buttons in a row under the histogram, spaced by R's width.
  const int top = 125 + 2;
  EXPECT_EQ((std::vector<int>{f.Red.Left(), f.Green.Left(), f.Blue.Left(), f.All_c.Left()}),
            (std::vector<int>{thumbLeft, thumbLeft + 36, thumbLeft + 72, thumbLeft + 108}));
  for (const TRadioButton* r : {&f.Red, &f.Green, &f.Blue, &f.All_c}) {
    EXPECT_EQ(r->Top(), top);
    EXPECT_TRUE(r->Visible());
    EXPECT_TRUE(r->Enabled());
  }
  EXPECT_TRUE(f.All_c.Checked());
  const int windowLeft = f.Left();
  const int windowTop = f.Top();

  // R after ALL: redrawn in red, R checked alone, the same layout.
  f.Red.Click();
  ExpectSurface(f.Image2, clRed, {{0, 1}});
  EXPECT_TRUE(f.Red.Checked());
  EXPECT_FALSE(f.All_c.Checked());
  EXPECT_EQ(f.Button1.Top(), 150);
  EXPECT_EQ(f.Red.Top(), top);
  EXPECT_EQ(f.Left(), windowLeft);
  EXPECT_EQ(f.Top(), windowTop);

  f.Green.Click();
  ExpectSurface(f.Image2, clGreen, {{0, 1}});
  f.Blue.Click();
  EXPECT_TRUE(f.Blue.Checked());
  EXPECT_FALSE(f.Red.Checked());
  f.All_c.Click();
  ExpectSurface(f.Image2, clGray, {{0, 1}});
}

// The left button on the thumbnail, pressed and released over it at (5, 5).
// The events come from a mouse of the test's own, made after the
// application and so ended before it (Qt's default device, made on first
// use, is ended with the application in an order that crashes at exit).
void MouseClick(QWidget* widget, bool release = true) {
  static const QPointingDevice mouse("test mouse", 1000, QInputDevice::DeviceType::Mouse,
                                     QPointingDevice::PointerType::Generic,
                                     QInputDevice::Capability::Position, 1, 3);
  const QPointF at(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier, &mouse);
  QApplication::sendEvent(widget, &press);
  if (!release) return;
  QMouseEvent up(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton,
                 Qt::NoButton, Qt::NoModifier, &mouse);
  QApplication::sendEvent(widget, &up);
}

// The count begins when the button goes down, and the click draws from it;
// a count begun for one type never stands in for another.
TEST(HistogramTest, CountBegunAtThePressIsTheClicks) {
  Picture p({200, 10, 20}, 40, 30);
  TForm1& f = p.form();
  MouseClick(f.Image1.Widget());
  ExpectSurface(f.Image2, clGray, {{76, 1}});
  EXPECT_TRUE(f.All_c.Checked());
  // Pressed on the thumbnail and released elsewhere: no click, and the red
  // click after it counts red.
  MouseClick(f.Image1.Widget(), false);
  f.Red.Click();
  ExpectSurface(f.Image2, clRed, {{200, 1}});
  // A radio button's press prepares its own type.
  f.Blue.Widget()->setFocus();
  emit static_cast<QAbstractButton*>(f.Blue.Widget())->pressed();
  f.Blue.Click();
  ExpectSurface(f.Image2, clBlue, {{20, 1}});
  f.prepare(1);
  f.hist(3);
  ExpectSurface(f.Image2, clGray, {{76, 1}});
}

// Records enable and disable changes of the radio buttons in order, each
// with whether the histogram was shown and painted at that moment.
class Recorder : public QObject {
 public:
  explicit Recorder(TForm1& form) : form_(form) {}
  std::vector<std::string> events;
  std::map<QObject*, std::string> names;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange) {
      const bool painted =
          form_.Image2.HasCanvas() && form_.Image2.Canvas().Pixel(9, 119) != clWhite;
      events.push_back(names[watched] +
                       (static_cast<QWidget*>(watched)->isEnabled() ? " on" : " off") +
                       (painted ? " painted" : "") + (form_.Image2.Visible() ? " shown" : ""));
    }
    return false;
  }

 private:
  TForm1& form_;
};

TEST(HistogramTest, RadioButtonsDisabledWhileDrawing) {
  Picture p({9, 9, 9});
  TForm1& f = p.form();
  Recorder recorder(f);
  for (auto [control, name] : std::vector<std::pair<TControl*, std::string>>{
           {&f.Red, "R"}, {&f.Green, "G"}, {&f.Blue, "B"}, {&f.All_c, "ALL"}}) {
    recorder.names[control->Widget()] = name;
    control->Widget()->installEventFilter(&recorder);
  }
  f.hist(1);
  EXPECT_EQ(recorder.events,
            (std::vector<std::string>{"R off", "G off", "B off", "ALL off", "R on painted shown",
                                      "G on painted shown", "B on painted shown",
                                      "ALL on painted shown"}));
}

TEST(HistogramTest, PicturesWithoutBgrRows) {
  TempDir dir;
  JpegRecipe recipe;
  recipe.color = JpegColor::kGray;
  recipe.width = 120;
  recipe.height = 80;
  WriteJpegFile(dir.path() / "g.jpg", recipe);
  Window w(FileUrl(dir.path() / "g.jpg"));
  TForm1& f = *w.form;
  ASSERT_FALSE(f.Failed());
  ASSERT_EQ(f.bmp->BitsPerPixel(), 8);
  // A grey picture: the brightness and every channel give one histogram,
  // spread over the pattern's range.
  std::vector<std::vector<int>> shapes;
  for (int type = 0; type < 4; ++type) {
    f.hist(type);
    std::vector<int> painted;
    for (int x = 0; x < 255; ++x) painted.push_back(f.Image2.Canvas().Pixel(x, 119) != clWhite);
    shapes.push_back(painted);
  }
  EXPECT_EQ(shapes[0], shapes[1]);
  EXPECT_EQ(shapes[0], shapes[2]);
  EXPECT_EQ(shapes[0], shapes[3]);
  EXPECT_GT(std::count(shapes[3].begin(), shapes[3].end(), 1), 100);

  // A copy without pixels draws a white surface.
  f.bmp = std::make_unique<TBitmap>();
  f.hist(3);
  ExpectSurface(f.Image2, clGray, {});
  f.bmp.reset();
  f.hist(0);
  ExpectSurface(f.Image2, clRed, {});
}

TEST(HistogramTest, CanvasLines) {
  TCanvas canvas(10, 5);
  canvas.PenColor = clRed;
  canvas.MoveTo(-3, 2);
  canvas.LineTo(12, 2);  // clipped on both sides, end point excluded
  canvas.MoveTo(4, 0);
  canvas.LineTo(4, 0);  // a line of no length paints nothing
  canvas.MoveTo(0, 0);
  canvas.LineTo(3, 3);  // diagonal: (0,0) (1,1) (2,2)
  for (int x = 0; x < 10; ++x) EXPECT_EQ(canvas.Pixel(x, 2), clRed);
  EXPECT_EQ(canvas.Pixel(0, 0), clRed);
  EXPECT_EQ(canvas.Pixel(1, 1), clRed);
  EXPECT_EQ(canvas.Pixel(3, 3), clWhite);
  EXPECT_EQ(canvas.Pixel(4, 0), clWhite);
  canvas.FillRect(0, 0, 10, 5);
  EXPECT_EQ(canvas.Pixel(2, 2), clWhite);
}

}  // namespace
}  // namespace peloria::testing
