// The bounds of the picture folder, in one place. Each keeps a hostile or
// broken file from costing more memory or time than a real picture would.
#pragma once

#include <cstddef>
#include <cstdint>

namespace peloria {

// The largest pixel image a bitmap may hold, in bytes (rows padded to 4
// bytes), and the largest picture file read into memory: 1 GiB holds a
// 24-bit picture of about 350 megapixels, far beyond any camera. Pictures
// whose decoded size would exceed it are refused with EOutOfResources before
// anything is allocated. Builds for fuzzing lower it with
// -DPELORIA_MAX_BITMAP_BYTES=<bytes> (CMake cache variable of the same name).
#ifndef PELORIA_MAX_BITMAP_BYTES
#define PELORIA_MAX_BITMAP_BYTES (std::int64_t{1} << 30)
#endif
inline constexpr std::int64_t kMaxBitmapBytes = PELORIA_MAX_BITMAP_BYTES;

// What a decoder may need beside the finished bitmap (colour planes, an
// alpha picture, strip buffers), in bytes. A file whose header promises more
// is refused before decoding, so a few hundred bytes cannot make a decoder
// take gigabytes. It follows the bitmap bound, so fuzzing builds lower both.
inline constexpr std::int64_t kMaxDecoderWorkingBytes = kMaxBitmapBytes;

// The largest single block a TIFF decoder may allocate (one strip or tile,
// a tag's values). A real strip or tile is a few megabytes; a whole picture
// stored as one uncompressed strip still fits.
inline constexpr std::int64_t kMaxTiffBlockBytes = kMaxBitmapBytes / 4;

// PNG: a chunk may not declare more bytes than the file holds (libpng
// allocates the declared length first); libpng keeps its limit of a million
// pixels a side.

// Scans a JPEG file may have at most. Each scan costs a pass over the whole
// picture, and a scan header is a few bytes, so without a limit a small file
// that repeats scans (the decoder only warns about such a progression) keeps
// the decoder busy for hours on a large picture. Encoders write about ten.
inline constexpr int kMaxJpegScans = 500;

// The most the JPEG decoder may allocate for its own buffers, on top of the
// bitmap it fills. A progressive or multi-scan file keeps every coefficient
// of the picture (two bytes per sample), and two-pass colour quantisation
// keeps the whole picture once more: a file of a few hundred bytes can
// declare a size that asks for gigabytes of that. libjpeg refuses buffers
// beyond this bound with JERR_NO_BACKING_STORE when decoding starts (it has
// no temporary files to spill to).
inline constexpr long kMaxJpegDecoderBytes = 1L << 30;

// HEIC and AVIF: libheif checks the size of each coded picture (and of a
// grid's canvas) against a side limit before decoding it. The limit is the
// largest side the file declares, but at least this: a grid's tiles may
// reach beyond a small picture, and conforming files keep tiles within it.
// libheif's own limit, 32768, would let a file of a few hundred bytes
// declare a small picture and code a gigapixel one.
inline constexpr std::int64_t kMaxHeifTileSide = 8192;

// The largest Exif block taken from a PNG, WebP or HEIF container. A JPEG
// file holds at most 64 KiB of Exif; other containers have no such limit,
// but a camera's block with maker notes and a preview stays far below this.
inline constexpr std::size_t kMaxExifBlockBytes = std::size_t{16} << 20;

// How many bytes of a file's start decide its kind by signature. The longest
// signature looked at is the HEIF file-type box with its brands.
inline constexpr std::size_t kSignatureBytes = 64;

}  // namespace peloria
