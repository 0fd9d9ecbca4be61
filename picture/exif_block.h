// The Exif data of pictures that are no JPEG files: the TIFF block (starting
// with "II*\0" or "MM\0*") that a PNG eXIf chunk, a WebP EXIF chunk (with or
// without a leading "Exif\0\0"), the Exif item of a HEIF file (after its
// 4-byte offset) or a TIFF file itself holds: a TIFF file only when its
// first directory points at an Exif directory or holds shooting tags (a
// scanned picture's directory is no Exif data). The kind is taken from the
// file's signature, whatever its extension.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace peloria {

// The TIFF block of the file at `path` (CP932), or none when the file cannot
// be read, is no such container, is broken, holds no Exif data, or its data
// does not start with a TIFF header or exceeds kMaxExifBlockBytes (a TIFF
// file: kMaxBitmapBytes). Never raises.
std::optional<std::vector<std::uint8_t>> ReadExifBlock(const std::string& path);

// The first directory of the TIFF file at `path` as a TIFF block, whether or
// not it holds Exif data: a scan's own Orientation tag turns its thumbnail
// though the scan has no shooting data to summarise. None for other kinds and
// broken files. Never raises.
std::optional<std::vector<std::uint8_t>> ReadTiffDirectory(const std::string& path);

// The same for a whole file held in memory.
std::optional<std::vector<std::uint8_t>> ExifBlockOf(std::span<const std::uint8_t> file);

// The readers of each container, for the kinds' declarations (kind.h): the
// TIFF block of a whole PNG, WebP, HEIF or TIFF file, as ExifBlockOf.
std::optional<std::vector<std::uint8_t>> PngExifBlock(std::span<const std::uint8_t> file);
std::optional<std::vector<std::uint8_t>> WebPExifBlock(std::span<const std::uint8_t> file);
std::optional<std::vector<std::uint8_t>> HeifExifBlock(std::span<const std::uint8_t> file);
std::optional<std::vector<std::uint8_t>> TiffExifBlock(std::span<const std::uint8_t> file);

}  // namespace peloria
