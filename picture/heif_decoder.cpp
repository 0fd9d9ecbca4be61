// HEIC and AVIF through libheif: the primary image, with the rotation,
// mirroring and cutting its file asks for, converted by libheif to 8-bit
// interleaved red, green, blue (and alpha), then copied into the bitmap.
#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "picture/decoder_libraries.h"
#include "picture/decoder_support.h"
#include "picture/exif_block.h"
#include "picture/heif_canvas.h"
#include "picture/picture_limits.h"
#include "picture/raster.h"
#include "platform/cp932.h"

namespace peloria {

namespace {

constexpr std::string_view kKind = "HEIF";

void Check(const heif_error& error) {
  if (error.code != heif_error_Ok) {
    // libheif ends some of its messages with a line break.
    InvalidImage(kKind, error.message != nullptr ? Trimmed(error.message) : "unknown error");
  }
}

struct ContextFree {
  void operator()(heif_context* c) const { HeifLibrary().heif_context_free(c); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { HeifLibrary().heif_image_handle_release(h); }
};
struct ImageFree {
  void operator()(heif_image* i) const { HeifLibrary().heif_image_release(i); }
};
struct OptionsFree {
  void operator()(heif_decoding_options* o) const { HeifLibrary().heif_decoding_options_free(o); }
};

// The bytes of one libheif plane: it rounds the sides up to even numbers
// and each row to 16 bytes, which counts for a picture a few pixels wide.
std::int64_t PlaneBytes(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel) {
  const auto even = [](std::int64_t n) { return (n + 1) / 2 * 2; };
  return even(height) * ((even(width) * bytesPerPixel + 15) / 16 * 16);
}

// What decoding costs beside the bitmap: the decoded colour planes (chroma at
// full resolution at worst, two bytes a sample beyond 8 bits), a second set
// for turning or mirroring, and libheif's interleaved output.
std::int64_t WorkingBytes(const THeifLibrary& heif, const heif_image_handle* handle,
                          std::int64_t width, std::int64_t height, bool alpha) {
  const int luma = heif.heif_image_handle_get_luma_bits_per_pixel(handle);
  const int chroma = heif.heif_image_handle_get_chroma_bits_per_pixel(handle);
  const std::int64_t sample = (luma > 8 || chroma > 8) ? 2 : 1;
  const std::int64_t channels = alpha ? 4 : 3;
  return 2 * channels * PlaneBytes(width, height, sample) + PlaneBytes(width, height, channels);
}

}  // namespace

void DecodeHeif(std::span<const std::uint8_t> file, TBitmap& into) {
  const THeifLibrary& heif = HeifLibrary();
  CheckHeifItems(file);
  std::unique_ptr<heif_context, ContextFree> context(heif.heif_context_alloc());
  Check(heif.heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(),
                                                        nullptr));
  heif_image_handle* rawHandle = nullptr;
  Check(heif.heif_context_get_primary_image_handle(context.get(), &rawHandle));
  std::unique_ptr<heif_image_handle, HandleFree> handle(rawHandle);

  const std::int64_t width = heif.heif_image_handle_get_width(handle.get());
  const std::int64_t height = heif.heif_image_handle_get_height(handle.get());
  const bool alpha = heif.heif_image_handle_has_alpha_channel(handle.get()) != 0;
  const bool premultiplied = heif.heif_image_handle_is_premultiplied_alpha(handle.get()) != 0;
  if (width <= 0 || height <= 0) InvalidImage(kKind, "no pixels");
  CheckedImageBytes(width, height, 24);
  // libheif decodes a coded picture at the size of its "ispe" property,
  // before turning and cutting it, and composes a grid or overlay on the
  // canvas its header gives (heif_canvas.h). Both are bounded here; the
  // coded pictures themselves by libheif's side limit (kMaxHeifTileSide).
  std::int64_t decodedWidth = heif.heif_image_handle_get_ispe_width(handle.get());
  std::int64_t decodedHeight = heif.heif_image_handle_get_ispe_height(handle.get());
  if (const std::optional<THeifCanvas> canvas = DerivedCanvas(file)) {
    decodedWidth = canvas->width;
    decodedHeight = canvas->height;
  }
  CheckedImageBytes(decodedWidth, decodedHeight, 24);  // also keeps the products below in range
  const std::int64_t side =
      std::max({width, height, decodedWidth, decodedHeight, kMaxHeifTileSide});
  heif.heif_context_set_maximum_image_size_limit(context.get(), static_cast<int>(side + 1));
  if (decodedWidth * decodedHeight < width * height) {
    decodedWidth = width;
    decodedHeight = height;
  }
  CheckWorkingBytes(WorkingBytes(heif, handle.get(), decodedWidth, decodedHeight, alpha),
                    decodedWidth, decodedHeight);

