// The registry of picture file types: which graphic kind reads files of which
// extension. One process-wide list, made at first use from the declarations
// of the built-in kinds (kind.h), in the order of PictureKinds(): metafiles
// (wmf, emf), icons (ico), bitmaps (bmp), JPEG (jpeg, jpg), then the kinds
// decoded at load (raster.h). Icons are decoded too; metafiles are
// recognised but never shown.
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

// Appends the registry rows of one kind's declaration to `list`.
void RegisterKind(TFileFormatsList& list, const TPictureKind& kind);

// Registers the JPEG kind (jpeg, jpg) in `list`; FileFormats() does this once
// when it is made. UnregisterJpegFormats removes both entries again.
void RegisterJpegFormats(TFileFormatsList& list);
void UnregisterJpegFormats(TFileFormatsList& list);

// The kind whose signature (its declaration's test) the first bytes of a
// file carry, up to kSignatureBytes of them, or nullptr when they carry
// none. The kinds are asked from the last to the first, as Find compares
// the entries.
const TPictureKind* PictureKindBySignature(std::span<const std::uint8_t> head);
// The same kind's graphic class.
const TGraphicClass* KindBySignature(std::span<const std::uint8_t> head);

// The extension of a path (CP932), without its dot: the text after the last
// ".", "/" or ":" of the path when that character is a "."; empty otherwise.
// The second byte of a double-byte character never counts as one of these.
std::string PathExtension(const std::string& path);

}  // namespace peloria
