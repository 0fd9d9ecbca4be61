// The disk caches of the web browsers, read only: finds the body of a
// response that Firefox or a Chromium-family browser already fetched for an
// address, so that a picture just seen in the browser opens without being
// downloaded again. Nothing in a browser's folder is written, created,
// renamed or removed; entry files are opened for reading only.
//
// Folders read, below the cache folder C ($XDG_CACHE_HOME or ~/.cache):
//   C/mozilla/firefox/<profile>/cache2/entries/*
//   C/<browser>/<profile>/Cache/Cache_Data/*_0, <browser> one of chromium,
//     google-chrome, BraveSoftware/Brave-Browser, microsoft-edge, vivaldi and
//     <profile> "Default" or "Profile N"
// and the same layouts inside the sandboxed homes of the Flatpak and Snap
// packages of these browsers below the home folder (~/.var/app/<id>/cache,
// ~/snap/<name>/common/.cache).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "platform/stream.h"

namespace peloria {

// At most this many bytes of an entry's metadata (everything but the body)
// are read; a response head beyond them is not seen and the entry is skipped.
inline constexpr std::int64_t kBrowserCacheMetadataLimit = 64 * 1024;

enum class TBrowserCacheKind { kFirefox, kChromium };

// One folder of entry files.
struct TBrowserCacheFolder {
  std::string path;  // the file system's bytes, without a trailing "/"
  TBrowserCacheKind kind;

  bool operator==(const TBrowserCacheFolder&) const = default;
};

// The entry folders that exist below `cacheFolder` and in the Flatpak and
// Snap homes below `homeFolder` (either may be empty: nothing there), in a
// fixed order: Firefox before the Chromium family, profiles in the order the
// file system gives them.
std::vector<TBrowserCacheFolder> BrowserCacheFolders(const std::string& cacheFolder,
                                                     const std::string& homeFolder);

// What an entry file says about its response, as far as it was read.
struct TBrowserCacheEntry {
  std::string url;  // the address part of the entry's key
  // Known only when the whole entry was read (not just its key):
  int statusCode = 0;                // from the status line of the stored response head
  std::vector<std::string> headers;  // the head's "Name: value" lines after the status line
  std::int64_t bodyOffset = 0;
  std::int64_t bodySize = 0;
  std::optional<std::uint32_t> bodyCrc;  // the CRC-32 a Chromium entry records for its body
};

// Reads an entry file of the given kind. With `keyOnly` only the key (and so
// the address) is read, which is all a look-up needs for entries of other
// addresses. None when the file is not an entry of that kind or is damaged.
std::optional<TBrowserCacheEntry> ReadBrowserCacheEntry(TStream& file, TBrowserCacheKind kind,
                                                        bool keyOnly);

// The form in which browsers key an address: scheme and host in lower case,
// the scheme's default port and the fragment dropped, "/" for an empty path,
// spaces, quotes, angle brackets and bytes beyond ASCII percent-encoded (a
// CP932 address is first turned into UTF-8). Other text stays as written.
std::string BrowserCacheAddress(std::string_view address);

// How many of a body's first bytes a start test sees (fewer when the body
// is shorter).
inline constexpr std::size_t kBrowserCacheStartBytes = 64;

// Decides from the first bytes of a decoded body whether the rest is worth
// copying (a picture's signature, say); false passes the entry over.
using TBodyStartTest = std::function<bool(ByteSpan start)>;

// Copies into `target` the body of a complete response for `address` as a
// download would give it: a 200 reply whose stored body is whole (its
// Content-Length, its CRC), decoded when it carries Content-Encoding gzip
// (other encodings are skipped). Of several entries the newest file wins.
// Entries whose stored or decoded body is larger than `maxBodyBytes`, whose
// first bytes `startTest` (when given) refuses, and damaged entries are
// skipped. The body goes to the file piece by piece as it is read and
// decoded, never whole into memory; an entry found damaged after some of it
// was written leaves `target` emptied again (it is to be empty at the call).
// None when no entry serves.
struct TBrowserCacheHit {
  std::string entryPath;  // the file system's bytes
  std::int64_t bodySize = 0;
};
std::optional<TBrowserCacheHit> FindInBrowserCache(const std::string& address,
                                                   const std::vector<TBrowserCacheFolder>& folders,
                                                   std::int64_t maxBodyBytes, TStream& target,
                                                   const TBodyStartTest& startTest = {});

// Inflates a gzip body (RFC 1952; several members follow each other) into
// at most `maxBytes` bytes; none when it is damaged, truncated or larger.
std::optional<std::vector<std::uint8_t>> GunzipBody(const std::uint8_t* data, std::size_t size,
                                                    std::int64_t maxBytes);

}  // namespace peloria
