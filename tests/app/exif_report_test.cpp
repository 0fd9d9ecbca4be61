// The --exif lines and JSON: what reaches the terminal, and JSON that real
// parsers (Python's json, jq) accept with the values the file holds.
#include "app/exif_report.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/cp932.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_writer.h"

namespace peloria {
namespace {

using testing::ByteOrder;
using testing::TiffWriter;

void Walk(TExifInfo& info, const std::string& tiff) {
  info.SetTiffBlock(reinterpret_cast<const std::uint8_t*>(tiff.data()), tiff.size());
}

// Runs `command` with `input` on its standard input; its standard output.
std::string Filter(const std::string& command, const std::string& input) {
  testing::TempDir dir;
  const std::string in = dir.Write("in.json", input);
  std::string out;
  FILE* pipe = ::popen((command + " < '" + Utf8(in) + "' 2>&1").c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

bool Installed(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(ExifReportTest, ControlBytesBecomeVisible) {
  const struct {
    std::string in, out;
  } rows[] = {
      {"plain", "plain"},
      {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
      {"over\rwrite", "over\\x0dwrite"},
      {"two\nlines\t", "two\\x0alines\\x09"},
      {std::string("nul\0", 4), "nul\\x00"},
      {"del\x7f", "del\\x7f"},
      {"機種 \\x41", "機種 \\x41"},  // text and backslashes stay
  };
  for (const auto& r : rows) EXPECT_EQ(EscapeControls(r.in), r.out);
}

TEST(ExifReportTest, JsonTexts) {
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("\n\r\t\x1b\x7f"), "\"\\n\\r\\t\\u001b\\u007f\"");
  EXPECT_EQ(JsonString("露出"), "\"露出\"");
  EXPECT_EQ(JsonNumber(2.8), "2.8");
  EXPECT_EQ(JsonNumber(-0.5), "-0.5");
  EXPECT_EQ(JsonNumber(1e300 * 1e300), "null");
  EXPECT_EQ(JsonNumber(std::nan("")), "null");
}

// A block with texts, rationals, codes, a comment, a GPS position and the
// hostile values a file may hold.
std::string RichBlock(ByteOrder order, bool south) {
  TiffWriter w(order);
  w.Ascii(w.Ifd0(), 0x010F, "Maker \"quoted\" \\ \x1b[2J");
  w.Ascii(w.Ifd0(), 0x0110, Cp932("カメラ") + "\xFF\x81");  // a broken CP932 pair
  w.Short(w.Ifd0(), 0x0112, {6});
  int exif = w.ExifIfd();
  w.Rational(exif, 0x829D, {{28, 10}});
  w.Rational(exif, 0x829A, {{1, 0}});
  w.Double(exif, 0x9206, {1e300 * 1e300});  // SubjectDistance as an infinite DOUBLE
  w.Short(exif, 0x8827, {400});
  w.Short(exif, 0xA001, {1});
  w.Undefined(exif, 0x9286, std::string("ASCII\0\0\0line\none", 16));
  w.Rational(exif, 0xA432, {{24, 1}, {70, 1}, {28, 10}, {0, 0}});
  int gps = w.AddIfd();
  w.AddPointer(w.Ifd0(), 0x8825, gps);
  w.Ascii(gps, 0x0001, south ? "S" : "N");
  w.Rational(gps, 0x0002, {{35, 1}, {30, 1}, {0, 1}});
  w.Ascii(gps, 0x0003, south ? "W" : "E");
  w.Rational(gps, 0x0004, {{139, 1}, {45, 1}, {0, 1}});
  w.Byte(gps, 0x0005, {1});
  w.Rational(gps, 0x0006, {{125, 10}});
  return w.Build();
}

TEST(ExifReportTest, JsonReadsBackInRealParsers) {
  if (!Installed("python3")) GTEST_SKIP() << "no python3";
  for (ByteOrder order : {ByteOrder::kIntel, ByteOrder::kMotorola}) {
    for (bool south : {false, true}) {
      TExifInfo info;
      Walk(info, RichBlock(order, south));
      const std::string json = ExifJson(info);
      const std::string sign = south ? "-" : "";
      // Python's strict parser, and each value as it reads it.
      const std::string got = Filter(
          "python3 -c \"import json,sys\n"
          "d=json.load(sys.stdin)\n"
          "for k in ['ByteOrder','Make','Model','Orientation','ISOSpeedRatings','FNumber',"
          "'ExposureTime','SubjectDistance','ColorSpace','UserComment','LensSpecification',"
          "'GPSLatitudeRef','GPSPosition']: print(k, json.dumps(d[k], ensure_ascii=False))\n"
          "print(len(d))\"",
          json);
      EXPECT_EQ(got, std::string("ByteOrder \"") +
                         (order == ByteOrder::kIntel ? "Intel" : "Motorola") +
                         "\"\n"
                         "Make \"Maker \\\"quoted\\\" \\\\ \\u001b[2J\"\n"
                         "Model \"カメラ??\"\n"
                         "Orientation \"ioRightTop\"\n"
                         "ISOSpeedRatings 400\n"
                         "FNumber {\"rational\": [28, 10], \"value\": 2.8}\n"
                         "ExposureTime {\"rational\": [1, 0], \"value\": null}\n"
                         "SubjectDistance null\n"
                         "ColorSpace {\"code\": 1, \"text\": \"sRGB\"}\n"
                         "UserComment [\"line\\none\"]\n"
                         "LensSpecification {\"rational\": [[24, 1], [70, 1], [28, 10], [0, 0]], "
                         "\"value\": [24, 70, 2.8, null]}\n"
                         "GPSLatitudeRef \"" +
                         (south ? "S" : "N") +
                         "\"\n"
                         "GPSPosition {\"lat\": " +
                         sign + "35.5, \"lon\": " + sign + "139.75, \"alt\": -12.5}\n" + "18\n")
          << json;
      if (Installed("jq")) {
        EXPECT_EQ(Filter("jq -c '[.GPSPosition.lat, .GPSPosition.lon, .FNumber.value]'", json),
                  "[" + sign + "35.5," + sign + "139.75,2.8]\n");
      }
    }
  }
}

TEST(ExifReportTest, LinesListOnlyWhatTheFileHas) {
  TiffWriter w(ByteOrder::kMotorola);
  w.Ascii(w.Ifd0(), 0x0110, "Cam\x1b]0;owned\x07\r");
  w.Rational(w.ExifIfd(), 0x829D, {{4, 1}});
  w.Undefined(w.ExifIfd(), 0x9286, std::string("ASCII\0\0\0a\nb", 11));
  w.Undefined(w.ExifIfd(), 0x9286, std::string("ASCII\0\0\0second", 14));
  int gps = w.AddIfd();
  w.AddPointer(w.Ifd0(), 0x8825, gps);
  w.Rational(gps, 0x0007, {{12, 1}, {34, 1}, {5605, 100}});
  TExifInfo info;
  Walk(info, w.Build());
  EXPECT_EQ(ExifLines(info),
            "ByteOrder: Motorola\n"
            "Model: Cam\\x1b]0;owned\\x07\\x0d\n"
            "FNumber: 4/1 | 4\n"
            "UserComment: a\\x0ab\n"
            "UserComment: second\n"
            "GPSTimeStamp: 12/1 34/1 5605/100 | 12 34 56.05\n");
}

TEST(ExifReportTest, MapAddress) {
  for (bool south : {false, true}) {
    TExifInfo info;
    Walk(info, RichBlock(ByteOrder::kIntel, south));
    EXPECT_EQ(MapAddress(info), south ? "https://www.openstreetmap.org/"
                                        "?mlat=-35.500000&mlon=-139.750000#map=15/-35.500000/"
                                        "-139.750000"
                                      : "https://www.openstreetmap.org/"
                                        "?mlat=35.500000&mlon=139.750000#map=15/35.500000/"
                                        "139.750000");
  }
  // A comma as the decimal symbol changes nothing in the address.
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr) {
    TExifInfo info;
    Walk(info, RichBlock(ByteOrder::kIntel, false));
    EXPECT_NE(MapAddress(info).value_or("").find("mlat=35.500000&"), std::string::npos);
    EXPECT_EQ(JsonNumber(2.5), "2.5");
    std::setlocale(LC_NUMERIC, "C");
  }
  // No position, or one off the globe: no address.
  TiffWriter none(ByteOrder::kIntel);
  none.Ascii(none.Ifd0(), 0x0110, "Cam");
  TExifInfo info;
  Walk(info, none.Build());
  EXPECT_EQ(MapAddress(info), std::nullopt);
  TiffWriter off(ByteOrder::kIntel);
  int gps = off.AddIfd();
  off.AddPointer(off.Ifd0(), 0x8825, gps);
  off.Rational(gps, 0x0002, {{91, 1}, {0, 1}, {0, 1}});
  off.Rational(gps, 0x0004, {{10, 1}, {0, 1}, {0, 1}});
  Walk(info, off.Build());
  EXPECT_EQ(info.GPSPosition.Latitude, 91);  // shown as stored
  EXPECT_EQ(MapAddress(info), std::nullopt);
}

}  // namespace
}  // namespace peloria
