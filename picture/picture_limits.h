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

// The most strips or tiles a TIFF picture may have. libtiff starts its
// decompressor afresh for each; a picture at the bitmap bound cut into
// tiles of 64 x 64 pixels, small for tiles, has about 90,000.
inline constexpr std::int64_t kMaxTiffUnits = 1 << 18;

// What starting one scan of a JPEG-compressed TIFF strip or tile costs,
// counted in blocks like the scan's own work against kMaxJpegBlockVisits.
// libtiff decodes every JPEG unit with its own scans (up to 100 of them)
// and none of the JPEG decoder's bounds, once for every place that points
// at it: a file of 2 MB whose 250,000 tiles all pointed at one 99-scan
// stream took 8 seconds.
inline constexpr std::int64_t kTiffJpegScanStartBlocks = 64;

// PNG: a chunk may not declare more bytes than the file holds (libpng
// allocates the declared length first); libpng keeps its limit of a million
// pixels a side.

// Scans a JPEG file may have at most. Each scan costs a pass over the whole
// picture, and a scan header is a few bytes, so without a limit a small file
// that repeats scans (the decoder only warns about such a progression) keeps
// the decoder busy for hours on a large picture. Encoders write about ten.
inline constexpr int kMaxJpegScans = 500;

// The most coefficient blocks (8 x 8 samples of one component) a JPEG
// decode may visit, over all its scans and (decoding pass by pass) output
// passes. Each scan of a progressive file visits every block of the
// picture, however few bytes it has, so the scan limit alone let a file of
// 5 KB declare 22000 x 22000 pixels and keep the decoder busy for 20
// seconds with 500 empty scans. Counting every component in every scan, a
// 100-megapixel colour photograph of ten scans visits about 25 million
// blocks; the decoder visits empty blocks at about 100 million a second, so
// this bound (about 134 million) keeps the worst file near a second. It
// follows the bitmap bound, so fuzzing builds lower it too.
inline constexpr std::int64_t kMaxJpegBlockVisits = kMaxBitmapBytes / 8;

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

// HEIC and AVIF: the most items (coded pictures, tiles, metadata) a file
// may declare, and the most tiles a grid picture may have. libheif's time
// grows with the square of the item count (each tile's properties and
// references are looked up among all items), so a file of a few hundred
// kilobytes whose tiles share one coded picture could keep it busy for a
// minute, and each tile costs a decoder start (about half a millisecond).
// A phone's 48-megapixel picture has a few hundred 512-pixel tiles.
inline constexpr std::int64_t kMaxHeifItems = 4096;
inline constexpr std::int64_t kMaxHeifGridTiles = 2048;

// The largest Exif block taken from a PNG, WebP or HEIF container. A JPEG
// file holds at most 64 KiB of Exif; other containers have no such limit,
// but a camera's block with maker notes and a preview stays far below this.
inline constexpr std::size_t kMaxExifBlockBytes = std::size_t{16} << 20;

// How many bytes of a file's start decide its kind by signature. The longest
// signature looked at is the HEIF file-type box with its brands.
inline constexpr std::size_t kSignatureBytes = 64;

}  // namespace peloria
