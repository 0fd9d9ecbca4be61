#include "picture/formats.h"

#include <algorithm>

#include "picture/bitmap.h"
#include "picture/jpeg.h"
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

void RegisterJpegFormats(TFileFormatsList& list) {
  const std::string description = Cp932("JPEG イメージファイル");
  list.Add("jpeg", description, TJPEGImage::StaticClass());
  list.Add("jpg", description, TJPEGImage::StaticClass());
}

void UnregisterJpegFormats(TFileFormatsList& list) {
  list.Remove(TJPEGImage::StaticClass());
}

TFileFormatsList& FileFormats() {
  static TFileFormatsList list = [] {
    TFileFormatsList built;
    built.Add("wmf", Cp932("メタファイル"), TMetafile::StaticClass());
    built.Add("emf", Cp932("エンハンス メタファイル"), TMetafile::StaticClass());
    built.Add("ico", Cp932("アイコン"), TIcon::StaticClass());
    built.Add("bmp", Cp932("ビットマップ"), TBitmap::StaticClass());
    RegisterJpegFormats(built);
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
