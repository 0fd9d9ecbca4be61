#include "picture/formats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

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

void RegisterRasterFormats(TFileFormatsList& list) {
  struct Row {
    const char* extension;
    const char* description;
    const TGraphicClass& kind;
  };
  for (const Row& row : {
           Row{"png", "PNG イメージファイル", TPngImage::StaticClass()},
           Row{"gif", "GIF イメージファイル", TGifImage::StaticClass()},
           Row{"tif", "TIFF イメージファイル", TTiffImage::StaticClass()},
           Row{"tiff", "TIFF イメージファイル", TTiffImage::StaticClass()},
           Row{"webp", "WebP イメージファイル", TWebPImage::StaticClass()},
           Row{"heic", "HEIF イメージファイル", THeifImage::StaticClass()},
           Row{"heif", "HEIF イメージファイル", THeifImage::StaticClass()},
           Row{"avif", "AVIF イメージファイル", THeifImage::StaticClass()},
       }) {
    list.Add(row.extension, Cp932(row.description), row.kind);
  }
}

namespace {

bool StartsWith(std::span<const std::uint8_t> head, std::size_t at, std::string_view bytes) {
  return head.size() >= at + bytes.size() &&
         std::memcmp(head.data() + at, bytes.data(), bytes.size()) == 0;
}

std::uint32_t U32Big(std::span<const std::uint8_t> head, std::size_t at) {
  return static_cast<std::uint32_t>(head[at]) << 24 | head[at + 1] << 16 | head[at + 2] << 8 |
         head[at + 3];
}

// The brands of a HEIF file-type box: the major brand at 8, the compatible
// ones from 16 to the box's end (as far as `head` reaches).
bool IsHeif(std::span<const std::uint8_t> head) {
  if (!StartsWith(head, 4, "ftyp") || head.size() < 12) return false;
  static constexpr std::array<std::string_view, 12> kBrands = {"heic", "heix", "hevc", "hevx",
                                                               "heim", "heis", "hevm", "hevs",
                                                               "mif1", "msf1", "avif", "avis"};
  const auto branded = [&](std::size_t at) {
    return std::any_of(kBrands.begin(), kBrands.end(),
                       [&](std::string_view brand) { return StartsWith(head, at, brand); });
  };
  if (branded(8)) return true;
  const std::size_t end = std::min<std::size_t>(U32Big(head, 0), head.size());
  for (std::size_t at = 16; at + 4 <= end; at += 4) {
    if (branded(at)) return true;
  }
  return false;
}

bool IsBmp(std::span<const std::uint8_t> head) {
  if (!StartsWith(head, 0, "BM") || head.size() < 18) return false;
  const std::uint32_t size = static_cast<std::uint32_t>(head[14]) | head[15] << 8 | head[16] << 16 |
                             static_cast<std::uint32_t>(head[17]) << 24;
  return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 ||
         size == 124;
}

}  // namespace

const TGraphicClass* KindBySignature(std::span<const std::uint8_t> head) {
  using namespace std::string_view_literals;
  if (StartsWith(head, 0, "\xFF\xD8\xFF"sv)) return &TJPEGImage::StaticClass();
  if (StartsWith(head, 0, "\x89PNG\r\n\x1A\n"sv)) return &TPngImage::StaticClass();
  if (StartsWith(head, 0, "GIF87a"sv) || StartsWith(head, 0, "GIF89a"sv)) {
    return &TGifImage::StaticClass();
  }
  if (StartsWith(head, 0, "II*\0"sv) || StartsWith(head, 0, "MM\0*"sv) ||
      StartsWith(head, 0, "II+\0"sv) || StartsWith(head, 0, "MM\0+"sv)) {
    return &TTiffImage::StaticClass();
  }
  if (StartsWith(head, 0, "RIFF"sv) && StartsWith(head, 8, "WEBP"sv)) {
    return &TWebPImage::StaticClass();
  }
  if (IsHeif(head)) return &THeifImage::StaticClass();
  if (IsBmp(head)) return &TBitmap::StaticClass();
  if (StartsWith(head, 0, "\0\0\x01\0"sv) && head.size() >= 6 && (head[4] | head[5]) != 0) {
    return &TIcon::StaticClass();
  }
  return nullptr;
}

TFileFormatsList& FileFormats() {
  static TFileFormatsList list = [] {
    TFileFormatsList built;
    built.Add("wmf", Cp932("メタファイル"), TMetafile::StaticClass());
    built.Add("emf", Cp932("エンハンス メタファイル"), TMetafile::StaticClass());
    built.Add("ico", Cp932("アイコン"), TIcon::StaticClass());
    built.Add("bmp", Cp932("ビットマップ"), TBitmap::StaticClass());
    RegisterJpegFormats(built);
    RegisterRasterFormats(built);
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
