#include "exif/exif_info.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <variant>

#include "platform/cp932.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/stream.h"
#include "text/format.h"

namespace peloria {

namespace {

// ---------------------------------------------------------------------------
// Value tables: display names of coded tags (Exif 2.3, 4.6.4 and 4.6.5).
// Written in UTF-8 here, handed out in CP932.

struct CodeName {
  std::uint32_t code;
  const char* name;
};

constexpr CodeName kCompression[] = {{1, "非圧縮"}, {6, "JPEG"}};

constexpr CodeName kPhotometric[] = {{2, "RGB"}, {6, "YCbCr"}};

constexpr CodeName kResolutionUnit[] = {{2, "inch"}, {3, "cm"}};

constexpr CodeName kExposureProgram[] = {{0, "未定義"},   {1, "マニュアル"}, {2, "プログラム"},
                                         {3, "絞り優先"}, {4, "速度優先"},   {5, "深度優先"},
                                         {6, "スポーツ"}, {7, "人物"},       {8, "風景"}};

constexpr CodeName kMeteringMode[] = {{0, "不明"},     {1, "平均測光"},     {2, "中央重点"},
                                      {3, "スポット"}, {4, "多点スポット"}, {5, "マルチセグメント"},
                                      {6, "部分測光"}, {255, "その他"}};

constexpr CodeName kLightSource[] = {
    {0, "不明"},         {1, "太陽光"}, {2, "蛍光灯"}, {3, "白熱電球"},     {4, "フラッシュ"},
    {9, "晴天"},         {10, "曇天"},  {11, "日陰"},  {17, "標準ライトA"}, {18, "標準ライトB"},
    {19, "標準ライトC"}, {20, "D55"},   {21, "D65"},   {22, "D75"},         {255, "その他"}};

constexpr CodeName kFlash[] = {{0, "非発光"},
                               {1, "発光(反射検出機構なし)"},
                               {5, "発光(反射光未検出)"},
                               {7, "発光(反射光検出)"}};

constexpr CodeName kColorSpace[] = {{1, "sRGB"}, {65535, "Uncalibrated"}};

constexpr CodeName kSensingMethod[] = {
    {2, "1チップカラーエリアセンサ"}, {3, "2チップカラーエリアセンサ"},
    {4, "3チップカラーエリアセンサ"}, {5, "カラーシークエンシャルエリアセンサ"},
    {7, "トリリニアセンサ"},          {8, "カラーシークエンシャルリニアセンサ"}};

constexpr CodeName kWhiteBalance[] = {{0, "自動"}, {1, "マニュアル"}};

// Exif Orientation codes 0-8; 3 is rotated 180 degrees (bottom-right).
constexpr TImageOrientation kOrientation[] = {ioUnknown,     ioTopLeft,     ioTopRight,
                                              ioBottomRight, ioBottomLeft,  ioLeftTop,
                                              ioRightTop,    ioRightBottom, ioLeftBottom};

// The CP932 name of `code`; none when the table has no row for it.
std::optional<std::string> NameOf(std::span<const CodeName> table, std::uint32_t code) {
  auto row = std::find_if(table.begin(), table.end(),
                          [code](const CodeName& r) { return r.code == code; });
  if (row == table.end()) return std::nullopt;
  return Cp932(row->name);
}

// ---------------------------------------------------------------------------
// Tag table: what each known tag does with its decoded value.

using R = TExifResults;

enum class Action {
  kText,             // string field := Text
  kHexText,          // string field := HexToText(Text)
  kRational,         // rational copy (Text and FloatValue); IFD0 / later when two fields
  kCoded,            // Value := code, Text := name or empty
  kCodedKeepText,    // Value := code, Text := name, kept when the code has none
  kOrientation,      // IFD0 / later; unknown codes leave the field
  kInt32,            // 32-bit field := UnsignedValue
  kInt16,            // 16-bit field := low 16 bits of UnsignedValue
  kUInt16,           // likewise, unsigned
  kRelatedWidth,     // RelatedImageWidth: fills a field that is still 0
  kRelatedLength,    // RelatedImageLength: likewise
  kInteropIndex,     // thumbnail flag := Text is "THM"
  kSubIfd,           // queue the IFD at TIFF header + UnsignedValue
  kMakerNote,        // length and absolute offset only
  kUserComment,      // one more line, by type code
  kExposureIndex,    // ISOSpeedRatings := nearest(FloatValue)
  kFocalLength35mm,  // Text := Text, Value := UnsignedValue
};

using Field =
    std::variant<std::monostate, std::string R::*, TExifRational R::*, TExifStringValue R::*,
                 TImageOrientation R::*, std::int32_t R::*, std::int16_t R::*, std::uint16_t R::*>;

struct TagRule {
  std::uint16_t tag;
  Action action;
  Field field = {};      // in IFD0, or in every IFD
  Field thumbnail = {};  // in later IFDs, when it differs
  std::span<const CodeName> names = {};
};

// Sorted by tag (TIFF 6.0, Exif 2.3 tables 4 to 7, and 4.6.6 for 0x0001,
// 0x1001, 0x1002 of the Interoperability IFD).
const TagRule kTagRules[] = {
    {0x0001, Action::kInteropIndex},
    {0x0100, Action::kInt32, &R::ImageWidth},
    {0x0101, Action::kInt32, &R::ImageLength},
    {0x0103, Action::kCoded, &R::Compression, {}, kCompression},
    {0x0106, Action::kCoded, &R::PhotometricInterpretation, {}, kPhotometric},
    {0x010E, Action::kText, &R::ImageDescription},
    {0x010F, Action::kText, &R::Make},
    {0x0110, Action::kText, &R::Model},
    {0x0112, Action::kOrientation, &R::Orientation, &R::ThumbnailOrientation},
    {0x0115, Action::kInt16, &R::SamplesPerPixel},
    {0x011A, Action::kRational, &R::XResolution, &R::ThumbnailXResolution},
    {0x011B, Action::kRational, &R::YResolution, &R::ThumbnailYResolution},
    {0x011C, Action::kInt16, &R::PlanarConfiguration},
    {0x0128, Action::kCodedKeepText, &R::ResolutionUnit, &R::ThumbnailResolutionUnit,
     kResolutionUnit},
    {0x0131, Action::kText, &R::Software},
    {0x0132, Action::kText, &R::DateTime},
    {0x0201, Action::kInt32, &R::JPEGInterchangeFormat},
    {0x0202, Action::kInt32, &R::JPEGInterchangeFormatLength},
    {0x1001, Action::kRelatedWidth},
    {0x1002, Action::kRelatedLength},
    {0x8298, Action::kText, &R::Copyright},
    {0x829A, Action::kRational, &R::ExposureTime},
    {0x829D, Action::kRational, &R::FNumber},
    {0x8769, Action::kSubIfd},  // Exif IFD pointer
    {0x8822, Action::kCoded, &R::ExposureProgram, {}, kExposureProgram},
    {0x8827, Action::kUInt16, &R::ISOSpeedRatings},
    {0x9000, Action::kHexText, &R::ExifVersion},
    {0x9003, Action::kText, &R::DateTimeOriginal},
    {0x9004, Action::kText, &R::DateTimeDigitized},
    {0x9102, Action::kRational, &R::CompressedBitsPerPixel},
    {0x9201, Action::kRational, &R::ShutterSpeedValue},
    {0x9202, Action::kRational, &R::ApertureValue},
    {0x9203, Action::kRational, &R::BrightnessValue},
    {0x9204, Action::kRational, &R::ExposureBiasValue},
    {0x9205, Action::kRational, &R::MaxApertureValue},
    {0x9206, Action::kRational, &R::SubjectDistance},
    {0x9207, Action::kCoded, &R::MeteringMode, {}, kMeteringMode},
    {0x9208, Action::kCoded, &R::LightSource, {}, kLightSource},
    {0x9209, Action::kCoded, &R::Flash, {}, kFlash},
    {0x920A, Action::kRational, &R::FocalLength},
    {0x927C, Action::kMakerNote},
    {0x9286, Action::kUserComment},
    {0x9290, Action::kText, &R::SubSecTime},
    {0x9291, Action::kText, &R::SubSecTimeOriginal},
    {0x9292, Action::kText, &R::SubSecTimeDigitized},
    {0xA000, Action::kHexText, &R::FlashpixVersion},
    {0xA001, Action::kCoded, &R::ColorSpace, {}, kColorSpace},
    {0xA002, Action::kInt32, &R::PixelXDimension},
    {0xA003, Action::kInt32, &R::PixelYDimension},
    {0xA004, Action::kText, &R::RelatedSoundFile},
    {0xA005, Action::kSubIfd},  // Interoperability IFD pointer
    {0xA20E, Action::kRational, &R::FocalPlaneXResolution},
    {0xA20F, Action::kRational, &R::FocalPlaneYResolution},
    {0xA210, Action::kCoded, &R::FocalPlaneResolutionUnit, {}, kResolutionUnit},
    {0xA215, Action::kExposureIndex},
    {0xA217, Action::kCoded, &R::SensingMethod, {}, kSensingMethod},
    {0xA403, Action::kCoded, &R::WhiteBalance, {}, kWhiteBalance},
    {0xA405, Action::kFocalLength35mm},
};

const TagRule* FindRule(std::uint16_t tag) {
  auto rule = std::lower_bound(std::begin(kTagRules), std::end(kTagRules), tag,
                               [](const TagRule& r, std::uint16_t t) { return r.tag < t; });
  return rule != std::end(kTagRules) && rule->tag == tag ? rule : nullptr;
}

template <typename T>
T& FieldOf(R& results, const Field& field) {
  return results.*std::get<T R::*>(field);
}

// ---------------------------------------------------------------------------
// The directory walk.

// At most 13 directories per file: IFD0 and 12 queued by next-IFD links and
// sub-IFD pointers. A further request is dropped, so link loops end too.
constexpr std::size_t kMaxIfds = 13;

// Text and UNDEFINED bytes read by one walk, all entries together. An Exif
// block fits one APP1 segment (at most 64 KiB, Exif 2.3, 4.5.4), so real
// files stay far below; a hostile file whose thousands of entries each claim
// the whole file no longer makes the walk read gigabytes.
constexpr std::int64_t kMaxValueBytesPerWalk = 16 << 20;

struct Walk {
  std::int64_t tiffStart = 0;
  bool motorolaOrder = false;
  std::array<std::int64_t, kMaxIfds> queue{};
  std::size_t queued = 0;  // positions queued beyond the first
  std::size_t index = 0;   // the directory being read
  bool thumbnail = false;  // InteroperabilityIndex "THM" met
  std::int64_t valueBudget = kMaxValueBytesPerWalk;

