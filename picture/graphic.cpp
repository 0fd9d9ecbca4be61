#include "picture/graphic.h"

#include <limits>
#include <new>

#include "platform/bytes.h"

namespace peloria {

std::int64_t BitmapRowBytes(std::int64_t width, int bitsPerPixel) {
  return (width * bitsPerPixel + 31) / 32 * 4;
}

std::int64_t CheckedImageBytes(std::int64_t width, std::int64_t height, int bitsPerPixel) {
  if (width < 0 || height < 0 || bitsPerPixel <= 0 || bitsPerPixel > 32) {
    throw EInvalidGraphic(FillMessage(kMsgInvalidBitmap));
  }
  const bool tooLarge =
      width > std::numeric_limits<std::int32_t>::max() ||
      height > std::numeric_limits<std::int32_t>::max() ||
      (height != 0 && BitmapRowBytes(width, bitsPerPixel) > kMaxBitmapBytes / height);
  if (tooLarge) {
    throw EOutOfResources(
        FillMessage(kMsgBitmapTooLarge, {std::to_string(width), std::to_string(height)}));
  }
  return BitmapRowBytes(width, bitsPerPixel) * height;
}

bool TGraphicClass::InheritsFrom(const TGraphicClass& other) const {
  for (const TGraphicClass* c = this; c != nullptr; c = c->parent) {
    if (c == &other) return true;
  }
  return false;
}

TGraphic::~TGraphic() = default;

const TGraphicClass& TGraphic::StaticClass() {
  static const TGraphicClass kClass{"TGraphic", nullptr, nullptr};
  return kClass;
}

void TGraphic::LoadFromFile(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::kOpenReadDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::Changed() {
  if (OnChange) OnChange();
}

namespace {

// How many bytes are left from the stream's position, within the bound.
std::size_t RestOfStreamCount(TStream& stream) {
  const std::int64_t count = stream.Size() - stream.Position();
  if (count <= 0) return 0;
  if (count > kMaxBitmapBytes) {
    throw EOutOfResources(FillMessage(kMsgPictureFileTooLarge, {std::to_string(count)}));
  }
  return static_cast<std::size_t>(count);
}

}  // namespace

std::vector<std::uint8_t> ReadRestOfStream(TStream& stream) {
  std::vector<std::uint8_t> bytes(RestOfStreamCount(stream));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

PixelMemory ReadRestIntoPixelMemory(TStream& stream) {
  const std::size_t count = RestOfStreamCount(stream);
  PixelMemory bytes = AllocatePixels(count, false);
  if (count > 0) stream.ReadBuffer(bytes.get(), static_cast<std::int64_t>(count));
  return bytes;
}

void TUndecodedGraphic::Keep(std::vector<std::uint8_t> data, int width, int height) {
  data_ = std::move(data);
  width_ = width;
  height_ = height;
  Changed();
}

namespace {

// The callers check the header's length first; a short one reads as 0.
std::uint16_t U16(const std::vector<std::uint8_t>& d, std::size_t at) {
  return U16Le(d, at).value_or(0);
}
std::int32_t I32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return static_cast<std::int32_t>(U32Le(d, at).value_or(0));
}
int ToPixels(std::int64_t length, std::int64_t unitsPerInch) {
  if (length <= 0 || unitsPerInch <= 0) return 0;
  return static_cast<int>((length * 96 + unitsPerInch / 2) / unitsPerInch);
}

}  // namespace

const TGraphicClass& TMetafile::StaticClass() {
  static const TGraphicClass kClass{"TMetafile", &TGraphic::StaticClass(),
                                    [] { return std::unique_ptr<TGraphic>(new TMetafile()); }};
  return kClass;
}

// Metafiles are recognised by their extension only and have no pixels.
constinit const TPictureKind TMetafile::kKind{
    .graphic = TMetafile::StaticClass,
    .names = {{{"wmf", "メタファイル"}, {"emf", "エンハンス メタファイル"}}},
};

// Placeable metafile header (little-endian):
//   0  4  key 0x9AC6CDD7
//   4  2  handle, 0
//   6  8  bounding box: left, top, right, bottom (16-bit, in units)
//  14  2  units per inch
// Enhanced metafile header (EMR_HEADER):
//   0  4  record type 1
//   4  4  record size
//   8 16  bounds in device pixels
//  24 16  frame: left, top, right, bottom in 0.01 mm
//  40  4  signature " EMF" (0x464D4520)
void TMetafile::LoadFromStream(TStream& stream) {
  std::vector<std::uint8_t> data = ReadRestOfStream(stream);
  int width = 0;
  int height = 0;
  if (data.size() >= 22 && static_cast<std::uint32_t>(I32(data, 0)) == 0x9AC6CDD7u) {
    const auto edge = [&](std::size_t at) { return static_cast<std::int16_t>(U16(data, at)); };
    const std::int64_t inch = U16(data, 14);
    width = ToPixels(std::int64_t{edge(10)} - edge(6), inch);
    height = ToPixels(std::int64_t{edge(12)} - edge(8), inch);
  } else if (data.size() >= 44 && I32(data, 0) == 1 && I32(data, 40) == 0x464D4520) {
    width = ToPixels(std::int64_t{I32(data, 32)} - I32(data, 24), 2540);
    height = ToPixels(std::int64_t{I32(data, 36)} - I32(data, 28), 2540);
  }
  Keep(std::move(data), width, height);
}

}  // namespace peloria
