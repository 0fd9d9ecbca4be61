// The tag table, the GPS directory, the lens and time-zone tags, and which
// fields a walk reports as present.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "exif/exif_info.h"
#include "platform/cp932.h"
#include "tests/support/tiff_writer.h"

namespace peloria {
namespace {

using testing::ByteOrder;
using testing::TiffWriter;

constexpr std::uint16_t kGpsPointer = 0x8825, kGpsLatRef = 0x0001, kGpsLat = 0x0002,
                        kGpsLonRef = 0x0003, kGpsLon = 0x0004, kGpsAltRef = 0x0005,
                        kGpsAlt = 0x0006, kGpsTime = 0x0007, kGpsDate = 0x001D;

void Walk(TExifInfo& info, const std::string& tiff) {
  info.SetTiffBlock(reinterpret_cast<const std::uint8_t*>(tiff.data()), tiff.size());
}

bool Has(const TExifInfo& info, const TExifField& field) {
  auto row = ExifFieldRow(field);
  return row && info.Has(*row);
}

// The names of the fields the walk reports, in table order.
std::vector<std::string> PresentNames(const TExifInfo& info) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < ExifTags().size(); ++i)
    if (info.Has(i)) names.push_back(ExifTags()[i].name);
  return names;
}

TEST(ExifTagTableTest, OneNamedRowPerFieldAndRowsOfATagTogether) {
  const auto tags = ExifTags();
  ASSERT_LE(tags.size(), kExifMaxTagRows);
  std::set<std::string> names;
  std::set<std::pair<bool, std::uint16_t>> closed;  // tags whose run of rows has ended
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const TExifTag& row = tags[i];
    if (row.name != nullptr) {
      EXPECT_TRUE(names.insert(row.name).second) << row.name;
      EXPECT_EQ(ExifFieldRow(row.field), i) << row.name << ": another row prints its field";
    }
    // The walk takes the rows of one tag in one directory kind as one run.
    const std::pair key{row.scope == TExifScope::kGps, row.tag};
    EXPECT_FALSE(closed.count(key)) << std::hex << row.tag;
    if (i + 1 == tags.size() || tags[i + 1].tag != row.tag ||
        (tags[i + 1].scope == TExifScope::kGps) != key.first)
      closed.insert(key);
  }
}

class ExifGpsTest : public ::testing::TestWithParam<ByteOrder> {};

struct GpsRow {
  const char* name;
  const char* latRef;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> lat;
  const char* lonRef;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> lon;
  std::optional<std::uint8_t> altRef;
  std::pair<std::uint32_t, std::uint32_t> alt;
  // Expected: none when the position cannot be worked out.
  std::optional<double> latitude, longitude, altitude;
};

TEST_P(ExifGpsTest, PositionInEveryHemisphere) {
  // clang-format off
  const GpsRow rows[] = {
      {"north east", "N", {{35, 1}, {39, 1}, {2916, 100}}, "E", {{139, 1}, {44, 1}, {5476, 100}},
       0, {250, 10}, 35.6581, 139.748544444444, 25},
      {"south west", "S", {{22, 1}, {54, 1}, {30, 1}}, "W", {{43, 1}, {1155, 100}, {0, 1}},
       1, {5, 1}, -22.9083333333333, -43.1925, -5},
      {"lower-case refs", "s", {{10, 1}, {30, 1}, {0, 1}}, "w", {{20, 1}, {0, 1}, {0, 1}},
       std::nullopt, {0, 0}, -10.5, -20, std::nullopt},
      {"altitude 0/0 kept out", "N", {{1, 1}, {0, 1}, {0, 1}}, "E", {{2, 1}, {0, 1}, {0, 1}},
       0, {0, 0}, 1, 2, std::nullopt},
      {"zero denominator", "N", {{35, 1}, {39, 0}, {0, 1}}, "E", {{139, 1}, {0, 1}, {0, 1}},
       0, {10, 1}, std::nullopt, std::nullopt, std::nullopt},
      {"two parts only", "N", {{35, 1}, {39, 1}}, "E", {{139, 1}, {0, 1}, {0, 1}},
       0, {10, 1}, std::nullopt, std::nullopt, std::nullopt},
      {"off the globe, as stored", "N", {{95, 1}, {0, 1}, {0, 1}}, "E", {{200, 1}, {0, 1}, {0, 1}},
       0, {1, 1}, 95, 200, 1},
  };
  // clang-format on
  for (const GpsRow& r : rows) {
    SCOPED_TRACE(r.name);
    TiffWriter w(GetParam());
    w.Ascii(w.Ifd0(), 0x0110, "Cam");
    int gps = w.AddIfd();
    w.AddPointer(w.Ifd0(), kGpsPointer, gps);
    w.Ascii(gps, kGpsLatRef, r.latRef);
    w.Rational(gps, kGpsLat, r.lat);
    w.Ascii(gps, kGpsLonRef, r.lonRef);
    w.Rational(gps, kGpsLon, r.lon);
    if (r.altRef) w.Byte(gps, kGpsAltRef, {*r.altRef});
    w.Rational(gps, kGpsAlt, {r.alt});
    TExifInfo info;
    Walk(info, w.Build());
    EXPECT_EQ(info.Model, "Cam");
    EXPECT_EQ(info.GPSLatitudeRef, r.latRef);
    ASSERT_EQ(info.GPSLatitude.Parts.size(), r.lat.size());
    EXPECT_EQ(info.GPSLatitude.Parts[1].Text,
              std::to_string(r.lat[1].first) + "/" + std::to_string(r.lat[1].second));
    ASSERT_EQ(Has(info, &TExifResults::GPSPosition), r.latitude.has_value());
    if (!r.latitude) continue;
    EXPECT_NEAR(info.GPSPosition.Latitude, *r.latitude, 1e-9);
    EXPECT_NEAR(info.GPSPosition.Longitude, *r.longitude, 1e-9);
    ASSERT_EQ(info.GPSPosition.Altitude.has_value(), r.altitude.has_value());
    if (r.altitude) {
      EXPECT_DOUBLE_EQ(*info.GPSPosition.Altitude, *r.altitude);
    }
  }
}

