// Picture files of the kinds decoded at load, made with the libraries'
// encoders for tests (the program itself never encodes). Every fixture
// shows a picture given as rows of 0xAARRGGBB pixels, so that a test can
// compare the decoded bitmap with what it asked for; lossy kinds (WebP
// lossy, HEIF) come back within their tolerance only.
//
//   Pixels p = Quadrants(8, 6);                 // four coloured quarters
//   std::string png = MakePng(p, {.exif = tiff});
//
// An Exif block (a TIFF block as TiffWriter builds it) can be put into each
// container where that container keeps it. Encoder failures throw
// std::runtime_error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace peloria::testing {

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;  // rows top first, 0xAARRGGBB

  std::uint32_t At(int x, int y) const {
    return argb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                static_cast<std::size_t>(x)];
  }
};

// Opaque quarters: top left red, top right green, bottom left blue, bottom
// right white (width and height even).
Pixels Quadrants(int width, int height);
// PatternColor of jpeg_fixtures.h as opaque pixels, with alpha 0 in the
// left column and 128 in the top row when `alpha` is set.
Pixels Gradient(int width, int height, bool alpha = false);

// Colour of `argb` laid onto white, as the decoders do it.
std::uint32_t OnWhite(std::uint32_t argb);

struct ContainerOptions {
  std::string exif;         // a TIFF block; empty: none
  bool exifPrefix = false;  // WebP: "Exif\0\0" before the block
  bool exifLate = false;    // PNG: the eXIf chunk after the image data
  bool interlaced = false;  // PNG: Adam7
  bool lossless = true;     // WebP
  bool avif = false;        // HEIF: AV1 instead of HEVC
};

std::string MakePng(const Pixels& pixels, const ContainerOptions& options = {});
// Recomputes the CRC of the PNG chunk starting at `at` (its length field)
// after a test changed its data.
void FixPngCrc(std::string& png, std::size_t at);
std::string MakeWebP(const Pixels& pixels, const ContainerOptions& options = {});
// An animation of the frames (all of the first's size), lossless, 100 ms
// each, made by libwebpmux's animation encoder.
std::string MakeAnimatedWebP(const std::vector<Pixels>& frames);
std::string MakeHeif(const Pixels& pixels, const ContainerOptions& options = {});
std::string MakeGif(const Pixels& pixels, bool interlaced = false);
// A HEIC grid picture as phones write them: columns x rows tiles, each the
// HEVC-coded `tile`, laid onto a canvas of width x height (the grid's own
// header; tiles beyond it are cut). Its "ispe" property declares
// declaredWidth x declaredHeight, the canvas size when left at 0 as in a
// sound file.
struct HeifGrid {
  int columns = 2;
  int rows = 2;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t declaredWidth = 0;
  std::uint32_t declaredHeight = 0;
  bool headerInMeta = false;  // the grid header in the "idat" box, not the media data
  std::size_t headerCut = 0;  // bytes cut off the header's end (a broken file)
};
std::string MakeHeifGrid(const Pixels& tile, const HeifGrid& grid);

// A TIFF file with the pixels (uncompressed red, green, blue strips of 2
// rows; with alpha, an unassociated alpha sample), an orientation tag when
// `orientation` is not 0, and the Exif IFD entries of `exif` when given:
// built by TiffWriter in either byte order (0: Intel, 1: Motorola).
struct TiffOptions {
  bool motorola = false;
  int orientation = 0;
  bool alpha = false;
  // Adds an Exif IFD with these rational FNumber and the Model text.
  std::string model;
  std::uint32_t fNumberTimesTen = 0;
};
std::string MakeTiff(const Pixels& pixels, const TiffOptions& options = {});
// The same picture written by libtiff itself: LZW, tiled 16 x 16.
std::string MakeTiledTiff(const Pixels& pixels);
// A greyscale side x side TIFF of JPEG-compressed 16 x 16 tiles that all
// point at one progressive stream of `scans` empty scans (MakeEmptyScansJpeg):
// a few bytes per tile make libtiff run every scan for every tile.
std::string MakeSharedJpegTileTiff(std::uint32_t side, int scans);

// JPEG XL files made by cjxl from a PNG file of the pixels: lossless
// (-d 0) or lossy (-d 1), a bare codestream or a container; an "Exif" box
// holding `exif` (a TIFF block, after the box's 4-byte offset 0) makes a
// container and is put after its signature boxes.
struct JxlOptions {
  bool lossless = true;
  bool container = false;
  std::string exif;
  int effort = 0;     // cjxl's -e; 0 keeps its default
  bool grey = false;  // a greyscale picture of the pixels' green samples, without alpha
};
std::string MakeJxl(const Pixels& pixels, const JxlOptions& options = {});
// A JPEG file transcoded by cjxl without loss, as a camera's photo is
// converted: its Exif segment goes into a Brotli-compressed "brob" box and its
// Exif orientation into the codestream's, which the decoder applies.
std::string JxlFromJpeg(const std::string& jpeg);
// `container` with a box of `type` holding `contents` after its signature
// boxes.
std::string WithJxlBox(const std::string& container, const std::string& type,
                       const std::string& contents);

// An icon file holding the given images: each a BMP image (32-bit with
// alpha when `alpha`, else 24-bit with an AND mask taken from alpha < 128)
// or a PNG file.
struct IconImage {
  Pixels pixels;
  bool png = false;
  bool alpha = true;
};
std::string MakeIcon(const std::vector<IconImage>& images);

// A TIFF block with Make, Model, Orientation (when not 0) and in the Exif
// IFD FNumber 2.8 and ExposureTime 1/125, in either byte order.
std::string ExifBlock(bool motorola, int orientation, const std::string& model = "Peloria Cam");

}  // namespace peloria::testing
