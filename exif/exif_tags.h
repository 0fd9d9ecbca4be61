// The Exif reader's result fields and the one table that says, for every tag
// it knows, which field the tag fills, how, and under which name the field is
// printed. The directory walk dispatches on the table; the --exif and JSON
// printers walk the same table, so adding a tag is one row here (and one
// field when it needs a new one).
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "exif/exif_value.h"

namespace peloria {

// A coded tag: the display name of its code (empty for a code without a name)
// and the raw code.
struct TExifStringValue {
  std::string Text;
  std::int32_t Value = 0;
  bool operator==(const TExifStringValue&) const = default;
};

// Image orientation, stored in one byte. The order of the members is fixed;
// note that ioBottomLeft (3) and ioBottomRight (4) are the reverse of the Exif
// codes 3 and 4 (the mapping is done when the tag is read).
enum TImageOrientation : std::uint8_t {
  ioUnknown,
  ioTopLeft,
  ioTopRight,
  ioBottomLeft,
  ioBottomRight,
  ioLeftTop,
  ioRightTop,
  ioRightBottom,
  ioLeftBottom
};

// A tag of several rationals (GPS coordinates and time stamp,
// LensSpecification): each value as a rational field holds it, in file order.
struct TExifRationals {
  std::vector<TExifRational> Parts;
  bool operator==(const TExifRationals&) const = default;
};

// Where the GPS tags place the camera, worked out after the walk: decimal
// degrees, south and west negative; metres, below sea level negative.
struct TExifGpsPosition {
  double Latitude = 0;
  double Longitude = 0;
  std::optional<double> Altitude;
  bool operator==(const TExifGpsPosition&) const = default;
};

// Rows the tag table may have (one presence bit each).
constexpr std::size_t kExifMaxTagRows = 128;

// The result fields, each with its reset value. Where two tags feed one
// field, the entry met later in the walk wins, except where noted.
struct TExifResults {
  TExifRational ApertureValue;
  TExifRational BrightnessValue;
  TExifStringValue ColorSpace;
  TExifStringValue Compression;
  TExifRational CompressedBitsPerPixel;
  std::string Copyright;
  std::string DateTime;
  std::string DateTimeDigitized;
  std::string DateTimeOriginal;
  std::string ExifVersion;
  TExifRational ExposureBiasValue;
  TExifStringValue ExposureProgram;
  TExifRational ExposureTime;
  TExifStringValue Flash;
  std::string FlashpixVersion;
  TExifRational FNumber;
  TExifRational FocalLength;
  TExifRational FocalLengthIn35mmFilm;
  TExifStringValue FocalPlaneResolutionUnit;
  TExifRational FocalPlaneXResolution;
  TExifRational FocalPlaneYResolution;
  std::string ImageDescription;
  std::int32_t PixelYDimension = 0;
  std::int32_t PixelXDimension = 0;
  std::uint16_t ISOSpeedRatings = 0;
  std::int32_t JPEGInterchangeFormat = 0;
  std::int32_t JPEGInterchangeFormatLength = 0;
  TExifStringValue LightSource;
  TExifStringValue WhiteBalance;
  std::string Make;
  std::int32_t MakerNoteLength = 0;
  std::int32_t MakerNoteOffset = 0;  // absolute file position of the maker note's data
  TExifRational MaxApertureValue;
  TExifStringValue MeteringMode;
  std::string Model;
  TImageOrientation Orientation = ioUnknown;
  TExifStringValue PhotometricInterpretation;
  std::int16_t PlanarConfiguration = 0;
  std::string RelatedSoundFile;
  TExifStringValue ResolutionUnit;
  std::int16_t SamplesPerPixel = 0;
  TExifStringValue SensingMethod;
  TExifRational ShutterSpeedValue;
  std::string Software;
  TExifRational SubjectDistance;
  std::string SubSecTime;
  std::string SubSecTimeDigitized;
  std::string SubSecTimeOriginal;
  std::int32_t ImageLength = 0;
  std::int32_t ImageWidth = 0;
  TImageOrientation ThumbnailOrientation = ioUnknown;
  TExifStringValue ThumbnailResolutionUnit;
  TExifRational ThumbnailXResolution;
  TExifRational ThumbnailYResolution;
  std::vector<std::string> UserComment;  // one line per UserComment entry
  TExifRational XResolution;
  TExifRational YResolution;

