#include "picture/exif_block.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>

#include "picture/decoder_libraries.h"
#include "picture/errors.h"
#include "picture/formats.h"
#include "picture/graphic.h"
#include "picture/heif_canvas.h"
#include "platform/bytes.h"
#include "platform/stream.h"

namespace peloria {

namespace {

using Block = std::optional<std::vector<std::uint8_t>>;
using Bytes = std::span<const std::uint8_t>;

bool Equal(Bytes data, std::size_t at, const char* text, std::size_t count) {
  return data.size() >= at + count && std::memcmp(data.data() + at, text, count) == 0;
}

// A TIFF block, after an optional "Exif\0\0" (some writers keep the JPEG
// segment's header); none when it does not start with a TIFF header.
Block TiffBlock(Bytes data, std::size_t limit) {
  if (Equal(data, 0, "Exif\0\0", 6)) data = data.subspan(6);
  if (!Equal(data, 0, "II*\0", 4) && !Equal(data, 0, "MM\0*", 4)) return std::nullopt;
  if (data.size() > limit) return std::nullopt;
  return std::vector<std::uint8_t>(data.begin(), data.end());
}

}  // namespace

// PNG: the signature, then chunks of a 4-byte big-endian length, a 4-byte
// type, the data and a 4-byte CRC, up to IEND. The first eXIf chunk counts.
Block PngExifBlock(Bytes file) {
  std::size_t at = 8;
  while (file.size() >= at + 8) {
    const std::uint64_t length = *U32Be(file, at);
    const std::size_t data = at + 8;
    if (length > file.size() - data) return std::nullopt;
    if (Equal(file, at + 4, "eXIf", 4))
      return TiffBlock(file.subspan(data, length), kMaxExifBlockBytes);
    if (Equal(file, at + 4, "IEND", 4)) return std::nullopt;
    at = data + length + 4;
  }
  return std::nullopt;
}

// WebP: "RIFF", the little-endian size, "WEBP", then chunks of a 4-byte type,
// a 4-byte little-endian size, the data and one byte of padding after an odd
// size. The EXIF chunk counts.
Block WebPExifBlock(Bytes file) {
  std::size_t at = 12;
  while (file.size() >= at + 8) {
    const std::uint64_t size = *U32Le(file, at + 4);
    const std::size_t data = at + 8;
    if (size > file.size() - data) return std::nullopt;
    if (Equal(file, at, "EXIF", 4)) return TiffBlock(file.subspan(data, size), kMaxExifBlockBytes);
    at = data + size + (size & 1);
  }
  return std::nullopt;
}

namespace {

struct ContextFree {
  void operator()(heif_context* c) const { HeifLibrary().heif_context_free(c); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { HeifLibrary().heif_image_handle_release(h); }
};

}  // namespace

// HEIF: the primary image's first metadata item of type "Exif". Its data
// starts with the 4-byte big-endian offset of the TIFF header from the end
// of that field.
Block HeifExifBlock(Bytes file) {
  const THeifLibrary& heif = HeifLibrary();
  try {
    CheckHeifItems(file);  // libheif reads every item before the Exif item
  } catch (const EInvalidGraphic&) {
    return std::nullopt;
  }
  std::unique_ptr<heif_context, ContextFree> context(heif.heif_context_alloc());
  if (heif.heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(),
                                                      nullptr)
          .code != heif_error_Ok) {
    return std::nullopt;
  }
  heif_image_handle* raw = nullptr;
  if (heif.heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok) {
    return std::nullopt;
  }
  std::unique_ptr<heif_image_handle, HandleFree> handle(raw);
  heif_item_id id = 0;
  if (heif.heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) < 1) {
    return std::nullopt;
  }
  const std::size_t size = heif.heif_image_handle_get_metadata_size(handle.get(), id);
  if (size < 4 || size > kMaxExifBlockBytes + 4 + 6) return std::nullopt;
  std::vector<std::uint8_t> item(size);
  if (heif.heif_image_handle_get_metadata(handle.get(), id, item.data()).code != heif_error_Ok) {
    return std::nullopt;
  }
  const std::uint64_t offset = *U32Be(item, 0);
  if (offset > size - 4) return std::nullopt;
  return TiffBlock(Bytes(item).subspan(4 + offset), kMaxExifBlockBytes);
}

namespace {

// The tags of a picture's shooting data that cameras may write in the first
// directory itself (the summary's exposure, aperture, speed, bias, focal
// length, light, modes and date of shooting).
constexpr std::uint16_t kShootingTags[] = {
    0x829A, 0x829D, 0x8822, 0x8827, 0x9003, 0x9004, 0x9201, 0x9202,
    0x9204, 0x9207, 0x9208, 0x9209, 0x920A, 0xA402, 0xA403, 0xA405,
};

// True when the first directory of the TIFF block `tiff` points at an Exif
// directory (0x8769) or holds shooting tags itself. A scanner's or an
// editor's TIFF file has a first directory of its own (size, strips,
// perhaps Make and Model) that is no Exif data.
bool HoldsExifData(Bytes tiff) {
  if (tiff.empty()) return false;
  const ByteOrder order = tiff[0] == 'M' ? ByteOrder::kBig : ByteOrder::kLittle;
  const std::optional<std::uint32_t> ifd = ReadU32(tiff, 4, order);
  const std::optional<std::uint16_t> count = ifd ? ReadU16(tiff, *ifd, order) : std::nullopt;
  if (!count) return false;
  for (std::size_t i = 0; i < *count; ++i) {
    const std::optional<std::uint16_t> tag = ReadU16(tiff, *ifd + 2 + 12 * i, order);
    if (!tag) return false;
    if (*tag == 0x8769 || std::find(std::begin(kShootingTags), std::end(kShootingTags), *tag) !=
                              std::end(kShootingTags)) {
      return true;
    }
  }
  return false;
}

}  // namespace

// TIFF: the file itself, when its first directory holds Exif data.
Block TiffExifBlock(Bytes file) {
  if (!HoldsExifData(file)) return std::nullopt;
  return TiffBlock(file, static_cast<std::size_t>(kMaxBitmapBytes));
}

Block ExifBlockOf(Bytes file) {
  const TPictureKind* kind =
      PictureKindBySignature(file.first(std::min(file.size(), kSignatureBytes)));
  if (kind == nullptr || kind->exifBlock == nullptr) return std::nullopt;
  return kind->exifBlock(file);
}

namespace {

// The whole file at `path` when its kind has an Exif block; the kind too.
std::optional<std::pair<const TPictureKind*, std::vector<std::uint8_t>>> ReadKindFile(
    const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::kOpenReadDenyWrite);
  // Only the files of kinds with an Exif block are read whole.
  std::uint8_t head[kSignatureBytes] = {};
  const auto got = stream.Read(head, sizeof head);
  const TPictureKind* kind = PictureKindBySignature(Bytes(head, static_cast<std::size_t>(got)));
  if (kind == nullptr || kind->exifBlock == nullptr) return std::nullopt;
  stream.Seek(0);
  return std::make_pair(kind, ReadRestOfStream(stream));
}

}  // namespace

Block ReadExifBlock(const std::string& path) {
  try {
    const auto file = ReadKindFile(path);
    return file ? ExifBlockOf(file->second) : std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Block ReadTiffDirectory(const std::string& path) {
  try {
    const auto file = ReadKindFile(path);
    if (!file || file->first->exifBlock != TiffExifBlock) return std::nullopt;
    return TiffBlock(file->second, static_cast<std::size_t>(kMaxBitmapBytes));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace peloria
