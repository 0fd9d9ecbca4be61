// TIFF through libtiff, first directory only. The common layouts (8-bit
// contiguous RGB, RGB with an alpha sample, greyscale; strips or tiles; any
// compression libtiff reads) are decoded strip by strip or tile by tile and
// converted straight into the bitmap's rows. Every other layout (palettes,
// 16 bits, YCbCr, separate planes, CMYK...) goes through libtiff's RGBA
// interface, read in bands of whole strips or tiles so that its 32-bit output
// needs only one band of memory. Either way the rows stay in the order the
// file stores them (its orientation tag is left to whoever shows the picture,
// as for the other kinds), and alpha is laid onto white.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "picture/decoder_libraries.h"
#include "picture/decoder_support.h"
#include "picture/errors.h"
#include "picture/exif_block.h"
#include "picture/picture_limits.h"
#include "picture/raster.h"
#include "platform/bytes.h"

namespace peloria {

namespace {

constexpr std::string_view kKind = "TIFF";
// Rows of libtiff's 32-bit output asked for at once, at most this many bytes
// (but always at least one strip or tile row).
constexpr std::int64_t kBandBytes = std::int64_t{16} << 20;

// The file in memory, as libtiff's client procedures see it.
struct MemoryFile {
  std::span<const std::uint8_t> bytes;
  std::uint64_t position = 0;
  std::string error;  // libtiff's first error message
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (size <= 0 || file->position >= file->bytes.size()) return 0;
  const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(size),
                                                      file->bytes.size() - file->position);
  std::memcpy(buffer, file->bytes.data() + file->position, count);
  file->position += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
  return -1;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = file->position;
  if (whence == SEEK_END) base = file->bytes.size();
  file->position = base + offset;
  return file->position;
}

int CloseProc(thandle_t) {
  return 0;
}

toff_t SizeProc(thandle_t handle) {
  return static_cast<MemoryFile*>(handle)->bytes.size();
}

// The file is already in memory: libtiff reads strips from it in place.
int MapProc(thandle_t handle, void** base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  *base = const_cast<std::uint8_t*>(file->bytes.data());
  *size = file->bytes.size();
  return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

// Errors are kept for the failure's message; warnings (unknown tags and the
// like) are dropped. Returning 1 keeps libtiff from printing them.
int ErrorHandler(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* file = static_cast<MemoryFile*>(user);
  if (file->error.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    file->error = std::string(module != nullptr ? module : "") + ": " + text;
  }
  return 1;
}

int WarningHandler(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

struct OptionsFree {
  void operator()(TIFFOpenOptions* o) const { TiffLibrary().TIFFOpenOptionsFree(o); }
};
struct TiffClose {
  void operator()(TIFF* t) const { TiffLibrary().TIFFClose(t); }
};

struct RgbaImage {
  TIFFRGBAImage image{};
  bool begun = false;
  ~RgbaImage() {
    if (begun) TiffLibrary().TIFFRGBAImageEnd(&image);
  }
};

[[noreturn]] void Fail(const MemoryFile& file, const char* fallback) {
  InvalidImage(kKind, file.error.empty() ? fallback : file.error);
}

// The layouts whose samples are copied straight into the bitmap.
enum class Layout { kGrey, kRgb, kRgbAssociatedAlpha, kRgbStraightAlpha, kOther };

Layout DirectLayout(TIFF* tiff) {
  const TTiffLibrary& lib = TiffLibrary();
  std::uint16_t bits = 0;
  std::uint16_t samples = 0;
  std::uint16_t photometric = 0;
  std::uint16_t planar = 0;
  std::uint16_t format = 0;
  std::uint16_t extraCount = 0;
  std::uint16_t* extra = nullptr;
  if (!lib.TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) return Layout::kOther;
  lib.TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  lib.TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  lib.TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  lib.TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  lib.TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
  if (bits != 8 || format != SAMPLEFORMAT_UINT) return Layout::kOther;
  if (photometric == PHOTOMETRIC_MINISBLACK && samples == 1) return Layout::kGrey;
  if (photometric != PHOTOMETRIC_RGB || planar != PLANARCONFIG_CONTIG) return Layout::kOther;
  if (samples == 3 && extraCount == 0) return Layout::kRgb;
  if (samples == 4 && extraCount == 1 && extra != nullptr) {
    if (extra[0] == EXTRASAMPLE_ASSOCALPHA) return Layout::kRgbAssociatedAlpha;
    if (extra[0] == EXTRASAMPLE_UNASSALPHA) return Layout::kRgbStraightAlpha;
  }
  return Layout::kOther;
}

int SamplesOf(Layout layout) {
  switch (layout) {
    case Layout::kGrey:
      return 1;
    case Layout::kRgb:
      return 3;
    default:
      return 4;
  }
}

// `count` pixels of the file's samples into blue, green, red.
void ConvertRow(Layout layout, const std::uint8_t* src, std::uint8_t* dst, std::int64_t count) {
  switch (layout) {
    case Layout::kGrey:
      for (std::int64_t x = 0; x < count; ++x, dst += 3) dst[0] = dst[1] = dst[2] = src[x];
      break;
    case Layout::kRgb:
      for (std::int64_t x = 0; x < count; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
      break;
    case Layout::kRgbAssociatedAlpha:
      for (std::int64_t x = 0; x < count; ++x, src += 4, dst += 3) {
        dst[0] = OverWhitePremultiplied(src[2], src[3]);
        dst[1] = OverWhitePremultiplied(src[1], src[3]);
        dst[2] = OverWhitePremultiplied(src[0], src[3]);
      }
      break;
    case Layout::kRgbStraightAlpha:
      for (std::int64_t x = 0; x < count; ++x, src += 4, dst += 3) {
        dst[0] = OverWhite(src[2], src[3]);
        dst[1] = OverWhite(src[1], src[3]);
        dst[2] = OverWhite(src[0], src[3]);
      }
      break;
    case Layout::kOther:
      break;
  }
}

// The size of one tile, or of one strip: the picture's width by its rows
// per strip (at most its height).
struct UnitSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};
UnitSize UnitOf(TIFF* tiff, bool tiled, std::uint32_t width, std::uint32_t height) {
  const TTiffLibrary& lib = TiffLibrary();
  UnitSize unit{width, 0};
  if (tiled) {
    lib.TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &unit.width);
    lib.TIFFGetField(tiff, TIFFTAG_TILELENGTH, &unit.height);
  } else {
    lib.TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &unit.height);
    unit.height = std::min(unit.height, height);
  }
  return unit;
}

// The common layouts: each strip or tile decoded by libtiff into one buffer
// of that unit, then converted into the rows it covers.
void DecodeDirect(TIFF* tiff, const MemoryFile& file, Layout layout, TBitmap& into) {
  const TTiffLibrary& lib = TiffLibrary();
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  lib.TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  lib.TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  const bool tiled = lib.TIFFIsTiled(tiff) != 0;
  const auto [unitWidth, unitHeight] = UnitOf(tiff, tiled, width, height);
  const std::int64_t samples = SamplesOf(layout);
  const std::int64_t rowBytes = tiled ? lib.TIFFTileRowSize64(tiff) : lib.TIFFScanlineSize64(tiff);
  if (unitWidth == 0 || unitHeight == 0 || rowBytes != samples * unitWidth) {
    Fail(file, "bad strip or tile size");
  }
  // A tile may declare sides of billions of pixels: the product is bounded
  // before it is formed.
  const std::int64_t unitBytes = unitHeight > kMaxDecoderWorkingBytes / rowBytes
                                     ? kMaxDecoderWorkingBytes + 1
                                     : rowBytes * unitHeight;
  CheckWorkingBytes(unitBytes, width, height);
  StartRgbBitmap(into, width, height, kKind);
  const auto buffer =
      std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(unitBytes));

