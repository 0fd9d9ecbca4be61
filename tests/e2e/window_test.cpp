// The window road under a private X display: the window on a photo, read back
// from screenshots (the thumbnail's and the histogram's extents and content,
// checked against the picture itself), a click on the thumbnail, a radio
// button, the Close button, and the failure and error displays.
#include <sys/wait.h>

#include <QColor>
#include <QImage>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/e2e/display.h"
#include "tests/e2e/installation.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace peloria::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr int kWindowTimeoutMs = 30000;
const std::string kCaption = "Peloria　 画像クリックでヒストグラム表示";

// nearest(x): halves go to the even neighbour, as the layout rounds.
int Nearest(double x) {
  return static_cast<int>(std::nearbyint(x));
}

bool IsWhite(QRgb p) {
  return p == qRgb(255, 255, 255);
}

// The pen colours of the histogram as they look on the screen.
bool IsGrey(QRgb p) {
  return std::abs(qRed(p) - qGreen(p)) < 12 && std::abs(qGreen(p) - qBlue(p)) < 12 && qRed(p) < 200;
}
bool IsRed(QRgb p) {
  return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
}

// The number of pixels in `area` for which `is` holds.
int Count(const QImage& shot, const QRect& area, bool (*is)(QRgb)) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom() && y < shot.height(); ++y) {
    for (int x = area.left(); x <= area.right() && x < shot.width(); ++x) n += is(shot.pixel(x, y));
  }
  return n;
}

// The number of dark pixels (text) in the columns left of `right`.
int Ink(const QImage& shot, int right) {
  int ink = 0;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < right; ++x) ink += qGray(shot.pixel(x, y)) < 100;
  }
  return ink;
}

// The thumbnail's size for a picture of w x h: 160 wide when the picture is
// wider than high, else 120 high.
QSize ThumbnailSize(int w, int h) {
  if (h < w) return {160, Nearest(static_cast<double>(h) / w * 160)};
  return {Nearest(static_cast<double>(w) / h * 120), 120};
}

// The line heights of a histogram surface (0 to 120) for counters 0 to 254,
// those that fall on the 255-pixel surface. `channel` 0 red, 1 green, 2 blue,
// 3 brightness, as in the program.
std::array<int, 255> ExpectedLines(const QImage& picture, int channel) {
  std::array<long, 257> counts{};
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) {
      const int r = qRed(row[x]), g = qGreen(row[x]), b = qBlue(row[x]);
      const int value = channel == 0 ? r : channel == 1 ? g : channel == 2 ? b : (r + g + b) / 3;
      ++counts[static_cast<size_t>(value)];
    }
  }
  const long max = *std::max_element(counts.begin(), counts.end());
  std::array<int, 255> lines{};
  for (size_t i = 0; i < lines.size(); ++i) {
    lines[i] = max == 0 ? 0 : Nearest(static_cast<double>(counts[i]) / max * 120);
  }
  return lines;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = static_cast<double>(a.size());
  const double ma = std::accumulate(a.begin(), a.end(), 0.0) / n;
  const double mb = std::accumulate(b.begin(), b.end(), 0.0) / n;
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return saa == 0 || sbb == 0 ? 0 : sab / std::sqrt(saa * sbb);
}

