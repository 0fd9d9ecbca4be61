// TExifInfo: reads the Exif data of a JPEG file, or a TIFF block held in
// memory, and exposes the shooting data as typed fields with Japanese (CP932)
// value texts.
//
// Use: ask HasExif(name) first; then assign the name with SetImageFileName,
// which clears every result, finds the Exif header and walks the TIFF
// directories at once; then read the public result fields. A TIFF block that
// another container carried (a PNG eXIf chunk, a WebP EXIF chunk, a HEIF Exif
// item, a JPEG XL Exif box, a TIFF file) is handed to SetTiffBlock, which
// walks it the same way.
//
// The file is read in small pieces at explicit positions, never as a whole,
// and opened at most twice per assignment (header search, directory walk).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exif/exif_tags.h"
#include "exif/exif_text.h"
#include "exif/exif_value.h"

namespace peloria {

class TExifInfo : public TExifResults {
 public:
  TExifInfo() = default;
  virtual ~TExifInfo() = default;
  TExifInfo(const TExifInfo&) = delete;
  TExifInfo& operator=(const TExifInfo&) = delete;

  // --- Properties ---
  // Stores the name, clears the results, searches the Exif header and, when
  // found, walks the directories; otherwise calls DoReadError. Failures of the
  // walk (EFOpenError when the file vanished or is locked since the search,
  // EReadError when the byte-order mark cannot be read) pass to the caller;
  // fields filled before them keep their values.
  void SetImageFileName(const std::string& name);
  const std::string& ImageFileName() const { return FImageFileName; }

  // Walks the TIFF block of `size` bytes at `data` ("II*\0" or "MM\0*" at
  // data[0], every offset relative to data[0]) like the TIFF block of a file:
  // clears the results and ImageFileName, then fills the same fields. A block
  // that does not start with one of the two TIFF headers calls DoReadError.
  // The bytes are read during the call only; the fields hold copies.
  // MakerNoteOffset is then a position inside the block.
  void SetTiffBlock(const std::uint8_t* data, std::size_t size);

  // The APP1 marker is searched for from file offset 2 while the read position
  // stays within this many bytes of the file start.
  std::int32_t SearchRange = 32;

  // Called with the component as sender when an assigned file has no Exif
  // header.
  std::function<void(TExifInfo& sender)> OnReadError;

  // --- Operations ---
  // True when the file exists, starts with a JPEG start-of-image marker and
  // holds an Exif header within SearchRange. Never raises; touches no result.
  bool HasExif(const std::string& fileName);

  // Whether the last walk filled the field that `ExifTags()[row]` names.
  bool Has(std::size_t row) const { return row < Present.size() && Present[row]; }

  // Whether the last assignment found a TIFF block and walked it (until the
  // next ClearData).
  bool Walked() const { return FWalked; }

  // The byte order of the last walk: true for "MM" (big-endian).
  bool MotorolaOrder() const { return FMotorolaOrder; }

  // Makes this component hold the results of `source`'s last assignment (its
  // fields, file name, byte order and search range); OnReadError stays.
  void Assign(const TExifInfo& source);

  // Resets every result field. Keeps ImageFileName, SearchRange, OnReadError
  // and the byte order of the last walk.
  void ClearData();

  // Calls OnReadError, when assigned, with this component as sender.
  virtual void DoReadError();

  // Searches the Exif header; on success answers true and sets `tiffStart`
  // to the file position of the TIFF header. Never raises.
  bool FindExifHeader(const std::string& fileName, std::int64_t& tiffStart);

  // Walks the TIFF directories of ImageFileName from `tiffStart`.
  void ReadExif(std::int64_t tiffStart);

 private:
  // The walk of both entrances: the TIFF header at `tiffStart` in `stream`.
  void WalkTiff(TStream& stream, std::int64_t tiffStart);
  void WalkDirectories(TStream& stream, std::int64_t tiffStart);

  bool FMotorolaOrder = false;
  bool FWalked = false;
  std::string FImageFileName;
};

}  // namespace peloria
