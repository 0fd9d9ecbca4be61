// GIF through giflib: the first image of the file, read line by line, on a
// white canvas of the file's logical screen size. Pixels of the transparent
// colour (from the graphic control extension before the image) and the
// parts of the screen the image does not cover stay white. Later images of
// an animation are not read at all.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "picture/decoder_support.h"
#include "picture/raster.h"

namespace peloria {

namespace {

constexpr std::string_view kKind = "GIF";

struct MemoryFile {
  std::span<const std::uint8_t> bytes;
  std::size_t position = 0;
};

int ReadProc(GifFileType* gif, GifByteType* buffer, int count) {
  auto* file = static_cast<MemoryFile*>(gif->UserData);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)),
                                              file->bytes.size() - file->position);
  std::memcpy(buffer, file->bytes.data() + file->position, n);
  file->position += n;
  return static_cast<int>(n);
}

struct GifClose {
  void operator()(GifFileType* gif) const {
    int ignored = 0;
    DGifCloseFile(gif, &ignored);
  }
};

[[noreturn]] void Fail(int error) {
  const char* text = GifErrorString(error);
  InvalidImage(kKind, text != nullptr ? text : "unknown error");
}

// Reads the first image's rows onto the canvas. Interlaced images deliver
// their rows in four passes: every 8th row from 0, every 8th from 4, every
// 4th from 2, every 2nd from 1.
void ReadImage(GifFileType* gif, int transparent, TBitmap& into) {
  const GifImageDesc& desc = gif->Image;
  const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
  if (map == nullptr || map->Colors == nullptr) InvalidImage(kKind, "no colour table");
  const int width = desc.Width;
  const int height = desc.Height;
  std::vector<GifPixelType> line(static_cast<std::size_t>(width));
  const auto putRow = [&](int row) {
    const int y = desc.Top + row;
    std::uint8_t* dst = into.ScanLine(y) + 3 * std::int64_t{desc.Left};
    for (int x = 0; x < width; ++x, dst += 3) {
      const int index = line[static_cast<std::size_t>(x)];
      if (index == transparent || index >= map->ColorCount) continue;  // white
      const GifColorType& c = map->Colors[index];
      dst[0] = c.Blue;
      dst[1] = c.Green;
      dst[2] = c.Red;
    }
  };
  const auto readRow = [&](int row) {
    if (DGifGetLine(gif, line.data(), width) == GIF_ERROR) Fail(gif->Error);
    putRow(row);
  };
  if (desc.Interlace) {
    constexpr int kStart[] = {0, 4, 2, 1};
    constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
      for (int row = kStart[pass]; row < height; row += kStep[pass]) readRow(row);
    }
  } else {
    for (int row = 0; row < height; ++row) readRow(row);
  }
}

}  // namespace

void DecodeGif(std::span<const std::uint8_t> bytes, TBitmap& into) {
  MemoryFile file{bytes, 0};
  int error = 0;
  std::unique_ptr<GifFileType, GifClose> gif(DGifOpen(&file, ReadProc, &error));
  if (!gif) Fail(error);

  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) Fail(gif->Error);
    if (type == TERMINATE_RECORD_TYPE) InvalidImage(kKind, "no image");
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) Fail(gif->Error);
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
        GraphicsControlBlock control{};
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
          transparent = control.TransparentColor;
        }
      }
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) Fail(gif->Error);
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) Fail(gif->Error);
    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0 || desc.Left < 0 || desc.Top < 0) {
      InvalidImage(kKind, "no pixels");
    }
    // The canvas is the logical screen, grown where the image reaches beyond
    // it (some writers leave the screen size 0).
    const std::int64_t width =
        std::max<std::int64_t>(gif->SWidth, std::int64_t{desc.Left} + desc.Width);
    const std::int64_t height =
        std::max<std::int64_t>(gif->SHeight, std::int64_t{desc.Top} + desc.Height);
    StartRgbBitmap(into, width, height, kKind);
    for (int y = 0; y < height; ++y) std::memset(into.ScanLine(y), 0xFF, 3 * width);
    ReadImage(gif.get(), transparent, into);
    return;
  }
}

// GIF files start with "GIF87a" or "GIF89a" and carry no Exif data.
PELORIA_RASTER_KIND_DEFINITION(TGifImage){
    .graphic = TGifImage::StaticClass,
    .names = {{{"gif", "GIF イメージファイル"}}},
    .signature =
        [](ByteSpan head) {
          return HasBytesAt(head, 0, "GIF87a") || HasBytesAt(head, 0, "GIF89a");
        },
    .decode = DecodeGif,
};

}  // namespace peloria
