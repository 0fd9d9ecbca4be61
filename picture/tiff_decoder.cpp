// TIFF through libtiff's RGBA interface, which reads every photometric
// interpretation, depth and compression libtiff knows. The first directory
// is read in bands of whole strips or tiles, so that libtiff's 32-bit output
// needs only one band of memory; the rows stay in the order the file stores
// them (its orientation tag is left to whoever shows the picture, as for the
// other kinds). libtiff's alpha output is premultiplied; it is laid onto white.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "picture/decoder_support.h"
#include "picture/raster.h"

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
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TiffClose {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

struct RgbaImage {
  TIFFRGBAImage image{};
  bool begun = false;
  ~RgbaImage() {
    if (begun) TIFFRGBAImageEnd(&image);
  }
};

[[noreturn]] void Fail(const MemoryFile& file, const char* fallback) {
  InvalidImage(kKind, file.error.empty() ? fallback : file.error);
}

}  // namespace

void DecodeTiff(std::span<const std::uint8_t> bytes, TBitmap& into) {
  MemoryFile file{bytes, 0, {}};
  std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffBlockBytes);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ErrorHandler, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), WarningHandler, &file);
  std::unique_ptr<TIFF, TiffClose> tiff(TIFFClientOpenExt("memory", "r", &file, ReadProc, WriteProc,
                                                          SeekProc, CloseProc, SizeProc, MapProc,
                                                          UnmapProc, options.get()));
  if (!tiff) Fail(file, "not a TIFF file");

  char message[1024] = {};
  if (!TIFFRGBAImageOK(tiff.get(), message)) InvalidImage(kKind, message);
  RgbaImage rgba;
  if (!TIFFRGBAImageBegin(&rgba.image, tiff.get(), 1, message)) InvalidImage(kKind, message);
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
  if (TIFFIsTiled(tiff.get())) {
    TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &unit);
  } else {
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &unit);
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
    if (!TIFFRGBAImageGet(&image, band.data(), static_cast<std::uint32_t>(width), rows)) {
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

}  // namespace peloria
