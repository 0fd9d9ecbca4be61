#include "cache/browser_cache.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <exception>
#include <filesystem>
#include <limits>

#include "platform/bytes.h"
#include "platform/cp932.h"
#include "platform/exception.h"
#include "platform/files.h"

namespace peloria {

namespace {

// ------------------------------------------------------------------ folders

// Sandboxed homes of packaged browsers, relative to the home folder; each
// holds a cache folder of the usual layout.
constexpr std::array<const char*, 8> kPackagedCacheRoots = {
    ".var/app/org.mozilla.firefox/cache", ".var/app/org.chromium.Chromium/cache",
    ".var/app/com.google.Chrome/cache",   ".var/app/com.brave.Browser/cache",
    ".var/app/com.microsoft.Edge/cache",  ".var/app/com.vivaldi.Vivaldi/cache",
    "snap/firefox/common/.cache",         "snap/chromium/common/.cache",
};

constexpr std::array<const char*, 5> kChromiumFamily = {
    "chromium", "google-chrome", "BraveSoftware/Brave-Browser", "microsoft-edge", "vivaldi",
};

bool FolderExists(const std::string& path) {
  // Every folder that can be opened lists at least "." first.
  FolderEnumerator entries(path);
  FolderEnumerator::Entry entry;
  return entries.Next(entry);
}

// The subfolders of `folder` (not "." and "..", no symbolic links).
std::vector<std::string> Subfolders(const std::string& folder) {
  std::vector<std::string> names;
  FolderEnumerator entries(folder);
  FolderEnumerator::Entry entry;
  while (entries.Next(entry)) {
    if (entry.isDirectory && entry.name != "." && entry.name != "..") names.push_back(entry.name);
  }
  return names;
}

// "Default" or "Profile N": the profiles of a Chromium-family browser.
bool IsChromiumProfile(std::string_view name) {
  if (name == "Default") return true;
  constexpr std::string_view kPrefix = "Profile ";
  if (!name.starts_with(kPrefix) || name.size() == kPrefix.size()) return false;
  return std::all_of(name.begin() + kPrefix.size(), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

void AddFoldersOfRoot(const std::string& root, std::vector<TBrowserCacheFolder>& folders) {
  const std::string firefox = root + "/mozilla/firefox";
  for (const std::string& profile : Subfolders(firefox)) {
    std::string entries = firefox + "/" + profile + "/cache2/entries";
    if (FolderExists(entries)) folders.push_back({std::move(entries), TBrowserCacheKind::kFirefox});
  }
  for (const char* browser : kChromiumFamily) {
    const std::string base = root + "/" + browser;
    for (const std::string& profile : Subfolders(base)) {
      if (!IsChromiumProfile(profile)) continue;
      std::string data = base + "/" + profile + "/Cache/Cache_Data";
      if (FolderExists(data)) folders.push_back({std::move(data), TBrowserCacheKind::kChromium});
    }
  }
}

std::string WithoutTrailingDelimiter(std::string path) {
  while (path.size() > 1 && path.back() == kPathDelimiter) path.pop_back();
  return path;
}

// ------------------------------------------------------------ byte reading

// The first read of an entry file, at its start or its end: enough for the
// key and response head of most entries, so that one read serves.
constexpr std::int64_t kFirstReadSize = 8 * 1024;

// Reads `count` bytes at `offset`; false when the file holds fewer.
bool ReadAt(TStream& file, std::int64_t offset, std::int64_t count, std::string& out) {
  out.assign(static_cast<std::size_t>(count), '\0');
  file.Seek(offset);
  return count == 0 || file.Read(out.data(), count) == count;
}

// The bytes of what was read, for the byte-order readers.
ByteSpan BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// ----------------------------------------------------------- response head

// "HTTP/x[.y] NNN[ reason]": the status code, 0 when the line is no status
// line.
int StatusCodeOf(std::string_view line) {
  if (!line.starts_with("HTTP/")) return 0;
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return 0;
  int code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  if (line.size() > space + 4 && line[space + 4] != ' ') return 0;
  return code;
}

// Fills the status code and header lines from the lines of a response head
// separated by `separator` (a trailing "\r" on each line is dropped). False
// when the first line is no status line.
bool ParseResponseHead(std::string_view head, char separator, TBrowserCacheEntry& entry) {
  bool first = true;
  while (!head.empty()) {
    const std::size_t end = std::min(head.find(separator), head.size());
    std::string_view line = head.substr(0, end);
    head.remove_prefix(std::min(end + 1, head.size()));
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (first) {
      entry.statusCode = StatusCodeOf(line);
      if (entry.statusCode == 0) return false;
      first = false;
    } else if (line.empty()) {
      break;
    } else {
      entry.headers.emplace_back(line);
    }
  }
  return !first;
}

// ----------------------------------------------------------------- Firefox
//
// A cache2 entry file (integers big-endian):
//   body                              (offset bytes)
//   hash of the metadata              4
//   hash of each 256 KiB body chunk   2 each
//   version, fetch count, last fetched, last modified, frecency,
//   expiration time, key size, flags  8 x 4
//   key                               key size bytes, then a zero
//   elements                          name\0value\0 ... ("response-head" among them)
//   offset                            4: the body's size, where metadata begins
// The key is a list of tags, each ending with ",", then ":" and the address:
// "a,~1612345,O^partitionKey=%28https%2Cexample.com%29,:https://cdn.example.com/a.jpg".

constexpr std::int64_t kFirefoxChunkSize = 256 * 1024;
constexpr std::size_t kFirefoxHeaderSize = 32;
constexpr std::uint32_t kFirefoxFirstVersionWithFlags = 2;

// The address after the key's tags; none when the key has no ":" after them.
std::optional<std::string> FirefoxKeyAddress(std::string_view key) {
  std::size_t at = 0;
  while (at < key.size() && key[at] != ':') {
    const std::size_t comma = key.find(',', at);
    if (comma == std::string_view::npos) return std::nullopt;
    at = comma + 1;
  }
  if (at >= key.size()) return std::nullopt;
  return std::string(key.substr(at + 1));
}

// The body end an "alt-data" element gives ("1;<offset>,<type>"): the
// response body proper ends where the alternative data begins.
std::optional<std::int64_t> AltDataOffset(std::string_view value) {
  if (!value.starts_with("1;")) return std::nullopt;
  std::int64_t offset = 0;
  std::size_t i = 2;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    if (offset > (std::numeric_limits<std::int64_t>::max() - 9) / 10) return std::nullopt;
    offset = offset * 10 + (value[i] - '0');
  }
  if (i == 2 || i >= value.size() || value[i] != ',') return std::nullopt;
  return offset;
}

std::optional<TBrowserCacheEntry> ReadFirefoxEntry(TStream& file, bool keyOnly) {
  const std::int64_t size = file.Size();
  // One read of the file's end usually holds the whole metadata.
  std::string tail;
  const std::int64_t tailAt = size - std::min(size, kFirstReadSize);
  if (size < 4 || !ReadAt(file, tailAt, size - tailAt, tail)) return std::nullopt;
  const auto offset = U32Be(BytesOf(tail), tail.size() - 4);
  if (!offset || *offset > size - 4) return std::nullopt;
  const std::int64_t bodySize = *offset;
  const std::int64_t metadataSize = size - 4 - bodySize;
  const std::int64_t chunks = (bodySize + kFirefoxChunkSize - 1) / kFirefoxChunkSize;
  const std::int64_t headerAt = 4 + 2 * chunks;
  if (metadataSize < headerAt + static_cast<std::int64_t>(kFirefoxHeaderSize) + 1 ||
      headerAt + static_cast<std::int64_t>(kFirefoxHeaderSize) >= kBrowserCacheMetadataLimit) {
    return std::nullopt;
  }
  const std::int64_t metaRead = std::min(metadataSize, kBrowserCacheMetadataLimit);
  std::string meta;
  if (bodySize >= tailAt) {
    meta = tail.substr(static_cast<std::size_t>(bodySize - tailAt),
                       static_cast<std::size_t>(metaRead));
  } else if (!ReadAt(file, bodySize, metaRead, meta)) {
    return std::nullopt;
  }
  const auto header = static_cast<std::size_t>(headerAt);
  const auto version = U32Be(BytesOf(meta), header);
  const auto key = U32Be(BytesOf(meta), header + 24);
  if (!version || *version < kFirefoxFirstVersionWithFlags || !key) return std::nullopt;
  const std::size_t keySize = *key;
  const std::size_t keyAt = header + kFirefoxHeaderSize;
  if (keySize >= meta.size() - keyAt || meta[keyAt + keySize] != '\0') return std::nullopt;
  auto url = FirefoxKeyAddress(std::string_view(meta).substr(keyAt, keySize));
  if (!url) return std::nullopt;

  TBrowserCacheEntry entry;
  entry.url = std::move(*url);
  if (keyOnly) return entry;

  // The elements, as far as whole name/value pairs were read.
  entry.bodySize = bodySize;
  bool haveHead = false;
  std::string_view rest = std::string_view(meta).substr(keyAt + keySize + 1);
  while (true) {
    const std::size_t nameEnd = rest.find('\0');
    if (nameEnd == 0 || nameEnd == std::string_view::npos) break;
    const std::size_t valueEnd = rest.find('\0', nameEnd + 1);
    if (valueEnd == std::string_view::npos) break;
    const std::string_view name = rest.substr(0, nameEnd);
    const std::string_view value = rest.substr(nameEnd + 1, valueEnd - nameEnd - 1);
    if (name == "response-head") {
      if (!ParseResponseHead(value, '\n', entry)) return std::nullopt;
      haveHead = true;
    } else if (name == "alt-data") {
      const auto end = AltDataOffset(value);
      if (!end || *end > bodySize) return std::nullopt;
      entry.bodySize = *end;
    }
    rest.remove_prefix(valueEnd + 1);
  }
  if (!haveHead) return std::nullopt;
  return entry;
}

// ---------------------------------------------------------------- Chromium
//
// A Simple Cache entry file "<hash>_0" (integers little-endian):
//   header      magic 0xfcfb6d1ba7725c30 (8), version (4), key length (4),
//               key hash (4), padding (4)
//   key         key length bytes: "1/0/_dk_<site> <site> <address>"
//   stream 1    the response body
//   end record  magic 0xf4fa6f45970d41d8 (8), flags (4), CRC-32 of the
//               stream (4), stream size (4, unused here), padding (4)
//   stream 0    the response info: a pickle holding, after its fields, the
//               response head as a length-prefixed string of lines ending
//               with zero bytes ("HTTP/1.1 200 OK\0Content-Type: ...\0\0")
//   SHA-256 of the key (32), when the last end record's flags say so
//   end record  as above; its stream size is the size of stream 0
// Flags: 1 the CRC is valid, 2 the key's SHA-256 precedes the record.

constexpr std::uint64_t kSimpleInitialMagic = 0xfcfb6d1ba7725c30ULL;
constexpr std::uint64_t kSimpleFinalMagic = 0xf4fa6f45970d41d8ULL;
constexpr std::int64_t kSimpleHeaderSize = 24;
constexpr std::int64_t kSimpleEndRecordSize = 24;
constexpr std::uint32_t kSimpleFirstVersion = 5;
constexpr std::uint32_t kSimpleFlagCrc = 1;
constexpr std::uint32_t kSimpleFlagKeySha256 = 2;
constexpr std::int64_t kSha256Size = 32;

// The address is the key's last space-separated part (older keys hold the
// address alone).
std::string ChromiumKeyAddress(std::string_view key) {
  const std::size_t space = key.rfind(' ');
  return std::string(space == std::string_view::npos ? key : key.substr(space + 1));
}

// The response head inside stream 0: the pickled string that starts with
// "HTTP/", its 4-byte length just before it.
bool ParseChromiumResponseInfo(std::string_view info, TBrowserCacheEntry& entry) {
  for (std::size_t at = info.find("HTTP/"); at != std::string_view::npos;
       at = info.find("HTTP/", at + 1)) {
    const auto length = at < 4 ? std::nullopt : U32Le(BytesOf(info), at - 4);
    if (!length || *length > info.size() - at) continue;
    return ParseResponseHead(info.substr(at, *length), '\0', entry);
  }
  return false;
}

std::optional<TBrowserCacheEntry> ReadChromiumEntry(TStream& file, bool keyOnly) {
  const std::int64_t size = file.Size();
  // One read of the file's start usually holds the header and the key.
  std::string bytes;
  if (size < kSimpleHeaderSize + 2 * kSimpleEndRecordSize ||
      !ReadAt(file, 0, std::min(size, kFirstReadSize), bytes)) {
    return std::nullopt;
  }
  const auto version = U32Le(BytesOf(bytes), 8);
  const auto length = U32Le(BytesOf(bytes), 12);
  if (U64Le(BytesOf(bytes), 0) != kSimpleInitialMagic || !version ||
      *version < kSimpleFirstVersion || !length) {
    return std::nullopt;
  }
  const std::int64_t keyLength = *length;
  const std::int64_t bodyOffset = kSimpleHeaderSize + keyLength;
  if (keyLength == 0 || keyLength > kBrowserCacheMetadataLimit ||
      bodyOffset + 2 * kSimpleEndRecordSize > size) {
    return std::nullopt;
  }
  std::string key;
  if (bodyOffset <= static_cast<std::int64_t>(bytes.size())) {
    key = bytes.substr(kSimpleHeaderSize, static_cast<std::size_t>(keyLength));
  } else if (!ReadAt(file, kSimpleHeaderSize, keyLength, key)) {
    return std::nullopt;
  }

  TBrowserCacheEntry entry;
  entry.url = ChromiumKeyAddress(key);
  if (keyOnly) return entry;

  // The last end record gives the size of stream 0 and so where stream 1 ends.
  std::string last;
  if (!ReadAt(file, size - kSimpleEndRecordSize, kSimpleEndRecordSize, last)) return std::nullopt;
  const auto lastFlags = U32Le(BytesOf(last), 8);
  const auto lastSize = U32Le(BytesOf(last), 16);
  if (U64Le(BytesOf(last), 0) != kSimpleFinalMagic || !lastFlags || !lastSize) {
    return std::nullopt;
  }
  const std::int64_t shaSize = (*lastFlags & kSimpleFlagKeySha256) ? kSha256Size : 0;
  const std::int64_t infoSize = *lastSize;
  const std::int64_t infoEnd = size - kSimpleEndRecordSize - shaSize;
  const std::int64_t infoAt = infoEnd - infoSize;
  const std::int64_t bodyEnd = infoAt - kSimpleEndRecordSize;
  if (bodyEnd < bodyOffset) return std::nullopt;
  std::string record;
  if (!ReadAt(file, bodyEnd, kSimpleEndRecordSize, record)) return std::nullopt;
  const auto flags = U32Le(BytesOf(record), 8);
  const auto crc = U32Le(BytesOf(record), 12);
  if (U64Le(BytesOf(record), 0) != kSimpleFinalMagic || !flags || !crc) return std::nullopt;
  if ((*flags & kSimpleFlagCrc) != 0) entry.bodyCrc = *crc;
  std::string info;
  const std::int64_t infoBudget = kBrowserCacheMetadataLimit - keyLength;
  if (!ReadAt(file, infoAt, std::min(infoSize, infoBudget), info) ||
      !ParseChromiumResponseInfo(info, entry)) {
    return std::nullopt;
  }
  entry.bodyOffset = bodyOffset;
  entry.bodySize = bodyEnd - bodyOffset;
  return entry;
}

// ------------------------------------------------------------------ bodies

// The name of a header line: its text before the first ":", empty without one.
std::string_view NameOf(std::string_view line) {
  const std::size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
}

// The text after the ":" of the first line named `name` (letter case
// ignored); none without such a line. Browsers store heads unfolded.
std::optional<std::string_view> HeaderValue(const std::vector<std::string>& headers,
                                            std::string_view name) {
  for (const std::string& line : headers) {
    if (SameTextAscii(NameOf(line), name)) return std::string_view(line).substr(name.size() + 1);
  }
  return std::nullopt;
}

// A decimal Content-Length; none when it is no such number.
std::optional<std::int64_t> ParseLength(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

enum class Coding { kIdentity, kGzip, kUnsupported };

// The body's content coding from every Content-Encoding line; "identity"
// counts as none. One gzip coding is decoded; anything else is not.
Coding ContentCoding(const std::vector<std::string>& headers) {
  std::vector<std::string> codings;
  for (const std::string& line : headers) {
    if (!SameTextAscii(NameOf(line), "Content-Encoding")) continue;
    std::string_view value = std::string_view(line).substr(line.find(':') + 1);
    while (!value.empty()) {
      const std::size_t comma = std::min(value.find(','), value.size());
      std::string_view token = value.substr(0, comma);
      value.remove_prefix(std::min(comma + 1, value.size()));
      while (!token.empty() && (token.front() == ' ' || token.front() == '\t')) {
        token.remove_prefix(1);
      }
      while (!token.empty() && (token.back() == ' ' || token.back() == '\t')) {
        token.remove_suffix(1);
      }
      if (!token.empty() && !SameTextAscii(token, "identity")) codings.push_back(LowerAscii(token));
    }
  }
  if (codings.empty()) return Coding::kIdentity;
  if (codings.size() == 1 && (codings[0] == "gzip" || codings[0] == "x-gzip")) {
    return Coding::kGzip;
  }
  return Coding::kUnsupported;
}

// How much of a stored body is read at once.
constexpr std::size_t kBodyPiece = std::size_t{1} << 20;

// Inflates the gzip members (RFC 1952) that `next` hands out piece by piece
// (an empty piece ends the input), giving `write` each piece of output.
// False when the data is damaged, ends inside a member, inflates to more
// than `maxBytes`, or `write` answers false.
bool Inflate(const std::function<ByteSpan()>& next, std::int64_t maxBytes,
             const std::function<bool(ByteSpan)>& write) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return false;
  std::array<std::uint8_t, 64 * 1024> buffer;
  std::int64_t total = 0;
  ByteSpan input;
  bool started = false;
  bool inMember = false;  // a member was begun and its end not yet met
  bool full = false;      // the last call filled the buffer: output may be pending
  bool ok = true;
  for (;;) {
    if (input.empty() && !full) {
      input = next();
      if (input.empty()) {
        ok = started && !inMember;  // no data at all, or cut inside a member
        break;
      }
    }
    if (!inMember && !input.empty()) {
      // The first member, or another after the one that ended.
      if (started && inflateReset(&stream) != Z_OK) {
        ok = false;
        break;
      }
      started = inMember = true;
    }
    const std::size_t piece = std::min<std::size_t>(input.size(), 1u << 30);
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(piece);
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<uInt>(buffer.size());
    const int result = inflate(&stream, Z_NO_FLUSH);
    input = input.subspan(piece - stream.avail_in);
    const std::size_t produced = buffer.size() - stream.avail_out;
    full = stream.avail_out == 0;
    total += static_cast<std::int64_t>(produced);
    if (total > maxBytes || (produced > 0 && !write(ByteSpan(buffer.data(), produced)))) {
      ok = false;
      break;
    }
    if (result == Z_STREAM_END) {
      inMember = false;
      full = false;
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      ok = false;  // damaged data
      break;
    }
  }
  inflateEnd(&stream);
  return ok;
}

// Writes a body's pieces to the target, holding back its first
// kBrowserCacheStartBytes until the start test has seen them. A failure to
// write is kept in `failure` (it is the target's, not the entry's).
class BodyWriter {
 public:
  BodyWriter(TStream& target, const TBodyStartTest& startTest, std::exception_ptr& failure)
      : target_(target), startTest_(startTest), failure_(failure) {}

  bool Write(ByteSpan piece) {
    if (!tested_) {
      const std::size_t take = std::min(piece.size(), kBrowserCacheStartBytes - start_.size());
      start_.insert(start_.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(take));
      piece = piece.subspan(take);
      if (start_.size() < kBrowserCacheStartBytes) return true;
      if (!Flush()) return false;
    }
    return Put(piece);
  }

  // After the last piece: a body shorter than the start is tested now.
  bool Finish() { return tested_ || Flush(); }

 private:
  bool Flush() {
    tested_ = true;
    if (startTest_ && !startTest_(start_)) return false;
    return Put(start_);
  }

  bool Put(ByteSpan bytes) {
    try {
      target_.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      return true;
    } catch (const std::exception&) {
      failure_ = std::current_exception();
      return false;
    }
  }

  TStream& target_;
  const TBodyStartTest& startTest_;
  std::exception_ptr& failure_;
  std::vector<std::uint8_t> start_;
  bool tested_ = false;
};

// Copies the decoded body of a whole entry into `target`, piece by piece;
// false when it does not serve or the target could not be written (the
// failure then in `writeFailure`); the target may hold a part of it.
bool CopyBody(TStream& file, const TBrowserCacheEntry& entry, std::int64_t maxBodyBytes,
              const TBodyStartTest& startTest, TStream& target, std::exception_ptr& writeFailure) {
  if (entry.statusCode != 200 || entry.bodySize > maxBodyBytes) return false;
  // A stored body shorter (or longer) than announced is a cut transfer.
  if (const auto value = HeaderValue(entry.headers, "Content-Length")) {
    const auto length = ParseLength(*value);
    if (!length || *length != entry.bodySize) return false;
  }
  const Coding coding = ContentCoding(entry.headers);
  if (coding == Coding::kUnsupported) return false;

  // The stored body in pieces, its CRC summed on the way.
  std::vector<std::uint8_t> piece(
      static_cast<std::size_t>(std::min<std::int64_t>(entry.bodySize, kBodyPiece)));
  std::int64_t left = entry.bodySize;
  bool readFailed = false;
  uLong crc = crc32(0L, Z_NULL, 0);
  file.Seek(entry.bodyOffset);
  const auto next = [&]() -> ByteSpan {
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(left, kBodyPiece));
    if (count == 0) return {};
    if (file.Read(piece.data(), static_cast<std::int64_t>(count)) !=
        static_cast<std::int64_t>(count)) {
      readFailed = true;
      return {};
    }
    left -= static_cast<std::int64_t>(count);
    crc = crc32(crc, piece.data(), static_cast<uInt>(count));
    return ByteSpan(piece.data(), count);
  };

  BodyWriter writer(target, startTest, writeFailure);
  bool ok = true;
  if (coding == Coding::kGzip) {
    ok = Inflate(next, maxBodyBytes, [&](ByteSpan out) { return writer.Write(out); });
  } else {
    for (ByteSpan stored = next(); ok && !stored.empty(); stored = next()) {
      ok = writer.Write(stored);
    }
  }
  if (!ok || readFailed || left != 0 || !writer.Finish()) return false;
  return !entry.bodyCrc || crc == *entry.bodyCrc;
}

struct Match {
  std::string path;
  TBrowserCacheKind kind;
  std::filesystem::file_time_type modified;
};

// An address taken apart as the HTTP client does: backslashes count as "/"
// (not the trail byte of a CP932 character), the authority ends at the first
// "/", an IPv6 host keeps its brackets, and the fragment is dropped.
struct AddressParts {
  std::string scheme;  // empty without "://"
  std::string host;
  std::string port;
  std::string target;  // path and query, beginning with "/"
};

AddressParts SplitAddress(std::string_view address) {
  std::string text(address);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(text[i]))) {
      ++i;
    } else if (text[i] == '\\') {
      text[i] = '/';
    }
  }
  AddressParts parts;
  std::string_view rest = text;
  rest = rest.substr(0, rest.find('#'));
  const std::size_t scheme = rest.find("://");
  if (scheme == std::string_view::npos) return parts;
  parts.scheme = rest.substr(0, scheme);
  rest.remove_prefix(scheme + 3);
  const std::size_t slash = std::min(rest.find('/'), rest.size());
  std::string_view authority = rest.substr(0, slash);
  rest.remove_prefix(slash);
  std::size_t hostEnd = authority.find(':');
  if (const std::size_t close = authority.find(']');
      authority.starts_with('[') && close != std::string_view::npos) {
    hostEnd = close + 1;
  }
  hostEnd = std::min(hostEnd, authority.size());
  parts.host = authority.substr(0, hostEnd);
  authority.remove_prefix(hostEnd);
  if (authority.starts_with(':')) authority.remove_prefix(1);
  parts.port = authority;
  parts.target = rest.starts_with('/') ? std::string(rest) : "/" + std::string(rest);
  return parts;
}

