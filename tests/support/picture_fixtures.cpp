#include "tests/support/picture_fixtures.h"

#include <gif_lib.h>
#include <libheif/heif.h>
#include <png.h>
#include <stdlib.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/encode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "tests/support/jpeg_fixtures.h"
#include "tests/support/tiff_writer.h"

namespace peloria::testing {

namespace {

std::uint8_t A(std::uint32_t p) {
  return static_cast<std::uint8_t>(p >> 24);
}
std::uint8_t R(std::uint32_t p) {
  return static_cast<std::uint8_t>(p >> 16);
}
std::uint8_t G(std::uint32_t p) {
  return static_cast<std::uint8_t>(p >> 8);
}
std::uint8_t B(std::uint32_t p) {
  return static_cast<std::uint8_t>(p);
}

bool HasAlpha(const Pixels& p) {
  return std::any_of(p.argb.begin(), p.argb.end(), [](std::uint32_t v) { return A(v) != 255; });
}

std::string U32Le(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}
std::string U16Le(std::uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
}
std::string U32Be(std::uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 8), static_cast<char>(v)};
}

void Need(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("fixture encoder failed: ") + what);
}

// ---------------------------------------------------------------------- PNG

void PngWrite(png_structp png, png_bytep data, png_size_t size) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}
void PngFlush(png_structp) {}

// A PNG chunk with its length and CRC.
std::string PngChunk(const std::string& type, const std::string& data) {
  std::string body = type + data;
  const auto crc =
      crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  return U32Be(static_cast<std::uint32_t>(data.size())) + body +
         U32Be(static_cast<std::uint32_t>(crc));
}

}  // namespace

Pixels Quadrants(int width, int height) {
  Pixels p{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      const bool bottom = y >= height / 2;
      p.argb.push_back(!bottom ? (right ? 0xFF00FF00u : 0xFFFF0000u)
                               : (right ? 0xFFFFFFFFu : 0xFF0000FFu));
    }
  }
  return p;
}

Pixels Gradient(int width, int height, bool alpha) {
  Pixels p{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = PatternColor(x, y, width, height);
      std::uint32_t a = 255;
      if (alpha && x == 0)
        a = 0;
      else if (alpha && y == 0)
        a = 128;
      p.argb.push_back(a << 24 | std::uint32_t{c.r} << 16 | std::uint32_t{c.g} << 8 | c.b);
    }
  }
  return p;
}

std::uint32_t OnWhite(std::uint32_t argb) {
  const unsigned a = A(argb);
  const auto over = [a](unsigned c) { return (c * a + 255 * (255 - a) + 127) / 255; };
  return 0xFF000000u | over(R(argb)) << 16 | over(G(argb)) << 8 | over(B(argb));
}

void FixPngCrc(std::string& png, std::size_t at) {
  const std::size_t length =
      static_cast<std::uint8_t>(png[at]) << 24 | static_cast<std::uint8_t>(png[at + 1]) << 16 |
      static_cast<std::uint8_t>(png[at + 2]) << 8 | static_cast<std::uint8_t>(png[at + 3]);
  const auto crc =
      crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), static_cast<uInt>(length + 4));
  png.replace(at + 8 + length, 4, U32Be(static_cast<std::uint32_t>(crc)));
}

std::string MakePng(const Pixels& pixels, const ContainerOptions& options) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::string out;
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  const bool alpha = HasAlpha(pixels);
  png_set_IHDR(png, info, static_cast<png_uint_32>(pixels.width),
               static_cast<png_uint_32>(pixels.height), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               options.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<std::vector<png_byte>> rows;
  for (int y = 0; y < pixels.height; ++y) {
    std::vector<png_byte> row;
    for (int x = 0; x < pixels.width; ++x) {
      const std::uint32_t p = pixels.At(x, y);
      row.insert(row.end(), {R(p), G(p), B(p)});
      if (alpha) row.push_back(A(p));
    }
    rows.push_back(std::move(row));
  }
  std::vector<png_bytep> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (!options.exif.empty()) {
    // IHDR ends at 8 + 25; IEND is the last 12 bytes.
    const std::string chunk = PngChunk("eXIf", options.exif);
    out.insert(options.exifLate ? out.size() - 12 : 33, chunk);
  }
  return out;
}

// -------------------------------------------------------------------- WebP

