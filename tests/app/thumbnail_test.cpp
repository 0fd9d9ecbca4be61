// The thumbnail drawn from a JPEG decoded at a reduced scale against the
// thumbnail drawn from the full decode, as it was drawn before, for pictures
// of every shape, colour kind, coding and orientation: the same box, and the
// pixels within a small tolerance.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "app/startup.h"
#include "picture/orientation.h"
#include "tests/app/app_support.h"

namespace peloria::testing {
namespace {

// Mean and largest channel difference of two images of one size.
struct Difference {
  double mean = 0;
  int worst = 0;
};

Difference Compare(const QImage& a, const QImage& b) {
  Difference d;
  long sum = 0;
  long n = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y);
      const QRgb q = b.pixel(x, y);
      for (const int c : {std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q))}) {
        sum += c;
        ++n;
        d.worst = std::max(d.worst, c);
      }
    }
  }
  d.mean = n > 0 ? static_cast<double>(sum) / n : 0;
  return d;
}

// The thumbnail box of a w x h picture as seen, as the layout fits it.
QSize Box(int w, int h) {
  if (h < w) return {160, static_cast<int>(std::nearbyint(static_cast<double>(h) / w * 160))};
  return {static_cast<int>(std::nearbyint(static_cast<double>(w) / h * 120)), 120};
}

// The thumbnail of `path` drawn in a box of `box`, from the picture's own
// pixels (the full decode) or from `shown`.
QImage Thumbnail(const std::string& path, QSize box, int orientation,
                 std::shared_ptr<const TBitmap> shown) {
  TForm form;
  TImage image(form.Widget());
  image.Picture().LoadFromFile(path);
  image.SetShownPixels(std::move(shown));
  image.SetOrientation(orientation);
  image.SetStretch(true);
  image.SetBounds(0, 0, box.width(), box.height());
  return image.Widget()->grab().toImage();
}

TEST(ThumbnailTest, ReducedDecodeDrawsTodaysThumbnail) {
  App();
  TempDir dir;
  struct Row {
    const char* name;
    int width, height;
    JpegColor color;
    bool progressive;
    int orientation;
  } rows[] = {
      {"landscape", 1600, 1200, JpegColor::kColor, false, 1},
      {"portrait", 1200, 1600, JpegColor::kColor, false, 1},
      {"grey", 1280, 960, JpegColor::kGray, false, 1},
      {"CMYK", 1280, 960, JpegColor::kCmyk, false, 1},
      {"progressive", 1600, 1067, JpegColor::kColor, true, 1},
      {"turned a quarter", 1600, 1200, JpegColor::kColor, false, 6},
      {"turned half", 1600, 1200, JpegColor::kColor, false, 3},
      {"mirrored across", 1200, 1600, JpegColor::kColor, false, 7},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    JpegRecipe recipe = ShapedRecipe(r.width, r.height, r.color, r.progressive);
    recipe.noise = 6;  // a photo's fine detail, which the reductions average
    const std::string path = (dir.path() / "p.jpg").string();
    WriteJpegFile(path, recipe);
    const bool turned = SwapsSides(r.orientation);
    const QSize box = turned ? Box(r.height, r.width) : Box(r.width, r.height);

    TIdHTTP http;
    const TStartup startup(
        ProgramFiles{dir.path().string() + "/", (dir.path() / "Peloria.ini").string()});
    const TPhoto photo = startup.Open("file://" + path, "file://" + path, http, {}, nullptr,
                                      TStartup::kThumbnailFirst);
    const std::shared_ptr<const TBitmap> reduced = photo.Thumbnail();
    ASSERT_NE(reduced, nullptr);
    EXPECT_LT(reduced->Width(), r.width / 4) << "reduced at least to 1/4";
    const QImage today = Thumbnail(path, box, r.orientation, nullptr);
    const QImage now = Thumbnail(path, box, r.orientation, reduced);
    ASSERT_EQ(today.size(), box);
    ASSERT_EQ(now.size(), box);
    // Both are the picture smoothed into the box; they differ by rounding
    // and by where the samples fall: measured, under a level on average and
    // 5 at most.
    const Difference d = Compare(today, now);
    EXPECT_LE(d.mean, 1.5);
    EXPECT_LE(d.worst, 12);
  }
}