std::string Hex(unsigned char c) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {'%', kDigits[c >> 4], kDigits[c & 15]};
}

}  // namespace

std::vector<TBrowserCacheFolder> BrowserCacheFolders(const std::string& cacheFolder,
                                                     const std::string& homeFolder) {
  std::vector<TBrowserCacheFolder> folders;
  if (!cacheFolder.empty()) AddFoldersOfRoot(WithoutTrailingDelimiter(cacheFolder), folders);
  if (!homeFolder.empty()) {
    const std::string home = WithoutTrailingDelimiter(homeFolder);
    for (const char* root : kPackagedCacheRoots) AddFoldersOfRoot(home + "/" + root, folders);
  }
  return folders;
}

std::optional<TBrowserCacheEntry> ReadBrowserCacheEntry(TStream& file, TBrowserCacheKind kind,
                                                        bool keyOnly) {
  return kind == TBrowserCacheKind::kFirefox ? ReadFirefoxEntry(file, keyOnly)
                                             : ReadChromiumEntry(file, keyOnly);
}

std::string BrowserCacheAddress(std::string_view address) {
  const AddressParts parts = SplitAddress(address);
  std::string text;
  if (parts.scheme.empty()) {
    text = std::string(address);
  } else {
    const std::string scheme = LowerAscii(parts.scheme);
    text = scheme + "://" + LowerAscii(parts.host);
    const bool defaultPort =
        (scheme == "http" && parts.port == "80") || (scheme == "https" && parts.port == "443");
    if (!parts.port.empty() && !defaultPort) text += ":" + parts.port;
    text += parts.target;
  }
  // Browsers key the address as they sent it: UTF-8, with these escaped.
  std::string keyed;
  for (unsigned char c : Utf8(text)) {
    if (c >= 0x80 || c == ' ' || c == '"' || c == '<' || c == '>') {
      keyed += Hex(c);
    } else {
      keyed += static_cast<char>(c);
    }
  }
  return keyed;
}