// Where a screenshot is kept: $PELORIA_SCREENSHOT (scripts/screenshot sets it
// to docs/screenshot.png), else beside the test in the build folder.
fs::path ScreenshotFile() {
  if (const char* path = std::getenv("PELORIA_SCREENSHOT"); path && *path) return path;
  return PELORIA_SCREENSHOT_DEFAULT;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xwd", "xdotool"}) {
      if (testing::FindProgram(tool).empty()) {
        GTEST_SKIP() << tool << " is not installed (scripts/deps installs it)";
      }
    }
    display_ = std::make_unique<XDisplay>(app_.scratch() / "xvfb.log");
  }

  // Starts Peloria on the display and answers its first visible window.
  std::string Open(const std::vector<std::string>& args, bool asNobody = false) {
    Command command = app_.Start(args, display_->name(), asNobody);
    program_ = std::make_unique<Process>(command, app_.scratch() / "peloria.log");
    auto windows = display_->WindowsOf(program_->pid(), kWindowTimeoutMs);
    if (windows.empty()) {
      ADD_FAILURE() << "no window appeared; output:\n"
                    << ReadFile(app_.scratch() / "peloria.log").value_or("");
      return {};
    }
    return windows.front();
  }

  // The window's client area once it has been painted (its corner is no
  // longer the black of the empty screen), has stopped changing and `ready`
  // holds; the last picture when that takes too long.
  QImage Capture(const std::string& window, Rect& rect,
                 const std::function<bool(const QImage&)>& ready = {}) {
    QImage shot;
    testing::WaitUntil(
        [&] {
          rect = display_->Geometry(window);
          QImage screen = display_->SettledScreenshot(rect);
          rect = display_->Geometry(window);
          shot = screen.copy(rect.x, rect.y, rect.width, rect.height);
          return shot.width() > 1 && shot.height() > 1 && shot.pixel(1, 1) != qRgb(0, 0, 0) &&
                 (!ready || ready(shot));
        },
        milliseconds(kWindowTimeoutMs), milliseconds(100));
    return shot;
  }

  // Waits for the program to end by itself and answers its exit code.
  int ExitCode() {
    auto status = program_->Wait(milliseconds(kWindowTimeoutMs));
    if (!status) return -1;
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  }

  Installation app_;
  std::unique_ptr<XDisplay> display_;
  std::unique_ptr<Process> program_;
};

// Checks that `area` of `shot` shows the histogram surface of `picture` for
// `channel`, drawn in pixels for which `isPen` holds, on white.
template <typename Pen>
void ExpectHistogram(const QImage& shot, const QRect& area, const QImage& picture, int channel,
                     Pen isPen) {
  const auto lines = ExpectedLines(picture, channel);
  std::vector<double> measured, expected;
  int white = 0, pen = 0, other = 0;
  for (int x = 0; x < area.width(); ++x) {
    int painted = 0;
    for (int y = 0; y < area.height(); ++y) {
      const QRgb p = shot.pixel(area.x() + x, area.y() + y);
      if (IsWhite(p)) {
        ++white;
      } else if (isPen(p)) {
        ++pen;
        ++painted;
      } else {
        ++other;
      }
    }
    measured.push_back(painted);
    // The 255-pixel surface is shown 160 wide and half as high.
    const int source = std::min(254, (2 * x + 1) * 255 / (2 * area.width()));
    expected.push_back(lines[static_cast<size_t>(source)] / 2.0);
  }
  const int total = area.width() * area.height();
  EXPECT_GT(white, total / 4) << "the surface is not white";
  EXPECT_GT(pen, 0) << "no line in the pen colour";
  EXPECT_LT(other, total / 50) << "pixels of other colours in the histogram";
  EXPECT_GT(Correlation(measured, expected), 0.98)
      << "the drawn lines do not follow the picture's histogram";
}

// Checks that the window `shot` shows `picture` as its thumbnail: flush with
// the top, 3 pixels from the right edge, of the size the layout gives the
// picture, surrounded by the window colour, with the picture's colours.
// Answers the thumbnail's left edge, -1 when it cannot be there.
int ExpectThumbnail(const QImage& shot, const QImage& picture) {
  const QRgb face = shot.pixel(1, 1);  // outside every widget: the window colour
  auto isFace = [&](int x, int y) { return shot.pixel(x, y) == face; };
  const QSize thumb = ThumbnailSize(picture.width(), picture.height());
  const int left = shot.width() - 3 - thumb.width();
  if (left <= 20) {
    ADD_FAILURE() << "the window is narrower than the thumbnail";
    return -1;
  }
  int covered = 0;
  for (int y = 0; y < thumb.height(); ++y) {
    for (int x = left; x < left + thumb.width(); ++x) covered += !isFace(x, y);
    EXPECT_TRUE(isFace(left - 1, y)) << "picture left of the thumbnail, row " << y;
    EXPECT_TRUE(isFace(left + thumb.width(), y)) << "picture right of the thumbnail, row " << y;
  }
  for (int x = left; x < left + thumb.width(); ++x) {
    EXPECT_TRUE(isFace(x, thumb.height())) << "picture below the thumbnail, column " << x;
  }
  EXPECT_GT(covered, thumb.width() * thumb.height() * 95 / 100) << "the thumbnail is empty";
  // Its content is the picture: compare the mean colours of a 4 x 4 grid.
  const QImage scaled = picture.convertToFormat(QImage::Format_RGB32)
                            .scaled(thumb, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  for (int gy = 0; gy < 4; ++gy) {
    for (int gx = 0; gx < 4; ++gx) {
      std::array<double, 6> sum{};
      const QRect cell(gx * thumb.width() / 4, gy * thumb.height() / 4, thumb.width() / 4,
                       thumb.height() / 4);
      for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x) {
          const QRgb s = shot.pixel(left + x, y), e = scaled.pixel(x, y);
          sum[0] += qRed(s), sum[1] += qGreen(s), sum[2] += qBlue(s);
          sum[3] += qRed(e), sum[4] += qGreen(e), sum[5] += qBlue(e);
        }
      }
      const double n = cell.width() * cell.height();
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(sum[c] / n, sum[c + 3] / n, 8) << "cell " << gx << "," << gy;
      }
    }
  }
  return left;
}

