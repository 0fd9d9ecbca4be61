#include "tests/support/tiff_writer.h"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace peloria::testing {

TiffWriter::TiffWriter(ByteOrder order)
    : order_(order), mark_(order == ByteOrder::kMotorola ? "MM" : "II"), ifds_(1) {}

int TiffWriter::ExifIfd() {
  if (exif_ < 0) {
    exif_ = AddIfd();
    AddPointer(Ifd0(), 0x8769, exif_);
  }
  return exif_;
}

int TiffWriter::InteropIfd() {
  if (interop_ < 0) {
    int exif = ExifIfd();
    interop_ = AddIfd();
    AddPointer(exif, 0xA005, interop_);
  }
  return interop_;
}

int TiffWriter::Ifd1() {
  if (ifd1_ < 0) {
    ifd1_ = AddIfd();
    SetNext(Ifd0(), ifd1_);
  }
  return ifd1_;
}

int TiffWriter::AddIfd() {
  ifds_.emplace_back();
  return static_cast<int>(ifds_.size()) - 1;
}

std::string TiffWriter::U16(std::uint16_t v) const {
  std::string s(2, '\0');
  s[0] = static_cast<char>(order_ == ByteOrder::kMotorola ? v >> 8 : v);
  s[1] = static_cast<char>(order_ == ByteOrder::kMotorola ? v : v >> 8);
  return s;
}

std::string TiffWriter::U32(std::uint32_t v) const {
  return order_ == ByteOrder::kMotorola
             ? U16(static_cast<std::uint16_t>(v >> 16)) + U16(static_cast<std::uint16_t>(v))
             : U16(static_cast<std::uint16_t>(v)) + U16(static_cast<std::uint16_t>(v >> 16));
}

void TiffWriter::Put(int ifd, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                     std::string data) {
  Entry e;
  e.tag = tag;
  e.type = type;
  e.count = count;
  e.data = std::move(data);
  ifds_.at(static_cast<std::size_t>(ifd)).entries.push_back(std::move(e));
}

void TiffWriter::Byte(int ifd, std::uint16_t tag, const std::vector<std::uint8_t>& values) {
  Put(ifd, tag, 1, static_cast<std::uint32_t>(values.size()),
      std::string(values.begin(), values.end()));
}

void TiffWriter::Ascii(int ifd, std::uint16_t tag, const std::string& text, bool terminate) {
  std::string data = terminate ? text + '\0' : text;
  Put(ifd, tag, 2, static_cast<std::uint32_t>(data.size()), data);
}

void TiffWriter::Short(int ifd, std::uint16_t tag, const std::vector<std::uint16_t>& values) {
  std::string data;
  for (auto v : values) data += U16(v);
  Put(ifd, tag, 3, static_cast<std::uint32_t>(values.size()), data);
}

void TiffWriter::Long(int ifd, std::uint16_t tag, const std::vector<std::uint32_t>& values) {
  std::string data;
  for (auto v : values) data += U32(v);
  Put(ifd, tag, 4, static_cast<std::uint32_t>(values.size()), data);
}

void TiffWriter::Rational(int ifd, std::uint16_t tag,
                          const std::vector<std::pair<std::uint32_t, std::uint32_t>>& values) {
  std::string data;
  for (auto [n, d] : values) data += U32(n) + U32(d);
  Put(ifd, tag, 5, static_cast<std::uint32_t>(values.size()), data);
}

void TiffWriter::SByte(int ifd, std::uint16_t tag, const std::vector<std::int8_t>& values) {
  Put(ifd, tag, 6, static_cast<std::uint32_t>(values.size()),
      std::string(values.begin(), values.end()));
}

void TiffWriter::Undefined(int ifd, std::uint16_t tag, const std::string& bytes) {
  Put(ifd, tag, 7, static_cast<std::uint32_t>(bytes.size()), bytes);
}

void TiffWriter::SShort(int ifd, std::uint16_t tag, const std::vector<std::int16_t>& values) {
  std::string data;
  for (auto v : values) data += U16(static_cast<std::uint16_t>(v));
  Put(ifd, tag, 8, static_cast<std::uint32_t>(values.size()), data);
}

void TiffWriter::SLong(int ifd, std::uint16_t tag, const std::vector<std::int32_t>& values) {
  std::string data;
  for (auto v : values) data += U32(static_cast<std::uint32_t>(v));
  Put(ifd, tag, 9, static_cast<std::uint32_t>(values.size()), data);
}

void TiffWriter::SRational(int ifd, std::uint16_t tag,
                           const std::vector<std::pair<std::int32_t, std::int32_t>>& values) {
  std::string data;
  for (auto [n, d] : values)
    data += U32(static_cast<std::uint32_t>(n)) + U32(static_cast<std::uint32_t>(d));
  Put(ifd, tag, 10, static_cast<std::uint32_t>(values.size()), data);
}

void TiffWriter::Float(int ifd, std::uint16_t tag, const std::vector<float>& values) {
  std::string data;
  for (float v : values) data += U32(std::bit_cast<std::uint32_t>(v));
  Put(ifd, tag, 11, static_cast<std::uint32_t>(values.size()), data);
}

