// Times what the window program does with a large picture of each kind that
// is decoded at load — load the file into a picture holder (read and decode),
// copy it into a bitmap, read every row of the copy — against the library's
// own command-line tool decoding the same file:
//   PNG   pngtopnm FILE > /dev/null            (libpng)
//   WebP  dwebp -ppm FILE -o /dev/null         (libwebp)
//   HEIC  heif-convert FILE OUT.y4m            (libheif; raw YUV output)
//   TIFF  tiffcp -c none FILE OUT.tif          (libtiff; LZW in, raw out)
// alternating, and reports the median of each and their ratio.
//
//   raster_bench [--width W] [--height H] [--runs N]
//
// The picture is the test pattern with +-20 levels of pseudo-random noise,
// 6000 x 4000 by default. Exit status 1 when a ratio exceeds 1.25 or a tool
// is missing.
#include <benchmark/benchmark.h>
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

#include "picture/bitmap.h"
#include "picture/picture.h"
#include "platform/cp932.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
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

std::uint64_t LoadCopyScan(const std::string& path) {
  peloria::TPicture picture;
  picture.LoadFromFile(peloria::Cp932(path));
  peloria::TBitmap copy;
  copy.Assign(picture.Graphic());
  std::uint64_t sum = 0;
  const int bytes = copy.Width() * 3;
  for (int y = 0; y < copy.Height(); ++y) {
    const std::uint8_t* row = copy.ScanLine(y);
    for (int i = 0; i < bytes; i += 64) sum += row[i];
  }
  benchmark::DoNotOptimize(sum);
  return sum;
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
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--width") width = std::atoi(argv[i + 1]);
    if (option == "--height") height = std::atoi(argv[i + 1]);
    if (option == "--runs") runs = std::atoi(argv[i + 1]);
  }
  const fs::path dir = fs::temp_directory_path() / "peloria-raster-bench";
  fs::create_directories(dir);
  std::fprintf(stderr, "making the %d x %d pictures ...\n", width, height);
  const Pixels pixels = NoisyPattern(width, height);
  const auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return (dir / name).string();
  };
  peloria::testing::ContainerOptions lossy;
  lossy.lossless = false;
  WriteTiff(dir / "big.tif", pixels);
  struct Kind {
    const char* name;
    std::string path;
    std::string tool;
    std::string command;
  };
  const std::string png = write("big.png", peloria::testing::MakePng(pixels));
  const std::string webp = write("big.webp", peloria::testing::MakeWebP(pixels, lossy));
  const std::string heic = write("big.heic", peloria::testing::MakeHeif(pixels));
  const std::string tiff = (dir / "big.tif").string();
  const std::vector<Kind> kinds = {
      {"PNG", png, "pngtopnm", "pngtopnm " + png + " > /dev/null 2>&1"},
      {"WebP", webp, "dwebp", "dwebp -quiet -ppm " + webp + " -o /dev/null"},
      {"HEIC", heic, "heif-convert",
       "heif-convert " + heic + " " + (dir / "out.y4m").string() + " >/dev/null 2>&1"},
      {"TIFF", tiff, "tiffcp", "tiffcp -c none " + tiff + " " + (dir / "out.tif").string()},
  };

  bool ok = true;
  std::printf(
      "| kind | file MiB | Peloria ms | tool | tool ms | ratio |\n|---|---|---|---|---|---|\n");
  for (const Kind& k : kinds) {
    if (!HasTool(k.tool)) {
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
