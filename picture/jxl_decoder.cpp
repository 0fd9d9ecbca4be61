// JPEG XL through libjxl: the first frame (all of a still picture; the first
// of an animation), turned and mirrored as its codestream's orientation says
// (libjxl's default), converted by libjxl to 8-bit samples and written by its
// output callback straight into the bitmap's rows, alpha laid onto white.
//
// The header is read first, on its own (libjxl's basic-info event), and the
// picture's size checked against the bitmap and working-memory bounds before
// libjxl allocates anything for the pixels.
//
// A file is a bare codestream (FF 0A) or an ISO/IEC 18181-2 container of
// boxes ("JXL " signature box first). The container may keep an "Exif" box
// (a 4-byte big-endian offset, then the TIFF block), either as it is or
// Brotli-compressed in a "brob" box (the 4-byte type of the box it holds,
// then the compressed data); libjxl undoes the compression. The standard
// makes the codestream's orientation the one that counts: an Exif
// orientation beside it is ignored, as the pixels are already upright.
#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "picture/decoder_libraries.h"
#include "picture/decoder_support.h"
#include "picture/picture_limits.h"
#include "picture/raster.h"
#include "platform/bytes.h"

namespace peloria {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kKind = "JPEG XL";
constexpr std::string_view kContainerSignature = "\0\0\0\x0CJXL \r\n\x87\n"sv;

struct DecoderFree {
  void operator()(JxlDecoder* d) const { JxlLibrary().JxlDecoderDestroy(d); }
};
struct RunnerFree {
  void operator()(void* r) const { JxlLibrary().JxlThreadParallelRunnerDestroy(r); }
};
using Decoder = std::unique_ptr<JxlDecoder, DecoderFree>;

// A decoder reading the whole of `file`, which it does not copy.
Decoder OpenDecoder(const TJxlLibrary& jxl, ByteSpan file, int events) {
  Decoder decoder(jxl.JxlDecoderCreate(nullptr));
  if (!decoder) InvalidImage(kKind, "no decoder");
  if (jxl.JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
      jxl.JxlDecoderSetInput(decoder.get(), file.data(), file.size()) != JXL_DEC_SUCCESS) {
    InvalidImage(kKind, "the decoder refused its settings");
  }
  jxl.JxlDecoderCloseInput(decoder.get());
  return decoder;
}

// What libjxl holds beside the bitmap while it decodes: the frame's
// channels (colour and extra) as 32-bit samples, which lossless (modular)
// pictures keep whole and lossy ones keep as coefficients and filter rows,
// and about as much again for samples beyond 8 bits, plus 4 bytes a pixel
// of group buffers. Measured on 6000 x 4000 pictures: 14 bytes a pixel for
// a lossy one, 11 for a lossless 8-bit one, 21 for a lossless 16-bit one
// (this gives 16, 16 and 28).
std::int64_t WorkingBytes(const JxlBasicInfo& info) {
  const std::int64_t channels = std::int64_t{info.num_color_channels} + info.num_extra_channels;
  const std::int64_t sampleBytes = info.bits_per_sample > 8 ? 8 : 4;
  return std::int64_t{info.xsize} * info.ysize * (channels * sampleBytes + 4);
}

// Where the output callback writes: the bitmap's rows, taken before
// decoding (libjxl's threads call it at once for distinct pixels), and the
// layout of the samples libjxl hands over.
struct TOutput {
  std::vector<std::uint8_t*> rows;
  std::size_t width = 0;
  bool grey = false;
  bool alpha = false;
  bool premultiplied = false;
};

void WritePixels(void* opaque, std::size_t x, std::size_t y, std::size_t count,
                 const void* pixels) {
  const auto& out = *static_cast<const TOutput*>(opaque);
  if (y >= out.rows.size() || x > out.width || count > out.width - x) return;
  const auto* src = static_cast<const std::uint8_t*>(pixels);
  std::uint8_t* dst = out.rows[y] + 3 * x;
  const std::size_t step = (out.grey ? 1 : 3) + (out.alpha ? 1 : 0);
  for (std::size_t i = 0; i < count; ++i, src += step, dst += 3) {
    const std::uint8_t red = src[0];
    const std::uint8_t green = out.grey ? src[0] : src[1];
    const std::uint8_t blue = out.grey ? src[0] : src[2];
    if (!out.alpha) {
      dst[0] = blue;
      dst[1] = green;
      dst[2] = red;
      continue;
    }
    const std::uint8_t a = src[step - 1];
    const auto onWhite = out.premultiplied ? OverWhitePremultiplied : OverWhite;
    dst[0] = onWhite(blue, a);
    dst[1] = onWhite(green, a);
    dst[2] = onWhite(red, a);
  }
}

// Checks the header's size against the bounds, then sizes the bitmap and
// notes where WritePixels is to put each row.
void StartBitmap(const TJxlLibrary& jxl, JxlDecoder* decoder, TBitmap& into, TOutput& out) {
  JxlBasicInfo info{};
  if (jxl.JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS) {
    InvalidImage(kKind, "no header");
  }
  if (info.xsize == 0 || info.ysize == 0) InvalidImage(kKind, "no pixels");
  CheckedImageBytes(info.xsize, info.ysize, 24);  // also keeps WorkingBytes in range
  CheckWorkingBytes(WorkingBytes(info), info.xsize, info.ysize);
  StartRgbBitmap(into, info.xsize, info.ysize, kKind);
  out.width = info.xsize;
  out.grey = info.num_color_channels == 1;
  out.alpha = info.alpha_bits != 0;
  out.premultiplied = info.alpha_premultiplied != 0;
  out.rows.resize(info.ysize);
  for (std::uint32_t y = 0; y < info.ysize; ++y) out.rows[y] = into.ScanLine(static_cast<int>(y));
}

// Asks libjxl for 8-bit samples (grey or red, green, blue, then alpha)
// through WritePixels.
void StartOutput(const TJxlLibrary& jxl, JxlDecoder* decoder, TOutput& out) {
  if (out.rows.empty()) InvalidImage(kKind, "no header");
  const JxlPixelFormat format{(out.grey ? 1u : 3u) + (out.alpha ? 1u : 0u), JXL_TYPE_UINT8,
                              JXL_NATIVE_ENDIAN, 0};
  if (jxl.JxlDecoderSetImageOutCallback(decoder, &format, WritePixels, &out) != JXL_DEC_SUCCESS) {
    InvalidImage(kKind, "the decoder refused the output format");
  }
}

}  // namespace