// The surface of the brightness histogram drawn by `form`.
QImage Histogram(TForm1& form) {
  form.Image1Click();
  return form.Image2.Canvas().Image();
}

// The first photo begun before the window: shown from its reduced decode in
// the same box, its histogram exactly that of the whole start, and a file the
// full decode refuses in the same failure display.
TEST(ThumbnailTest, FirstPhotoBegunBeforeTheWindow) {
  TempDir dir;
  const std::string turned = FileUrl(dir.Write(
      "t.jpg", ExifJpeg([](TiffWriter& w) { w.Short(w.Ifd0(), 0x0112, {6}); }, 1600, 1200)));
  TForm1::PrepareFirstPhoto(Cp932(turned), turned);
  Window first(turned);
  TForm1& f = *first.form;
  ASSERT_FALSE(f.Failed());
  EXPECT_EQ(f.bmp, nullptr) << "the copy is taken at the first need";
  ASSERT_NE(f.Image1.ShownPixels(), nullptr);
  EXPECT_EQ(f.Image1.ShownPixels()->Width(), 200);
  EXPECT_EQ(f.Image1.Width(), 90);
  EXPECT_EQ(f.Image1.Height(), 120);

  Window whole(turned);
  EXPECT_EQ(whole.form->Image1.ShownPixels(), nullptr);
  EXPECT_EQ(f.Label1.Caption(), whole.form->Label1.Caption());
  EXPECT_EQ(f.ClientWidth(), whole.form->ClientWidth());
  EXPECT_EQ(f.ClientHeight(), whole.form->ClientHeight());
  EXPECT_EQ(Histogram(f), Histogram(*whole.form));
  ASSERT_NE(f.bmp, nullptr);
  EXPECT_EQ(f.bmp->Width(), 1600);
  EXPECT_EQ(f.ClientHeight(), whole.form->ClientHeight());
  // The reduced decode is let go once drawn, and made again for a drawing
  // at another size, which shows the same picture.
  const QImage drawn = f.Image1.Widget()->grab().toImage();
  EXPECT_EQ(f.Image1.ShownPixels(), nullptr);
  f.Image1.SetBounds(0, 0, 45, 60);
  whole.form->Image1.SetBounds(0, 0, 45, 60);
  const QImage again = f.Image1.Widget()->grab().toImage();
  ASSERT_EQ(again.size(), QSize(45, 60));
  EXPECT_LE(Compare(again, whole.form->Image1.Widget()->grab().toImage()).mean, 1.5);
  EXPECT_EQ(drawn.size(), QSize(90, 120));

  std::string huge = MakeJpeg(JpegRecipe{});
  huge.replace(huge.find("\xFF\xC0") + 5, 4, "\xFF\xDC\xFF\xDC");  // 65500 x 65500
  const std::string refused = FileUrl(dir.Write("h.jpg", huge));
  TForm1::PrepareFirstPhoto(Cp932(refused), refused);
  Window failed(refused);
  Window failedWhole(refused);
  EXPECT_TRUE(failed.form->Failed());
  EXPECT_EQ(failed.form->FailureReport(), failedWhole.form->FailureReport());
  EXPECT_EQ(failed.form->ClientWidth(), failedWhole.form->ClientWidth());

  // Begun for another address: the window opens its own.
  TForm1::PrepareFirstPhoto(Cp932(turned), turned);
  Window other(refused);
  EXPECT_TRUE(other.form->Failed());
}

}  // namespace
}  // namespace peloria::testing
