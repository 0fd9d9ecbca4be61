// JPEG XL fixtures: cjxl (libjxl-tools) run on a PNG or JPEG file in a
// temporary folder. The boxes a test adds itself follow ISO/IEC 18181-2: a
// 4-byte big-endian size (header included), the 4-byte type, the contents.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/picture_fixtures.h"
#include "tests/support/temp_dir.h"

namespace peloria::testing {

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// cjxl on `input` (a file named `name`) with `arguments`.
std::string RunCjxl(const std::string& input, const std::string& name,
                    const std::string& arguments) {
  const TempDir dir;
  dir.Write(name, input);
  const std::string command =
      "cd '" + dir.path().string() + "' && cjxl " + name + " out.jxl " + arguments + " >log 2>&1";
  if (std::system(command.c_str()) != 0) {
    throw std::runtime_error("cjxl failed: " + ReadAll(dir.path() / "log"));
  }
  return ReadAll(dir.path() / "out.jxl");
}

std::string BigEndian32(std::size_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[3 - i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// A binary PGM file of the pixels' green samples.
std::string GreyPgm(const Pixels& pixels) {
  std::string file =
      "P5\n" + std::to_string(pixels.width) + " " + std::to_string(pixels.height) + "\n255\n";
  for (const std::uint32_t argb : pixels.argb) file += static_cast<char>(argb >> 8 & 0xFF);
  return file;
}

}  // namespace

std::string MakeJxl(const Pixels& pixels, const JxlOptions& options) {
  std::string arguments = options.lossless ? "-d 0" : "-d 1";
  if (options.container || !options.exif.empty()) arguments += " --container=1";
  if (options.effort != 0) arguments += " -e " + std::to_string(options.effort);
  std::string file = options.grey ? RunCjxl(GreyPgm(pixels), "in.pgm", arguments)
                                  : RunCjxl(MakePng(pixels), "in.png", arguments);
  if (!options.exif.empty()) file = WithJxlBox(file, "Exif", BigEndian32(0) + options.exif);
  return file;
}

std::string JxlFromJpeg(const std::string& jpeg) {
  return RunCjxl(jpeg, "in.jpg", "--lossless_jpeg=1");
}

std::string WithJxlBox(const std::string& container, const std::string& type,
                       const std::string& contents) {
  // The "JXL " box (12 bytes) and the "ftyp" box (20 bytes) come first.
  constexpr std::size_t kSignatureBoxes = 32;
  if (container.size() < kSignatureBoxes || container.compare(4, 4, "JXL ") != 0) {
    throw std::runtime_error("not a JPEG XL container");
  }
  return container.substr(0, kSignatureBoxes) + BigEndian32(8 + contents.size()) + type + contents +
         container.substr(kSignatureBoxes);
}

}  // namespace peloria::testing
