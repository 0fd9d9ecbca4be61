// The window at a scale factor of 2 (QT_SCALE_FACTOR), as on a high-density
// screen: the same layout in logical pixels as at 1, a thumbnail rendered for
// the device pixels, and the histogram surface unchanged. Each scale needs a
// process of its own, so the window is made by a small probe program.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "tests/app/app_support.h"

namespace peloria::testing {
namespace {

namespace fs = std::filesystem;

RunResult Probe(const std::string& address, double scale, const fs::path& grabs = {}) {
  std::vector<std::string> args = {address};
  if (!grabs.empty()) args.push_back(grabs.string());
  char factor[16];
  std::snprintf(factor, sizeof factor, "%g", scale);
  return Run(PELORIA_LAYOUT_PROBE, args, {{"QT_SCALE_FACTOR", factor}});
}

// The probe's output without its first line, which names the pixel ratio.
std::string Layout(const RunResult& run) {
  return run.out.substr(run.out.find('\n') + 1);
}

// Mean brightness difference of neighbouring columns in the middle row band.
double ColumnContrast(const QImage& image) {
  double sum = 0;
  int n = 0;
  for (int y = image.height() / 4; y < image.height() * 3 / 4; ++y) {
    for (int x = 1; x < image.width(); ++x) {
      sum += std::abs(qGray(image.pixel(x, y)) - qGray(image.pixel(x - 1, y)));
      ++n;
    }
  }
  return n ? sum / n : 0;
}

TEST(ScaleTest, SameLogicalLayoutAtTwice) {
  TempDir dir;
  const std::string missing = FileUrl(dir.path() / "missing.jpg");
  for (const std::string& address : {FileUrl(PELORIA_SAMPLE), missing}) {
    SCOPED_TRACE(address);
    const RunResult one = Probe(address, 1);
    const RunResult two = Probe(address, 2);
    ASSERT_EQ(one.exitCode, address == missing ? 1 : 0) << one.err;
    ASSERT_EQ(two.exitCode, one.exitCode) << two.err;
    EXPECT_TRUE(one.out.starts_with("ratio 1\n")) << one.out;
    EXPECT_TRUE(two.out.starts_with("ratio 2\n")) << two.out;
    EXPECT_EQ(Layout(two), Layout(one));
  }
}

TEST(ScaleTest, ThumbnailFromTheFullPictureHistogramSurfaceUnchanged) {
  // Vertical stripes two pixels wide, 640 x 480: the 160 x 120 thumbnail
  // averages them to grey, while 320 x 240 device pixels can still show
  // them. A 160 x 120 rendering enlarged would show grey at scale 2 too.
  TempDir dir;
  WriteFile(dir.path() / "stripes.bmp", Bmp24(640, 480, [](int x, int) {
              const std::uint8_t v = x % 4 < 2 ? 0 : 255;
              return Rgb8{v, v, v};
            }));
  const std::string address = FileUrl(dir.path() / "stripes.bmp");
  for (double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    const fs::path grabs = dir.path() / std::to_string(static_cast<int>(scale));
    fs::create_directory(grabs);
    const RunResult run = Probe(address, scale, grabs);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\nsurface 255 120\n"), std::string::npos) << run.out;

    const QImage thumbnail((grabs / "thumbnail.png").c_str());
    ASSERT_EQ(thumbnail.size(), QSize(160, 120) * scale);
    if (scale == 1) {
      EXPECT_LT(ColumnContrast(thumbnail), 40);
    } else {
      EXPECT_GT(ColumnContrast(thumbnail), 150);
    }
    const QImage histogram((grabs / "histogram.png").c_str());
    EXPECT_EQ(histogram.size(), QSize(160, 60) * scale);
  }
}

}  // namespace
}  // namespace peloria::testing