  // Lens, time zone, exposure and serial number tags of Exif 2.3.
  std::string OffsetTimeOriginal;  // "+09:00", the zone of DateTimeOriginal
  TExifStringValue ExposureMode;
  TExifStringValue SceneCaptureType;
  std::string BodySerialNumber;
  TExifRationals LensSpecification;  // focal lengths and F-numbers, 4 values
  std::string LensMake;
  std::string LensModel;

  // The GPS directory, values as stored.
  std::string GPSLatitudeRef;   // "N" or "S"
  TExifRationals GPSLatitude;   // degrees, minutes, seconds
  std::string GPSLongitudeRef;  // "E" or "W"
  TExifRationals GPSLongitude;
  TExifStringValue GPSAltitudeRef;  // 0 above, 1 below sea level
  TExifRational GPSAltitude;        // metres
  TExifRationals GPSTimeStamp;      // hours, minutes, seconds (UTC)
  std::string GPSDateStamp;         // "YYYY:MM:DD" (UTC)

  // Worked out from the GPS fields after the walk: present when the latitude
  // and longitude both have usable values (see GpsPosition in the walk).
  TExifGpsPosition GPSPosition;

  // Which printed fields the walk filled, by the index of their table row.
  std::bitset<kExifMaxTagRows> Present;

  bool operator==(const TExifResults&) const = default;
};

// A result field, as the table names it.
using TExifField =
    std::variant<std::monostate, std::string TExifResults::*, TExifRational TExifResults::*,
                 TExifStringValue TExifResults::*, TImageOrientation TExifResults::*,
                 std::int32_t TExifResults::*, std::int16_t TExifResults::*,
                 std::uint16_t TExifResults::*, std::vector<std::string> TExifResults::*,
                 TExifRationals TExifResults::*, TExifGpsPosition TExifResults::*>;

// The display name of one code of a coded tag (UTF-8 in the table).
struct TExifCodeName {
  std::uint32_t code;
  const char* name;
};

// What the walk does with a tag's decoded value.
enum class TExifAction : std::uint8_t {
  kText,             // string field := Text
  kHexText,          // string field := HexToText(Text)
  kRational,         // rational field := Text and FloatValue
  kRationals,        // list field := every rational value read
  kCoded,            // Value := code, Text := name or empty
  kCodedKeepText,    // Value := code, Text := name, kept when the code has none
  kOrientation,      // unknown codes leave the field
  kInt32,            // 32-bit field := UnsignedValue
  kInt16,            // 16-bit field := low 16 bits of UnsignedValue
  kUInt16,           // likewise, unsigned
  kRelatedWidth,     // RelatedImageWidth: fills a field that is still 0
  kRelatedLength,    // RelatedImageLength: likewise
  kInteropIndex,     // thumbnail flag := Text is "THM"
  kSubIfd,           // queue the directory at TIFF header + UnsignedValue
  kGpsIfd,           // likewise, read with the GPS rows
  kMakerNoteLength,  // the entry's count
  kMakerNoteOffset,  // TIFF header + the value field as an offset
  kUserComment,      // one more line, by type code
  kExposureIndex,    // ISOSpeedRatings := nearest(FloatValue)
  kFocalLength35mm,  // Text := Text, Value := UnsignedValue
  kWorkedOut,        // no tag of its own: filled after the walk
};

// Which directories a row acts in.
enum class TExifScope : std::uint8_t {
  kAny,    // every directory but the GPS one
  kFirst,  // IFD0 only
  kLater,  // every later directory but the GPS one (the thumbnail's fields)
  kGps,    // the GPS directory only
};

struct TExifTag {
  std::uint16_t tag;
  TExifScope scope;
  TExifAction action;
  const char* name;  // the field's printed name; null for rows that feed
                     // another row's field or only steer the walk
  TExifField field = {};
  std::span<const TExifCodeName> names = {};
};

// The table: sorted by scope group (GPS rows last) and tag; in this order the
// printers list the fields.
std::span<const TExifTag> ExifTags();

// The index of the named row whose field is `field`; none for a field that
// no named row prints.
std::optional<std::size_t> ExifFieldRow(const TExifField& field);

}  // namespace peloria
