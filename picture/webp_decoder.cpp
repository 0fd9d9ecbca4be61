// WebP through libwebp: an opaque picture is decoded straight into the
// bitmap's rows; one with alpha into a blue-green-red-alpha picture first,
// which is then laid onto white. An animated file shows its first frame, as
// libwebpdemux's animation decoder composes it on the canvas (transparent
// where the frame does not cover it, so white once laid onto white).
#include <webp/decode.h>
#include <webp/demux.h>

#include <memory>

#include "picture/decoder_support.h"
#include "picture/exif_block.h"
#include "picture/raster.h"

namespace peloria {

namespace {

constexpr std::string_view kKind = "WebP";

const char* StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
      return "out of memory";
    case VP8_STATUS_INVALID_PARAM:
      return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR:
      return "bitstream error";
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return "unsupported feature";
    case VP8_STATUS_SUSPENDED:
      return "suspended";
    case VP8_STATUS_USER_ABORT:
      return "aborted";
    case VP8_STATUS_NOT_ENOUGH_DATA:
      return "file cut off";
    default:
      return "unknown error";
  }
}

struct DecoderConfig {
  WebPDecoderConfig config{};
  DecoderConfig() { WebPInitDecoderConfig(&config); }
  ~DecoderConfig() { WebPFreeDecBuffer(&config.output); }
  DecoderConfig(const DecoderConfig&) = delete;
  DecoderConfig& operator=(const DecoderConfig&) = delete;
};

struct AnimDecoderDelete {
  void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

// The first frame of an animated file, whose canvas is `width` x `height`
// (from the file's VP8X header, checked before anything is allocated).
void DecodeFirstFrame(std::span<const std::uint8_t> file, std::int64_t width, std::int64_t height,
                      TBitmap& into) {
  // The decoder keeps two canvases of 32 bits a pixel, and a lossless frame
  // (at most the canvas) decodes through a third.
  CheckWorkingBytes(3 * 4 * width * height, width, height);
  CheckedImageBytes(width, height, 24);
  const WebPData data{file.data(), file.size()};
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) InvalidImage(kKind, "library version mismatch");
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  // The decoder reads the frame headers of the whole file but decodes only
  // the frames asked for: here one.
  std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete> decoder(WebPAnimDecoderNew(&data, &options));
  if (!decoder) InvalidImage(kKind, "broken or cut-off animation");
  WebPAnimInfo info{};
  if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || info.frame_count == 0 ||
      info.canvas_width != width || info.canvas_height != height) {
    InvalidImage(kKind, "broken animation");
  }
  std::uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr) {
    InvalidImage(kKind, "cannot decode the first frame");
  }
  StartRgbBitmap(into, width, height, kKind);
  BgraOntoWhite(canvas, width, height, into);
}

}  // namespace

void DecodeWebP(std::span<const std::uint8_t> file, TBitmap& into) {
  DecoderConfig holder;
  WebPDecoderConfig& config = holder.config;
  VP8StatusCode status = WebPGetFeatures(file.data(), file.size(), &config.input);
  if (status != VP8_STATUS_OK) InvalidImage(kKind, StatusText(status));
  const std::int64_t width = config.input.width;
  const std::int64_t height = config.input.height;
  if (config.input.has_animation != 0) {
    DecodeFirstFrame(file, width, height, into);
    return;
  }
  const bool alpha = config.input.has_alpha != 0;
  // A lossless picture is decoded through a 32-bit picture of its own; a
  // picture with alpha needs its alpha plane and the 32-bit copy here.
  const std::int64_t pixels = width * height;
  CheckWorkingBytes((config.input.format == 2 ? 4 * pixels : 0) + (alpha ? 5 * pixels : 0), width,
                    height);
  StartRgbBitmap(into, width, height, kKind);

  std::unique_ptr<std::uint8_t[]> bgra;
  WebPRGBABuffer& out = config.output.u.RGBA;
  config.output.is_external_memory = 1;
  if (alpha) {
    const auto bytes = static_cast<std::size_t>(4 * pixels);
    bgra = std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
    config.output.colorspace = MODE_BGRA;
    out.rgba = bgra.get();
    out.stride = static_cast<int>(4 * width);
    out.size = bytes;
  } else {
    config.output.colorspace = MODE_BGR;
    out.rgba = into.ScanLine(0);
    out.stride = into.RowBytes();
    out.size = static_cast<std::size_t>(into.RowBytes()) * static_cast<std::size_t>(height);
  }
  status = WebPDecode(file.data(), file.size(), &config);
  if (status != VP8_STATUS_OK) InvalidImage(kKind, StatusText(status));
  if (alpha) BgraOntoWhite(bgra.get(), width, height, into);
}

// WebP files are RIFF files of form "WEBP"; the Exif block is the EXIF
// chunk's.
PELORIA_RASTER_KIND_DEFINITION(TWebPImage){
    .graphic = TWebPImage::StaticClass,
    .names = {{{"webp", "WebP イメージファイル"}}},
    .signature =
        [](ByteSpan head) { return HasBytesAt(head, 0, "RIFF") && HasBytesAt(head, 8, "WEBP"); },
    .decode = DecodeWebP,
    .exifBlock = WebPExifBlock,
};

}  // namespace peloria
