// Build tool: writes Peloria's sample photo, a 640 x 480 colour JPEG of a
// generated landscape (sky gradient, sun, hills, lake) with a complete Exif
// block in Intel byte order right after the start-of-image marker.
//
//   make_sample OUTPUT.jpg
//
// Only this tool encodes JPEG; the program itself only decodes.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// ------------------------------------------------------------------ the scene

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

std::vector<std::uint8_t> Scene() {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  const double horizon = kHeight * 0.58;
  const double sunX = kWidth * 0.72, sunY = kHeight * 0.30, sunR = 34;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      Rgb c;
      // Far and near hills: sine-shaped ridges.
      const double far = horizon - 38 - 22 * std::sin(x * 0.011 + 0.6) - 9 * std::sin(x * 0.037);
      const double near = horizon - 6 - 18 * std::sin(x * 0.007 + 2.1) - 5 * std::sin(x * 0.05);
      if (y < far) {
        // Sky: deep blue overhead to warm haze at the horizon, a glow
        // around the sun.
        c = Mix({32, 78, 160}, {250, 200, 150}, y / far);
        const double d = std::hypot(x - sunX, y - sunY);
        if (d < sunR) {
          c = {255, 244, 200};
        } else {
          c = Mix(c, {255, 230, 170}, 0.75 * std::exp(-(d - sunR) / 40));
        }
      } else if (y < near) {
        c = Mix({70, 100, 120}, {95, 125, 110}, (y - far) / 40);
      } else if (y < horizon + 40) {
        c = Mix({40, 110, 50}, {90, 150, 60}, (y - near) / (horizon + 40 - near));
      } else {
        // Lake: the sky mirrored and darkened, with ripples.
        const double mirror = 2 * (horizon + 40) - y;
        const double ripple = 0.08 * std::sin(y * 0.9 + std::sin(x * 0.05) * 3);
        c = Mix(Mix({32, 78, 160}, {250, 200, 150}, std::max(mirror, 0.0) / horizon), {10, 30, 60},
                0.45 + ripple + (y - horizon - 40) / kHeight);
      }
      std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * kWidth + x) * 3];
      p[0] = static_cast<std::uint8_t>(std::lround(std::clamp(c.r, 0.0, 255.0)));
      p[1] = static_cast<std::uint8_t>(std::lround(std::clamp(c.g, 0.0, 255.0)));
      p[2] = static_cast<std::uint8_t>(std::lround(std::clamp(c.b, 0.0, 255.0)));
    }
  }
  return pixels;
}

// ------------------------------------------------------------ the Exif block
//
// TIFF structure in Intel (little-endian) order:
//   "II" 42 offset-of-IFD0
//   IFD: count (2 bytes), count x 12-byte entries (tag, type, count, value or
//   offset), next-IFD offset (4 bytes); values longer than 4 bytes follow the
//   directory, each at an even offset.

enum Type : std::uint16_t {
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kUndefined = 7,
  kSRational = 10,
};

struct Entry {
  std::uint16_t tag;
  Type type;
  std::uint32_t count;
  std::vector<std::uint8_t> value;
};

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

Entry Ascii(std::uint16_t tag, const std::string& text) {
  std::vector<std::uint8_t> v(text.begin(), text.end());
  v.push_back(0);
  return {tag, kAscii, static_cast<std::uint32_t>(v.size()), v};
}

Entry Short(std::uint16_t tag, std::uint16_t value) {
  std::vector<std::uint8_t> v;
  Put16(v, value);
  return {tag, kShort, 1, v};
}

Entry Long(std::uint16_t tag, std::uint32_t value) {
  std::vector<std::uint8_t> v;
  Put32(v, value);
  return {tag, kLong, 1, v};
}

Entry Rational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator,
               Type type = kRational) {
  std::vector<std::uint8_t> v;
  Put32(v, numerator);
  Put32(v, denominator);
  return {tag, type, 1, v};
}

