// The registry of picture file types: which graphic kind reads files of which
// extension. One process-wide list, made at first use with the built-in kinds
// in this order:
//   wmf  "メタファイル"             TMetafile
//   emf  "エンハンス メタファイル"  TMetafile
//   ico  "アイコン"                 TIcon
//   bmp  "ビットマップ"             TBitmap
//   jpeg "JPEG イメージファイル"    TJPEGImage
//   jpg  "JPEG イメージファイル"    TJPEGImage
// followed by the kinds decoded at load (raster.h):
//   png  "PNG イメージファイル"     TPngImage
//   gif  "GIF イメージファイル"     TGifImage
//   tif, tiff "TIFF イメージファイル"  TTiffImage
//   webp "WebP イメージファイル"    TWebPImage
//   heic, heif "HEIF イメージファイル" THeifImage
//   avif "AVIF イメージファイル"    THeifImage
// Icons (ico) are decoded too; metafiles are recognised but never shown.
//
// The content decides: a file whose first bytes are the signature of a kind
// is read as that kind whatever its extension says (see KindBySignature).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "picture/graphic.h"
#include "picture/raster.h"

namespace peloria {

class TFileFormatsList {
 public:
  struct Entry {
    const TGraphicClass* kind;
    std::string extension;    // without the dot, A-Z folded to a-z
    std::string description;  // CP932
    int descriptionResource;  // 0 for every built-in entry
  };

  // An empty list (the process-wide one is FileFormats()).
  TFileFormatsList() = default;

  // Appends an entry; the extension (CP932, without the dot) is lower-cased.
  void Add(const std::string& extension, const std::string& description, const TGraphicClass& kind,
           int descriptionResource = 0);
  // The kind for an extension (without the dot; any letter case): the entries
  // are compared from the last to the first, so a later entry wins. nullptr
  // when none matches.
  const TGraphicClass* Find(const std::string& extension) const;
  // Drops every entry whose kind is `kind` or derives from it.
  void Remove(const TGraphicClass& kind);

  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

// The process-wide registry with the built-in kinds.
TFileFormatsList& FileFormats();

// Registers the JPEG kind (jpeg, jpg) in `list`; FileFormats() does this once
// when it is made. UnregisterJpegFormats removes both entries again.
void RegisterJpegFormats(TFileFormatsList& list);
void UnregisterJpegFormats(TFileFormatsList& list);

// Registers the kinds decoded at load (png ... avif, above) in `list`;
// FileFormats() does this once, after the JPEG kind.
void RegisterRasterFormats(TFileFormatsList& list);

// The kind whose signature the first bytes of a file carry (up to
// kSignatureBytes of them), or nullptr when they carry none of these:
//   JPEG  FF D8 FF
//   PNG   89 "PNG" 0D 0A 1A 0A
//   GIF   "GIF87a" or "GIF89a"
//   TIFF  "II" 2A 00 or "MM" 00 2A (and BigTIFF's 2B)
//   WebP  "RIFF", 4 bytes, "WEBP"
//   HEIF  a file-type box ("ftyp" at 4) naming a HEIF or AVIF brand, as
//         major brand or among the compatible brands it holds
//   BMP   "BM" and a header size of 12, 40, 52, 56, 64, 108 or 124 at 14
//   icon  00 00 01 00 and at least one image
const TGraphicClass* KindBySignature(std::span<const std::uint8_t> head);

// The extension of a path (CP932), without its dot: the text after the last
// ".", "/" or ":" of the path when that character is a "."; empty otherwise.
// The second byte of a double-byte character never counts as one of these.
std::string PathExtension(const std::string& path);

}  // namespace peloria
