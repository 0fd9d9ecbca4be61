// JPEG decoding through libjpeg (release 6 API).
//
// libjpeg reports fatal errors through the error manager's error_exit, which
// must not return. Ours saves the message code and longjmps back into
// Guarded(), the only frame that calls setjmp; everything between it and
// libjpeg is a lambda that holds no object with a destructor, so the jump
// skips no C++ cleanup. The C++ side then destroys the decoder and throws
// EJPEG. No C++ exception ever passes through libjpeg's frames: the data
// source and the error manager below never throw.
#include "picture/jpeg.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <optional>

#include "picture/decoder_support.h"
#include "picture/grey_dither.h"
#include "picture/orientation.h"
#include "platform/bytes.h"

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace peloria {

namespace {

std::atomic<int> g_screenBitsPerPixel{24};

// libjpeg reads the compressed data in pieces of this size.
constexpr std::size_t kSourcePiece = 4096;
// The first read of a file for its header; most headers end within it, and
// the read grows fourfold while they go on.
constexpr std::size_t kHeaderPiece = std::size_t{64} << 10;
// Rows handed to the decoder per call at most.
constexpr int kRowsPerCall = 16;
// The bounds of the JPEG decoder (kMaxJpegScans, kMaxJpegBlockVisits,
// kMaxJpegDecoderBytes) are in picture/picture_limits.h with the reasons for
// them.
constexpr int kMaxScans = kMaxJpegScans;
constexpr long kMaxDecoderMemory = kMaxJpegDecoderBytes;

struct ErrorManager {
  jpeg_error_mgr pub;  // first member: libjpeg knows only this part
  std::jmp_buf jump;
  int code;
};

void ExitOnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->code = err->pub.msg_code;
  std::longjmp(err->jump, 1);
}
void IgnoreMessage(j_common_ptr, int) {}

void IgnoreOutput(j_common_ptr) {}

// The decoder's work so far, counted in coefficient blocks visited: every
// scan visits the blocks of the rows it has taken in, every output pass of a
// pass-by-pass decode all blocks of the picture once more.
struct WorkMonitor {
  jpeg_progress_mgr pub;  // first member
  std::int64_t outputBlocks;
};

// Blocks in one row of iMCUs over all components, and in the whole frame
// (after jpeg_read_header). A scan of fewer components visits fewer, so
// this bounds its work from above.
std::int64_t BlocksPerImcuRow(const jpeg_decompress_struct& ci) {
  std::int64_t blocks = 0;
  for (int c = 0; c < ci.num_components; ++c) {
    blocks += std::int64_t{ci.comp_info[c].width_in_blocks} * ci.comp_info[c].v_samp_factor;
  }
  return blocks;
}
std::int64_t FrameBlocks(const jpeg_decompress_struct& ci) {
  return BlocksPerImcuRow(ci) * ci.total_iMCU_rows;
}

// Called by the decoder as it takes in rows of each scan and hands out rows
// of each output pass: stops a file with more than kMaxScans scans, or whose
// scans and passes visit more than kMaxJpegBlockVisits blocks, as a fatal
// error of bad progressive parameters. Scans are taken in in order, each
// over all iMCU rows, so the rows taken in so far are those of the earlier
// scans and the rows of the current one.
void LimitWork(j_common_ptr cinfo) {
  const auto* ci = reinterpret_cast<j_decompress_ptr>(cinfo);
  const auto* monitor = reinterpret_cast<const WorkMonitor*>(cinfo->progress);
  if (ci->input_scan_number > kMaxScans) ERREXIT4(cinfo, JERR_BAD_PROGRESSION, 0, 0, 0, 0);
  const std::int64_t rows =
      std::int64_t{std::max(ci->input_scan_number - 1, 0)} * ci->total_iMCU_rows +
      ci->input_iMCU_row;
  if (rows * BlocksPerImcuRow(*ci) + monitor->outputBlocks > kMaxJpegBlockVisits) {
    ERREXIT4(cinfo, JERR_BAD_PROGRESSION, 0, 0, 0, 0);
  }
}

// The data source: the memory block handed out in pieces of kSourcePiece
// bytes. Past the end it supplies an end-of-image marker, so that cut-off
// data decodes; a block that gave nothing at all is the fatal empty-input
// error.
struct MemorySource {
  jpeg_source_mgr pub;  // first member
  const JOCTET* data;
  std::size_t size;
  std::size_t offset;
  bool started;
  bool more;    // the block is the start of longer data: its end is no end
  bool ranOut;  // the decoder asked beyond the end of such a block
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (src->offset < src->size) {
    const std::size_t piece = std::min(kSourcePiece, src->size - src->offset);
    src->pub.next_input_byte = src->data + src->offset;
    src->pub.bytes_in_buffer = piece;
    src->offset += piece;
    src->started = true;
    return TRUE;
  }
  if (src->more) {
    src->ranOut = true;
    ERREXIT(cinfo, JERR_INPUT_EOF);
  }
  if (!src->started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
  src->pub.next_input_byte = kEndOfImage;
  src->pub.bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (count <= 0) return;
  auto remaining = static_cast<std::size_t>(count);
  while (remaining > src->pub.bytes_in_buffer) {
    remaining -= src->pub.bytes_in_buffer;
    FillInputBuffer(cinfo);
  }
  src->pub.next_input_byte += remaining;
  src->pub.bytes_in_buffer -= remaining;
}

void TermSource(j_decompress_ptr) {}

// Runs `step`, which calls libjpeg and holds nothing with a destructor, with
// the error manager's jump target set. False when libjpeg reported a fatal
// error.
template <class Step>
[[gnu::noinline]] bool Guarded(ErrorManager& err, Step& step) {
  if (setjmp(err.jump) != 0) return false;
  step();
  return true;
}

[[noreturn]] void ThrowJpegError(int code) {
  throw EJPEG(FillMessage(kMsgJpegError, {std::to_string(code)}));
}

// One libjpeg decompressor over a memory block, destroyed on every path.
class Decompressor {
 public:
  // `more`: the block is only the start of the data (see MemorySource).
  Decompressor(const std::uint8_t* data, std::size_t size, bool more = false) {
    std::memset(&cinfo, 0, sizeof cinfo);
    std::memset(&err_, 0, sizeof err_);
    cinfo.err = jpeg_std_error(&err_.pub);
    err_.pub.error_exit = ExitOnError;
    err_.pub.emit_message = IgnoreMessage;
    err_.pub.output_message = IgnoreOutput;
    Run([this] { jpeg_create_decompress(&cinfo); });
    created_ = true;
    cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    std::memset(&src_, 0, sizeof src_);
    src_.pub.init_source = InitSource;
    src_.pub.fill_input_buffer = FillInputBuffer;
    src_.pub.skip_input_data = SkipInputData;
    src_.pub.resync_to_restart = jpeg_resync_to_restart;
    src_.pub.term_source = TermSource;
    src_.data = data;
    src_.size = size;
    src_.more = more;
    cinfo.src = &src_.pub;
    std::memset(&progress_, 0, sizeof progress_);
    progress_.pub.progress_monitor = LimitWork;
    cinfo.progress = &progress_.pub;
  }
  ~Decompressor() { Destroy(); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // Runs one step into libjpeg; a fatal error destroys the decoder and throws
  // EJPEG with the message code.
  template <class Step>
  void Run(Step step) {
    if (!Guarded(err_, step)) {
      const int code = err_.code;
      Destroy();
      ThrowJpegError(code);
    }
  }

  // Releases the decoder (jpeg_destroy_decompress also aborts a decode
  // under way, which is what libjpeg asks for after a fatal error).
  void Destroy() {
    if (created_) {
      created_ = false;
      jpeg_destroy_decompress(&cinfo);
    }
  }

  // True when a failure came from reading past the start of longer data.
  bool RanOut() const { return src_.ranOut; }

  // Counts one more output pass over the whole picture against the work
  // bound, which the decoder checks as the pass hands out its rows.
  void CountOutputPass() { progress_.outputBlocks += FrameBlocks(cinfo); }

  jpeg_decompress_struct cinfo;

 private:
  ErrorManager err_;
  MemorySource src_;
  WorkMonitor progress_;
  bool created_ = false;
};

struct HeaderFacts {
  int width = 0;
  int height = 0;
  bool grayscale = false;
  bool progressive = false;
};

// The header facts of the first `size` bytes of the data; nullopt when
// `more` data follows and the header did not end within these bytes.
std::optional<HeaderFacts> ReadHeaderFacts(const std::uint8_t* data, std::size_t size, bool more) {
  Decompressor d(data, size, more);
  HeaderFacts facts;
  try {
    d.Run([&] {
      jpeg_read_header(&d.cinfo, TRUE);
      facts.progressive = jpeg_has_multiple_scans(&d.cinfo) != 0;
    });
  } catch (const EJPEG&) {
    if (d.RanOut()) return std::nullopt;
    throw;
  }
  facts.width = static_cast<int>(d.cinfo.image_width);
  facts.height = static_cast<int>(d.cinfo.image_height);
  facts.grayscale = d.cinfo.jpeg_color_space == JCS_GRAYSCALE;
  return facts;
}

// Adobe writes CMYK inverted (255 = no ink), and libjpeg hands it over as
// stored; red = C' * K' / 255 and so on.
std::uint8_t Ink(unsigned component, unsigned black) {
  return static_cast<std::uint8_t>((component * black + 127) / 255);
}

int ScaleDivisor(TJPEGScale scale) {
  return 1 << static_cast<int>(scale);
}

// The decoder settings of a TJPEGImage.
struct DecodeSettings {
  std::int64_t scans;  // of the file (TJPEGData::Scans)
  TJPEGScale scale;
  bool smoothing;
  bool grayscale;
  TJPEGPixelFormat pixelFormat;
  TJPEGPerformance performance;
  bool progressiveDisplay;
};

// The settings of `image` with another scale.
DecodeSettings SettingsOf(const TJPEGImage& image, std::int64_t scans, TJPEGScale scale) {
  return {scans,
          scale,
          image.Smoothing(),
          image.Grayscale(),
          image.PixelFormat(),
          image.Performance(),
          image.ProgressiveDisplay()};
}

// What the settings made of the decoder's output, for the steps after.
struct OutputPlan {
  bool quantize;          // palette indices (8 bits) instead of blue-green-red
  bool fourComponents;    // CMYK output, converted row by row
  bool swapRedBlue;       // RGB output to be turned into blue-green-red
  bool buffered;          // pass-by-pass decoding
  J_DCT_METHOD finalDct;  // the last pass's settings
  J_DITHER_MODE finalDither;
  bool greyDither;  // grey rows from the decoder, dithered by GreyDither
};

// Hands the settings to the decoder (after jpeg_read_header).
OutputPlan ApplySettings(Decompressor& d, const DecodeSettings& settings) {
  jpeg_decompress_struct& ci = d.cinfo;
  ci.scale_num = 1;
  ci.scale_denom = static_cast<unsigned>(ScaleDivisor(settings.scale));
  ci.do_block_smoothing = settings.smoothing ? TRUE : FALSE;
  if (settings.grayscale) ci.out_color_space = JCS_GRAYSCALE;
  OutputPlan plan{};
  plan.quantize =
      settings.pixelFormat == TJPEGPixelFormat::jf8Bit || ci.out_color_space == JCS_GRAYSCALE;
  if (plan.quantize) {
    ci.quantize_colors = TRUE;
    ci.desired_number_of_colors = 236;
  }
  if (settings.performance == TJPEGPerformance::jpBestSpeed) {
    ci.dct_method = JDCT_IFAST;
    ci.two_pass_quantize = FALSE;
    ci.dither_mode = JDITHER_ORDERED;
  } else {
    ci.dct_method = JDCT_FLOAT;
  }
  plan.finalDct = ci.dct_method;
  plan.finalDither = ci.dither_mode;
  plan.fourComponents = ci.out_color_space == JCS_CMYK;
  if (!plan.quantize && ci.out_color_space == JCS_RGB) {
#ifdef JCS_EXTENSIONS
    ci.out_color_space = JCS_EXT_BGR;
#else
    plan.swapRedBlue = true;
#endif
  }
  bool multipleScans = false;
  d.Run([&] { multipleScans = jpeg_has_multiple_scans(&ci) != 0; });
  plan.buffered = settings.progressiveDisplay && multipleScans;
  ci.buffered_image = plan.buffered ? TRUE : FALSE;
  // One grey component dithered in one pass: the decoder hands out plain grey
  // rows and GreyDither quantizes them as the decoder would, only faster.
  plan.greyDither = plan.quantize && !plan.buffered && ci.out_color_space == JCS_GRAYSCALE &&
                    ci.dither_mode == JDITHER_FS &&
                    ci.desired_number_of_colors == GreyDither::kLevels;
  if (plan.greyDither) ci.quantize_colors = FALSE;
  return plan;
}

// The rows take one palette index per pixel (the palette built from a colour
// map of 1, 3 or 4 components), blue-green-red triples, or CMYK converted
// from a row of its own. A file in an unknown colour space with 2 or 5 to 10
// components gives output that fits none of these: it would be written past
// the end of the rows, so it is refused like any colour conversion that the
// decoder cannot do (after jpeg_calc_output_dimensions).
void CheckComponents(Decompressor& d, const OutputPlan& plan) {
  const int components = d.cinfo.out_color_components;
  const bool fits = plan.quantize ? components == 1 || components == 3 || components == 4
                                  : components == (plan.fourComponents ? 4 : 3);
  if (!fits) d.Run([&] { ERREXIT(&d.cinfo, JERR_CONVERSION_NOTIMPL); });
}

// Builds the bitmap's palette from the decoder's colour map, if it made one.
void TakePalette(const jpeg_decompress_struct& ci, TBitmap::Image& image) {
  if (!ci.quantize_colors || ci.colormap == nullptr) return;
  std::vector<TRGBQuad>& palette = image.palette;
  palette.resize(static_cast<std::size_t>(ci.actual_number_of_colors));
  for (std::size_t i = 0; i < palette.size(); ++i) {
    std::uint8_t r;
    std::uint8_t g;
    std::uint8_t b;
    if (ci.out_color_components == 1) {
      r = g = b = ci.colormap[0][i];
    } else if (ci.out_color_components == 4) {
      const unsigned k = ci.colormap[3][i];
      r = Ink(ci.colormap[0][i], k);
      g = Ink(ci.colormap[1][i], k);
      b = Ink(ci.colormap[2][i], k);
    } else {
      r = ci.colormap[0][i];
      g = ci.colormap[1][i];
      b = ci.colormap[2][i];
    }
    palette[i] = TRGBQuad{b, g, r, 0};
  }
}

// The palette of the greys of GreyDither.
void TakeGreyPalette(TBitmap::Image& image) {
  image.palette.clear();
  for (const std::uint8_t grey : GreyDither::Levels())
    image.palette.push_back({grey, grey, grey, 0});
}

// Reads every output row of the current pass into the image: straight into
// its rows (grey rows then dithered by `dither`, if any), or through one CMYK
// row converted to blue-green-red.
void ReadAllRows(Decompressor& d, const OutputPlan& plan, TBitmap::Image& image,
                 GreyDither* dither = nullptr) {
  jpeg_decompress_struct& ci = d.cinfo;
  const int width = image.width;
  const int height = image.AbsHeight();
  std::vector<JSAMPLE> cmykRow;
  if (plan.fourComponents && !plan.quantize) cmykRow.resize(static_cast<std::size_t>(width) * 4);
  JSAMPROW rows[kRowsPerCall];
  while (ci.output_scanline < ci.output_height) {
    const int first = static_cast<int>(ci.output_scanline);
    JDIMENSION got = 0;
    if (!cmykRow.empty()) {
      rows[0] = cmykRow.data();
      d.Run([&] { got = jpeg_read_scanlines(&ci, rows, 1); });
      if (got == 1) {
        std::uint8_t* out = image.Row(first);
        const JSAMPLE* in = cmykRow.data();
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
          out[0] = Ink(in[2], in[3]);
          out[1] = Ink(in[1], in[3]);
          out[2] = Ink(in[0], in[3]);
        }
      }
    } else {
      const int count = std::min(kRowsPerCall, height - first);
      for (int i = 0; i < count; ++i) rows[i] = image.Row(first + i);
      d.Run([&] { got = jpeg_read_scanlines(&ci, rows, static_cast<JDIMENSION>(count)); });
      if (dither != nullptr) {
        for (JDIMENSION i = 0; i < got; ++i) dither->Row(rows[i]);
      }
      if (plan.swapRedBlue) {
        for (JDIMENSION i = 0; i < got; ++i) {
          std::uint8_t* p = rows[i];
          for (int x = 0; x < width; ++x, p += 3) std::swap(p[0], p[2]);
        }
      }
    }
    if (got == 0) break;  // cannot happen with a source that never suspends
  }
}

// Decodes the picture into the image (after jpeg_start_decompress): in one
// pass, or pass by pass with every pass but the last (once all input is in)
// on the fast settings, signalling `onProgress` after each intermediate pass.
void ReadPasses(Decompressor& d, const OutputPlan& plan, TBitmap::Image& image,
                const std::function<void()>& onProgress) {
  jpeg_decompress_struct& ci = d.cinfo;
  if (plan.greyDither) {
    TakeGreyPalette(image);
    GreyDither dither(image.width);
    ReadAllRows(d, plan, image, &dither);
    return;
  }
  if (!plan.buffered) {
    TakePalette(ci, image);
    ReadAllRows(d, plan, image);
    return;
  }
  for (;;) {
    bool final = false;
    d.Run([&] { final = jpeg_input_complete(&ci) != 0; });
    ci.dct_method = final ? plan.finalDct : JDCT_IFAST;
    ci.dither_mode = final ? plan.finalDither : JDITHER_ORDERED;
    d.CountOutputPass();
    d.Run([&] { jpeg_start_output(&ci, ci.input_scan_number); });
    TakePalette(ci, image);
    ReadAllRows(d, plan, image);
    d.Run([&] { jpeg_finish_output(&ci); });
    if (final) return;
    if (onProgress) onProgress();
  }
}

// Zeroes the row padding beyond the first `usedBytes` of each row, which the
// decoder does not write.
void ZeroRowPadding(TBitmap::Image& image, std::size_t usedBytes) {
  const auto rowBytes = static_cast<std::size_t>(image.rowBytes);
  if (rowBytes <= usedBytes) return;
  for (int row = 0; row < image.AbsHeight(); ++row) {
    std::memset(image.Row(row) + usedBytes, 0, rowBytes - usedBytes);
  }
}

// A file of several scans keeps every coefficient of the picture while it
// decodes: per component, its blocks (rounded up to whole sampling units) of
// 64 two-byte coefficients, whatever the output scale. libjpeg allocates them
// when decoding starts and refuses them beyond kMaxDecoderMemory with
// JERR_NO_BACKING_STORE; the same refusal is made here from the header, so
// that it comes before any decode starts. The sum is a lower bound of what
// libjpeg counts, so no file it would take is refused.
void CheckCoefficientMemory(Decompressor& d) {
  jpeg_decompress_struct& ci = d.cinfo;
  bool multipleScans = false;
  d.Run([&] { multipleScans = jpeg_has_multiple_scans(&ci) != 0; });
  if (!multipleScans && !ci.buffered_image) return;
  std::int64_t bytes = 0;
  for (int i = 0; i < ci.num_components; ++i) {
    const jpeg_component_info& c = ci.comp_info[i];
    const auto roundUp = [](std::int64_t n, std::int64_t unit) {
      return unit > 0 ? (n + unit - 1) / unit * unit : n;
    };
    bytes += roundUp(c.width_in_blocks, c.h_samp_factor) *
             roundUp(c.height_in_blocks, c.v_samp_factor) * std::int64_t{sizeof(JBLOCK)};
  }
  if (bytes > kMaxDecoderMemory) d.Run([&] { ERREXIT(&ci, JERR_NO_BACKING_STORE); });
}

// Reads the header and hands the settings to the decoder, then makes the
// checks that need no pixel: an output that the rows cannot take, a bitmap
// beyond kMaxBitmapBytes. Answers what the settings made of the output.
OutputPlan PrepareDecode(Decompressor& d, const DecodeSettings& settings) {
  jpeg_decompress_struct& ci = d.cinfo;
  d.Run([&] { jpeg_read_header(&ci, TRUE); });
  const OutputPlan plan = ApplySettings(d, settings);
  d.Run([&] { jpeg_calc_output_dimensions(&ci); });
  CheckComponents(d, plan);
  // The scans the file holds, each a pass over every block (and, decoding
  // pass by pass, an output pass for each): a file whose scans would visit
  // more blocks than the work bound is refused before the decoder allocates
  // its coefficients. The monitor (LimitWork) still counts what is done.
  const std::int64_t scans = settings.scans;
  if (scans > kMaxScans ||
      scans * FrameBlocks(ci) * (plan.buffered ? 2 : 1) > kMaxJpegBlockVisits) {
    d.Run([&] { ERREXIT4(&ci, JERR_BAD_PROGRESSION, 0, 0, 0, 0); });
  }
  CheckedImageBytes(ci.output_width, ci.output_height, plan.quantize ? 8 : 24);
  CheckCoefficientMemory(d);
  return plan;
}

// The checks of PrepareDecode alone, on a decoder released right after.
void PlanDecode(std::span<const std::uint8_t> bytes, const DecodeSettings& settings) {
  Decompressor d(bytes.data(), bytes.size());
  PrepareDecode(d, settings);
}

// Decodes the data with these settings into a new pixel image. A bitmap too
// large is refused before the decoder allocates anything; the decoder's own
// buffers (bounded by kMaxDecoderMemory) are allocated before the bitmap, so
// that a file refused for them costs no bitmap.
std::shared_ptr<TBitmap::Image> DecodeImage(std::span<const std::uint8_t> bytes,
                                            const DecodeSettings& settings,
                                            const std::function<void()>& onProgress) {
  Decompressor d(bytes.data(), bytes.size());
  jpeg_decompress_struct& ci = d.cinfo;
  const OutputPlan plan = PrepareDecode(d, settings);
  d.Run([&] { jpeg_start_decompress(&ci); });
  auto image =
      TBitmap::Image::Make(static_cast<int>(ci.output_width), static_cast<int>(ci.output_height),
                           plan.quantize ? 8 : 24, false);
  ReadPasses(d, plan, *image, onProgress);
  d.Run([&] { jpeg_finish_decompress(&ci); });
  d.Destroy();
  ZeroRowPadding(*image, static_cast<std::size_t>(image->width) * (plan.quantize ? 1 : 3));
  return image;
}

// A side of `side` pixels at this scale, rounded up as libjpeg rounds it.
int ScaledSide(int side, TJPEGScale scale) {
  const int d = ScaleDivisor(scale);
  return (side + d - 1) / d;
}

}  // namespace

std::optional<std::int64_t> JpegScanCount(std::span<const std::uint8_t> stream) {
  if (stream.size() < 2 || stream[0] != 0xFF || stream[1] != 0xD8) return std::nullopt;
  std::int64_t scans = 0;
  std::size_t at = 2;
  while (at + 1 < stream.size()) {
    if (stream[at] != 0xFF) return scans;
    const std::uint8_t code = stream[at + 1];
    if (code == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (code == 0xD9) return scans;
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
      at += 2;
      continue;
    }
    const std::optional<std::uint16_t> length = U16Be(stream, at + 2);
    if (!length) return scans;
    at += 2 + *length;
    if (code != 0xDA) continue;
    ++scans;
    while (at + 1 < stream.size()) {
      const void* ff = std::memchr(stream.data() + at, 0xFF, stream.size() - at - 1);
      if (ff == nullptr) return scans;
      at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - stream.data());
      const std::uint8_t next = stream[at + 1];
      if (next != 0x00 && (next < 0xD0 || next > 0xD7)) break;
      at += 2;
    }
  }
  return scans;
}

