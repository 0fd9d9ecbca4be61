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

using R = TExifResults;
using A = TExifAction;
using S = TExifScope;

// The CP932 name of `code`; none when the table has no row for it.
std::optional<std::string> NameOf(std::span<const TExifCodeName> table, std::uint32_t code) {
  auto row = std::find_if(table.begin(), table.end(),
                          [code](const TExifCodeName& r) { return r.code == code; });
  if (row == table.end()) return std::nullopt;
  return Cp932(row->name);
}

// Exif Orientation codes 0-8; 3 is rotated 180 degrees (bottom-right).
constexpr TImageOrientation kOrientation[] = {ioUnknown,     ioTopLeft,     ioTopRight,
                                              ioBottomRight, ioBottomLeft,  ioLeftTop,
                                              ioRightTop,    ioRightBottom, ioLeftBottom};

template <typename T>
T& FieldOf(R& results, const TExifField& field) {
  return results.*std::get<T R::*>(field);
}

// ---------------------------------------------------------------------------
// The directory walk.

// The directories a walk reads: the GPS directory has tag numbers of its
// own; every other one is read with the same rows.
enum class Directory : std::uint8_t { kTiff, kGps };

struct Walk {
  std::int64_t tiffStart = 0;
  bool motorolaOrder = false;
  std::array<std::int64_t, kMaxIfds> queue{};
  std::array<Directory, kMaxIfds> kinds{};
  std::size_t queued = 0;  // positions queued beyond the first
  std::size_t index = 0;   // the directory being read
  bool thumbnail = false;  // InteroperabilityIndex "THM" met
  std::int64_t valueBudget = kMaxValueBytesPerWalk;

  void Queue(std::uint32_t offset, Directory kind = Directory::kTiff) {
    // 64-bit sum: an offset near 2^32 stays a position beyond the file.
    if (queued + 1 < kMaxIfds) {
      queue[++queued] = tiffStart + offset;
      kinds[queued] = kind;
    }
  }