TEST_P(ExifGpsTest, DateTimeAndTagNumbersOfTheirOwn) {
  TiffWriter w(GetParam());
  int gps = w.AddIfd();
  w.AddPointer(w.Ifd0(), kGpsPointer, gps);
  w.Rational(gps, kGpsTime, {{3, 1}, {4, 1}, {565, 100}});
  w.Ascii(gps, kGpsDate, "2024:05:01");
  w.Ascii(gps, 0x010F, "not the Make");  // Make's number means nothing here
  w.Ascii(gps, kGpsLatRef, "N");         // nor is 0x0001 InteroperabilityIndex
  // And in IFD0 the GPS numbers are not GPS tags.
  w.Rational(w.Ifd0(), kGpsLat, {{1, 1}, {2, 1}, {3, 1}});
  TExifInfo info;
  Walk(info, w.Build());
  ASSERT_EQ(info.GPSTimeStamp.Parts.size(), 3u);
  EXPECT_EQ(info.GPSTimeStamp.Parts[2].Text, "565/100");
  EXPECT_DOUBLE_EQ(info.GPSTimeStamp.Parts[2].Value, 5.65);
  EXPECT_EQ(info.GPSDateStamp, "2024:05:01");
  EXPECT_EQ(info.Make, "");
  EXPECT_EQ(info.GPSLatitudeRef, "N");
  EXPECT_TRUE(info.GPSLatitude.Parts.empty());
  EXPECT_EQ(PresentNames(info),
            (std::vector<std::string>{"GPSLatitudeRef", "GPSTimeStamp", "GPSDateStamp"}));
}

TEST_P(ExifGpsTest, GpsDirectoriesCountTowardsTheBound) {
  // A GPS directory whose next link points at itself, and twenty GPS
  // pointers: the walk still ends after 13 directories.
  TiffWriter w(GetParam());
  int gps = w.AddIfd();
  for (int i = 0; i < 20; ++i) w.AddPointer(w.Ifd0(), kGpsPointer, gps);
  w.SetNext(gps, gps);
  w.Ascii(gps, kGpsDate, "2024:05:01");
  TExifInfo info;
  Walk(info, w.Build());
  EXPECT_EQ(info.GPSDateStamp, "2024:05:01");
}

