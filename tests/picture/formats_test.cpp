#include "picture/formats.h"

#include <gtest/gtest.h>

#include "picture/bitmap.h"
#include "picture/jpeg.h"
#include "platform/cp932.h"

namespace peloria {
namespace {

TEST(FileFormatsTest, BuiltInEntriesInOrder) {
  struct Row {
    const char* extension;
    const char* description;
    const TGraphicClass* kind;
  };
  const Row rows[] = {
      {"wmf", "メタファイル", &TMetafile::StaticClass()},
      {"emf", "エンハンス メタファイル", &TMetafile::StaticClass()},
      {"ico", "アイコン", &TIcon::StaticClass()},
      {"bmp", "ビットマップ", &TBitmap::StaticClass()},
      {"jpeg", "JPEG イメージファイル", &TJPEGImage::StaticClass()},
      {"jpg", "JPEG イメージファイル", &TJPEGImage::StaticClass()},
      {"png", "PNG イメージファイル", &TPngImage::StaticClass()},
      {"gif", "GIF イメージファイル", &TGifImage::StaticClass()},
      {"tif", "TIFF イメージファイル", &TTiffImage::StaticClass()},
      {"tiff", "TIFF イメージファイル", &TTiffImage::StaticClass()},
      {"webp", "WebP イメージファイル", &TWebPImage::StaticClass()},
      {"heic", "HEIF イメージファイル", &THeifImage::StaticClass()},
      {"heif", "HEIF イメージファイル", &THeifImage::StaticClass()},
      {"avif", "AVIF イメージファイル", &THeifImage::StaticClass()},
      {"jxl", "JPEG XL イメージファイル", &TJxlImage::StaticClass()},
  };
  const auto& entries = FileFormats().Entries();
  ASSERT_EQ(entries.size(), std::size(rows));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].extension, rows[i].extension);
    EXPECT_EQ(entries[i].description, Cp932(rows[i].description));
    EXPECT_EQ(entries[i].kind, rows[i].kind);
    EXPECT_EQ(entries[i].descriptionResource, 0);
  }
}

TEST(FileFormatsTest, LookupFoldsCaseAndPrefersLaterEntries) {
  const TFileFormatsList& formats = FileFormats();
  for (const char* ext : {"jpg", "JPG", "Jpeg", "JPEG"}) {
    EXPECT_EQ(formats.Find(ext), &TJPEGImage::StaticClass()) << ext;
  }
  EXPECT_EQ(formats.Find("Bmp"), &TBitmap::StaticClass());
  EXPECT_EQ(formats.Find("PNG"), &TPngImage::StaticClass());
  for (const char* ext : {"", "wbmp", "jpg ", ".jpg", "jp"}) {
    EXPECT_EQ(formats.Find(ext), nullptr) << ext;
  }

  TFileFormatsList list;
  list.Add("PIC", "first", TBitmap::StaticClass());
  list.Add("pic", "second", TIcon::StaticClass());
  EXPECT_EQ(list.Entries()[0].extension, "pic");
  EXPECT_EQ(list.Find("Pic"), &TIcon::StaticClass());
}

TEST(FileFormatsTest, RemovingAKindRemovesDerivedKinds) {
  static const TGraphicClass kDerived{"TDerivedBitmap", &TBitmap::StaticClass(), nullptr};
  TFileFormatsList list;
  list.Add("bmp", "b", TBitmap::StaticClass());
  list.Add("ico", "i", TIcon::StaticClass());
  list.Add("dib", "d", kDerived);
  list.Remove(TBitmap::StaticClass());
  ASSERT_EQ(list.Entries().size(), 1u);
  EXPECT_EQ(list.Entries()[0].extension, "ico");

  RegisterJpegFormats(list);
  EXPECT_EQ(list.Entries().size(), 3u);
  UnregisterJpegFormats(list);
  EXPECT_EQ(list.Entries().size(), 1u);
  list.Remove(TGraphic::StaticClass());
  EXPECT_TRUE(list.Entries().empty());
}

// The signatures are distinct but for one pair: an icon's 00 00 01 00 may
// begin a HEIF file-type box 256 bytes long, and then HEIF wins.
TEST(FileFormatsTest, SignaturesPickOneKind) {
  using namespace std::string_view_literals;
  const std::pair<std::string_view, const char*> rows[] = {
      {"\0\0\x01\0ftypheic\0\0\0\0"sv, "THeifImage"},
      {"\0\0\x01\0\x01\0"sv, "TIcon"},
      {"\0\0\x01\0\0\0"sv, "(none)"},
      {"\xFF\xD8\xFF\xE0"sv, "TJPEGImage"},
      {"BM\0\0\0\0\0\0\0\0\0\0\0\0\x28\0\0\0"sv, "TBitmap"},
      {"BM\0\0\0\0\0\0\0\0\0\0\0\0\x28\0\0"sv, "(none)"},
      {"MM\0+"sv, "TTiffImage"},
      {"\xFF\x0A\xFA"sv, "TJxlImage"},
      {"\0\0\0\x0CJXL \r\n\x87\n\0\0\0\024ftypjxl "sv, "TJxlImage"},
      {"\0\0\0\x0CJXL \r\n\x87"sv, "(none)"},
      {""sv, "(none)"},
  };
  for (const auto& [head, name] : rows) {
    const TGraphicClass* kind =
        KindBySignature({reinterpret_cast<const std::uint8_t*>(head.data()), head.size()});
    EXPECT_STREQ(kind != nullptr ? kind->name : "(none)", name) << testing::PrintToString(head);
  }
}

TEST(PathExtensionTest, LastDotSlashOrColonDecides) {
  const std::pair<std::string, std::string> rows[] = {
      {"photo.JPG", "JPG"},
      {"/home/u/photo.Jpeg", "Jpeg"},
      {"/a/b.c/photo.tar.gz", "gz"},
      {"pics.old/file", ""},
      {"c:file", ""},
      {"x.y:z", ""},
      {"dir/name.", ""},
      {"noext", ""},
      {"", ""},
      {".hidden", "hidden"},
      {Cp932("写真.jpg"), "jpg"},
      {Cp932("/ソフト/表.bmp"), "bmp"},
      // A "." right after a lead byte is that character's second byte.
      {"a\x81.jpg", ""},
      {"b.x\x81", "x\x81"},
  };
  for (const auto& [path, extension] : rows) {
    EXPECT_EQ(PathExtension(path), extension) << path;
  }
}

}  // namespace
}  // namespace peloria