Entry Undefined(std::uint16_t tag, const std::string& bytes) {
  return {tag, kUndefined, static_cast<std::uint32_t>(bytes.size()),
          std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

// Appends one directory at the end of `tiff` (offsets count from the TIFF
// header); answers the position of its next-IFD field.
std::size_t WriteIfd(std::vector<std::uint8_t>& tiff, std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
  const std::size_t start = tiff.size();
  std::size_t data = start + 2 + 12 * entries.size() + 4;
  std::vector<std::uint8_t> extra;
  Put16(tiff, static_cast<std::uint32_t>(entries.size()));
  for (const Entry& e : entries) {
    Put16(tiff, e.tag);
    Put16(tiff, e.type);
    Put32(tiff, e.count);
    if (e.value.size() <= 4) {
      std::vector<std::uint8_t> inline4 = e.value;
      inline4.resize(4, 0);
      tiff.insert(tiff.end(), inline4.begin(), inline4.end());
    } else {
      Put32(tiff, static_cast<std::uint32_t>(data + extra.size()));
      extra.insert(extra.end(), e.value.begin(), e.value.end());
      if (extra.size() % 2) extra.push_back(0);
    }
  }
  const std::size_t next = tiff.size();
  Put32(tiff, 0);
  tiff.insert(tiff.end(), extra.begin(), extra.end());
  return next;
}

std::vector<std::uint8_t> ExifBlock() {
  const std::string date = "2024:05:18 10:30:00";
  std::vector<std::uint8_t> tiff = {'I', 'I', 42, 0};
  Put32(tiff, 8);

  // IFD0; its Exif pointer is patched once the Exif IFD's place is known.
  std::vector<Entry> ifd0 = {
      Ascii(0x010F, "Peloria Works"),
      Ascii(0x0110, "Peloria PX-1"),
      Short(0x0112, 1),  // Orientation: top left
      Rational(0x011A, 72, 1),
      Rational(0x011B, 72, 1),
      Short(0x0128, 2),  // ResolutionUnit: inch
      Ascii(0x0131, "make_sample"),
      Ascii(0x0132, date),
      Long(0x8769, 0),  // Exif IFD pointer
  };
  WriteIfd(tiff, ifd0);
  const std::size_t exifIfd = tiff.size();
  // The pointer entry is the last one of IFD0 (highest tag): patch it.
  const std::size_t pointerValue = 8 + 2 + 12 * (ifd0.size() - 1) + 8;
  for (int i = 0; i < 4; ++i)
    tiff[pointerValue + i] = static_cast<std::uint8_t>(exifIfd >> (8 * i));

  const std::string comment =
      std::string("ASCII\0\0\0", 8) + "Sample photo made by the Peloria build";
  WriteIfd(tiff,
           {
               Rational(0x829A, 1, 250),  // ExposureTime
               Rational(0x829D, 28, 10),  // FNumber
               Short(0x8822, 2),          // ExposureProgram: normal program
               Short(0x8827, 200),        // ISOSpeedRatings
               Undefined(0x9000, "0230"), Ascii(0x9003, date), Ascii(0x9004, date),
               Rational(0x9204, static_cast<std::uint32_t>(-1), 3, kSRational),
               Short(0x9207, 5),          // MeteringMode: pattern
               Short(0x9209, 0),          // Flash: did not fire
               Rational(0x920A, 58, 10),  // FocalLength
               Undefined(0x9286, comment), Undefined(0xA000, "0100"),
               Short(0xA001, 1),                                               // ColorSpace: sRGB
               Long(0xA002, kWidth), Long(0xA003, kHeight), Short(0xA403, 0),  // WhiteBalance: auto
               Short(0xA405, 35),  // FocalLengthIn35mmFilm
           });

  std::vector<std::uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), tiff.begin(), tiff.end());
  return app1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUTPUT.jpg\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  const std::vector<std::uint8_t> pixels = Scene();
  const std::vector<std::uint8_t> exif = ExifBlock();

  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  cinfo.write_JFIF_header = FALSE;  // the Exif block follows the SOI marker
  jpeg_start_compress(&cinfo, TRUE);
  jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row =
        const_cast<JSAMPROW>(&pixels[static_cast<std::size_t>(cinfo.next_scanline) * kWidth * 3]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0 ? 0 : 1;
}
