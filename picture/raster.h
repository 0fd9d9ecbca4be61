// Pictures decoded at load into a 24-bit blue-green-red bitmap: PNG, WebP,
// HEIF (HEIC and AVIF), TIFF, GIF (its first frame) and icons (the largest
// image of the file). Loading reads the file, decodes it, and keeps only the
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

  void LoadFromStream(TStream& stream) override;
  // Decodes a whole file held in memory, as LoadFromStream does.
  void LoadFromBytes(std::span<const std::uint8_t> file);

  // The decoded picture.
  const TBitmap& Bitmap() const { return bitmap_; }

  // True when the decoder itself turns and mirrors the picture as its file
  // says it is to be seen, so that an Exif orientation must not be applied
  // a second time.
  virtual bool Upright() const { return false; }

 protected:
  virtual void Decode(std::span<const std::uint8_t> file, TBitmap& into) const = 0;

 private:
  TBitmap bitmap_;
};

#define PELORIA_RASTER_KIND(Name)                                                  \
  class Name final : public TRasterImage {                                         \
   public:                                                                         \
    static const TGraphicClass& StaticClass();                                     \
    const TGraphicClass& Class() const override { return StaticClass(); }          \
    const char* ClassName() const override { return #Name; }                       \
                                                                                   \
   protected:                                                                      \
    void Decode(std::span<const std::uint8_t> file, TBitmap& into) const override; \
  }

PELORIA_RASTER_KIND(TPngImage);
PELORIA_RASTER_KIND(TWebPImage);
PELORIA_RASTER_KIND(TTiffImage);
PELORIA_RASTER_KIND(TGifImage);
// Icon files (.ico): the largest image of the icon directory (the most
// pixels, then the most bits per pixel), a BMP without its file header (with
// its AND mask) or a PNG file.
PELORIA_RASTER_KIND(TIcon);

#undef PELORIA_RASTER_KIND

// HEIC and AVIF: the primary image, turned, mirrored and cut as the file says.
class THeifImage final : public TRasterImage {
 public:
  static const TGraphicClass& StaticClass();
  const TGraphicClass& Class() const override { return StaticClass(); }
  const char* ClassName() const override { return "THeifImage"; }
  bool Upright() const override { return true; }

 protected:
  void Decode(std::span<const std::uint8_t> file, TBitmap& into) const override;
};

// The decoders themselves, each filling `into` with the 24-bit picture of a
// whole file held in memory (for tests, fuzzing and benchmarks as well).
void DecodePng(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeWebP(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeHeif(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeTiff(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeGif(std::span<const std::uint8_t> file, TBitmap& into);
void DecodeIcon(std::span<const std::uint8_t> file, TBitmap& into);

}  // namespace peloria