  for (std::uint32_t top = 0; top < height; top += unitHeight) {
    const std::uint32_t rows = std::min(unitHeight, height - top);
    for (std::uint32_t left = 0; left < width; left += unitWidth) {
      // A strip at the bottom holds only the rows left; a tile is always whole.
      const tmsize_t want = static_cast<tmsize_t>(tiled ? unitBytes : rowBytes * rows);
      const tmsize_t got =
          tiled ? lib.TIFFReadEncodedTile(tiff, lib.TIFFComputeTile(tiff, left, top, 0, 0),
                                          buffer.get(), want)
                : lib.TIFFReadEncodedStrip(tiff, lib.TIFFComputeStrip(tiff, top, 0), buffer.get(),
                                           want);
      if (got < want) Fail(file, "cannot read the pixels");
      const std::uint32_t columns = std::min(unitWidth, width - left);
      for (std::uint32_t r = 0; r < rows; ++r) {
        ConvertRow(layout, buffer.get() + rowBytes * r,
                   into.ScanLine(static_cast<int>(top + r)) + std::int64_t{3} * left, columns);
      }
    }
  }
}

// Every other layout, through libtiff's RGBA interface.
void DecodeThroughRgba(TIFF* tiff, const MemoryFile& file, TBitmap& into) {
  const TTiffLibrary& lib = TiffLibrary();
  char message[1024] = {};
  if (!lib.TIFFRGBAImageOK(tiff, message)) InvalidImage(kKind, message);
  RgbaImage rgba;
  if (!lib.TIFFRGBAImageBegin(&rgba.image, tiff, 1, message)) InvalidImage(kKind, message);
  rgba.begun = true;
  TIFFRGBAImage& image = rgba.image;
  const std::int64_t width = image.width;
  const std::int64_t height = image.height;
  StartRgbBitmap(into, width, height, kKind);
  // The stored order: asking for the file's own orientation turns nothing.
  image.req_orientation = image.orientation;

  // Bands of whole strips (or tile rows): a band that ended inside a strip
  // would have the next band decode that strip again from its start.
  std::uint32_t unit = 0;
  if (lib.TIFFIsTiled(tiff)) {
    lib.TIFFGetField(tiff, TIFFTAG_TILELENGTH, &unit);
  } else {
    lib.TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &unit);
  }
  const std::int64_t unitRows = std::clamp<std::int64_t>(unit, 1, height);
  const std::int64_t bandRows = std::min<std::int64_t>(
      height, unitRows * std::max<std::int64_t>(1, kBandBytes / (4 * width) / unitRows));
  CheckWorkingBytes(4 * width * bandRows, width, height);
  std::vector<std::uint32_t> band(static_cast<std::size_t>(width * bandRows));

  for (std::int64_t top = 0; top < height; top += bandRows) {
    const auto rows = static_cast<std::uint32_t>(std::min(bandRows, height - top));
    image.row_offset = static_cast<int>(top);
    image.col_offset = 0;
    if (!lib.TIFFRGBAImageGet(&image, band.data(), static_cast<std::uint32_t>(width), rows)) {
      Fail(file, "cannot read the pixels");
    }
    for (std::uint32_t r = 0; r < rows; ++r) {
      const std::uint32_t* src = band.data() + static_cast<std::size_t>(width) * r;
      std::uint8_t* dst = into.ScanLine(static_cast<int>(top + r));
      for (std::int64_t x = 0; x < width; ++x, dst += 3) {
        const std::uint32_t p = src[x];
        const unsigned a = TIFFGetA(p);
        dst[0] = OverWhitePremultiplied(TIFFGetB(p), a);
        dst[1] = OverWhitePremultiplied(TIFFGetG(p), a);
        dst[2] = OverWhitePremultiplied(TIFFGetR(p), a);
      }
    }
  }
}

