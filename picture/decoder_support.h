// Helpers shared by the decoders of raster.h (not for use outside picture/).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "picture/bitmap.h"

namespace peloria {

// Fails with EInvalidGraphic kMsgInvalidImage for `kind` (an ASCII name such
// as "PNG") and the decoder's account `cause` (ASCII).
[[noreturn]] void InvalidImage(std::string_view kind, std::string_view cause);

// Makes `into` a zero-filled 24-bit picture of this size, refusing one
// beyond kMaxBitmapBytes (EOutOfResources) or without pixels
// (InvalidImage) before anything is allocated.
void StartRgbBitmap(TBitmap& into, std::int64_t width, std::int64_t height, std::string_view kind);

// Refuses (EOutOfResources) a decode that would need `bytes` of working
// memory beside the bitmap, more than kMaxDecoderWorkingBytes.
void CheckWorkingBytes(std::int64_t bytes, std::int64_t width, std::int64_t height);

// The scans of a JPEG stream (start-of-scan markers before its end), as
// far as `stream` holds it; none when it does not start like a JPEG file.
// Markers are FF and a code; all but SOI, EOI, RSTn and TEM carry a 2-byte
// length; coded data after a scan header ends at an FF followed by anything
// but 00 (a stuffed FF) or a restart marker.
std::optional<std::int64_t> JpegScanCount(std::span<const std::uint8_t> stream);

// A colour channel laid onto white: with a straight alpha (the colour as if
// opaque) and with a premultiplied one (the colour already scaled by alpha).
inline std::uint8_t OverWhite(unsigned channel, unsigned alpha) {
  return static_cast<std::uint8_t>((channel * alpha + 255 * (255 - alpha) + 127) / 255);
}
inline std::uint8_t OverWhitePremultiplied(unsigned channel, unsigned alpha) {
  const unsigned sum = channel + 255 - alpha;
  return static_cast<std::uint8_t>(sum > 255 ? 255 : sum);
}

// Lays a picture of blue, green, red and straight alpha bytes (rows of
// 4 x width bytes, top first) onto white into the 24-bit `into` of that size.
void BgraOntoWhite(const std::uint8_t* bgra, std::int64_t width, std::int64_t height,
                   TBitmap& into);

}  // namespace peloria
