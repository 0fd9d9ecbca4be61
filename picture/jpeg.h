// JPEG pictures decoded with libjpeg. Loading reads the header (size,
// greyscale, number of scans) from the start of the file, and only when it
// is a JPEG header the whole file into one memory block;
// pixels are decoded only when first needed (Bitmap(), or assigning the
// picture to a TBitmap) and at most once per load while the settings stay.
//
// Decoder settings and their values at creation:
//   scale                full size (1/1; also 1/2, 1/4, 1/8)
//   smoothing            on  (block smoothing of progressive files)
//   greyscale output     off (on: greyscale output whatever the file holds)
//   pixel format         24 bits, or 8 bits with a 236-colour palette when the
//                        screen depth (SetScreenBitsPerPixel) is 8 or less
//   performance          best quality (float DCT, libjpeg's default dithering
//                        and quantisation); best speed: fast integer DCT,
//                        one-pass quantisation, ordered dithering
//   progressive display  off (on: a multi-scan file is decoded pass by pass,
//                        intermediate passes with the fast settings)
// Changing a setting drops the decoded bitmap, so the next need decodes anew.
//
// A thumbnail needs far fewer pixels: DecodeAt decodes a copy at 1/2, 1/4 or
// 1/8 (libjpeg scales while it decodes, which leaves little but the entropy
// decoding), and CheckDecodable makes the full decode's own checks from the
// header, so that a file the full decode refuses is refused before either
// decode starts.
//
// Output: 24-bit rows hold blue, green, red; greyscale output and 8-bit output
// are palette indices (236 greys for greyscale). Four-component files (CMYK,
// YCCK) are converted to blue, green, red, taking the components as Adobe
// writes them (inverted: 255 means no ink).
//
// Every fatal decoder error is EJPEG "JPEG エラー #%d" with libjpeg's message
// code; warnings are silent. A cut-off file decodes: the decoder is handed an
// end-of-image marker where the data ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "picture/bitmap.h"
#include "picture/graphic.h"

namespace peloria {

// The screen's colour depth (bits per pixel times planes) as the program saw
// it at start; new TJPEGImage objects choose 8-bit output when it is 8 or
// less. Process-wide, 24 until set. The window program sets it once at start.
void SetScreenBitsPerPixel(int bits);
int ScreenBitsPerPixel();

enum class TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };
enum class TJPEGPixelFormat { jf24Bit, jf8Bit };
enum class TJPEGPerformance { jpBestQuality, jpBestSpeed };

// The compressed file and what its header says; shared between JPEG graphics.
struct TJPEGData {
  PixelMemory bytes;  // the whole file
  std::size_t size = 0;
  int width = 0;
  int height = 0;
  bool grayscale = false;  // one component

  // The scans of the file, counted once at the first decode or check: the
  // count reads the whole file, and the data is shared by the copies decoded
  // beside each other.
  std::int64_t Scans() const;

 private:
  mutable std::once_flag scansCounted_;
  mutable std::int64_t scans_ = 0;
};

// The largest reduction libjpeg decodes at (1/1, 1/2, 1/4, 1/8) whose output
// for a width x height picture, turned by the Exif orientation `orientation`
// (1 to 8), still covers boxWidth x boxHeight in both axes: the cheapest
// decode from which a thumbnail of that size loses no detail.
TJPEGScale ThumbnailScale(int width, int height, int orientation, int boxWidth, int boxHeight);

class TJPEGImage final : public TGraphic {
 public:
  TJPEGImage();
  ~TJPEGImage() override;

  static const TGraphicClass& StaticClass();
  static const TPictureKind kKind;
  const TGraphicClass& Class() const override { return StaticClass(); }
  const char* ClassName() const override { return "TJPEGImage"; }
  // The decoded bitmap, as Bitmap().
  const TBitmap* Pixels() const override;

  // Those of the decoded bitmap when there is one; otherwise the header's
  // size scaled as the decoder would scale it.
  int Width() const override;
  int Height() const override;
  bool Empty() const override;

  // Replaces the data (and drops a decoded bitmap); reads the header unless
  // the stream has no byte left. Fails with EJPEG when the data is not a
  // JPEG image, having read little more than the header; the graphic keeps
  // its old data then.
  void LoadFromStream(TStream& stream) override;

  // The decoded bitmap, decoded now if it was not yet. Fails with EJPEG
  // (empty data included) or EOutOfResources; after a failure the bitmap's
  // pixels are undefined and the next call decodes again.
  const TBitmap& Bitmap();
  // Makes, from the header alone, the checks that a decode at the present
  // settings makes before it decodes any pixel, and fails as it would
  // (EJPEG, EOutOfResources): data that is no JPEG, an output the rows
  // cannot take, a bitmap beyond kMaxBitmapBytes. Decodes nothing.
  void CheckDecodable() const;
  // A new bitmap of the picture decoded at `scale`, the other settings as
  // they are; the graphic's own decoded bitmap is neither made nor dropped.
  // It only reads the compressed data, so it may run on another thread while
  // a graphic that shares the data (Assign) decodes in full. Fails as
  // Bitmap() does.
  std::unique_ptr<TBitmap> DecodeAt(TJPEGScale scale) const;
  // True when a decoded bitmap is held.
  bool Decoded() const { return bitmap_ != nullptr && decodedOk_; }
  // How many decodes ran since creation (for tests and diagnostics).
  int DecodeCount() const { return decodeCount_; }

  // Shares `other`'s compressed data and copies its settings.
  void Assign(const TJPEGImage& other);

  // Facts of the loaded file.
  bool IsGrayscaleFile() const { return data_ && data_->grayscale; }
  bool ProgressiveEncoding() const { return progressive_; }
  std::span<const std::uint8_t> Data() const;

  TJPEGScale Scale() const { return scale_; }
  void SetScale(TJPEGScale value);
  bool Smoothing() const { return smoothing_; }
  void SetSmoothing(bool value);
  bool Grayscale() const { return grayscaleOut_; }
  void SetGrayscale(bool value);
  TJPEGPixelFormat PixelFormat() const { return pixelFormat_; }
  void SetPixelFormat(TJPEGPixelFormat value);
  TJPEGPerformance Performance() const { return performance_; }
  void SetPerformance(TJPEGPerformance value);
  bool ProgressiveDisplay() const { return progressiveDisplay_; }
  void SetProgressiveDisplay(bool value);

  // Signalled after each intermediate pass of a pass-by-pass decode.
  std::function<void()> OnProgress;

 private:
  // Decoding fills the graphic's cache of its own pixels, which is why it
  // may run on a const graphic.
  void Decode() const;
  void DropBitmap();
  // The data's scans; none without data.
  std::int64_t Scans() const { return data_ ? data_->Scans() : 0; }

  std::shared_ptr<const TJPEGData> data_;
  bool progressive_ = false;
  mutable std::unique_ptr<TBitmap> bitmap_;
  mutable bool decodedOk_ = false;
  mutable int decodeCount_ = 0;

  TJPEGScale scale_ = TJPEGScale::jsFullSize;
  bool smoothing_ = true;
  bool grayscaleOut_ = false;
  TJPEGPixelFormat pixelFormat_;
  TJPEGPerformance performance_ = TJPEGPerformance::jpBestQuality;
  bool progressiveDisplay_ = false;
};

}  // namespace peloria