// Refuses, before anything is decoded, a picture whose strips or tiles would
// cost more work than a real one: more units than kMaxTiffUnits, or JPEG
// units whose scans, each a pass over the unit's blocks plus a start-up
// cost, add up to more than kMaxJpegBlockVisits. libtiff decodes a unit
// once for each place that points at it, so a stream that many tiles share
// counts once for each of them; its scans are counted once.
void CheckTiffWork(TIFF* tiff, const MemoryFile& file) {
  const TTiffLibrary& lib = TiffLibrary();
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  lib.TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  lib.TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  // A picture too large for a bitmap is refused for its size first.
  CheckedImageBytes(width, height, 24);
  const bool tiled = lib.TIFFIsTiled(tiff) != 0;
  const std::uint32_t units = tiled ? lib.TIFFNumberOfTiles(tiff) : lib.TIFFNumberOfStrips(tiff);
  const std::string_view name = tiled ? "tiles" : "strips";
  if (units > kMaxTiffUnits) {
    InvalidImage(kKind, std::to_string(units) + " " + std::string(name) + ", more than " +
                            std::to_string(kMaxTiffUnits));
  }
  std::uint16_t compression = 0;
  lib.TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  if (compression != COMPRESSION_JPEG) return;

  std::uint16_t samples = 1;
  lib.TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  const auto [unitWidth, unitHeight] = UnitOf(tiff, tiled, width, height);
  // The blocks of one unit, all samples at full resolution (an upper bound
  // for subsampled colour).
  const std::int64_t blocks = ((std::int64_t{unitWidth} + 7) / 8) *
                              ((std::int64_t{unitHeight} + 7) / 8) *
                              std::max<std::int64_t>(samples, 1);
  std::unordered_map<std::uint64_t, std::int64_t> scansAt;
  std::int64_t work = 0;
  for (std::uint32_t unit = 0; unit < units; ++unit) {
    const std::uint64_t offset = lib.TIFFGetStrileOffset(tiff, unit);
    const std::uint64_t count = lib.TIFFGetStrileByteCount(tiff, unit);
    if (offset >= file.bytes.size()) break;  // the decode fails there
    auto [known, added] = scansAt.try_emplace(offset, 0);
    if (added) {
      const auto stream = file.bytes.subspan(
          static_cast<std::size_t>(offset),
          static_cast<std::size_t>(std::min<std::uint64_t>(count, file.bytes.size() - offset)));
      known->second = JpegScanCount(stream).value_or(0);
    }
    if (known->second == 0) break;  // no JPEG stream: the decode fails there
    work += known->second * (blocks + kTiffJpegScanStartBlocks);
    if (work > kMaxJpegBlockVisits) {
      InvalidImage(kKind, "the JPEG-compressed " + std::string(name) + " need more than " +
                              std::to_string(kMaxJpegBlockVisits) + " block decodes");
    }
  }
}

}  // namespace

