// The device-independent pixel image: width, height, bits per pixel, an
// optional colour table and the rows, each padded to a multiple of 4 bytes.
// Row 0 is the top row of the picture whatever the storage order of the file
// it came from. Pixel layouts: 1, 4 and 8 bits are palette indices (most
// significant bits first); 16 and 32 bits are little-endian words split by
// the three colour masks; 24 bits are blue, green, red bytes.
//
// Copies share one pixel image by reference count. The first change made
// through a bitmap (any ScanLine call counts as one) gives that bitmap its own
// copy. Every exchange of a shared image happens under one process-wide lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/graphic.h"
#include "picture/pixel_memory.h"

namespace peloria {

struct TRGBQuad {
  std::uint8_t rgbBlue;
  std::uint8_t rgbGreen;
  std::uint8_t rgbRed;
  std::uint8_t rgbReserved;

  friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

class TBitmap final : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;

  static const TGraphicClass& StaticClass();
  static const TPictureKind kKind;
  const TGraphicClass& Class() const override { return StaticClass(); }
  const char* ClassName() const override { return "TBitmap"; }
  const TBitmap* Pixels() const override { return this; }

  int Width() const override;
  // The absolute value of the stored height.
  int Height() const override;
  bool Empty() const override;
  int BitsPerPixel() const;
  const std::vector<TRGBQuad>& Palette() const;
  // The red, green and blue masks of 16- and 32-bit pixels (the defaults
  // 5-5-5 and 8-8-8 when the file gave none); zero for other depths.
  std::uint32_t RedMask() const;
  std::uint32_t GreenMask() const;
  std::uint32_t BlueMask() const;
  // Bytes per row, padded to a multiple of 4.
  int RowBytes() const;
  // True when the file stored the rows top row first (negative height).
  bool TopDown() const;

  bool Transparent() const { return transparent_; }
  void SetTransparent(bool on) { transparent_ = on; }

  // Makes this bitmap a copy of `source`: it shares the pixel image of the
  // source's pixels (TGraphic::Pixels: a TBitmap's own, the decoded bitmap
  // of a TJPEGImage, decoded first if it was not yet, or of a kind decoded
  // at load); nullptr empties this bitmap. A kind without pixels fails with
  // EConvertError "%s を %s に代入することはできません" (source's class,
  // TBitmap). Signals a change.
  void Assign(const TGraphic* source);

  // Replaces the image by a new, zero-filled one of this size and depth,
  // owned by this bitmap alone; no palette, default masks. Fails with
  // EOutOfResources beyond kMaxBitmapBytes. Signals a change.
  void SetSize(int width, int height, int bitsPerPixel);
  // Sets the colour table (made the bitmap's own image first).
  void SetPalette(std::vector<TRGBQuad> palette);

  // The start of row `row`'s bytes, 0 being the top row. Counts as a change:
  // a shared pixel image is first copied. Fails with EInvalidGraphicOperation
  // "スキャンライン のインデックスが範囲を越えました" outside 0 .. Height()-1.
  std::uint8_t* ScanLine(int row);
  // Read-only access to a row, without copying a shared image; same range
  // check as ScanLine.
  const std::uint8_t* RowData(int row) const;
  // Converts one row into 0xFFRRGGBB pixels (Width() of them) whatever the
  // pixel format; indices beyond the palette give black. Does not copy a
  // shared image. Same range check as ScanLine.
  void RowToArgb(int row, std::uint32_t* out) const;

  // Reads a BMP file (see bmp_reader.cpp for what is accepted). Fails with
  // EInvalidGraphic "ビットマップイメージが不正です" on a malformed file; the
  // bitmap keeps its old image then.
  void LoadFromStream(TStream& stream) override;
  void LoadFromFile(const std::string& path) { TGraphic::LoadFromFile(path); }

  // True when both bitmaps share one pixel image right now.
  bool SharesImageWith(const TBitmap& other) const;

  // The pixel image; public so that the readers in this folder can build one.
  struct Image;

 private:
  friend class TJPEGImage;
  void SetImage(std::shared_ptr<Image> image);
  Image& OwnImage();
  const Image& Current() const;

  std::shared_ptr<Image> image_;
  bool transparent_ = false;
};

struct TBitmap::Image {
  int width = 0;
  int height = 0;  // negative: stored top row first
  int bitsPerPixel = 24;
  std::int64_t rowBytes = 0;
  std::vector<TRGBQuad> palette;
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue
  PixelMemory bits;                    // rows top first, rowBytes each

  // An image of this size with uninitialised pixels (zeroed when `zero`).
  static std::shared_ptr<Image> Make(int width, int height, int bitsPerPixel, bool zero);
  // A copy of `shared` with pixels of its own (made for a change: copy on
  // write). One copy of the whole block at once: measured, it costs no more
  // than copying band by band at each band's first write.
  static std::shared_ptr<Image> CopyOf(const std::shared_ptr<Image>& shared);
  // The storage of a row.
  std::uint8_t* Row(int row) const { return bits.get() + rowBytes * row; }
  int AbsHeight() const { return height < 0 ? -height : height; }
};

}  // namespace peloria