std::int64_t TJPEGData::Scans() const {
  std::call_once(scansCounted_, [this] {
    scans_ = JpegScanCount(std::span<const std::uint8_t>(bytes.get(), size)).value_or(0);
  });
  return scans_;
}

void SetScreenBitsPerPixel(int bits) {
  g_screenBitsPerPixel = bits;
}
int ScreenBitsPerPixel() {
  return g_screenBitsPerPixel;
}

const TGraphicClass& TJPEGImage::StaticClass() {
  static const TGraphicClass kClass{"TJPEGImage", &TGraphic::StaticClass(),
                                    [] { return std::unique_ptr<TGraphic>(new TJPEGImage()); }};
  return kClass;
}

// JPEG files start with the start-of-image marker and the next marker's
// FF. Their pixels are decoded at first need; the Exif reader finds their
// Exif segment itself.
constinit const TPictureKind TJPEGImage::kKind{
    .graphic = TJPEGImage::StaticClass,
    .names = {{{"jpeg", "JPEG イメージファイル"}, {"jpg", "JPEG イメージファイル"}}},
    .signature = [](ByteSpan head) { return HasBytesAt(head, 0, "\xFF\xD8\xFF"); },
};

TJPEGImage::TJPEGImage()
    : pixelFormat_(ScreenBitsPerPixel() <= 8 ? TJPEGPixelFormat::jf8Bit
                                             : TJPEGPixelFormat::jf24Bit) {}

