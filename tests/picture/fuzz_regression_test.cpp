// Inputs found by fuzzing the picture readers, kept as regression tests of
// the faults they showed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/errors.h"
#include "picture/jpeg.h"
#include "platform/stream.h"
#include "tests/support/jpeg_fixtures.h"

namespace peloria {
namespace {

using testing::JpegColor;
using testing::JpegRecipe;
using testing::MakeJpeg;

// Offset of the first marker `code` (0xC0 for SOF0, 0xDA for SOS).
std::size_t MarkerAt(const std::string& jpeg, unsigned char code) {
  const std::size_t at = jpeg.find(std::string{'\xFF', static_cast<char>(code)});
  EXPECT_NE(at, std::string::npos);
  return at;
}

void SetLength(std::string& jpeg, std::size_t marker, std::size_t length) {
  jpeg[marker + 2] = static_cast<char>(length >> 8);
  jpeg[marker + 3] = static_cast<char>(length & 0xFF);
}

// A 16 x 8 file whose frame declares `components` components of an unknown
// colour space. From a four-component (CMYK) file: the frame gains
// components that no scan codes, or the frame and the scan both lose their
// last ones.
std::string UnknownColourSpace(int components) {
  JpegRecipe recipe;
  recipe.width = 16;
  recipe.height = 8;
  recipe.color = JpegColor::kCmyk;
  std::string jpeg = MakeJpeg(recipe);
  // The Adobe marker would name the colour space; without it four components
  // still read as CMYK, any other count as unknown.
  const std::size_t sof = MarkerAt(jpeg, 0xC0);
  const std::size_t frameComponents = sof + 10;
  if (components > 4) {
    std::string extra;
    for (int id = 5; id <= components; ++id) extra += {static_cast<char>(id), '\x11', '\0'};
    jpeg.insert(frameComponents + 4 * 3, extra);
  } else {
    jpeg.erase(frameComponents + components * 3, (4 - components) * 3);
    const std::size_t sos = MarkerAt(jpeg, 0xDA);
    jpeg.erase(sos + 5 + components * 2, (4 - components) * 2);
    jpeg[sos + 4] = static_cast<char>(components);
    SetLength(jpeg, sos, 6 + components * 2);
  }
  jpeg[sof + 9] = static_cast<char>(components);
  SetLength(jpeg, sof, 8 + components * 3);
  return jpeg;
}

void ExpectCopyRefused(const std::string& jpeg, TJPEGPixelFormat format) {
  TJPEGImage image;
  image.SetPixelFormat(format);
  TMemoryStream stream(std::vector<std::uint8_t>(jpeg.begin(), jpeg.end()));
  image.LoadFromStream(stream);
  TBitmap copy;
  EXPECT_THROW(copy.Assign(&image), EJPEG);
}

// Two components: the colour map had two entries per colour, and building
// the palette read a third that did not exist. Five to ten components: the
// decoder wrote more bytes per pixel than a 24-bit row holds.
TEST(PictureFuzzRegressionTest, JpegOfUnknownColourSpaceIsRefused) {
  for (int components : {2, 5, 6, 10}) {
    SCOPED_TRACE(components);
    const std::string jpeg = UnknownColourSpace(components);
    ExpectCopyRefused(jpeg, TJPEGPixelFormat::jf24Bit);
    ExpectCopyRefused(jpeg, TJPEGPixelFormat::jf8Bit);
  }
}

TEST(PictureFuzzRegressionTest, FourComponentJpegStillDecodes) {
  TJPEGImage image;
  const std::string jpeg = UnknownColourSpace(4);
  TMemoryStream stream(std::vector<std::uint8_t>(jpeg.begin(), jpeg.end()));
  image.LoadFromStream(stream);
  TBitmap copy;
  copy.Assign(&image);
  EXPECT_EQ(copy.Width(), 16);
  EXPECT_EQ(copy.BitsPerPixel(), 24);
}

// A progressive file whose last scan is repeated so that it has `scans`
// scans in all. The decoder only warns about the repeated progression, and
// every scan costs a pass over the whole picture.
std::string WithScans(int scans) {
  JpegRecipe recipe;
  recipe.width = 16;
  recipe.height = 16;
  recipe.color = JpegColor::kGray;
  recipe.progressive = true;
  std::string jpeg = MakeJpeg(recipe);
  int have = 0;
  for (std::size_t at = 0; (at = jpeg.find("\xFF\xDA", at)) != std::string::npos; at += 2) ++have;
  const std::size_t last = jpeg.rfind("\xFF\xDA");
  const std::size_t end = jpeg.size() - 2;  // the end-of-image marker
  const std::string scan = jpeg.substr(last, end - last);
  std::string repeated;
  for (int i = have; i < scans; ++i) repeated += scan;
  jpeg.insert(end, repeated);
  return jpeg;
}

TEST(PictureFuzzRegressionTest, JpegWithTooManyScansIsRefused) {
  const auto decode = [](const std::string& jpeg) {
    TJPEGImage image;
    TMemoryStream stream(std::vector<std::uint8_t>(jpeg.begin(), jpeg.end()));
    image.LoadFromStream(stream);
    TBitmap copy;
    copy.Assign(&image);
    return copy.Height();
  };
  EXPECT_EQ(decode(WithScans(500)), 16);
  EXPECT_THROW(decode(WithScans(501)), EJPEG);
}

}  // namespace
}  // namespace peloria
