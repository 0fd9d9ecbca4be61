// Builds TIFF blocks and JPEG files with Exif data for tests, in Intel ("II",
// little-endian) or Motorola ("MM", big-endian) byte order.
//
// A TiffWriter holds directories (IFDs) of entries. Directory 0 (IFD0)
// exists from the start; ExifIfd(), InteropIfd() and Ifd1() create the usual
// others on first use and wire them up (ExifIFDPointer 0x8769 appended to
// IFD0, InteroperabilityIFDPointer 0xA005 appended to the Exif IFD, IFD0's
// next-IFD link to IFD1). AddIfd() creates a bare directory for chains and
// loops. Entries stay in the order they were added (tests control the order
// the reader meets them in); values of 4 bytes or fewer stand in the entry's
// value field, longer ones follow their directory and the field holds their
// offset.
//
// File layout of Build(): the 8-byte header ("II"/"MM", magic 42, offset 8 of
// IFD0), then each directory in creation order followed by its values; every
// piece starts at an even offset. IfdOffset() tells where a directory landed.
//
// Hostile cases: AddRawField() writes any 4-byte value field (offsets beyond
// the file, near 2^32), AddRaw() any type code, count and bytes (counts need
// not match the bytes), SetNextRaw() any next-IFD offset, SetMark() and
// SetMagic() any header, SetFirstIfdOffset() any IFD0 offset; Patch() changes
// bytes of a built block or file.
//
//   TiffWriter w(ByteOrder::kMotorola);
//   w.Ascii(w.Ifd0(), 0x0110, "Model");
//   w.Rational(w.ExifIfd(), 0x829D, {{28, 10}});
//   std::string file = JpegWithExif(w.Build(), JpegOptions().Jfif());
//   // TIFF header at kTiffStartJfif in that file
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace peloria::testing {

enum class ByteOrder { kIntel, kMotorola };

class TiffWriter {
 public:
  explicit TiffWriter(ByteOrder order);

  ByteOrder Order() const { return order_; }

  // Directories. Each answers the directory's index.
  int Ifd0() const { return 0; }
  int ExifIfd();     // adds 0x8769 to IFD0 on first use
  int InteropIfd();  // adds 0xA005 to the Exif IFD on first use
  int Ifd1();        // links IFD0's next-IFD to it on first use
  int AddIfd();      // a bare directory, linked to nothing

  // Typed entries; the count is the number of values given (for Ascii the
  // text's length plus its terminating zero, unless `terminate` is false).
  void Byte(int ifd, std::uint16_t tag, const std::vector<std::uint8_t>& values);
  void Ascii(int ifd, std::uint16_t tag, const std::string& text, bool terminate = true);
  void Short(int ifd, std::uint16_t tag, const std::vector<std::uint16_t>& values);
  void Long(int ifd, std::uint16_t tag, const std::vector<std::uint32_t>& values);
  void Rational(int ifd, std::uint16_t tag,
                const std::vector<std::pair<std::uint32_t, std::uint32_t>>& values);
  void SByte(int ifd, std::uint16_t tag, const std::vector<std::int8_t>& values);
  void Undefined(int ifd, std::uint16_t tag, const std::string& bytes);
  void SShort(int ifd, std::uint16_t tag, const std::vector<std::int16_t>& values);
  void SLong(int ifd, std::uint16_t tag, const std::vector<std::int32_t>& values);
  void SRational(int ifd, std::uint16_t tag,
                 const std::vector<std::pair<std::int32_t, std::int32_t>>& values);
  void Float(int ifd, std::uint16_t tag, const std::vector<float>& values);
  void Double(int ifd, std::uint16_t tag, const std::vector<double>& values);

  // Any type code and count with `bytes` as the value's bytes exactly as
  // they shall stand in the file (in place when at most 4 bytes, else by
  // offset, whatever type and count say).
  void AddRaw(int ifd, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
              const std::string& bytes);
  // Any type code and count with the 4-byte value field `field` (an offset or
  // in-place bytes, written in the block's byte order); no data is stored.
  void AddRawField(int ifd, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                   std::uint32_t field);
  // A LONG entry whose value is the offset of directory `target`.
  void AddPointer(int ifd, std::uint16_t tag, int target);

  // Next-IFD links: to a directory, or any raw offset (0 ends the chain).
  void SetNext(int ifd, int target);
  void SetNextRaw(int ifd, std::uint32_t offset);

  // Header overrides: the 2 bytes of the byte-order mark (the block is still
  // written in the order given to the constructor), the magic number, the
  // offset of IFD0.
  void SetMark(const std::string& twoBytes) { mark_ = twoBytes; }
  void SetMagic(std::uint16_t magic) { magic_ = magic; }
  void SetFirstIfdOffset(std::uint32_t offset) { firstIfd_ = offset; }

  // The TIFF block.
  std::string Build();
  // Offset of directory `ifd` from the TIFF header in the last Build().
  std::uint32_t IfdOffset(int ifd) const;

  // Numbers in the block's byte order.
  std::string U16(std::uint16_t v) const;
  std::string U32(std::uint32_t v) const;

 private:
  struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::string data;                    // value bytes, when stored
    std::optional<std::uint32_t> field;  // raw value field
    int target = -1;                     // pointer to a directory
  };
  struct Ifd {
    std::vector<Entry> entries;
    int next = -1;
    std::optional<std::uint32_t> nextRaw;
  };
  void Put(int ifd, std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::string data);

  ByteOrder order_;
  std::string mark_;
  std::uint16_t magic_ = 42;
  std::optional<std::uint32_t> firstIfd_;
  std::vector<Ifd> ifds_;
  int exif_ = -1;
  int interop_ = -1;
  int ifd1_ = -1;
  std::vector<std::uint32_t> offsets_;
};