std::string MakeWebP(const Pixels& pixels, const ContainerOptions& options) {
  const auto* bgra = reinterpret_cast<const std::uint8_t*>(pixels.argb.data());
  std::uint8_t* encoded = nullptr;
  const std::size_t size =
      options.lossless
          ? WebPEncodeLosslessBGRA(bgra, pixels.width, pixels.height, 4 * pixels.width, &encoded)
          : WebPEncodeBGRA(bgra, pixels.width, pixels.height, 4 * pixels.width, 95, &encoded);
  Need(size > 0, "WebPEncode");
  std::string file(reinterpret_cast<const char*>(encoded), size);
  WebPFree(encoded);
  if (options.exif.empty()) return file;

  std::string chunks = file.substr(12);
  std::string header;
  if (chunks.compare(0, 4, "VP8X") == 0) {
    chunks[8] = static_cast<char>(chunks[8] | 0x08);
  } else {
    const auto w = static_cast<std::uint32_t>(pixels.width - 1);
    const auto h = static_cast<std::uint32_t>(pixels.height - 1);
    header = "VP8X" + U32Le(10) +
             std::string(1, static_cast<char>(0x08 | (HasAlpha(pixels) ? 0x10 : 0))) +
             std::string(3, '\0') + U32Le(w).substr(0, 3) + U32Le(h).substr(0, 3);
  }
  const std::string exif = (options.exifPrefix ? std::string("Exif\0\0", 6) : "") + options.exif;
  std::string exifChunk = "EXIF" + U32Le(static_cast<std::uint32_t>(exif.size())) + exif;
  if (exif.size() % 2 != 0) exifChunk += '\0';
  const std::string body = "WEBP" + header + chunks + exifChunk;
  return "RIFF" + U32Le(static_cast<std::uint32_t>(body.size())) + body;
}

std::string MakeAnimatedWebP(const std::vector<Pixels>& frames) {
  const int width = frames.front().width;
  const int height = frames.front().height;
  WebPAnimEncoderOptions options;
  Need(WebPAnimEncoderOptionsInit(&options) != 0, "WebPAnimEncoderOptionsInit");
  std::unique_ptr<WebPAnimEncoder, void (*)(WebPAnimEncoder*)> encoder(
      WebPAnimEncoderNew(width, height, &options), WebPAnimEncoderDelete);
  Need(encoder != nullptr, "WebPAnimEncoderNew");
  WebPConfig config;
  Need(WebPConfigInit(&config) != 0, "WebPConfigInit");
  config.lossless = 1;
  int timestamp = 0;
  for (const Pixels& frame : frames) {
    WebPPicture picture;
    Need(WebPPictureInit(&picture) != 0, "WebPPictureInit");
    picture.use_argb = 1;
    picture.width = width;
    picture.height = height;
    // 0xAARRGGBB words in memory on a little-endian machine: B, G, R, A.
    const bool imported = WebPPictureImportBGRA(
        &picture, reinterpret_cast<const std::uint8_t*>(frame.argb.data()), 4 * width);
    const bool added = imported && WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config);
    WebPPictureFree(&picture);
    Need(added, "WebPAnimEncoderAdd");
    timestamp += 100;
  }
  Need(WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr) != 0, "WebPAnimEncoderAdd");
  WebPData data;
  WebPDataInit(&data);
  Need(WebPAnimEncoderAssemble(encoder.get(), &data) != 0, "WebPAnimEncoderAssemble");
  std::string file(reinterpret_cast<const char*>(data.bytes), data.size);
  WebPDataClear(&data);
  return file;
}

// -------------------------------------------------------------------- HEIF

