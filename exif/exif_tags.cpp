#include "exif/exif_tags.h"

#include <algorithm>

namespace peloria {

namespace {

// ---------------------------------------------------------------------------
// Value tables: display names of coded tags (Exif 2.3, 4.6.4 and 4.6.5).
// Written in UTF-8 here, handed out in CP932 by the walk.

using C = TExifCodeName;

constexpr C kCompression[] = {{1, "非圧縮"}, {6, "JPEG"}};

constexpr C kPhotometric[] = {{2, "RGB"}, {6, "YCbCr"}};

constexpr C kResolutionUnit[] = {{2, "inch"}, {3, "cm"}};

constexpr C kExposureProgram[] = {{0, "未定義"},   {1, "マニュアル"}, {2, "プログラム"},
                                  {3, "絞り優先"}, {4, "速度優先"},   {5, "深度優先"},
                                  {6, "スポーツ"}, {7, "人物"},       {8, "風景"}};

constexpr C kMeteringMode[] = {{0, "不明"},     {1, "平均測光"},     {2, "中央重点"},
                               {3, "スポット"}, {4, "多点スポット"}, {5, "マルチセグメント"},
                               {6, "部分測光"}, {255, "その他"}};

constexpr C kLightSource[] = {
    {0, "不明"},         {1, "太陽光"}, {2, "蛍光灯"}, {3, "白熱電球"},     {4, "フラッシュ"},
    {9, "晴天"},         {10, "曇天"},  {11, "日陰"},  {17, "標準ライトA"}, {18, "標準ライトB"},
    {19, "標準ライトC"}, {20, "D55"},   {21, "D65"},   {22, "D75"},         {255, "その他"}};

constexpr C kFlash[] = {{0, "非発光"},
                        {1, "発光(反射検出機構なし)"},
                        {5, "発光(反射光未検出)"},
                        {7, "発光(反射光検出)"}};

constexpr C kColorSpace[] = {{1, "sRGB"}, {65535, "Uncalibrated"}};

constexpr C kSensingMethod[] = {
    {2, "1チップカラーエリアセンサ"}, {3, "2チップカラーエリアセンサ"},
    {4, "3チップカラーエリアセンサ"}, {5, "カラーシークエンシャルエリアセンサ"},
    {7, "トリリニアセンサ"},          {8, "カラーシークエンシャルリニアセンサ"}};

constexpr C kExposureMode[] = {{0, "自動露出"}, {1, "マニュアル露出"}, {2, "オートブラケット"}};

constexpr C kWhiteBalance[] = {{0, "自動"}, {1, "マニュアル"}};

constexpr C kSceneCaptureType[] = {{0, "標準"}, {1, "風景"}, {2, "人物"}, {3, "夜景"}};

constexpr C kAltitudeRef[] = {{0, "海抜"}, {1, "海面下"}};

// ---------------------------------------------------------------------------
// The tag table (TIFF 6.0; Exif 2.3 tables 4 to 7; 4.6.6 for 0x0001,
// 0x1001 and 0x1002 of the Interoperability IFD).

using R = TExifResults;
using A = TExifAction;
using S = TExifScope;

const TExifTag kTags[] = {
    {0x0001, S::kAny, A::kInteropIndex, nullptr},
    {0x0100, S::kAny, A::kInt32, "ImageWidth", &R::ImageWidth},
    {0x0101, S::kAny, A::kInt32, "ImageLength", &R::ImageLength},
    {0x0103, S::kAny, A::kCoded, "Compression", &R::Compression, kCompression},
    {0x0106, S::kAny, A::kCoded, "PhotometricInterpretation", &R::PhotometricInterpretation,
     kPhotometric},
    {0x010E, S::kAny, A::kText, "ImageDescription", &R::ImageDescription},
    {0x010F, S::kAny, A::kText, "Make", &R::Make},
    {0x0110, S::kAny, A::kText, "Model", &R::Model},
    {0x0112, S::kFirst, A::kOrientation, "Orientation", &R::Orientation},
    {0x0112, S::kLater, A::kOrientation, "ThumbnailOrientation", &R::ThumbnailOrientation},
    {0x0115, S::kAny, A::kInt16, "SamplesPerPixel", &R::SamplesPerPixel},
    {0x011A, S::kFirst, A::kRational, "XResolution", &R::XResolution},
    {0x011A, S::kLater, A::kRational, "ThumbnailXResolution", &R::ThumbnailXResolution},
    {0x011B, S::kFirst, A::kRational, "YResolution", &R::YResolution},
    {0x011B, S::kLater, A::kRational, "ThumbnailYResolution", &R::ThumbnailYResolution},
    {0x011C, S::kAny, A::kInt16, "PlanarConfiguration", &R::PlanarConfiguration},
    {0x0128, S::kFirst, A::kCodedKeepText, "ResolutionUnit", &R::ResolutionUnit, kResolutionUnit},
    {0x0128, S::kLater, A::kCodedKeepText, "ThumbnailResolutionUnit", &R::ThumbnailResolutionUnit,
     kResolutionUnit},
    {0x0131, S::kAny, A::kText, "Software", &R::Software},
    {0x0132, S::kAny, A::kText, "DateTime", &R::DateTime},
    {0x0201, S::kAny, A::kInt32, "JPEGInterchangeFormat", &R::JPEGInterchangeFormat},
    {0x0202, S::kAny, A::kInt32, "JPEGInterchangeFormatLength", &R::JPEGInterchangeFormatLength},
    {0x1001, S::kAny, A::kRelatedWidth, nullptr},
    {0x1002, S::kAny, A::kRelatedLength, nullptr},
    {0x8298, S::kAny, A::kText, "Copyright", &R::Copyright},
    {0x829A, S::kAny, A::kRational, "ExposureTime", &R::ExposureTime},
    {0x829D, S::kAny, A::kRational, "FNumber", &R::FNumber},
    {0x8769, S::kAny, A::kSubIfd, nullptr},  // Exif IFD pointer
    {0x8822, S::kAny, A::kCoded, "ExposureProgram", &R::ExposureProgram, kExposureProgram},
    {0x8825, S::kAny, A::kGpsIfd, nullptr},  // GPS IFD pointer
    {0x8827, S::kAny, A::kUInt16, "ISOSpeedRatings", &R::ISOSpeedRatings},
    {0x9000, S::kAny, A::kHexText, "ExifVersion", &R::ExifVersion},
    {0x9003, S::kAny, A::kText, "DateTimeOriginal", &R::DateTimeOriginal},
    {0x9004, S::kAny, A::kText, "DateTimeDigitized", &R::DateTimeDigitized},
    {0x9011, S::kAny, A::kText, "OffsetTimeOriginal", &R::OffsetTimeOriginal},
    {0x9102, S::kAny, A::kRational, "CompressedBitsPerPixel", &R::CompressedBitsPerPixel},
    {0x9201, S::kAny, A::kRational, "ShutterSpeedValue", &R::ShutterSpeedValue},
    {0x9202, S::kAny, A::kRational, "ApertureValue", &R::ApertureValue},
    {0x9203, S::kAny, A::kRational, "BrightnessValue", &R::BrightnessValue},
    {0x9204, S::kAny, A::kRational, "ExposureBiasValue", &R::ExposureBiasValue},
    {0x9205, S::kAny, A::kRational, "MaxApertureValue", &R::MaxApertureValue},
    {0x9206, S::kAny, A::kRational, "SubjectDistance", &R::SubjectDistance},
    {0x9207, S::kAny, A::kCoded, "MeteringMode", &R::MeteringMode, kMeteringMode},
    {0x9208, S::kAny, A::kCoded, "LightSource", &R::LightSource, kLightSource},
    {0x9209, S::kAny, A::kCoded, "Flash", &R::Flash, kFlash},
    {0x920A, S::kAny, A::kRational, "FocalLength", &R::FocalLength},
    {0x927C, S::kAny, A::kMakerNoteLength, "MakerNoteLength", &R::MakerNoteLength},
    {0x927C, S::kAny, A::kMakerNoteOffset, "MakerNoteOffset", &R::MakerNoteOffset},
    {0x9286, S::kAny, A::kUserComment, "UserComment", &R::UserComment},
    {0x9290, S::kAny, A::kText, "SubSecTime", &R::SubSecTime},
    {0x9291, S::kAny, A::kText, "SubSecTimeOriginal", &R::SubSecTimeOriginal},
    {0x9292, S::kAny, A::kText, "SubSecTimeDigitized", &R::SubSecTimeDigitized},
    {0xA000, S::kAny, A::kHexText, "FlashpixVersion", &R::FlashpixVersion},
    {0xA001, S::kAny, A::kCoded, "ColorSpace", &R::ColorSpace, kColorSpace},
    {0xA002, S::kAny, A::kInt32, "PixelXDimension", &R::PixelXDimension},
    {0xA003, S::kAny, A::kInt32, "PixelYDimension", &R::PixelYDimension},
    {0xA004, S::kAny, A::kText, "RelatedSoundFile", &R::RelatedSoundFile},
    {0xA005, S::kAny, A::kSubIfd, nullptr},  // Interoperability IFD pointer
    {0xA20E, S::kAny, A::kRational, "FocalPlaneXResolution", &R::FocalPlaneXResolution},
    {0xA20F, S::kAny, A::kRational, "FocalPlaneYResolution", &R::FocalPlaneYResolution},
    {0xA210, S::kAny, A::kCoded, "FocalPlaneResolutionUnit", &R::FocalPlaneResolutionUnit,
     kResolutionUnit},
    {0xA215, S::kAny, A::kExposureIndex, nullptr, &R::ISOSpeedRatings},
    {0xA217, S::kAny, A::kCoded, "SensingMethod", &R::SensingMethod, kSensingMethod},
    {0xA402, S::kAny, A::kCoded, "ExposureMode", &R::ExposureMode, kExposureMode},
    {0xA403, S::kAny, A::kCoded, "WhiteBalance", &R::WhiteBalance, kWhiteBalance},
    {0xA405, S::kAny, A::kFocalLength35mm, "FocalLengthIn35mmFilm", &R::FocalLengthIn35mmFilm},
    {0xA406, S::kAny, A::kCoded, "SceneCaptureType", &R::SceneCaptureType, kSceneCaptureType},
    {0xA431, S::kAny, A::kText, "BodySerialNumber", &R::BodySerialNumber},
    {0xA432, S::kAny, A::kRationals, "LensSpecification", &R::LensSpecification},
    {0xA433, S::kAny, A::kText, "LensMake", &R::LensMake},
    {0xA434, S::kAny, A::kText, "LensModel", &R::LensModel},
    // The GPS directory (Exif 2.3, 4.6.6): tag numbers of its own.
    {0x0001, S::kGps, A::kText, "GPSLatitudeRef", &R::GPSLatitudeRef},
    {0x0002, S::kGps, A::kRationals, "GPSLatitude", &R::GPSLatitude},
    {0x0003, S::kGps, A::kText, "GPSLongitudeRef", &R::GPSLongitudeRef},
    {0x0004, S::kGps, A::kRationals, "GPSLongitude", &R::GPSLongitude},
    {0x0005, S::kGps, A::kCoded, "GPSAltitudeRef", &R::GPSAltitudeRef, kAltitudeRef},
    {0x0006, S::kGps, A::kRational, "GPSAltitude", &R::GPSAltitude},
    {0x0007, S::kGps, A::kRationals, "GPSTimeStamp", &R::GPSTimeStamp},
    {0x001D, S::kGps, A::kText, "GPSDateStamp", &R::GPSDateStamp},
    {0x0000, S::kGps, A::kWorkedOut, "GPSPosition", &R::GPSPosition},
};

static_assert(std::size(kTags) <= kExifMaxTagRows, "Present has one bit per row");

}  // namespace

std::span<const TExifTag> ExifTags() {
  return kTags;
}

std::optional<std::size_t> ExifFieldRow(const TExifField& field) {
  for (std::size_t i = 0; i < std::size(kTags); ++i)
    if (kTags[i].name != nullptr && kTags[i].field == field) return i;
  return std::nullopt;
}

}  // namespace peloria
