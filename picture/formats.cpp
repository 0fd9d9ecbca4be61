#include "picture/formats.h"

#include <algorithm>
#include <iterator>

#include "picture/bitmap.h"
#include "picture/jpeg.h"
#include "picture/raster.h"
#include "platform/cp932.h"

namespace peloria {

void TFileFormatsList::Add(const std::string& extension, const std::string& description,
                           const TGraphicClass& kind, int descriptionResource) {
  entries_.push_back(Entry{&kind, LowerAscii(extension), description, descriptionResource});
}

const TGraphicClass* TFileFormatsList::Find(const std::string& extension) const {
  const std::string wanted = LowerAscii(extension);
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->extension == wanted) return it->kind;
  }
  return nullptr;
}

void TFileFormatsList::Remove(const TGraphicClass& kind) {
  std::erase_if(entries_, [&](const Entry& e) { return e.kind->InheritsFrom(kind); });
}

namespace {

// The built-in kinds in the registry's order. The content test asks them from
// the last to the first: the signatures are distinct except that an icon's
// (00 00 01 00) may begin a HEIF file-type box, where HEIF must win.
#define PELORIA_PICTURE_KINDS(X) \
  X(TMetafile)                   \
  X(TIcon)                       \
  X(TBitmap)                     \
  X(TJPEGImage)                  \
  X(TPngImage)                   \
  X(TGifImage)                   \
  X(TTiffImage)                  \
  X(TWebPImage)                  \
  X(THeifImage)                  \
  X(TJxlImage)

#define PELORIA_KIND_ADDRESS(Name) &Name::kKind,
constexpr const TPictureKind* kKinds[] = {PELORIA_PICTURE_KINDS(PELORIA_KIND_ADDRESS)};
#undef PELORIA_KIND_ADDRESS

}  // namespace

std::span<const TPictureKind* const> PictureKinds() {
  return kKinds;
}

void RegisterKind(TFileFormatsList& list, const TPictureKind& kind) {
  for (const TKindName& name : kind.names) {
    if (name.extension != nullptr)
      list.Add(name.extension, Cp932(name.description), kind.graphic());
  }
}

void RegisterJpegFormats(TFileFormatsList& list) {
  RegisterKind(list, TJPEGImage::kKind);
}

void UnregisterJpegFormats(TFileFormatsList& list) {
  list.Remove(TJPEGImage::StaticClass());
}

const TPictureKind* PictureKindBySignature(std::span<const std::uint8_t> head) {
  // Later kinds are the more specific ones, so they are asked first.
  // (A plain reverse loop: clang 14 cannot build std::views over this array
  // with GCC 12's standard library.)
  for (auto it = std::rbegin(kKinds); it != std::rend(kKinds); ++it) {
    const TPictureKind* kind = *it;
    if (kind->signature != nullptr && kind->signature(head)) return kind;
  }
  return nullptr;
}

const TGraphicClass* KindBySignature(std::span<const std::uint8_t> head) {
  const TPictureKind* kind = PictureKindBySignature(head);
  return kind != nullptr ? &kind->graphic() : nullptr;
}

TFileFormatsList& FileFormats() {
  static TFileFormatsList list = [] {
    TFileFormatsList built;
    for (const TPictureKind* kind : kKinds) RegisterKind(built, *kind);
    return built;
  }();
  return list;
}

std::string PathExtension(const std::string& path) {
  // Walk forward so that the second byte of a double-byte character is
  // skipped together with its lead byte.
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(c) && i + 1 < path.size()) {
      ++i;
    } else if (c == '.' || c == '/' || c == ':') {
      last = i;
    }
  }
  if (last == std::string::npos || path[last] != '.') return {};
  return path.substr(last + 1);
}

}  // namespace peloria