TEST_F(WindowTest, PhotoWindowThumbnailHistogramAndClose) {
  const fs::path photo = PELORIA_SAMPLE_PHOTO;
  QImage picture(QString::fromStdString(photo.string()));
  if (picture.isNull()) GTEST_SKIP() << "the build made no sample photo at " << photo;

  const std::string window = Open({"file://" + photo.string()});
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(display_->Title(window), kCaption);

  Rect rect;
  QImage shot = Capture(window, rect);
  const QRgb face = shot.pixel(1, 1);  // outside every widget: the window colour
  auto isFace = [&](int x, int y) { return shot.pixel(x, y) == face; };

  const int left = ExpectThumbnail(shot, picture);
  ASSERT_GT(left, 0);
  const QSize thumb = ThumbnailSize(picture.width(), picture.height());
  // The summary: dark text left of the thumbnail.
  EXPECT_GT(Ink(shot, left - 1), 200) << "no summary text";

  // A click on the thumbnail draws the brightness histogram below it.
  display_->Click(rect.x + left + thumb.width() / 2, rect.y + thumb.height() / 2);
  const int top = thumb.height() + 3;
  const QRect area(left, top, 160, 60);
  const Rect before = rect;
  shot = Capture(window, rect, [&](const QImage& s) {
    return s.height() > before.height && Count(s, area, IsGrey) > 0;
  });
  EXPECT_GT(rect.height, before.height) << "the window did not grow for the histogram";
  ASSERT_LE(area.right() + 3, rect.width - 1) << "the histogram does not fit the window";
  for (int x = left; x < left + 160; ++x) {
    EXPECT_TRUE(isFace(x, top - 1)) << "column " << x << " above the histogram";
    EXPECT_TRUE(isFace(x, top + 60)) << "column " << x << " below the histogram";
  }
  for (int y = top; y < top + 60; ++y) {
    EXPECT_TRUE(isFace(left - 1, y)) << "row " << y << " left of the histogram";
    EXPECT_TRUE(isFace(left + 160, y)) << "row " << y << " right of the histogram";
  }
  ExpectHistogram(shot, area, picture, 3, IsGrey);
  const fs::path png = ScreenshotFile();
  fs::create_directories(png.parent_path());
  EXPECT_TRUE(shot.save(QString::fromStdString(png.string()), "PNG")) << png;

  // The radio button R (the first, below the histogram's left edge) redraws
  // it in red.
  display_->Click(rect.x + left + 8, rect.y + top + 60 + 2 + 8);
  shot = Capture(window, rect, [&](const QImage& s) { return Count(s, area, IsRed) > 0; });
  ExpectHistogram(shot, area, picture, 0, IsRed);

  // Close, centred near the bottom edge, ends the program.
  display_->Click(rect.x + rect.width / 2, rect.y + rect.height - 5 - 12);
  EXPECT_EQ(ExitCode(), 0) << "Close did not end the program";
}

