#include "tests/support/jpeg_fixtures.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

extern "C" {
#include <jpeglib.h>
}

namespace peloria::testing {

namespace {

struct EncoderError {
  jpeg_error_mgr pub;  // first member
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnEncoderError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<EncoderError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// All libjpeg calls of one encode, in a frame without C++ objects so that
// the error longjmp skips no destructor. Answers false on an encoder error.
bool Encode(const JpegRecipe& recipe, const std::vector<JSAMPLE>& pixels, int components,
            EncoderError& err, unsigned char** out, unsigned long* outSize) {
  jpeg_compress_struct cinfo;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnEncoderError;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, outSize);
  cinfo.image_width = static_cast<JDIMENSION>(recipe.width);
  cinfo.image_height = static_cast<JDIMENSION>(recipe.height);
  cinfo.input_components = components;
  switch (recipe.color) {
    case JpegColor::kColor:
    case JpegColor::kRgb:
      cinfo.in_color_space = JCS_RGB;
      break;
    case JpegColor::kGray:
      cinfo.in_color_space = JCS_GRAYSCALE;
      break;
    case JpegColor::kCmyk:
    case JpegColor::kYcck:
      cinfo.in_color_space = JCS_CMYK;
      break;
  }
  jpeg_set_defaults(&cinfo);
  if (recipe.color == JpegColor::kYcck) jpeg_set_colorspace(&cinfo, JCS_YCCK);
  if (recipe.color == JpegColor::kRgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
  jpeg_set_quality(&cinfo, recipe.quality, TRUE);
  if (recipe.progressive) jpeg_simple_progression(&cinfo);
  // A JFIF marker would declare YCbCr; RGB, CMYK and YCCK files carry the Adobe one.
  cinfo.write_JFIF_header =
      recipe.jfif && (recipe.color == JpegColor::kColor || recipe.color == JpegColor::kGray)
          ? TRUE
          : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  for (const JpegMarker& marker : recipe.markers) {
    jpeg_write_marker(&cinfo, marker.code, reinterpret_cast<const JOCTET*>(marker.payload.data()),
                      static_cast<unsigned>(marker.payload.size()));
  }
  const std::size_t stride = static_cast<std::size_t>(recipe.width) * components;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(pixels.data()) + stride * cinfo.next_scanline;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

Rgb PatternColor(int x, int y, int width, int height) {
  const int r = width > 1 ? x * 255 / (width - 1) : 0;
  const int g = height > 1 ? y * 255 / (height - 1) : 0;
  return Rgb{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
             static_cast<std::uint8_t>(255 - (r + g) / 2)};
}

std::uint8_t PatternGray(int x, int y, int width, int height) {
  const int gx = width > 1 ? x * 255 / (width - 1) : 0;
  const int gy = height > 1 ? y * 255 / (height - 1) : 0;
  return static_cast<std::uint8_t>((gx + gy) / 2);
}

std::string MakeJpeg(const JpegRecipe& recipe) {
  if (recipe.width <= 0 || recipe.height <= 0) throw std::runtime_error("MakeJpeg: empty picture");
  int components = 4;
  if (recipe.color == JpegColor::kGray) components = 1;
  if (recipe.color == JpegColor::kColor || recipe.color == JpegColor::kRgb) components = 3;
  std::vector<JSAMPLE> pixels(static_cast<std::size_t>(recipe.width) * recipe.height * components);
  std::size_t i = 0;
  std::uint32_t random = 0x12345678u;
  const auto noisy = [&](int v) {
    if (recipe.noise <= 0) return static_cast<JSAMPLE>(v);
    random = random * 1664525u + 1013904223u;  // LCG (Numerical Recipes)
    const int offset = static_cast<int>(random >> 16) % (2 * recipe.noise + 1) - recipe.noise;
    return static_cast<JSAMPLE>(std::clamp(v + offset, 0, 255));
  };
  for (int y = 0; y < recipe.height; ++y) {
    for (int x = 0; x < recipe.width; ++x) {
      const Rgb c = PatternColor(x, y, recipe.width, recipe.height);
      if (components == 1) {
        pixels[i++] = noisy(PatternGray(x, y, recipe.width, recipe.height));
      } else if (components == 3) {
        pixels[i++] = noisy(c.r);
        pixels[i++] = noisy(c.g);
        pixels[i++] = noisy(c.b);
      } else {
        // Inverted CMYK: K' = max(R, G, B), C' = R * 255 / K' (and so on).
        const int k = std::max({c.r, c.g, c.b});
        const auto ink = [k](int v) {
          return static_cast<JSAMPLE>(k == 0 ? 255 : (v * 255 + k / 2) / k);
        };
        pixels[i++] = ink(c.r);
        pixels[i++] = ink(c.g);
        pixels[i++] = ink(c.b);
        pixels[i++] = static_cast<JSAMPLE>(k);
      }
    }
  }
  EncoderError err{};
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const bool ok = Encode(recipe, pixels, components, err, &out, &size);
  std::string bytes;
  if (out != nullptr) {
    if (ok) bytes.assign(reinterpret_cast<const char*>(out), size);
    std::free(out);
  }
  if (!ok) throw std::runtime_error(std::string("MakeJpeg: ") + err.message);
  return bytes;
}

std::string WriteJpegFile(const std::filesystem::path& path, const JpegRecipe& recipe) {
  std::string bytes = MakeJpeg(recipe);
  std::ofstream file(path, std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("WriteJpegFile: cannot write " + path.string());
  return bytes;
}

std::size_t ScanDataOffset(const std::string& jpeg) {
  // Markers: FF xx, then (except SOI, EOI, RSTn) a 2-byte big-endian length
  // that counts itself.
  std::size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    if (static_cast<unsigned char>(jpeg[at]) != 0xFF) return std::string::npos;
    const auto code = static_cast<unsigned char>(jpeg[at + 1]);
    const std::size_t length =
        static_cast<unsigned char>(jpeg[at + 2]) << 8 | static_cast<unsigned char>(jpeg[at + 3]);
    if (code == 0xDA) return at + 2 + length;
    at += 2 + length;
  }
  return std::string::npos;
}

std::string MakeEmptyScansJpeg(int width, int height, int scans) {
  JpegRecipe recipe;
  recipe.width = 16;
  recipe.height = 16;
  recipe.color = JpegColor::kGray;
  recipe.progressive = true;
  std::string small = MakeJpeg(recipe);
  // Everything before the first scan (the tables, the DC scan's Huffman
  // table among them), with the frame's size patched.
  std::string head;
  for (std::size_t at = 2; at + 4 <= small.size();) {
    const auto code = static_cast<unsigned char>(small[at + 1]);
    const std::size_t length =
        static_cast<unsigned char>(small[at + 2]) << 8 | static_cast<unsigned char>(small[at + 3]);
    if (code == 0xDA) {
      head = small.substr(0, at);
      break;
    }
    if (code == 0xC2) {
      small[at + 5] = static_cast<char>(height >> 8);
      small[at + 6] = static_cast<char>(height);
      small[at + 7] = static_cast<char>(width >> 8);
      small[at + 8] = static_cast<char>(width);
    }
    at += 2 + length;
  }
  if (head.empty()) throw std::runtime_error("no scan in the encoded picture");
  // SOS: one component (id 1), DC table 0, spectral 0..0, no approximation.
  const std::string scan("\xFF\xDA\x00\x08\x01\x01\x00\x00\x00\x00", 10);
  std::string file = head;
  for (int i = 0; i < scans; ++i) file += scan;
  return file + "\xFF\xD9";
}

}  // namespace peloria::testing