void DecodeJxl(ByteSpan file, TBitmap& into) {
  const TJxlLibrary& jxl = JxlLibrary();
  // The thread pool outlives the decoder that uses it.
  const std::unique_ptr<void, RunnerFree> runner(jxl.JxlThreadParallelRunnerCreate(
      nullptr, jxl.JxlThreadParallelRunnerDefaultNumWorkerThreads()));
  Decoder decoder = OpenDecoder(jxl, file, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE);
  if (runner != nullptr) {
    jxl.JxlDecoderSetParallelRunner(decoder.get(), jxl.JxlThreadParallelRunner, runner.get());
  }
  TOutput out;
  bool started = false;
  for (;;) {
    switch (jxl.JxlDecoderProcessInput(decoder.get())) {
      case JXL_DEC_BASIC_INFO:
        StartBitmap(jxl, decoder.get(), into, out);
        break;
      case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
        StartOutput(jxl, decoder.get(), out);
        started = true;
        break;
      case JXL_DEC_FULL_IMAGE:
      case JXL_DEC_SUCCESS:
        if (!started) InvalidImage(kKind, "no picture");
        return;  // the first frame is enough
      case JXL_DEC_NEED_MORE_INPUT:
        InvalidImage(kKind, "the file is cut off");
      case JXL_DEC_ERROR:
        InvalidImage(kKind, "broken codestream");
      default:
        // No other event is subscribed, and no other buffer offered.
        InvalidImage(kKind, "unexpected decoder state");
    }
  }
}

