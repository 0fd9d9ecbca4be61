#include "picture/bitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/bytes.h"

namespace peloria {

namespace {

// The one lock around exchanging a bitmap's shared pixel image. Constant-
// initialised, so that bitmaps with static storage may use it at any time.
constinit std::mutex g_imageLock;
std::mutex& ImageLock() {
  return g_imageLock;
}

const TBitmap::Image& EmptyImage() {
  static const TBitmap::Image kEmpty;
  return kEmpty;
}

void DefaultMasks(TBitmap::Image& image) {
  if (image.bitsPerPixel == 16) {
    image.masks[0] = 0x7C00;
    image.masks[1] = 0x03E0;
    image.masks[2] = 0x001F;
  } else if (image.bitsPerPixel == 32) {
    image.masks[0] = 0x00FF0000;
    image.masks[1] = 0x0000FF00;
    image.masks[2] = 0x000000FF;
  } else {
    image.masks[0] = image.masks[1] = image.masks[2] = 0;
  }
}

// One colour component of a bit-field pixel scaled to 0..255.
std::uint32_t MaskedComponent(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const std::uint64_t max = static_cast<std::uint64_t>(mask >> shift);
  const std::uint64_t value = (pixel & mask) >> shift;
  return static_cast<std::uint32_t>((value * 255 + max / 2) / max);
}

}  // namespace

std::shared_ptr<TBitmap::Image> TBitmap::Image::Make(int width, int height, int bitsPerPixel,
                                                     bool zero) {
  const std::int64_t absHeight = height < 0 ? -std::int64_t{height} : height;
  const std::int64_t bytes = CheckedImageBytes(width, absHeight, bitsPerPixel);
  auto image = std::make_shared<Image>();
  image->width = width;
  image->height = height;
  image->bitsPerPixel = bitsPerPixel;
  image->rowBytes = BitmapRowBytes(width, bitsPerPixel);
  DefaultMasks(*image);
  image->bits = AllocatePixels(static_cast<std::size_t>(bytes), zero);
  return image;
}

const TGraphicClass& TBitmap::StaticClass() {
  static const TGraphicClass kClass{"TBitmap", &TGraphic::StaticClass(),
                                    [] { return std::unique_ptr<TGraphic>(new TBitmap()); }};
  return kClass;
}

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
  std::lock_guard guard(ImageLock());
  image_.reset();
}

const TBitmap::Image& TBitmap::Current() const {
  return image_ ? *image_ : EmptyImage();
}

int TBitmap::Width() const {
  return Current().width;
}
int TBitmap::Height() const {
  return Current().AbsHeight();
}
bool TBitmap::Empty() const {
  return Width() == 0 || Height() == 0;
}
int TBitmap::BitsPerPixel() const {
  return Current().bitsPerPixel;
}
const std::vector<TRGBQuad>& TBitmap::Palette() const {
  return Current().palette;
}
std::uint32_t TBitmap::RedMask() const {
  return Current().masks[0];
}
std::uint32_t TBitmap::GreenMask() const {
  return Current().masks[1];
}
std::uint32_t TBitmap::BlueMask() const {
  return Current().masks[2];
}
int TBitmap::RowBytes() const {
  return static_cast<int>(Current().rowBytes);
}
bool TBitmap::TopDown() const {
  return Current().height < 0;
}

void TBitmap::Assign(const TGraphic* source) {
  if (source == nullptr) {
    SetImage(nullptr);
    Changed();
    return;
  }
  const TBitmap* pixels = source->Pixels();
  if (pixels == nullptr) {
    throw EConvertError(FillMessage(kMsgCannotAssign, {source->ClassName(), ClassName()}));
  }
  if (pixels != this) {
    std::shared_ptr<Image> shared;
    {
      std::lock_guard guard(ImageLock());
      shared = pixels->image_;
    }
    SetImage(std::move(shared));
    transparent_ = pixels->transparent_;
  }
  Changed();
}

void TBitmap::SetSize(int width, int height, int bitsPerPixel) {
  SetImage(Image::Make(width, height, bitsPerPixel, true));
  Changed();
}