  // Whether `row` acts in the directory being read.
  bool Reads(const TExifTag& row) const {
    if (kinds[index] == Directory::kGps) return row.scope == S::kGps;
    switch (row.scope) {
      case S::kAny:
        return true;
      case S::kFirst:
        return index == 0;
      case S::kLater:
        return index != 0;
      case S::kGps:
        return false;
    }
    return false;
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

// The rows of the table read for one entry.
struct Entry {
  std::uint8_t type;
  std::uint32_t count;
  const std::uint8_t* valueField;
  const TDatas& d;
};

// The rows of `tag` for the directory being read; empty for a tag the
// reader does not know there.
std::span<const TExifTag> RowsFor(std::uint16_t tag, const Walk& walk) {
  const bool gps = walk.kinds[walk.index] == Directory::kGps;
  auto matches = [tag, gps](const TExifTag& row) {
    return row.tag == tag && (row.scope == S::kGps) == gps && row.action != A::kWorkedOut;
  };
  auto tags = ExifTags();
  auto first = std::find_if(tags.begin(), tags.end(), matches);
  auto last = std::find_if_not(first, tags.end(), matches);
  return {first, last};
}

// Applies a row that steers the walk or fills a field other than its own:
// the dimensions, the thumbnail switch, the linked directories, the maker
// note's place and the user comment. Answers as Apply does.
bool ApplyToWalk(R& r, const TExifTag& row, Walk& walk, const Entry& e) {
  const TDatas& d = e.d;
  switch (row.action) {
    case A::kRelatedWidth:
    case A::kRelatedLength: {
      // Only a dimension that nothing else gave: of the thumbnail after
      // InteroperabilityIndex "THM", else of the main image.
      bool width = row.action == A::kRelatedWidth;
      auto field = walk.thumbnail ? (width ? &R::ImageWidth : &R::ImageLength)
                                  : (width ? &R::PixelXDimension : &R::PixelYDimension);
      if (r.*field != 0) return false;
      r.*field = static_cast<std::int32_t>(d.UnsignedValue);
      if (auto printed = ExifFieldRow(field)) r.Present.set(*printed);
      return false;
    }
    case A::kInteropIndex:
      walk.thumbnail = SameTextAscii(d.Text, "THM");
      return false;
    case A::kSubIfd:
      walk.Queue(d.UnsignedValue);
      return false;
    case A::kGpsIfd:
      walk.Queue(d.UnsignedValue, Directory::kGps);
      return false;
    case A::kMakerNoteLength:
      // The note's bytes are not read: only where it lies and how long it is.
      r.MakerNoteLength = static_cast<std::int32_t>(e.count);
      return true;
    case A::kMakerNoteOffset:
      r.MakerNoteOffset = static_cast<std::int32_t>(
          walk.tiffStart + ToUnsigned(e.valueField, 4, walk.motorolaOrder));
      return true;
    case A::kUserComment:
      if (auto line = UserCommentLine(e.type, d, walk.motorolaOrder)) {
        r.UserComment.push_back(std::move(*line));
        return true;
      }
      return false;
    default:
      return false;  // the value rows are Apply's; kWorkedOut rows fill nothing
  }
}

// Applies `row` to the results; answers whether it filled the row's field
// (rows that steer the walk or fill another field answer false).
bool Apply(R& r, const TExifTag& row, Walk& walk, const Entry& e) {
  const TDatas& d = e.d;
  switch (row.action) {
    case A::kText:
      FieldOf<std::string>(r, row.field) = d.Text;
      return true;
    case A::kHexText:
      FieldOf<std::string>(r, row.field) = HexToText(d.Text);
      return true;
    case A::kRational:
      FieldOf<TExifRational>(r, row.field) = {d.Text, d.FloatValue};
      return true;
    case A::kRationals:
      FieldOf<TExifRationals>(r, row.field).Parts = d.Rationals;
      return true;
    case A::kCoded:
    case A::kCodedKeepText: {
      auto& coded = FieldOf<TExifStringValue>(r, row.field);
      coded.Value = static_cast<std::int32_t>(d.UnsignedValue);
      auto name = NameOf(row.names, d.UnsignedValue);
      if (name)
        coded.Text = *name;
      else if (row.action == A::kCoded)
        coded.Text.clear();
      return true;
    }
    case A::kOrientation:
      if (d.UnsignedValue >= std::size(kOrientation)) return false;
      FieldOf<TImageOrientation>(r, row.field) = kOrientation[d.UnsignedValue];
      return true;
    case A::kInt32:
      FieldOf<std::int32_t>(r, row.field) = static_cast<std::int32_t>(d.UnsignedValue);
      return true;
    case A::kInt16:
      FieldOf<std::int16_t>(r, row.field) = static_cast<std::int16_t>(d.UnsignedValue & 0xFFFF);
      return true;
    case A::kUInt16:
      FieldOf<std::uint16_t>(r, row.field) = static_cast<std::uint16_t>(d.UnsignedValue & 0xFFFF);
      return true;
    case A::kExposureIndex:
      // Rounded half to even, low 16 bits kept. A value that no integer
      // holds (only a FLOAT or DOUBLE entry can give one) is passed over.
      if (!std::isfinite(d.FloatValue) || std::fabs(d.FloatValue) >= 0x1p62) return false;
      r.ISOSpeedRatings = static_cast<std::uint16_t>(Nearest(d.FloatValue) & 0xFFFF);
      return true;
    case A::kFocalLength35mm:
      r.FocalLengthIn35mmFilm = {d.Text, static_cast<double>(d.UnsignedValue)};
      return true;
    case A::kRelatedWidth:
    case A::kRelatedLength:
    case A::kInteropIndex:
    case A::kSubIfd:
    case A::kGpsIfd:
    case A::kMakerNoteLength:
    case A::kMakerNoteOffset:
    case A::kUserComment:
    case A::kWorkedOut:
      return ApplyToWalk(r, row, walk, e);
  }
  return false;
}

// Whether a rational's stored text is "n/0".
bool ZeroDenominator(const TExifRational& rational) {
  return rational.Text.ends_with("/0");
}

// Degrees, minutes and seconds as decimal degrees, negative for the
// reference `negative` ("S", "W"); none when a part is missing or has a zero
// denominator (its value would be a guess). Values beyond the globe stay as
// they are.
std::optional<double> Degrees(const TExifRationals& stored, const std::string& ref,
                              const char* negative) {
  if (stored.Parts.size() < 3) return std::nullopt;
  double degrees = 0;
  double scale = 1;
  for (std::size_t i = 0; i < 3; ++i, scale *= 60) {
    const TExifRational& part = stored.Parts[i];
    if (ZeroDenominator(part)) return std::nullopt;
    degrees += part.Value / scale;
  }
  return SameTextAscii(ref, negative) ? -degrees : degrees;
}

// The GPS position of the results, from their GPS fields.
void WorkOutGpsPosition(R& r) {
  auto latitude = Degrees(r.GPSLatitude, r.GPSLatitudeRef, "S");
  auto longitude = Degrees(r.GPSLongitude, r.GPSLongitudeRef, "W");
  if (!latitude || !longitude) return;
  r.GPSPosition.Latitude = *latitude;
  r.GPSPosition.Longitude = *longitude;
  auto altitude = ExifFieldRow(&R::GPSAltitude);
  if (altitude && r.Present[*altitude] && !ZeroDenominator(r.GPSAltitude)) {
    r.GPSPosition.Altitude =
        r.GPSAltitudeRef.Value == 1 ? -r.GPSAltitude.Value : r.GPSAltitude.Value;
  }
  if (auto row = ExifFieldRow(&R::GPSPosition)) r.Present.set(*row);
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

void TExifInfo::Assign(const TExifInfo& source) {
  static_cast<TExifResults&>(*this) = source;
  SearchRange = source.SearchRange;
  FMotorolaOrder = source.FMotorolaOrder;
  FWalked = source.FWalked;
  FImageFileName = source.FImageFileName;
}

void TExifInfo::ClearData() {
  static_cast<TExifResults&>(*this) = TExifResults();
  FWalked = false;
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
  FWalked = true;
  WalkDirectories(stream, tiffStart);
  WorkOutGpsPosition(*this);
}

void TExifInfo::WalkDirectories(TStream& stream, std::int64_t tiffStart) {
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
      auto rows = RowsFor(tag, walk);
      if (rows.empty()) continue;  // unknown tags are ignored, values unread
      auto type = static_cast<std::uint8_t>(ToSigned(entry.data() + 2, 2, FMotorolaOrder) & 0xFF);
      std::uint32_t count = ToUnsigned(entry.data() + 4, 4, FMotorolaOrder);
      TDatas datas;
      // The maker note's bytes are not read: only where it lies and how long.
      if (rows.front().action != A::kMakerNoteLength)
        datas = ReadValue(stream, at + 8, tiffStart, count, type, FMotorolaOrder, walk.valueBudget);
      const Entry e{type, count, entry.data() + 8, datas};
      for (const TExifTag& row : rows) {
        if (!walk.Reads(row) || !Apply(*this, row, walk, e)) continue;
        if (auto printed = ExifFieldRow(row.field)) Present.set(*printed);
      }
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
