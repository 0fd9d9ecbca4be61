// JPEG files made with libjpeg's encoder for tests. Every picture follows a
// known, smooth pattern, so that decoded pixels can be checked against
// PatternColor / PatternGray within JPEG's tolerance (a few levels at
// quality 90 and above).
//
//   JpegRecipe recipe;                     // 640 x 480 colour, quality 90
//   recipe.width = 100; recipe.height = 1;
//   std::string bytes = MakeJpeg(recipe);
//   WriteJpegFile(dir.path() / "x.jpg", recipe);
//
// Colour kinds:
//   kColor  three components, YCbCr (JFIF)
//   kRgb    three components stored as RGB (Adobe marker, transform 0)
//   kGray   one component
//   kCmyk   four components, Adobe marker with transform 0
//   kYcck   four components, Adobe marker with transform 2
// CMYK and YCCK pictures are stored inverted as Adobe writes them (255 = no
// ink) and chosen so that C' * K' / 255 gives the pattern's red (and so on
// for magenta / green and yellow / blue).
//
// Encoder failures (bad arguments) throw std::runtime_error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace peloria::testing {

enum class JpegColor { kColor, kRgb, kGray, kCmyk, kYcck };

// One marker segment to write after the start of the file (after JFIF or
// Adobe markers): `code` is the marker (0xE1 for APP1 Exif, 0xFE for a
// comment), `payload` its data without the length field.
struct JpegMarker {
  int code;
  std::string payload;
};

struct JpegRecipe {
  int width = 640;
  int height = 480;
  JpegColor color = JpegColor::kColor;
  int quality = 90;
  bool progressive = false;
  // Write the JFIF APP0 marker (kColor and kGray only); camera files carry
  // an Exif APP1 instead.
  bool jfif = true;
  std::vector<JpegMarker> markers;
  // Adds deterministic pseudo-random noise of up to +-noise levels to every
  // sample, which gives photo-like file sizes and decoding work (the
  // pattern functions below then hold only on average).
  int noise = 0;
};

struct Rgb {
  std::uint8_t r, g, b;
};

// The colour of pixel (x, y) of a width x height pattern: red grows from left
// to right (0 .. 255), green from top to bottom (0 .. 255), blue is
// 255 - (red + green) / 2.
Rgb PatternColor(int x, int y, int width, int height);
// The grey level of pixel (x, y): (x / (width-1) + y / (height-1)) * 255 / 2,
// dark at the top left, light at the bottom right.
std::uint8_t PatternGray(int x, int y, int width, int height);

// The JPEG file as bytes.
std::string MakeJpeg(const JpegRecipe& recipe);
// Writes the JPEG file to `path` (a native file-system path) and answers its bytes.
std::string WriteJpegFile(const std::filesystem::path& path, const JpegRecipe& recipe);

// The offset of the first byte after the SOS (start of scan) segment of a
// JPEG file, i.e. where the compressed image data begins; std::string::npos
// when the file has none. Cutting a file before this offset leaves no image
// data; cutting it after leaves a partial scan.
std::size_t ScanDataOffset(const std::string& jpeg);

// A progressive greyscale file whose frame header declares width x height
// but whose data is `scans` empty first scans of the DC coefficients: the
// tables of a small encoded picture, then only scan headers. Each scan costs
// the decoder a pass over every block of the declared picture although the
// file holds a few bytes per scan.
std::string MakeEmptyScansJpeg(int width, int height, int scans);

}  // namespace peloria::testing