namespace {

heif_error HeifWrite(heif_context*, const void* data, size_t size, void* user) {
  static_cast<std::string*>(user)->append(static_cast<const char*>(data), size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

}  // namespace

std::string MakeHeif(const Pixels& pixels, const ContainerOptions& options) {
  const bool alpha = HasAlpha(pixels);
  heif_image* image = nullptr;
  Need(heif_image_create(pixels.width, pixels.height, heif_colorspace_RGB,
                         alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image)
               .code == heif_error_Ok,
       "heif_image_create");
  heif_image_add_plane(image, heif_channel_interleaved, pixels.width, pixels.height, 8);
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < pixels.height; ++y) {
    std::uint8_t* row = plane + static_cast<std::ptrdiff_t>(stride) * y;
    for (int x = 0; x < pixels.width; ++x) {
      const std::uint32_t p = pixels.At(x, y);
      *row++ = R(p);
      *row++ = G(p);
      *row++ = B(p);
      if (alpha) *row++ = A(p);
    }
  }
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  Need(heif_context_get_encoder_for_format(
           context, options.avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder)
               .code == heif_error_Ok,
       "heif encoder");
  heif_encoder_set_lossy_quality(encoder, 90);
  heif_image_handle* handle = nullptr;
  Need(heif_context_encode_image(context, image, encoder, nullptr, &handle).code == heif_error_Ok,
       "heif_context_encode_image");
  if (!options.exif.empty()) {
    Need(heif_context_add_exif_metadata(context, handle, options.exif.data(),
                                        static_cast<int>(options.exif.size()))
                 .code == heif_error_Ok,
         "heif exif");
  }
  std::string out;
  heif_writer writer{1, HeifWrite};
  Need(heif_context_write(context, &writer, &out).code == heif_error_Ok, "heif_context_write");
  heif_image_handle_release(handle);
  heif_encoder_release(encoder);
  heif_image_release(image);
  heif_context_free(context);
  return out;
}

namespace {

std::string U16Be(std::uint32_t v) {
  return std::string{static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string Box(std::string_view type, const std::string& payload) {
  return U32Be(static_cast<std::uint32_t>(8 + payload.size())) + std::string(type) + payload;
}
// A box with a version and 24 bits of flags before its payload.
std::string FullBox(std::string_view type, int version, std::uint32_t flags,
                    const std::string& payload) {
  return Box(type, std::string(1, static_cast<char>(version)) + U32Be(flags).substr(1) + payload);
}
// The whole first box of `type` in `file` (its size precedes the type).
std::string FindBox(const std::string& file, std::string_view type) {
  const std::size_t at = file.find(type);
  Need(at != std::string::npos && at >= 4, "heif box");
  std::uint32_t size = 0;
  for (std::size_t i = at - 4; i < at; ++i) size = size << 8 | static_cast<std::uint8_t>(file[i]);
  Need(at - 4 + size <= file.size(), "heif box size");
  return file.substr(at - 4, size);
}

}  // namespace

// The tiles share one coded picture, taken with its decoder configuration
// ("hvcC") from a single-picture file libheif wrote; the grid's header sits
// in the media data after it, or in "idat". Item 1..n are the tiles, n + 1
// the grid.
std::string MakeHeifGrid(const Pixels& tile, const HeifGrid& grid) {
  const std::string single = MakeHeif(tile);
  const std::string config = FindBox(single, "hvcC");
  const std::string coded = FindBox(single, "mdat").substr(8);
  const auto tiles = static_cast<std::uint32_t>(grid.columns * grid.rows);
  const std::uint32_t gridId = tiles + 1;
  std::string header =
      std::string{0, 1, static_cast<char>(grid.rows - 1), static_cast<char>(grid.columns - 1)} +
      U32Be(grid.width) + U32Be(grid.height);
  header.resize(header.size() - grid.headerCut);

  std::string infos;
  std::string ipma;
  std::string tileIds;
  for (std::uint32_t id = 1; id <= tiles; ++id) {
    // Hidden (flag 1) tiles of HEVC pictures: the configuration (essential)
    // and the tile's size.
    infos += FullBox("infe", 2, 1, U16Be(id) + U16Be(0) + "hvc1" + '\0');
    ipma += U16Be(id) + "\x02\x81\x02";
    tileIds += U16Be(id);
  }
  infos += FullBox("infe", 2, 0, U16Be(gridId) + U16Be(0) + "grid" + '\0');
  ipma += U16Be(gridId) + "\x01\x03";
  const std::string properties = Box(
      "ipco", config + FullBox("ispe", 0, 0, U32Be(tile.width) + U32Be(tile.height)) +
                  FullBox("ispe", 0, 0,
                          U32Be(grid.declaredWidth != 0 ? grid.declaredWidth : grid.width) +
                              U32Be(grid.declaredHeight != 0 ? grid.declaredHeight : grid.height)));
  // Item locations (4-byte offsets and lengths, one extent each): every
  // tile at the coded picture, the grid at its header. Version 1 gives each
  // item a construction method: 1 places it in "idat".
  const int version = grid.headerInMeta ? 1 : 0;
  const auto locations = [&](std::uint32_t dataStart) {
    const auto item = [&](std::uint32_t id, int method, std::uint32_t offset, std::size_t length) {
      return U16Be(id) + (version == 1 ? U16Be(static_cast<std::uint32_t>(method)) : "") +
             U16Be(0) + U16Be(1) + U32Be(offset) + U32Be(static_cast<std::uint32_t>(length));
    };
    std::string items = U16Be(tiles + 1);
    for (std::uint32_t id = 1; id <= tiles; ++id) items += item(id, 0, dataStart, coded.size());
    items +=
        grid.headerInMeta
            ? item(gridId, 1, 0, header.size())
            : item(gridId, 0, dataStart + static_cast<std::uint32_t>(coded.size()), header.size());
    return FullBox("iloc", version, 0, std::string("\x44\x00", 2) + items);
  };
  const auto meta = [&](std::uint32_t dataStart) {
    return FullBox("meta", 0, 0,
                   FullBox("hdlr", 0, 0, U32Be(0) + "pict" + std::string(13, '\0')) +
                       FullBox("pitm", 0, 0, U16Be(gridId)) + locations(dataStart) +
                       FullBox("iinf", 0, 0, U16Be(tiles + 1) + infos) +
                       FullBox("iref", 0, 0, Box("dimg", U16Be(gridId) + U16Be(tiles) + tileIds)) +
                       Box("iprp", properties + FullBox("ipma", 0, 0, U32Be(tiles + 1) + ipma)) +
                       (grid.headerInMeta ? Box("idat", header) : ""));
  };
  const std::string ftyp = Box("ftyp", std::string("heic") + U32Be(0) + "mif1heic");
  const auto dataStart = static_cast<std::uint32_t>(ftyp.size() + meta(0).size() + 8);
  return ftyp + meta(dataStart) + Box("mdat", grid.headerInMeta ? coded : coded + header);
}

// --------------------------------------------------------------------- GIF

namespace {

int GifWrite(GifFileType* gif, const GifByteType* data, int size) {
  static_cast<std::string*>(gif->UserData)
      ->append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
  return size;
}

}  // namespace

std::string MakeGif(const Pixels& pixels, bool interlaced) {
  // Palette: index 0 is transparent (pixels with alpha below 128), the others
  // the distinct colours in order of appearance.
  std::map<std::uint32_t, int> index;
  std::vector<GifColorType> colours{{0, 0, 0}};
  for (std::uint32_t p : pixels.argb) {
    if (A(p) < 128 || index.count(p & 0xFFFFFF) != 0) continue;
    Need(colours.size() < 256, "more than 255 colours");
    index[p & 0xFFFFFF] = static_cast<int>(colours.size());
    colours.push_back({R(p), G(p), B(p)});
  }
  colours.resize(256, GifColorType{0, 0, 0});
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, GifWrite, &error);
  Need(gif != nullptr, "EGifOpen");
  EGifSetGifVersion(gif, true);
  ColorMapObject* map = GifMakeMapObject(256, colours.data());
  EGifPutScreenDesc(gif, pixels.width, pixels.height, 8, 0, map);
  GraphicsControlBlock control{0, false, 0, 0};
  GifByteType extension[4];
  const std::size_t length = EGifGCBToExtension(&control, extension);
  EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension);
  EGifPutImageDesc(gif, 0, 0, pixels.width, pixels.height, interlaced, nullptr);
  std::vector<int> order;
  if (interlaced) {
    for (int pass = 0; pass < 4; ++pass) {
      const int start[] = {0, 4, 2, 1};
      const int step[] = {8, 8, 4, 2};
      for (int y = start[pass]; y < pixels.height; y += step[pass]) order.push_back(y);
    }
  } else {
    for (int y = 0; y < pixels.height; ++y) order.push_back(y);
  }
  for (int y : order) {
    std::vector<GifPixelType> line;
    for (int x = 0; x < pixels.width; ++x) {
      const std::uint32_t p = pixels.At(x, y);
      line.push_back(static_cast<GifPixelType>(A(p) < 128 ? 0 : index[p & 0xFFFFFF]));
    }
    Need(EGifPutLine(gif, line.data(), pixels.width) == GIF_OK, "EGifPutLine");
  }
  // A second frame, which the decoder must not show.
  EGifPutImageDesc(gif, 0, 0, 1, 1, false, nullptr);
  GifPixelType one = 1;
  EGifPutLine(gif, &one, 1);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

// -------------------------------------------------------------------- TIFF

std::string MakeTiff(const Pixels& pixels, const TiffOptions& options) {
  const int samples = options.alpha ? 4 : 3;
  const int rowsPerStrip = 2;
  const int strips = (pixels.height + rowsPerStrip - 1) / rowsPerStrip;
  const std::uint32_t stripBytes =
      static_cast<std::uint32_t>(pixels.width * samples * rowsPerStrip);
  const auto build = [&](std::uint32_t dataAt) {
    TiffWriter w(options.motorola ? ByteOrder::kMotorola : ByteOrder::kIntel);
    const int ifd = w.Ifd0();
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> counts;
    for (int s = 0; s < strips; ++s) {
      const int rows = std::min(rowsPerStrip, pixels.height - s * rowsPerStrip);
      offsets.push_back(dataAt + static_cast<std::uint32_t>(s) * stripBytes);
      counts.push_back(static_cast<std::uint32_t>(pixels.width * samples * rows));
    }
    w.Long(ifd, 256, {static_cast<std::uint32_t>(pixels.width)});
    w.Long(ifd, 257, {static_cast<std::uint32_t>(pixels.height)});
    w.Short(ifd, 258, std::vector<std::uint16_t>(static_cast<std::size_t>(samples), 8));
    w.Short(ifd, 259, {1});
    w.Short(ifd, 262, {2});
    w.Ascii(ifd, 0x010F, "Peloria");
    if (!options.model.empty()) w.Ascii(ifd, 0x0110, options.model);
    w.Long(ifd, 273, offsets);
    if (options.orientation != 0)
      w.Short(ifd, 0x0112, {static_cast<std::uint16_t>(options.orientation)});
    w.Short(ifd, 277, {static_cast<std::uint16_t>(samples)});
    w.Long(ifd, 278, {static_cast<std::uint32_t>(rowsPerStrip)});
    w.Long(ifd, 279, counts);
    w.Short(ifd, 284, {1});
    if (options.alpha) w.Short(ifd, 338, {2});
    if (options.fNumberTimesTen != 0)
      w.Rational(w.ExifIfd(), 0x829D, {{options.fNumberTimesTen, 10}});
    return w.Build();
  };
  const std::size_t size = build(0).size();
  std::string file = build(static_cast<std::uint32_t>(size));
  for (int y = 0; y < pixels.height; ++y) {
    for (int x = 0; x < pixels.width; ++x) {
      const std::uint32_t p = pixels.At(x, y);
      file += static_cast<char>(R(p));
      file += static_cast<char>(G(p));
      file += static_cast<char>(B(p));
      if (options.alpha) file += static_cast<char>(A(p));
    }
  }
  return file;
}

std::string MakeTiledTiff(const Pixels& pixels) {
  std::string path = (std::filesystem::temp_directory_path() / "peloria-tiff-XXXXXX").string();
  const int fd = ::mkstemp(path.data());
  Need(fd >= 0, "mkstemp");
  ::close(fd);
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  Need(tiff != nullptr, "TIFFOpen");
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, pixels.width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, pixels.height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
  TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
  std::vector<std::uint8_t> tile(16 * 16 * 3);
  for (int ty = 0; ty < pixels.height; ty += 16) {
    for (int tx = 0; tx < pixels.width; tx += 16) {
      std::fill(tile.begin(), tile.end(), 0);
      for (int y = 0; y < 16 && ty + y < pixels.height; ++y) {
        for (int x = 0; x < 16 && tx + x < pixels.width; ++x) {
          const std::uint32_t p = pixels.At(tx + x, ty + y);
          std::uint8_t* t = tile.data() + (y * 16 + x) * 3;
          t[0] = R(p);
          t[1] = G(p);
          t[2] = B(p);
        }
      }
      Need(TIFFWriteTile(tiff, tile.data(), static_cast<std::uint32_t>(tx),
                         static_cast<std::uint32_t>(ty), 0, 0) > 0,
           "TIFFWriteTile");
    }
  }
  TIFFClose(tiff);
  std::ifstream in(path, std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  return file;
}

std::string MakeSharedJpegTileTiff(std::uint32_t side, int scans) {
  const std::string jpeg = MakeEmptyScansJpeg(16, 16, scans);
  const std::uint32_t across = (side + 15) / 16;
  const std::size_t tiles = std::size_t{across} * across;
  const auto build = [&](std::uint32_t jpegAt) {
    TiffWriter w(ByteOrder::kIntel);
    const int ifd = w.Ifd0();
    w.Long(ifd, 256, {side});
    w.Long(ifd, 257, {side});
    w.Short(ifd, 258, {8});
    w.Short(ifd, 259, {7});  // JPEG
    w.Short(ifd, 262, {1});  // black is zero
    w.Short(ifd, 277, {1});
    w.Short(ifd, 284, {1});
    w.Long(ifd, 322, {16});
    w.Long(ifd, 323, {16});
    w.Long(ifd, 324, std::vector<std::uint32_t>(tiles, jpegAt));
    w.Long(ifd, 325, std::vector<std::uint32_t>(tiles, static_cast<std::uint32_t>(jpeg.size())));
    return w.Build();
  };
  const auto jpegAt = static_cast<std::uint32_t>(build(0).size());
  return build(jpegAt) + jpeg;
}

// -------------------------------------------------------------------- icons

namespace {

std::string IconBitmap(const Pixels& p, bool alpha) {
  const int bits = alpha ? 32 : 24;
  const int rowBytes = (p.width * bits + 31) / 32 * 4;
  const int maskRow = (p.width + 31) / 32 * 4;
  std::string s = U32Le(40) + U32Le(static_cast<std::uint32_t>(p.width)) +
                  U32Le(static_cast<std::uint32_t>(2 * p.height)) + U16Le(1) + U16Le(bits) +
                  U32Le(0) + U32Le(static_cast<std::uint32_t>((rowBytes + maskRow) * p.height)) +
                  U32Le(0) + U32Le(0) + U32Le(0) + U32Le(0);
  for (int y = p.height - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < p.width; ++x) {
      const std::uint32_t v = p.At(x, y);
      row += {static_cast<char>(B(v)), static_cast<char>(G(v)), static_cast<char>(R(v))};
      if (alpha) row += static_cast<char>(A(v));
    }
    row.resize(static_cast<std::size_t>(rowBytes), '\0');
    s += row;
  }
  for (int y = p.height - 1; y >= 0; --y) {
    std::string row(static_cast<std::size_t>(maskRow), '\0');
    for (int x = 0; x < p.width; ++x) {
      if (!alpha && A(p.At(x, y)) < 128)
        row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
    }
    s += row;
  }
  return s;
}

}  // namespace

std::string MakeIcon(const std::vector<IconImage>& images) {
  std::string directory = U16Le(0) + U16Le(1) + U16Le(static_cast<std::uint32_t>(images.size()));
  std::string data;
  const std::size_t first = 6 + 16 * images.size();
  for (const IconImage& image : images) {
    const std::string bytes =
        image.png ? MakePng(image.pixels) : IconBitmap(image.pixels, image.alpha);
    directory += static_cast<char>(image.pixels.width >= 256 ? 0 : image.pixels.width);
    directory += static_cast<char>(image.pixels.height >= 256 ? 0 : image.pixels.height);
    directory += std::string(2, '\0') + U16Le(1) + U16Le(image.alpha ? 32 : 24) +
                 U32Le(static_cast<std::uint32_t>(bytes.size())) +
                 U32Le(static_cast<std::uint32_t>(first + data.size()));
    data += bytes;
  }
  return directory + data;
}

std::string ExifBlock(bool motorola, int orientation, const std::string& model) {
  TiffWriter w(motorola ? ByteOrder::kMotorola : ByteOrder::kIntel);
  w.Ascii(w.Ifd0(), 0x010F, "Peloria");
  w.Ascii(w.Ifd0(), 0x0110, model);
  if (orientation != 0) w.Short(w.Ifd0(), 0x0112, {static_cast<std::uint16_t>(orientation)});
  const int exif = w.ExifIfd();
  w.Rational(exif, 0x829A, {{1, 125}});
  w.Rational(exif, 0x829D, {{28, 10}});
  return w.Build();
}

}  // namespace peloria::testing