void DecodeTiff(std::span<const std::uint8_t> bytes, TBitmap& into) {
  const TTiffLibrary& lib = TiffLibrary();
  MemoryFile file{bytes, 0, {}};
  std::unique_ptr<TIFFOpenOptions, OptionsFree> options(lib.TIFFOpenOptionsAlloc());
  lib.TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffBlockBytes);
  lib.TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ErrorHandler, &file);
  lib.TIFFOpenOptionsSetWarningHandlerExtR(options.get(), WarningHandler, &file);
  std::unique_ptr<TIFF, TiffClose> tiff(
      lib.TIFFClientOpenExt("memory", "r", &file, ReadProc, WriteProc, SeekProc, CloseProc,
                            SizeProc, MapProc, UnmapProc, options.get()));
  if (!tiff) Fail(file, "not a TIFF file");
  CheckTiffWork(tiff.get(), file);

  const Layout layout = DirectLayout(tiff.get());
  if (layout == Layout::kOther) {
    DecodeThroughRgba(tiff.get(), file, into);
  } else {
    DecodeDirect(tiff.get(), file, layout, into);
  }
}

// TIFF files start with "II" 2A 00 or "MM" 00 2A (BigTIFF: 2B); the file
// itself is the Exif block when its first directory holds Exif data.
PELORIA_RASTER_KIND_DEFINITION(TTiffImage){
    .graphic = TTiffImage::StaticClass,
    .names = {{{"tif", "TIFF イメージファイル"}, {"tiff", "TIFF イメージファイル"}}},
    .signature =
        [](ByteSpan head) {
          using namespace std::string_view_literals;
          return HasBytesAt(head, 0, "II*\0"sv) || HasBytesAt(head, 0, "MM\0*"sv) ||
                 HasBytesAt(head, 0, "II+\0"sv) || HasBytesAt(head, 0, "MM\0+"sv);
        },
    .decode = DecodeTiff,
    .exifBlock = TiffExifBlock,
};

}  // namespace peloria