namespace {

using Block = std::optional<std::vector<std::uint8_t>>;

// The contents of the first "Exif" box (or "brob" box holding one), at most
// `limit` bytes; none when there is none or it is larger.
Block ExifBoxContents(const TJxlLibrary& jxl, ByteSpan file, std::size_t limit) {
  Decoder decoder = OpenDecoder(jxl, file, JXL_DEC_BOX);
  if (jxl.JxlDecoderSetDecompressBoxes(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS) return {};
  std::vector<std::uint8_t> contents;
  bool inExif = false;
  for (;;) {
    const JxlDecoderStatus status = jxl.JxlDecoderProcessInput(decoder.get());
    if (inExif && (status == JXL_DEC_BOX || status == JXL_DEC_SUCCESS)) {
      contents.resize(contents.size() - jxl.JxlDecoderReleaseBoxBuffer(decoder.get()));
      if (contents.size() > limit) return {};
      return contents;
    }
    if (status == JXL_DEC_BOX) {
      JxlBoxType type{};
      std::uint64_t raw = 0;
      if (jxl.JxlDecoderGetBoxType(decoder.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS ||
          jxl.JxlDecoderGetBoxSizeRaw(decoder.get(), &raw) != JXL_DEC_SUCCESS) {
        return {};
      }
      if (std::memcmp(type, "Exif", 4) != 0) continue;
      // A plain box's size is its contents'; a compressed one's grows as
      // libjxl reports that it needs more room.
      inExif = true;
      contents.resize(static_cast<std::size_t>(std::min<std::uint64_t>(raw, limit)) + 1);
      jxl.JxlDecoderSetBoxBuffer(decoder.get(), contents.data(), contents.size());
    } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT && inExif) {
      const std::size_t used = contents.size() - jxl.JxlDecoderReleaseBoxBuffer(decoder.get());
      if (contents.size() > limit) return {};
      contents.resize(std::min(2 * contents.size(), limit + 1));
      jxl.JxlDecoderSetBoxBuffer(decoder.get(), contents.data() + used, contents.size() - used);
    } else {
      return {};  // the end, a broken or cut-off file, or a bare codestream
    }
  }
}

}  // namespace

// The TIFF block after the Exif box's 4-byte offset; none for a bare
// codestream (it has no boxes) and without loading libjxl.
Block JxlExifBlock(ByteSpan file) {
  if (!HasBytesAt(file, 0, kContainerSignature)) return {};
  const Block contents = ExifBoxContents(JxlLibrary(), file, kMaxExifBlockBytes + 4);
  if (!contents || contents->size() < 4) return {};
  const std::uint64_t offset = *U32Be(*contents, 0);
  if (offset > contents->size() - 4) return {};
  const ByteSpan tiff = ByteSpan(*contents).subspan(4 + static_cast<std::size_t>(offset));
  if (!HasBytesAt(tiff, 0, "II*\0"sv) && !HasBytesAt(tiff, 0, "MM\0*"sv)) return {};
  return std::vector<std::uint8_t>(tiff.begin(), tiff.end());
}

namespace {

bool IsJxl(ByteSpan head) {
  return HasBytesAt(head, 0, "\xFF\x0A") || HasBytesAt(head, 0, kContainerSignature);
}

}  // namespace

// libjxl turns and mirrors the picture as its codestream says.
PELORIA_RASTER_KIND_DEFINITION(TJxlImage){
    .graphic = TJxlImage::StaticClass,
    .names = {{{"jxl", "JPEG XL イメージファイル"}}},
    .signature = IsJxl,
    .decode = DecodeJxl,
    .exifBlock = JxlExifBlock,
    .upright = true,
};

}  // namespace peloria