TJPEGImage::~TJPEGImage() = default;

int TJPEGImage::Width() const {
  if (Decoded()) return bitmap_->Width();
  return data_ ? ScaledSide(data_->width, scale_) : 0;
}

int TJPEGImage::Height() const {
  if (Decoded()) return bitmap_->Height();
  return data_ ? ScaledSide(data_->height, scale_) : 0;
}

bool TJPEGImage::Empty() const {
  return !data_ || data_->size == 0;
}

std::span<const std::uint8_t> TJPEGImage::Data() const {
  if (!data_) return {};
  return {data_->bytes.get(), data_->size};
}

void TJPEGImage::LoadFromStream(TStream& stream) {
  auto data = std::make_shared<TJPEGData>();
  const std::int64_t count = stream.Size() - stream.Position();
  bool progressive = false;
  if (count > 0) {
    // A file larger than the largest pixel image is refused unread.
    if (count > kMaxBitmapBytes) {
      throw EOutOfResources(FillMessage(kMsgPictureFileTooLarge, {std::to_string(count)}));
    }
    // The header is read from the first bytes (more when its segments go on),
    // so that data that is no JPEG is refused before the rest is read.
    data->size = static_cast<std::size_t>(count);
    std::vector<std::uint8_t> start;
    std::optional<HeaderFacts> header;
    for (std::size_t want = kHeaderPiece; !header; want *= 4) {
      const std::size_t got = start.size();
      start.resize(std::min(want, data->size));
      stream.ReadBuffer(start.data() + got, static_cast<std::int64_t>(start.size() - got));
      header = ReadHeaderFacts(start.data(), start.size(), start.size() < data->size);
    }
    // The whole file goes into a block from the pixel memory, which maps a
    // large one in huge pages all at once: a heap block of a large file is
    // faulted in one small page at a time while it is read, which costs more
    // than reading it.
    data->bytes = AllocatePixels(data->size, false);
    std::memcpy(data->bytes.get(), start.data(), start.size());
    stream.ReadBuffer(data->bytes.get() + start.size(),
                      static_cast<std::int64_t>(data->size - start.size()));
    const HeaderFacts& facts = *header;
    data->width = facts.width;
    data->height = facts.height;
    data->grayscale = facts.grayscale;
    progressive = facts.progressive;
  }
  data_ = std::move(data);
  progressive_ = progressive;
  DropBitmap();
  Changed();
}