TEST_P(ExifGpsTest, HostileCountsStayBounded) {
  // Rational lists with counts up to 2^32 - 1 read at most four values, and
  // none beyond the block.
  for (std::uint32_t count : {0u, 1u, 5u, 0xFFFFFFFFu}) {
    TiffWriter w(GetParam());
    int gps = w.AddIfd();
    w.AddPointer(w.Ifd0(), kGpsPointer, gps);
    std::string values;
    for (std::uint32_t i = 1; i <= 6; ++i) values += w.U32(i) + w.U32(1);
    w.AddRaw(gps, kGpsLat, 5, count, values);
    w.AddRawField(gps, kGpsLon, 5, count, 0xFFFFFFF0u);
    TExifInfo info;
    Walk(info, w.Build());
    EXPECT_LE(info.GPSLatitude.Parts.size(), 4u) << count;
    // Count 0 takes its one value from the value field itself.
    if (count > 0) {
      EXPECT_TRUE(info.GPSLongitude.Parts.empty()) << count;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothOrders, ExifGpsTest,
                         ::testing::Values(ByteOrder::kIntel, ByteOrder::kMotorola),
                         [](const auto& info) {
                           return info.param == ByteOrder::kMotorola ? "Motorola" : "Intel";
                         });

TEST(ExifFieldsTest, LensTimeZoneAndShootingTags) {
  for (ByteOrder order : {ByteOrder::kIntel, ByteOrder::kMotorola}) {
    TiffWriter w(order);
    int exif = w.ExifIfd();
    w.Ascii(exif, 0x9011, "+09:00");
    w.Short(exif, 0xA402, {1});
    w.Short(exif, 0xA406, {3});
    w.Ascii(exif, 0xA431, "SN 0042");
    w.Rational(exif, 0xA432, {{24, 1}, {70, 1}, {28, 10}, {0, 0}});
    w.Ascii(exif, 0xA433, "Lens Maker");
    w.Ascii(exif, 0xA434, "24-70mm F2.8");
    TExifInfo info;
    Walk(info, w.Build());
    EXPECT_EQ(info.OffsetTimeOriginal, "+09:00");
    EXPECT_EQ(info.ExposureMode.Text, Cp932("マニュアル露出"));
    EXPECT_EQ(info.SceneCaptureType.Text, Cp932("夜景"));
    EXPECT_EQ(info.SceneCaptureType.Value, 3);
    EXPECT_EQ(info.BodySerialNumber, "SN 0042");
    ASSERT_EQ(info.LensSpecification.Parts.size(), 4u);
    EXPECT_EQ(info.LensSpecification.Parts[2].Text, "28/10");
    EXPECT_EQ(info.LensSpecification.Parts[3].Text, "0/0");  // unknown, as stored
    EXPECT_EQ(info.LensSpecification.Parts[3].Value, 0.0);
    EXPECT_EQ(info.LensMake, "Lens Maker");
    EXPECT_EQ(info.LensModel, "24-70mm F2.8");
  }
  // Codes without a name keep their number and give no text.
  TiffWriter w(ByteOrder::kIntel);
  w.Short(w.ExifIfd(), 0xA402, {7});
  w.Short(w.ExifIfd(), 0xA406, {9});
  TExifInfo info;
  Walk(info, w.Build());
  EXPECT_EQ(info.ExposureMode.Value, 7);
  EXPECT_EQ(info.ExposureMode.Text, "");
  EXPECT_EQ(info.SceneCaptureType.Text, "");
}

TEST(ExifFieldsTest, PresentFieldsAreThoseTheFileHas) {
  TiffWriter w(ByteOrder::kMotorola);
  w.Ascii(w.Ifd0(), 0x0110, "Cam");
  w.Short(w.Ifd0(), 0x0112, {6});
  w.Short(w.Ifd0(), 0x0112, {77});    // an unknown code leaves the field
  w.Short(w.ExifIfd(), 0x8827, {0});  // a stored 0 is present
  w.Short(w.ExifIfd(), 0xA215, {0});  // ExposureIndex feeds ISOSpeedRatings
  w.Short(w.ExifIfd(), 0xA002, {640});
  w.Short(w.Ifd1(), 0x0112, {8});
  w.Short(w.InteropIfd(), 0x1002, {480});  // RelatedImageLength fills PixelYDimension
  TExifInfo info;
  Walk(info, w.Build());
  EXPECT_EQ(PresentNames(info),
            (std::vector<std::string>{"Model", "Orientation", "ThumbnailOrientation",
                                      "ISOSpeedRatings", "PixelXDimension", "PixelYDimension"}));
  EXPECT_EQ(info.PixelYDimension, 480);
  // The next walk starts with nothing present.
  TiffWriter empty(ByteOrder::kIntel);
  Walk(info, empty.Build());
  EXPECT_TRUE(PresentNames(info).empty());
}

}  // namespace
}  // namespace peloria
