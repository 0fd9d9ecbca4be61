// Times what the window program does with a large picture of each kind that
// is decoded at load — load the file into a picture holder (read and decode),
// copy it into a bitmap, read every row of the copy — against the library's
// own command-line tool decoding the same file:
//   PNG   pngtopnm FILE > /dev/null            (libpng)
//   WebP  dwebp -ppm FILE -o /dev/null         (libwebp)
//   HEIC  heif-convert FILE OUT.y4m            (libheif; raw YUV output)
//   AVIF  heif-convert FILE OUT.y4m            (libheif; raw YUV output)
//   TIFF  tiffcp -c none FILE OUT.tif          (libtiff; LZW in, raw out)
//   GIF   gif2rgb -1 -o /dev/null FILE         (giflib; interleaved RGB out)
//   JXL   djxl FILE OUT.ppm                    (libjxl; lossy, cjxl -d 1 -e 3)
//   JXL lossless   the same                    (cjxl -d 0 -e 1)
// alternating, and reports the median of each and their ratio. --only PNG
// (WebP, HEIC, AVIF, TIFF, GIF, JXL, "JXL lossless") makes and times that
// kind alone.
//
//   raster_bench [--width W] [--height H] [--runs N] [--only KIND]
//
// The picture is the test pattern with +-20 levels of pseudo-random noise,
// 6000 x 4000 by default; the GIF file holds it cut down to 256 colours (3
// bits of red and green, 2 of blue). The AVIF file is made by heif-enc from
// a PNG file of the picture, the JPEG XL files by cjxl from one (at low
// efforts, which keep making them quick; decoding costs about the same).
// Both libjxl tools use all the machine's cores, as Peloria does. Exit status 1 when a ratio
// exceeds 1.25 or a tool is missing.
#include <gif_lib.h>
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using peloria::bench::LoadCopyScan;
using peloria::testing::Pixels;

constexpr double kMaxRatio = 1.25;

Pixels NoisyPattern(int width, int height) {
  Pixels p{width, height, {}};
  p.argb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  std::uint32_t seed = 12345;
  const auto noisy = [&](int v) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<std::uint32_t>(
        std::clamp(v + static_cast<int>(seed >> 16) % 41 - 20, 0, 255));
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const peloria::testing::Rgb c = peloria::testing::PatternColor(x, y, width, height);
      p.argb.push_back(0xFF000000u | noisy(c.r) << 16 | noisy(c.g) << 8 | noisy(c.b));
    }
  }
  return p;
}

// An LZW-compressed RGB TIFF in strips of 16 rows, as scanners write them.
void WriteTiff(const fs::path& path, const Pixels& p) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, p.width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, p.height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tiff, TIFFTAG_PREDICTOR, 2);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(p.width) * 3);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const std::uint32_t v = p.At(x, y);
      row[3 * x] = static_cast<std::uint8_t>(v >> 16);
      row[3 * x + 1] = static_cast<std::uint8_t>(v >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(v);
    }
    TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0);
  }
  TIFFClose(tiff);
}