void TJPEGImage::Assign(const TJPEGImage& other) {
  if (&other == this) return;
  data_ = other.data_;
  progressive_ = other.progressive_;
  scale_ = other.scale_;
  smoothing_ = other.smoothing_;
  grayscaleOut_ = other.grayscaleOut_;
  pixelFormat_ = other.pixelFormat_;
  performance_ = other.performance_;
  progressiveDisplay_ = other.progressiveDisplay_;
  DropBitmap();
  Changed();
}

const TBitmap& TJPEGImage::Bitmap() {
  return *Pixels();
}

const TBitmap* TJPEGImage::Pixels() const {
  if (!Decoded()) Decode();
  return bitmap_.get();
}

void TJPEGImage::DropBitmap() {
  bitmap_.reset();
  decodedOk_ = false;
}

#define PELORIA_JPEG_SETTER(Setter, field, Type) \
  void TJPEGImage::Setter(Type value) {          \
    if (field == value) return;                  \
    field = value;                               \
    DropBitmap();                                \
    Changed();                                   \
  }
PELORIA_JPEG_SETTER(SetScale, scale_, TJPEGScale)
PELORIA_JPEG_SETTER(SetSmoothing, smoothing_, bool)
PELORIA_JPEG_SETTER(SetGrayscale, grayscaleOut_, bool)
PELORIA_JPEG_SETTER(SetPixelFormat, pixelFormat_, TJPEGPixelFormat)
PELORIA_JPEG_SETTER(SetPerformance, performance_, TJPEGPerformance)
PELORIA_JPEG_SETTER(SetProgressiveDisplay, progressiveDisplay_, bool)
#undef PELORIA_JPEG_SETTER

