// Writers of browser cache entry files in the layouts the reader expects:
// Firefox cache2 entries and Chromium Simple Cache "_0" files. Used by the
// reader's tests and its benchmark.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace peloria::testing {

inline void PutBig32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

inline void PutLittle32(std::string& out, std::uint32_t v) {
  for (int shift = 0; shift <= 24; shift += 8) out += static_cast<char>((v >> shift) & 0xFF);
}

inline void PutLittle64(std::string& out, std::uint64_t v) {
  PutLittle32(out, static_cast<std::uint32_t>(v));
  PutLittle32(out, static_cast<std::uint32_t>(v >> 32));
}

inline std::uint32_t Crc32(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// A response head: the status line and header lines.
struct Head {
  std::string statusLine = "HTTP/1.1 200 OK";
  std::vector<std::string> headers = {"Content-Type: image/jpeg"};
};

// A Firefox cache2 entry: body, metadata hashes, the 32-byte header, the
// key, name/value elements and the body size.
// The part after a body of `bodySize` bytes, for entries whose body a test
// writes itself (a sparse file, say).
inline std::string FirefoxMetadata(
    const std::string& key, const Head& head, std::uint64_t bodySize,
    const std::vector<std::pair<std::string, std::string>>& extra = {}) {
  std::string out;
  PutBig32(out, 0x12345678);  // metadata hash (not checked by readers of the body)
  const std::uint64_t chunks = (bodySize + 256 * 1024 - 1) / (256 * 1024);
  for (std::uint64_t i = 0; i < chunks; ++i) out += "\x01\x02";
  for (std::uint32_t field : {3u, 1u, 1700000000u, 1700000000u, 1u, 1800000000u}) {
    PutBig32(out, field);
  }
  PutBig32(out, static_cast<std::uint32_t>(key.size()));
  PutBig32(out, 0);  // flags
  out += key;
  out += '\0';
  std::string text = head.statusLine + "\r\n";
  for (const std::string& line : head.headers) text += line + "\r\n";
  std::vector<std::pair<std::string, std::string>> elements = {{"request-method", "GET"},
                                                               {"response-head", text}};
  elements.insert(elements.end(), extra.begin(), extra.end());
  for (const auto& [name, value] : elements) {
    out += name;
    out += '\0';
    out += value;
    out += '\0';
  }
  PutBig32(out, static_cast<std::uint32_t>(bodySize));
  return out;
}

inline std::string FirefoxEntry(
    const std::string& key, const Head& head, const std::string& body,
    const std::vector<std::pair<std::string, std::string>>& extra = {}) {
  return body + FirefoxMetadata(key, head, body.size(), extra);
}

// A Chromium Simple Cache "_0" file: header, key, body, its end record,
// the response info (a pickle with the head as NUL-separated lines), the
// key's SHA-256 (zeros here) and the last end record.
inline std::string ChromiumEntry(const std::string& key, const Head& head, const std::string& body,
                                 bool withCrc = true) {
  constexpr std::uint64_t kInitial = 0xfcfb6d1ba7725c30ULL;
  constexpr std::uint64_t kFinal = 0xf4fa6f45970d41d8ULL;
  std::string out;
  PutLittle64(out, kInitial);
  PutLittle32(out, 5);
  PutLittle32(out, static_cast<std::uint32_t>(key.size()));
  PutLittle32(out, 0xCAFEF00D);  // key hash
  PutLittle32(out, 0);
  out += key;
  out += body;
  PutLittle64(out, kFinal);
  PutLittle32(out, withCrc ? 1 : 0);
  PutLittle32(out, withCrc ? Crc32(body) : 0);
  PutLittle32(out, 0);
  PutLittle32(out, 0);

  std::string lines = head.statusLine + '\0';
  for (const std::string& line : head.headers) lines += line + '\0';
  lines += '\0';
  std::string payload;
  PutLittle32(payload, 0x80040003);            // flags
  PutLittle32(payload, 6);                     // extra flags
  PutLittle64(payload, 13400000000000000ULL);  // request time
  PutLittle64(payload, 13400000000000001ULL);  // response time
  PutLittle32(payload, static_cast<std::uint32_t>(lines.size()));
  payload += lines;
  while (payload.size() % 4 != 0) payload += '\0';
  PutLittle32(payload, 9);
  payload += std::string("127.0.0.1\0\0\0", 12);
  std::string info;
  PutLittle32(info, static_cast<std::uint32_t>(payload.size()));
  info += payload;

  out += info;
  out += std::string(32, '\x5A');  // the key's SHA-256
  PutLittle64(out, kFinal);
  PutLittle32(out, 3);
  PutLittle32(out, Crc32(info));
  PutLittle32(out, static_cast<std::uint32_t>(info.size()));
  PutLittle32(out, 0);
  return out;
}

// `bytes` compressed as one gzip member (RFC 1952).
inline std::string Gzip(const std::string& bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

}  // namespace peloria::testing
