// The registry of picture file types: which graphic kind reads files of which
// extension. One process-wide list, made at first use with the built-in kinds
// in this order:
//   wmf  "メタファイル"             TMetafile
//   emf  "エンハンス メタファイル"  TMetafile
//   ico  "アイコン"                 TIcon
//   bmp  "ビットマップ"             TBitmap
//   jpeg "JPEG イメージファイル"    TJPEGImage
//   jpg  "JPEG イメージファイル"    TJPEGImage
#pragma once

#include <string>
#include <vector>

#include "picture/graphic.h"

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

// The extension of a path (CP932), without its dot: the text after the last
// ".", "/" or ":" of the path when that character is a "."; empty otherwise.
// The second byte of a double-byte character never counts as one of these.
std::string PathExtension(const std::string& path);

}  // namespace peloria