std::optional<std::vector<std::uint8_t>> GunzipBody(const std::uint8_t* data, std::size_t size,
                                                    std::int64_t maxBytes) {
  std::vector<std::uint8_t> out;
  bool given = false;
  const auto next = [&]() -> ByteSpan {
    if (given) return {};
    given = true;
    return ByteSpan(data, size);
  };
  const bool ok = Inflate(next, maxBytes, [&](ByteSpan piece) {
    out.insert(out.end(), piece.begin(), piece.end());
    return true;
  });
  if (!ok) return std::nullopt;
  return out;
}

std::optional<TBrowserCacheHit> FindInBrowserCache(const std::string& address,
                                                   const std::vector<TBrowserCacheFolder>& folders,
                                                   std::int64_t maxBodyBytes, TStream& target,
                                                   const TBodyStartTest& startTest) {
  const std::string wanted = BrowserCacheAddress(address);
  if (wanted.empty()) return std::nullopt;
  // Browsers store addresses already escaped and without a fragment, so only
  // the scheme, host and port of a stored address can be spelled otherwise:
  // an entry whose address does not end with the wanted path and query is
  // passed over without spelling its address anew.
  std::string_view tail = wanted;
  if (const std::size_t scheme = tail.find("://"); scheme != std::string_view::npos) {
    const std::size_t path = tail.find('/', scheme + 3);
    tail = path == std::string_view::npos ? std::string_view() : tail.substr(path);
  }
  std::vector<Match> matches;
  for (const TBrowserCacheFolder& folder : folders) {
    FolderEnumerator names(folder.path);
    FolderEnumerator::Entry name;
    while (names.Next(name)) {
      if (name.isDirectory) continue;
      if (folder.kind == TBrowserCacheKind::kChromium && !name.name.ends_with("_0")) continue;
      std::string path = folder.path + "/" + name.name;
      try {
        TFileStream file(path, TFileStream::Mode::kOpenReadDenyWrite);
        const auto entry = ReadBrowserCacheEntry(file, folder.kind, true);
        if (!entry || !entry->url.ends_with(tail) ||
            (entry->url != wanted && BrowserCacheAddress(entry->url) != wanted)) {
          continue;
        }
      } catch (const Exception&) {
        continue;  // unreadable: skipped like a damaged entry
      }
      std::error_code error;
      const auto modified = std::filesystem::last_write_time(path, error);
      if (!error) matches.push_back({std::move(path), folder.kind, modified});
    }
  }
  std::stable_sort(matches.begin(), matches.end(),
                   [](const Match& a, const Match& b) { return a.modified > b.modified; });
  for (const Match& match : matches) {
    std::exception_ptr writeFailure;
    try {
      TFileStream file(match.path, TFileStream::Mode::kOpenReadDenyWrite);
      const auto entry = ReadBrowserCacheEntry(file, match.kind, false);
      if (!entry) continue;
      if (CopyBody(file, *entry, maxBodyBytes, startTest, target, writeFailure)) {
        return TBrowserCacheHit{match.path, target.Position()};
      }
    } catch (const Exception&) {
      // Gone or unreadable since the first look: try the next one.
    }
    // The target's own failure (a full disk) is the caller's.
    if (writeFailure) std::rethrow_exception(writeFailure);
    // What a refused or damaged entry left in the target goes.
    target.SetSize(0);
    target.Seek(0);
  }
  return std::nullopt;
}

}  // namespace peloria