void TJPEGImage::Decode() const {
  bitmap_ = std::make_unique<TBitmap>();
  decodedOk_ = false;
  ++decodeCount_;
  bitmap_->SetImage(DecodeImage(Data(), SettingsOf(*this, Scans(), scale_), OnProgress));
  decodedOk_ = true;
}

void TJPEGImage::CheckDecodable() const {
  PlanDecode(Data(), SettingsOf(*this, Scans(), scale_));
}

std::unique_ptr<TBitmap> TJPEGImage::DecodeAt(TJPEGScale scale) const {
  // Pass by pass only for what is shown while it decodes: a copy made aside
  // is decoded in one go.
  DecodeSettings settings = SettingsOf(*this, Scans(), scale);
  settings.progressiveDisplay = false;
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetImage(DecodeImage(Data(), settings, {}));
  return bitmap;
}

TJPEGScale ThumbnailScale(int width, int height, int orientation, int boxWidth, int boxHeight) {
  if (SwapsSides(orientation)) std::swap(boxWidth, boxHeight);
  TJPEGScale best = TJPEGScale::jsFullSize;
  for (TJPEGScale scale : {TJPEGScale::jsHalf, TJPEGScale::jsQuarter, TJPEGScale::jsEighth}) {
    if (ScaledSide(width, scale) < boxWidth || ScaledSide(height, scale) < boxHeight) break;
    best = scale;
  }
  return best;
}

}  // namespace peloria