// Options of JpegWithExif; set members directly or chain the setters:
// JpegOptions().Jfif().Body(AfterSoi(jpeg)). (Designated initializers trip
// -Wmissing-field-initializers.)
struct JpegOptions {
  // A JFIF APP0 segment of 18 bytes (16 after its marker) before the APP1.
  bool jfif = false;
  // Bytes between SOI (or APP0) and the APP1 marker, to move it further in.
  std::string padding;
  // The 6 bytes after the APP1 length ("Exif" followed by two zero bytes).
  std::string exifHeader = std::string("Exif\0\0", 6);
  // Bytes after the APP1 segment: for a decodable file, a JPEG without its
  // first two bytes (see AfterSoi); empty gives just an EOI marker.
  std::string body;
  // The first two bytes of the file.
  std::string soi = "\xFF\xD8";

  JpegOptions& Jfif(bool on = true) {
    jfif = on;
    return *this;
  }
  JpegOptions& Padding(std::string bytes) {
    padding = std::move(bytes);
    return *this;
  }
  JpegOptions& ExifHeader(std::string six) {
    exifHeader = std::move(six);
    return *this;
  }
  JpegOptions& Body(std::string bytes) {
    body = std::move(bytes);
    return *this;
  }
  JpegOptions& Soi(std::string two) {
    soi = std::move(two);
    return *this;
  }
};

// File position of the TIFF header in JpegWithExif's result.
constexpr std::int64_t kTiffStartPlain = 12;  // SOI, APP1 marker, length, "Exif\0\0"
constexpr std::int64_t kTiffStartJfif = 30;   // the same after an 18-byte JFIF APP0

// SOI, [APP0], [padding], APP1 (marker, length, header, `tiff`), body or EOI.
std::string JpegWithExif(const std::string& tiff, const JpegOptions& options = {});

// `jpeg` without its SOI marker, for JpegOptions::body.
std::string AfterSoi(const std::string& jpeg);

// Overwrites bytes of `block` at `at` (growing it when needed).
void Patch(std::string& block, std::size_t at, const std::string& bytes);

}  // namespace peloria::testing
