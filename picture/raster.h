// Pictures decoded at load into a 24-bit blue-green-red bitmap: PNG, WebP,
// HEIF (HEIC and AVIF), TIFF, GIF (its first frame), icons (the largest
// image of the file) and JPEG XL. Loading reads the file, decodes it, and keeps only the
// bitmap; copying the graphic into a TBitmap shares that bitmap.
//
// Every kind gives the same layout: 24 bits per pixel, blue, green, red, row 0
// at the top of the picture as stored. Transparent and partly transparent
// pixels are laid onto white. A picture beyond kMaxBitmapBytes is refused
// with EOutOfResources before its pixels are allocated; so is one whose
// decoding would need more than kMaxDecoderWorkingBytes beside them. A file
// the decoder cannot read, broken or cut off, fails with EInvalidGraphic
// "<kind> イメージが不正です: <cause>"; the graphic keeps its old picture then.
#pragma once

#include <cstdint>
#include <span>

#include "picture/bitmap.h"
#include "picture/graphic.h"

namespace peloria {

class TRasterImage : public TGraphic {
 public:
  static const TGraphicClass& StaticClass();

  int Width() const override { return bitmap_.Width(); }
  int Height() const override { return bitmap_.Height(); }
  bool Empty() const override { return bitmap_.Empty(); }
  const TBitmap* Pixels() const override { return &bitmap_; }
  bool Upright() const override { return Kind().upright; }

  void LoadFromStream(TStream& stream) override;
  // Decodes a whole file held in memory, as LoadFromStream does, with the
  // decoder of the graphic's kind.
  void LoadFromBytes(std::span<const std::uint8_t> file);

  // The decoded picture.
  const TBitmap& Bitmap() const { return bitmap_; }

  // The declaration of the graphic's kind.
  virtual const TPictureKind& Kind() const = 0;

 private:
  TBitmap bitmap_;
};

// The classes of the kinds decoded at load. Each one's declaration (kKind:
// its extensions, signature, decoder and Exif block) is made beside its
// decoder, with PELORIA_RASTER_KIND_DEFINITION.
#define PELORIA_RASTER_KIND(Name)                                         \
  class Name final : public TRasterImage {                                \
   public:                                                                \
    static const TGraphicClass& StaticClass();                            \
    static const TPictureKind kKind;                                      \
    const TGraphicClass& Class() const override { return StaticClass(); } \
    const char* ClassName() const override { return #Name; }              \
    const TPictureKind& Kind() const override { return kKind; }           \
  }

PELORIA_RASTER_KIND(TPngImage);
PELORIA_RASTER_KIND(TWebPImage);
PELORIA_RASTER_KIND(TTiffImage);
PELORIA_RASTER_KIND(TGifImage);
// Icon files (.ico): the largest image of the icon directory (the most
// pixels, then the most bits per pixel), a BMP without its file header (with
// its AND mask) or a PNG file.
PELORIA_RASTER_KIND(TIcon);
// HEIC and AVIF: the primary image, turned, mirrored and cut as the file says.
PELORIA_RASTER_KIND(THeifImage);
// JPEG XL: the first frame, turned and mirrored as its codestream says.
PELORIA_RASTER_KIND(TJxlImage);

#undef PELORIA_RASTER_KIND

// The class record of a kind decoded at load, then the start of its
// declaration, which the braced initialiser after the macro completes:
//   PELORIA_RASTER_KIND_DEFINITION(TPngImage){.graphic = ..., ...};
#define PELORIA_RASTER_KIND_DEFINITION(Name)                                                 \
  const TGraphicClass& Name::StaticClass() {                                                 \
    static const TGraphicClass kClass{#Name, &TRasterImage::StaticClass(),                   \
                                      [] { return std::unique_ptr<TGraphic>(new Name()); }}; \
    return kClass;                                                                           \
  }                                                                                          \
  constinit const TPictureKind Name::kKind

// The decoders themselves, each filling `into` with the 24-bit picture of a
// whole file held in memory (for tests, fuzzing and benchmarks as well).
void DecodePng(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeWebP(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeHeif(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeTiff(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeGif(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeIcon(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeJxl(std::span<const std::uint8_t> file, TBitmap& into);

}  // namespace peloria
