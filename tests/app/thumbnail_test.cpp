// The thumbnail drawn from a JPEG decoded at a reduced scale against the
// thumbnail drawn from the full decode, as it was drawn before, for pictures
// of every shape, colour kind, coding and orientation: the same box, and the
// pixels within a small tolerance.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "app/picture_decodes.h"
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
    JpegRecipe recipe;
    recipe.width = r.width;
    recipe.height = r.height;
    recipe.color = r.color;
    recipe.progressive = r.progressive;
    recipe.noise = 6;  // a photo's fine detail, which the reductions average
    const std::string path = (dir.path() / "p.jpg").string();
    WriteJpegFile(path, recipe);
    const bool turned = SwapsSides(r.orientation);
    const QSize box = turned ? Box(r.height, r.width) : Box(r.width, r.height);

    TPictureDecodes decodes(path);
    const std::shared_ptr<const TBitmap> reduced = decodes.Thumbnail();
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

}  // namespace
}  // namespace peloria::testing