  std::unique_ptr<heif_decoding_options, OptionsFree> options(heif.heif_decoding_options_alloc());
  options->convert_hdr_to_8bit = 1;
  heif_image* rawImage = nullptr;
  Check(heif.heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                               alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                               options.get()));
  std::unique_ptr<heif_image, ImageFree> image(rawImage);

  int stride = 0;
  const std::uint8_t* plane =
      heif.heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  const int outWidth = heif.heif_image_get_width(image.get(), heif_channel_interleaved);
  const int outHeight = heif.heif_image_get_height(image.get(), heif_channel_interleaved);
  if (plane == nullptr || outWidth <= 0 || outHeight <= 0) InvalidImage(kKind, "no pixels");
  StartRgbBitmap(into, outWidth, outHeight, kKind);
  const int step = alpha ? 4 : 3;
  for (int y = 0; y < outHeight; ++y) {
    const std::uint8_t* src = plane + static_cast<std::ptrdiff_t>(stride) * y;
    std::uint8_t* dst = into.ScanLine(y);
    for (int x = 0; x < outWidth; ++x, src += step, dst += 3) {
      if (!alpha) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      } else if (premultiplied) {
        dst[0] = OverWhitePremultiplied(src[2], src[3]);
        dst[1] = OverWhitePremultiplied(src[1], src[3]);
        dst[2] = OverWhitePremultiplied(src[0], src[3]);
      } else {
        dst[0] = OverWhite(src[2], src[3]);
        dst[1] = OverWhite(src[1], src[3]);
        dst[2] = OverWhite(src[0], src[3]);
      }
    }
  }
}

namespace {

// A file-type box ("ftyp" at 4) naming a HEIF or AVIF brand: the major brand
// at 8, the compatible ones from 16 to the box's end (as far as `head`
// reaches).
bool IsHeif(ByteSpan head) {
  if (!HasBytesAt(head, 4, "ftyp") || head.size() < 12) return false;
  static constexpr std::array<std::string_view, 12> kBrands = {"heic", "heix", "hevc", "hevx",
                                                               "heim", "heis", "hevm", "hevs",
                                                               "mif1", "msf1", "avif", "avis"};
  const auto branded = [&](std::size_t at) {
    return std::any_of(kBrands.begin(), kBrands.end(),
                       [&](std::string_view brand) { return HasBytesAt(head, at, brand); });
  };
  if (branded(8)) return true;
  const std::size_t end = std::min<std::size_t>(U32Be(head, 0).value_or(0), head.size());
  for (std::size_t at = 16; at + 4 <= end; at += 4) {
    if (branded(at)) return true;
  }
  return false;
}

}  // namespace

// The Exif block is the primary image's Exif item; the decoder applies the
// file's own turning and mirroring.
PELORIA_RASTER_KIND_DEFINITION(THeifImage){
    .graphic = THeifImage::StaticClass,
    .names = {{{"heic", "HEIF イメージファイル"},
               {"heif", "HEIF イメージファイル"},
               {"avif", "AVIF イメージファイル"}}},
    .signature = IsHeif,
    .decode = DecodeHeif,
    .exifBlock = HeifExifBlock,
    .upright = true,
};

}  // namespace peloria