void TBitmap::SetPalette(std::vector<TRGBQuad> palette) {
  if (!image_) SetImage(Image::Make(0, 0, BitsPerPixel(), true));
  OwnImage().palette = std::move(palette);
  Changed();
}

void TBitmap::SetImage(std::shared_ptr<Image> image) {
  std::lock_guard guard(ImageLock());
  image_.swap(image);
}

TBitmap::Image& TBitmap::OwnImage() {
  std::lock_guard guard(ImageLock());
  if (image_.use_count() > 1) image_ = Image::CopyOf(image_);
  return *image_;
}

std::shared_ptr<TBitmap::Image> TBitmap::Image::CopyOf(const std::shared_ptr<Image>& shared) {
  auto copy = std::make_shared<Image>();
  copy->width = shared->width;
  copy->height = shared->height;
  copy->bitsPerPixel = shared->bitsPerPixel;
  copy->rowBytes = shared->rowBytes;
  copy->palette = shared->palette;
  std::memcpy(copy->masks, shared->masks, sizeof copy->masks);
  const std::int64_t bytes = shared->rowBytes * shared->AbsHeight();
  copy->bits = AllocatePixels(static_cast<std::size_t>(bytes), false);
  if (bytes > 0) std::memcpy(copy->bits.get(), shared->bits.get(), static_cast<std::size_t>(bytes));
  return copy;
}

namespace {

void CheckRow(int row, int height) {
  if (row < 0 || row >= height) {
    throw EInvalidGraphicOperation(FillMessage(kMsgScanLineRange));
  }
}

}  // namespace

std::uint8_t* TBitmap::ScanLine(int row) {
  CheckRow(row, Height());
  std::uint8_t* start = OwnImage().Row(row);
  Changed();
  return start;
}

const std::uint8_t* TBitmap::RowData(int row) const {
  CheckRow(row, Height());
  return Current().Row(row);
}

void TBitmap::RowToArgb(int row, std::uint32_t* out) const {
  CheckRow(row, Height());
  const Image& image = Current();
  const std::uint8_t* p = image.Row(row);
  const int width = image.width;
  const ByteSpan bytes(p, static_cast<std::size_t>(image.rowBytes));
  const auto fromPalette = [&](unsigned index) -> std::uint32_t {
    if (index >= image.palette.size()) return 0xFF000000u;
    const TRGBQuad& q = image.palette[index];
    return 0xFF000000u | std::uint32_t{q.rgbRed} << 16 | std::uint32_t{q.rgbGreen} << 8 | q.rgbBlue;
  };
  const auto fromMasks = [&](std::uint32_t pixel) -> std::uint32_t {
    return 0xFF000000u | MaskedComponent(pixel, image.masks[0]) << 16 |
           MaskedComponent(pixel, image.masks[1]) << 8 | MaskedComponent(pixel, image.masks[2]);
  };
  switch (image.bitsPerPixel) {
    case 1:
      for (int x = 0; x < width; ++x) out[x] = fromPalette((p[x >> 3] >> (7 - (x & 7))) & 1);
      break;
    case 4:
      for (int x = 0; x < width; ++x) out[x] = fromPalette((p[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F);
      break;
    case 8:
      for (int x = 0; x < width; ++x) out[x] = fromPalette(p[x]);
      break;
    case 16:
      for (int x = 0; x < width; ++x)
        out[x] = fromMasks(U16Le(bytes, 2 * static_cast<std::size_t>(x)).value_or(0));
      break;
    case 24:
      for (int x = 0; x < width; ++x, p += 3) {
        out[x] = 0xFF000000u | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
      }
      break;
    case 32:
      for (int x = 0; x < width; ++x)
        out[x] = fromMasks(U32Le(bytes, 4 * static_cast<std::size_t>(x)).value_or(0));
      break;
    default:
      for (int x = 0; x < width; ++x) out[x] = 0xFF000000u;
      break;
  }
}

bool TBitmap::SharesImageWith(const TBitmap& other) const {
  std::lock_guard guard(ImageLock());
  return image_ != nullptr && image_ == other.image_;
}

}  // namespace peloria