// As a file manager's or browser's "open with" starts it through the
// desktop entry's %u with a plain path: the window shows that file, and its
// class is the entry's StartupWMClass.
TEST_F(WindowTest, PlainPathFromALauncher) {
  QImage picture(QString::fromStdString(PELORIA_SAMPLE_PHOTO));
  if (picture.isNull()) GTEST_SKIP() << "the build made no sample photo";
  const fs::path photo = app_.scratch() / "Downloads" / "Foto vom 18. Mai #2.jpg";
  fs::create_directories(photo.parent_path());
  fs::copy_file(PELORIA_SAMPLE_PHOTO, photo);

  const std::string window = Open({photo.string()});
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(display_->Title(window), kCaption);
  const auto classed = display_->WindowsOfClass("Peloria");
  EXPECT_NE(std::find(classed.begin(), classed.end(), window), classed.end());
  Rect rect;
  ExpectThumbnail(Capture(window, rect), picture);
  EXPECT_EQ(app_.TempJpg(), std::nullopt) << "a local file is never downloaded";
}

TEST_F(WindowTest, NoAddressShowsTheFailureDisplay) {
  const std::string window = Open({});
  ASSERT_FALSE(window.empty());

  EXPECT_EQ(display_->Title(window), "Peloria error");
  Rect rect;
  QImage shot = Capture(window, rect);
  EXPECT_LT(rect.width, 250) << "the failure display shows the label and Close only";
  EXPECT_GT(Ink(shot, rect.width), 100) << "no message in the window";
  EXPECT_EQ(app_.TempJpg(), "") << "an empty temp.jpg stays behind";

  display_->Click(rect.x + rect.width / 2, rect.y + rect.height - 3 - 12);
  EXPECT_EQ(ExitCode(), 0);
}

// Started on one picture of a folder, → shows the next one: its thumbnail,
// and its one-line summary where the first picture had ten lines.
TEST_F(WindowTest, RightArrowShowsTheNextPictureOfTheFolder) {
  QImage first(QString::fromStdString(PELORIA_SAMPLE_PHOTO));
  if (first.isNull()) GTEST_SKIP() << "the build made no sample photo";
  const fs::path folder = app_.scratch() / "Session";
  fs::create_directories(folder);
  fs::copy_file(PELORIA_SAMPLE_PHOTO, folder / "IMG_2.jpg");
  // The next in natural order (IMG_10 after IMG_2): taller than wide, no Exif.
  testing::JpegRecipe tall;
  tall.width = 90;
  tall.height = 160;
  testing::WriteJpegFile(folder / "IMG_10.jpg", tall);
  const QImage second(QString::fromStdString((folder / "IMG_10.jpg").string()));

  const std::string window = Open({(folder / "IMG_2.jpg").string()});
  ASSERT_FALSE(window.empty());
  Rect rect;
  QImage shot = Capture(window, rect);
  ExpectThumbnail(shot, first);
  const int firstHeight = rect.height;

  display_->Key(window, "Right");
  // The window is laid out again for the next picture: 120 high thumbnail,
  // a summary of one line.
  shot = Capture(window, rect, [&](const QImage&) { return rect.height != firstHeight; });
  ExpectThumbnail(shot, second);
  const int labelRight = rect.width - 3 - ThumbnailSize(90, 160).width() - 20;
  int lowInk = 0;
  for (int y = 8 + 12 + 2; y < 120; ++y) {
    for (int x = 0; x < labelRight; ++x) lowInk += qGray(shot.pixel(x, y)) < 100;
  }
  int lineInk = 0;
  for (int y = 8; y < 8 + 12; ++y) {
    for (int x = 0; x < labelRight; ++x) lineInk += qGray(shot.pixel(x, y)) < 100;
  }
  EXPECT_EQ(lowInk, 0) << "the summary has more than one line";
  EXPECT_GT(lineInk, 20) << "no summary";
  EXPECT_EQ(display_->Title(window), kCaption);

  display_->Key(window, "Escape");
  EXPECT_EQ(ExitCode(), 0);
}

// Esc, Ctrl+W and Ctrl+Q close the window as Close does.
TEST_F(WindowTest, KeysCloseTheWindow) {
  for (const char* keys : {"Escape", "ctrl+w", "ctrl+q"}) {
    SCOPED_TRACE(keys);
    const std::string window = Open({PELORIA_SAMPLE_PHOTO});
    ASSERT_FALSE(window.empty());
    display_->Key(window, keys);
    EXPECT_EQ(ExitCode(), 0) << keys << " did not end the program";
  }
}

