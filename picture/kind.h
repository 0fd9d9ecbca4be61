// A picture kind, declared once beside its graphic class: the extensions the
// file-type registry lists it under, the signature its files start with, the
// way its pixels are had and where its files keep their Exif block. The
// registry (formats.h), the content test (KindBySignature) and the Exif-block
// reader (exif_block.h) are all built from these declarations, taken in the
// order of PictureKinds().
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

namespace peloria {

struct TGraphicClass;
class TBitmap;

// One registry row of a kind: the extension (ASCII, without the dot) and its
// description (UTF-8 here; the registry holds it in CP932).
struct TKindName {
  const char* extension = nullptr;
  const char* description = nullptr;
};

struct TPictureKind {
  // The graphic class that reads files of this kind.
  const TGraphicClass& (*graphic)();
  // Its registry rows, in their order; unused rows have no extension.
  std::array<TKindName, 3> names;
  // True when the first bytes of a file (up to kSignatureBytes of them) carry
  // the kind's signature; none for kinds recognised by extension only.
  bool (*signature)(ByteSpan head) = nullptr;
  // For the kinds decoded at load (raster.h): fills `into` with the 24-bit
  // picture of a whole file. None for the kinds whose class has its own way:
  // JPEG decodes at first need, BMP reads itself, metafiles have no pixels.
  void (*decode)(ByteSpan file, TBitmap& into) = nullptr;
  // The TIFF block of the Exif data a whole file holds, or none (see
  // exif_block.h). None for kinds without one, and for JPEG, whose Exif
  // segment the Exif reader finds itself.
  std::optional<std::vector<std::uint8_t>> (*exifBlock)(ByteSpan file) = nullptr;
  // True when the decoder turns and mirrors the picture as its file says it
  // is to be seen, so that an Exif orientation must not be applied again.
  bool upright = false;
};

// Every built-in kind, in the registry's order.
std::span<const TPictureKind* const> PictureKinds();

// True when `head` holds `bytes` at `at`: the building block of the
// signature tests.
inline bool HasBytesAt(ByteSpan head, std::size_t at, std::string_view bytes) {
  return InRange(head, at, bytes.size()) &&
         std::memcmp(head.data() + at, bytes.data(), bytes.size()) == 0;
}

}  // namespace peloria