void TiffWriter::Double(int ifd, std::uint16_t tag, const std::vector<double>& values) {
  std::string data;
  for (double v : values) {
    auto bits = std::bit_cast<std::uint64_t>(v);
    data +=
        order_ == ByteOrder::kMotorola
            ? U32(static_cast<std::uint32_t>(bits >> 32)) + U32(static_cast<std::uint32_t>(bits))
            : U32(static_cast<std::uint32_t>(bits)) + U32(static_cast<std::uint32_t>(bits >> 32));
  }
  Put(ifd, tag, 12, static_cast<std::uint32_t>(values.size()), data);
}

void TiffWriter::AddRaw(int ifd, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                        const std::string& bytes) {
  Put(ifd, tag, type, count, bytes);
}

void TiffWriter::AddRawField(int ifd, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                             std::uint32_t field) {
  Put(ifd, tag, type, count, {});
  ifds_.at(static_cast<std::size_t>(ifd)).entries.back().field = field;
}

void TiffWriter::AddPointer(int ifd, std::uint16_t tag, int target) {
  Put(ifd, tag, 4, 1, {});
  ifds_.at(static_cast<std::size_t>(ifd)).entries.back().target = target;
}

void TiffWriter::SetNext(int ifd, int target) {
  auto& d = ifds_.at(static_cast<std::size_t>(ifd));
  d.next = target;
  d.nextRaw.reset();
}

void TiffWriter::SetNextRaw(int ifd, std::uint32_t offset) {
  auto& d = ifds_.at(static_cast<std::size_t>(ifd));
  d.next = -1;
  d.nextRaw = offset;
}

std::uint32_t TiffWriter::IfdOffset(int ifd) const {
  return offsets_.at(static_cast<std::size_t>(ifd));
}

namespace {

bool Stored(const std::string& data) {
  return data.size() > 4;
}
std::size_t Even(std::size_t n) {
  return n + (n & 1);
}

}  // namespace

std::string TiffWriter::Build() {
  // First pass: where each directory lands.
  offsets_.assign(ifds_.size(), 0);
  std::size_t at = 8;
  for (std::size_t i = 0; i < ifds_.size(); ++i) {
    offsets_[i] = static_cast<std::uint32_t>(at);
    at += 2 + 12 * ifds_[i].entries.size() + 4;
    for (const auto& e : ifds_[i].entries)
      if (!e.field && e.target < 0 && Stored(e.data)) at += Even(e.data.size());
  }

  // Second pass: the bytes.
  std::string out = mark_.substr(0, 2);
  out.resize(2, '\0');
  out += U16(magic_) + U32(firstIfd_ ? *firstIfd_ : offsets_[0]);
  for (std::size_t i = 0; i < ifds_.size(); ++i) {
    const Ifd& d = ifds_[i];
    std::size_t dataAt = offsets_[i] + 2 + 12 * d.entries.size() + 4;
    std::string values;
    out += U16(static_cast<std::uint16_t>(d.entries.size()));
    for (const auto& e : d.entries) {
      out += U16(e.tag) + U16(e.type) + U32(e.count);
      if (e.field) {
        out += U32(*e.field);
      } else if (e.target >= 0) {
        out += U32(offsets_.at(static_cast<std::size_t>(e.target)));
      } else if (Stored(e.data)) {
        out += U32(static_cast<std::uint32_t>(dataAt + values.size()));
        values += e.data;
        values.resize(Even(values.size()), '\0');
      } else {
        std::string field = e.data;
        field.resize(4, '\0');
        out += field;
      }
    }
    std::uint32_t next = d.nextRaw     ? *d.nextRaw
                         : d.next >= 0 ? offsets_.at(static_cast<std::size_t>(d.next))
                                       : 0;
    out += U32(next) + values;
  }
  return out;
}

std::string JpegWithExif(const std::string& tiff, const JpegOptions& options) {
  std::string out = options.soi;
  if (options.jfif) {
    // APP0 "JFIF\0", version 1.01, aspect ratio 1:1, no thumbnail.
    out += std::string("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
  }
  out += options.padding;
  std::size_t length = 2 + options.exifHeader.size() + tiff.size();
  if (length > 0xFFFF) length = 0xFFFF;
  out += "\xFF\xE1";
  out += static_cast<char>(length >> 8);
  out += static_cast<char>(length & 0xFF);
  out += options.exifHeader + tiff;
  out += options.body.empty() ? std::string("\xFF\xD9") : options.body;
  return out;
}

std::string AfterSoi(const std::string& jpeg) {
  if (jpeg.size() < 2) throw std::invalid_argument("not a JPEG");
  return jpeg.substr(2);
}

void Patch(std::string& block, std::size_t at, const std::string& bytes) {
  if (block.size() < at + bytes.size()) block.resize(at + bytes.size(), '\0');
  std::memcpy(block.data() + at, bytes.data(), bytes.size());
}

}  // namespace peloria::testing