// The failure display keeps its words; resting the pointer on them shows a
// tooltip (with the cause and the address), and standard error gets the
// same one-line report as the terminal mode.
TEST_F(WindowTest, FailureTooltipAndReportOnStandardError) {
  const std::string missing = (app_.scratch() / "missing.jpg").string();
  const std::string window = Open({"file://" + missing});
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(display_->Title(window), "Peloria error");
  Rect rect;
  Capture(window, rect);
  EXPECT_EQ(display_->WindowsOf(program_->pid(), 0).size(), 1u);

  display_->Focus(window);
  display_->MovePointer(rect.x + 30, rect.y + 12);
  std::size_t windows = 1;
  testing::WaitUntil(
      [&] { return (windows = display_->WindowsOf(program_->pid(), 0).size()) >= 2; },
      milliseconds(kWindowTimeoutMs), milliseconds(100));
  EXPECT_EQ(windows, 2u) << "no tooltip appeared over the label";

  display_->Key(window, "Escape");
  EXPECT_EQ(ExitCode(), 0);
  EXPECT_THAT(ReadFile(app_.scratch() / "peloria.log").value_or(""),
              ::testing::HasSubstr("peloria: file://" + missing + ": " + kFetchFailed +
                                   " (ファイル " + missing + " は開けません)\n"));
}

// A web address in the window: the camera file comes from nginx into
// temp.jpg and is shown with its summary; a missing one gives the failure
// display.
TEST_F(WindowTest, DownloadedPhotoAndMissingPhoto) {
  PELORIA_SKIP_WITHOUT_NGINX();
  // A real camera file, or the build's sample photo without the sample folder.
  const fs::path camera = fs::path(PELORIA_SAMPLES_DIR) / "Nikon_D70.jpg";
  auto bytes = ReadFile(fs::exists(camera) ? camera : fs::path(PELORIA_SAMPLE_PHOTO));
  if (!bytes) GTEST_SKIP() << "no photo to serve";
  const fs::path www = app_.scratch() / "www";
  fs::create_directories(www);
  std::ofstream(www / "DSC_0042.JPG", std::ios::binary) << *bytes;
  testing::NginxServer server(www);
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());

  std::string window = Open({base + "/DSC_0042.JPG"});
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(display_->Title(window), kCaption);
  Rect rect;
  QImage shot = Capture(window, rect);
  QImage picture;
  ASSERT_TRUE(picture.loadFromData(reinterpret_cast<const uchar*>(bytes->data()),
                                   static_cast<int>(bytes->size())));
  const int left = ExpectThumbnail(shot, picture);
  EXPECT_GT(Ink(shot, left - 1), 200) << "no summary text";
  EXPECT_EQ(app_.TempJpg(), bytes);
  program_.reset();

  window = Open({base + "/DSC_0043.JPG"});
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(display_->Title(window), "Peloria error");
  EXPECT_THAT(app_.TempJpg().value_or(""), ::testing::HasSubstr("404 Not Found"));
}

// The general error display: a message box titled "Peloria" over the window,
// which keeps its design text. A temp.jpg that is a symbolic link is never
// written through: the download stops there.
TEST_F(WindowTest, TempJpgAsALinkShowsAMessageBox) {
  const fs::path elsewhere = app_.scratch() / "elsewhere.txt";
  std::ofstream(elsewhere) << "kept";
  fs::create_symlink(elsewhere, app_.tempJpg());
  const std::string box = Open({"http://127.0.0.1:9/picture.jpg"});
  ASSERT_FALSE(box.empty());
  EXPECT_EQ(display_->Title(box), "Peloria") << "the first window is the message box";
  EXPECT_EQ(ReadFile(elsewhere), "kept");

  // Its OK button (bottom right) lets the window open as far as it was set
  // up: the design caption, the summary never written.
  Rect rect;
  QImage shot = Capture(box, rect);
  display_->Click(rect.x + rect.width - 50, rect.y + rect.height - 22);
  std::string window;
  testing::WaitUntil(
      [&] {
        for (const auto& w : display_->WindowsOf(program_->pid(), 0)) {
          if (display_->Title(w) == kCaption) window = w;
        }
        return !window.empty();
      },
      milliseconds(kWindowTimeoutMs), milliseconds(100));
  ASSERT_FALSE(window.empty()) << "the main window did not open after the message box";
  shot = Capture(window, rect);
  EXPECT_GT(Ink(shot, rect.width), 50) << "no text in the window";
}

}  // namespace
}  // namespace peloria::e2e
