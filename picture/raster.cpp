#include "picture/raster.h"

#include <string>

#include "picture/decoder_support.h"

namespace peloria {

void InvalidImage(std::string_view kind, std::string_view cause) {
  throw EInvalidGraphic(FillMessage(kMsgInvalidImage, {kind, cause}));
}

void StartRgbBitmap(TBitmap& into, std::int64_t width, std::int64_t height, std::string_view kind) {
  if (width <= 0 || height <= 0) InvalidImage(kind, "no pixels");
  CheckedImageBytes(width, height, 24);
  into.SetSize(static_cast<int>(width), static_cast<int>(height), 24);
}

void CheckWorkingBytes(std::int64_t bytes, std::int64_t width, std::int64_t height) {
  if (bytes > kMaxDecoderWorkingBytes) {
    throw EOutOfResources(
        FillMessage(kMsgBitmapTooLarge, {std::to_string(width), std::to_string(height)}));
  }
}

void BgraOntoWhite(const std::uint8_t* bgra, std::int64_t width, std::int64_t height,
                   TBitmap& into) {
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = bgra + 4 * width * y;
    std::uint8_t* dst = into.ScanLine(y);
    for (std::int64_t x = 0; x < width; ++x, src += 4, dst += 3) {
      dst[0] = OverWhite(src[0], src[3]);
      dst[1] = OverWhite(src[1], src[3]);
      dst[2] = OverWhite(src[2], src[3]);
    }
  }
}

const TGraphicClass& TRasterImage::StaticClass() {
  static const TGraphicClass kClass{"TRasterImage", &TGraphic::StaticClass(), nullptr};
  return kClass;
}

void TRasterImage::LoadFromStream(TStream& stream) {
  const PixelMemory file = ReadRestIntoPixelMemory(stream);
  LoadFromBytes({file.get(), file.get_deleter().bytes});
}

void TRasterImage::LoadFromBytes(std::span<const std::uint8_t> file) {
  TBitmap decoded;
  Kind().decode(file, decoded);
  bitmap_.Assign(&decoded);
  Changed();
}

}  // namespace peloria