// A GIF of 256 colours: each pixel's 3 top bits of red and green and 2 of
// blue make its palette index.
void WriteGif(const fs::path& path, const Pixels& p) {
  std::vector<GifColorType> colours(256);
  for (int i = 0; i < 256; ++i) {
    colours[i] = {static_cast<GifByteType>((i >> 5) * 255 / 7),
                  static_cast<GifByteType>((i >> 2 & 7) * 255 / 7),
                  static_cast<GifByteType>((i & 3) * 255 / 3)};
  }
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  ColorMapObject* map = GifMakeMapObject(256, colours.data());
  EGifPutScreenDesc(gif, p.width, p.height, 8, 0, map);
  EGifPutImageDesc(gif, 0, 0, p.width, p.height, false, nullptr);
  std::vector<GifPixelType> line(static_cast<std::size_t>(p.width));
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const std::uint32_t v = p.At(x, y);
      line[x] = static_cast<GifPixelType>((v >> 16 & 0xE0) | (v >> 11 & 0x1C) | (v >> 6 & 3));
    }
    EGifPutLine(gif, line.data(), p.width);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
}

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool HasTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int width = 6000;
  int height = 4000;
  int runs = 5;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--width") width = std::atoi(argv[i + 1]);
    if (option == "--height") height = std::atoi(argv[i + 1]);
    if (option == "--runs") runs = std::atoi(argv[i + 1]);
    if (option == "--only") only = argv[i + 1];
  }
  const fs::path dir = fs::temp_directory_path() / "peloria-raster-bench";
  fs::create_directories(dir);
  std::fprintf(stderr, "making the %d x %d pictures ...\n", width, height);
  const Pixels pixels = NoisyPattern(width, height);
  const auto write = [](const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  };
  peloria::testing::ContainerOptions lossy;
  lossy.lossless = false;
  const std::string y4m = (dir / "out.y4m").string();
  struct Kind {
    const char* name;
    std::string path;
    std::function<void(const std::string&)> make;
    std::string tool;
    std::string command;
  };
  const auto path = [&](const char* name) { return (dir / name).string(); };
  const std::vector<Kind> all = {
      {"PNG", path("big.png"),
       [&](const std::string& p) { write(p, peloria::testing::MakePng(pixels)); }, "pngtopnm",
       "pngtopnm " + path("big.png") + " > /dev/null 2>&1"},
      {"WebP", path("big.webp"),
       [&](const std::string& p) { write(p, peloria::testing::MakeWebP(pixels, lossy)); }, "dwebp",
       "dwebp -quiet -ppm " + path("big.webp") + " -o /dev/null"},
      {"HEIC", path("big.heic"),
       [&](const std::string& p) { write(p, peloria::testing::MakeHeif(pixels)); }, "heif-convert",
       "heif-convert " + path("big.heic") + " " + y4m + " >/dev/null 2>&1"},
      // heif-enc's AV1 encoder at its fastest setting, from a PNG file of the
      // picture: its size and noise, not the encoder's effort, decide the
      // decoding time measured.
      {"AVIF", path("big.avif"),
       [&](const std::string& p) {
         write(path("avif-source.png"), peloria::testing::MakePng(pixels));
         const std::string command =
             "heif-enc -A -q 90 -p speed=9 " + path("avif-source.png") + " -o " + p + " >/dev/null";
         if (std::system(command.c_str()) != 0) std::fprintf(stderr, "heif-enc failed\n");
       },
       "heif-convert", "heif-convert " + path("big.avif") + " " + y4m + " >/dev/null 2>&1"},
      {"TIFF", path("big.tif"), [&](const std::string& p) { WriteTiff(p, pixels); }, "tiffcp",
       "tiffcp -c none " + path("big.tif") + " " + path("out.tif")},
      {"GIF", path("big.gif"), [&](const std::string& p) { WriteGif(p, pixels); }, "gif2rgb",
       "gif2rgb -1 -o /dev/null " + path("big.gif")},
      {"JXL", path("big.jxl"),
       [&](const std::string& p) {
         peloria::testing::JxlOptions options;
         options.lossless = false;
         options.effort = 3;
         write(p, peloria::testing::MakeJxl(pixels, options));
       },
       "djxl", "djxl " + path("big.jxl") + " " + path("out.ppm") + " >/dev/null 2>&1"},
      {"JXL lossless", path("big-lossless.jxl"),
       [&](const std::string& p) {
         peloria::testing::JxlOptions options;
         options.effort = 1;
         write(p, peloria::testing::MakeJxl(pixels, options));
       },
       "djxl", "djxl " + path("big-lossless.jxl") + " " + path("out.ppm") + " >/dev/null 2>&1"},
  };
  std::vector<Kind> kinds;
  for (const Kind& k : all) {
    if (only.empty() || only == k.name) {
      k.make(k.path);
      kinds.push_back(k);
    }
  }

  bool ok = true;
  std::printf(
      "| kind | file MiB | Peloria ms | tool | tool ms | ratio |\n|---|---|---|---|---|---|\n");
  for (const Kind& k : kinds) {
    if (!HasTool(k.tool) || !fs::exists(k.path)) {
      std::printf("| %s | | | %s missing | | |\n", k.name, k.tool.c_str());
      ok = false;
      continue;
    }
    std::vector<double> ours;
    std::vector<double> theirs;
    for (int r = 0; r < runs; ++r) {
      ours.push_back(Seconds([&] { LoadCopyScan(k.path); }));
      theirs.push_back(Seconds([&] {
        if (std::system(k.command.c_str()) != 0)
          std::fprintf(stderr, "%s failed\n", k.tool.c_str());
      }));
    }
    const double ratio = Median(ours) / Median(theirs);
    std::printf("| %s | %.1f | %.0f | %s | %.0f | %.2f |\n", k.name,
                static_cast<double>(fs::file_size(k.path)) / (1 << 20), 1000 * Median(ours),
                k.tool.c_str(), 1000 * Median(theirs), ratio);
    if (ratio > kMaxRatio) ok = false;
  }
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