  void Queue(std::uint32_t offset) {
    // 64-bit sum: an offset near 2^32 stays a position beyond the file.
    if (queued + 1 < kMaxIfds) queue[++queued] = tiffStart + offset;
  }
};

// The line a UserComment entry adds, by its type code; none for an empty
// UNDEFINED value and for unknown types.
std::optional<std::string> UserCommentLine(std::uint8_t type, const TDatas& d, bool motorolaOrder) {
  switch (type) {
    case tiff::kUndefined:
      if (d.Text.empty()) return std::nullopt;
      return DecodeUserComment(d.Text, motorolaOrder);
    case tiff::kByte:
    case tiff::kShort:
    case tiff::kLong:
      return FormatInteger(static_cast<std::int64_t>(d.UnsignedValue));
    case tiff::kAscii:
    case tiff::kRational:
    case tiff::kSRational:
      return d.Text;
    case tiff::kSByte:
    case tiff::kSShort:
    case tiff::kSLong:
      return FormatInteger(d.SignedValue);
    case tiff::kFloat:
    case tiff::kDouble:
      return FormatGeneral(d.FloatValue, 15);
    default:
      return std::nullopt;
  }
}

void Apply(R& r, const TagRule& rule, Walk& walk, std::uint8_t type, std::uint32_t count,
           const std::uint8_t* valueField, const TDatas& d) {
  const bool first = walk.index == 0;
  const Field& field =
      first || std::holds_alternative<std::monostate>(rule.thumbnail) ? rule.field : rule.thumbnail;
  switch (rule.action) {
    case Action::kText:
      FieldOf<std::string>(r, field) = d.Text;
      break;
    case Action::kHexText:
      FieldOf<std::string>(r, field) = HexToText(d.Text);
      break;
    case Action::kRational:
      FieldOf<TExifRational>(r, field) = {d.Text, d.FloatValue};
      break;
    case Action::kCoded:
    case Action::kCodedKeepText: {
      auto& coded = FieldOf<TExifStringValue>(r, field);
      coded.Value = static_cast<std::int32_t>(d.UnsignedValue);
      auto name = NameOf(rule.names, d.UnsignedValue);
      if (name)
        coded.Text = *name;
      else if (rule.action == Action::kCoded)
        coded.Text.clear();
      break;
    }
    case Action::kOrientation:
      if (d.UnsignedValue < std::size(kOrientation))
        FieldOf<TImageOrientation>(r, field) = kOrientation[d.UnsignedValue];
      break;
    case Action::kInt32:
      FieldOf<std::int32_t>(r, field) = static_cast<std::int32_t>(d.UnsignedValue);
      break;
    case Action::kInt16:
      FieldOf<std::int16_t>(r, field) = static_cast<std::int16_t>(d.UnsignedValue & 0xFFFF);
      break;
    case Action::kUInt16:
      FieldOf<std::uint16_t>(r, field) = static_cast<std::uint16_t>(d.UnsignedValue & 0xFFFF);
      break;
    case Action::kRelatedWidth:
    case Action::kRelatedLength: {
      // Only a dimension that nothing else gave: of the thumbnail after
      // InteroperabilityIndex "THM", else of the main image.
      bool width = rule.action == Action::kRelatedWidth;
      std::int32_t& target = walk.thumbnail ? (width ? r.ImageWidth : r.ImageLength)
                                            : (width ? r.PixelXDimension : r.PixelYDimension);
      if (target == 0) target = static_cast<std::int32_t>(d.UnsignedValue);
      break;
    }
    case Action::kInteropIndex:
      walk.thumbnail = SameTextAscii(d.Text, "THM");
      break;
    case Action::kSubIfd:
      walk.Queue(d.UnsignedValue);
      break;
    case Action::kMakerNote:
      // The note's bytes are not read: only where it lies and how long it is.
      r.MakerNoteLength = static_cast<std::int32_t>(count);
      r.MakerNoteOffset =
          static_cast<std::int32_t>(walk.tiffStart + ToUnsigned(valueField, 4, walk.motorolaOrder));
      break;
    case Action::kUserComment:
      if (auto line = UserCommentLine(type, d, walk.motorolaOrder))
        r.UserComment.push_back(std::move(*line));
      break;
    case Action::kExposureIndex:
      // Rounded half to even, low 16 bits kept. A value that no integer
      // holds (only a FLOAT or DOUBLE entry can give one) is passed over.
      if (std::isfinite(d.FloatValue) && std::fabs(d.FloatValue) < 0x1p62)
        r.ISOSpeedRatings = static_cast<std::uint16_t>(Nearest(d.FloatValue) & 0xFFFF);
      break;
    case Action::kFocalLength35mm:
      r.FocalLengthIn35mmFilm = {d.Text, static_cast<double>(d.UnsignedValue)};
      break;
  }
}

// TIFF header (TIFF 6.0, section 2), 8 bytes at the start of the block:
//
//   bytes 0-1  byte order: "II" little-endian (Intel), "MM" big-endian
//              (Motorola)
//   bytes 2-3  42
//   bytes 4-7  offset of IFD0 from the start of the header
constexpr std::int64_t kFirstIfdField = 4;

constexpr std::int64_t kEntrySize = 12;

// A read-only stream over bytes that someone else holds, for the walk of a
// TIFF block in memory (no copy of a whole TIFF file is made).
class TBlockStream final : public TStream {
 public:
  explicit TBlockStream(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::int64_t Read(void* buffer, std::int64_t count) override {
    std::int64_t n =
        std::clamp<std::int64_t>(Size() - position_, 0, std::max<std::int64_t>(count, 0));
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  void Seek(std::int64_t position) override { position_ = std::max<std::int64_t>(position, 0); }
  std::int64_t Position() const override { return position_; }
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  void SetSize(std::int64_t) override {}

 private:
  std::span<const std::uint8_t> bytes_;
  std::int64_t position_ = 0;
};

}  // namespace

void TExifInfo::ClearData() {
  static_cast<TExifResults&>(*this) = TExifResults();
}

void TExifInfo::DoReadError() {
  if (OnReadError) OnReadError(*this);
}

bool TExifInfo::HasExif(const std::string& fileName) {
  std::int64_t tiffStart = 0;
  return FindExifHeader(fileName, tiffStart);
}

void TExifInfo::SetImageFileName(const std::string& name) {
  FImageFileName = name;
  ClearData();
  std::int64_t tiffStart = 0;
  if (FindExifHeader(FImageFileName, tiffStart))
    ReadExif(tiffStart);
  else
    DoReadError();
}

// The Exif header is the APP1 segment (Exif 2.3, 4.5.4):
//
//   FF E1        APP1 marker
//   2 bytes      segment length (not used here)
//   "Exif" 00 xx identifier code (the sixth byte is padding)
//   TIFF header  the TIFF block, all offsets relative to its first byte
//
// The marker is not found by walking the segments but by sliding a two-byte
// window from file offset 2 while the read position stays within
// SearchRange; an 18-byte JFIF APP0 segment ahead of it is passed over.
bool TExifInfo::FindExifHeader(const std::string& fileName, std::int64_t& tiffStart) {
  try {
    if (fileName.empty() || !FileExists(fileName)) return false;
    TFileStream stream(fileName, TFileStream::Mode::kOpenReadDenyWrite);
    std::array<std::uint8_t, 2> window{};
    if (stream.Read(window.data(), 2) != 2 || window[0] != 0xFF || window[1] != 0xD8) return false;
    std::int64_t marker = 2;
    for (;;) {
      if (ReadAt(stream, marker, window.data(), 2) != 2) return false;
      if (window[0] == 0xFF && window[1] == 0xE1) break;
      if (marker + 2 > SearchRange) return false;
      ++marker;
    }
    std::array<char, 6> header{};
    stream.Seek(marker + 4);
    stream.ReadBuffer(header.data(), 6);
    std::string identifier(header.data(), std::find(header.begin(), header.end(), '\0'));
    if (!SameTextAscii(identifier, "exif")) return false;
    tiffStart = marker + 10;
    return true;
  } catch (...) {
    return false;
  }
}

void TExifInfo::SetTiffBlock(const std::uint8_t* data, std::size_t size) {
  FImageFileName.clear();
  ClearData();
  static constexpr std::uint8_t kIntelHeader[] = {'I', 'I', 42, 0};
  static constexpr std::uint8_t kMotorolaHeader[] = {'M', 'M', 0, 42};
  if (data == nullptr || size < sizeof kIntelHeader ||
      (!std::equal(std::begin(kIntelHeader), std::end(kIntelHeader), data) &&
       !std::equal(std::begin(kMotorolaHeader), std::end(kMotorolaHeader), data))) {
    DoReadError();
    return;
  }
  TBlockStream stream({data, size});
  WalkTiff(stream, 0);
}

void TExifInfo::ReadExif(std::int64_t tiffStart) {
  TFileStream stream(FImageFileName, TFileStream::Mode::kOpenReadDenyWrite);
  WalkTiff(stream, tiffStart);
}

void TExifInfo::WalkTiff(TStream& stream, std::int64_t tiffStart) {
  std::array<std::uint8_t, 2> mark{};
  stream.Seek(tiffStart);
  stream.ReadBuffer(mark.data(), 2);
  FMotorolaOrder = mark[0] == 'M' && mark[1] == 'M';  // anything else: Intel
  // The magic number 42 is not checked.

  Walk walk;
  walk.tiffStart = tiffStart;
  walk.motorolaOrder = FMotorolaOrder;
  std::array<std::uint8_t, 4> field{};
  if (ReadAt(stream, tiffStart + kFirstIfdField, field.data(), 4) != 4) return;
  walk.queue[0] = tiffStart + ToUnsigned(field.data(), 4, FMotorolaOrder);
  MakerNoteOffset = 0;

  for (walk.index = 0; walk.index <= walk.queued; ++walk.index) {
    std::int64_t at = walk.queue[walk.index];
    std::array<std::uint8_t, 2> countBytes{};
    // A directory whose entry count lies beyond the file ends the walk.
    if (ReadAt(stream, at, countBytes.data(), 2) != 2) return;
    std::uint32_t entries = ToUnsigned(countBytes.data(), 2, FMotorolaOrder);
    at += 2;

    bool whole = true;
    for (std::uint32_t i = 0; i < entries; ++i, at += kEntrySize) {
      std::array<std::uint8_t, kEntrySize> entry{};
      // An entry cut by the end of the file ends this directory; so do all
      // after it, and its next-IFD link, which lie further on.
      if (ReadAt(stream, at, entry.data(), kEntrySize) != kEntrySize) {
        whole = false;
        break;
      }
      auto tag = static_cast<std::uint16_t>(ToUnsigned(entry.data(), 2, FMotorolaOrder));
      const TagRule* rule = FindRule(tag);
      if (rule == nullptr) continue;  // unknown tags are ignored, values unread
      auto type = static_cast<std::uint8_t>(ToSigned(entry.data() + 2, 2, FMotorolaOrder) & 0xFF);
      std::uint32_t count = ToUnsigned(entry.data() + 4, 4, FMotorolaOrder);
      TDatas datas;
      if (rule->action != Action::kMakerNote)
        datas = ReadValue(stream, at + 8, tiffStart, count, type, FMotorolaOrder, walk.valueBudget);
      Apply(*this, *rule, walk, type, count, entry.data() + 8, datas);
    }
    if (!whole) continue;

    std::array<std::uint8_t, 4> next{};
    if (ReadAt(stream, at, next.data(), 4) == 4) {
      std::uint32_t offset = ToUnsigned(next.data(), 4, FMotorolaOrder);
      if (offset != 0) walk.Queue(offset);
    }
  }
}

}  // namespace peloria
