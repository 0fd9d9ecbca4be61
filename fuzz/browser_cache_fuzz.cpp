// Fuzzes the browser cache entry reader: the input is read as a Firefox and
// as a Chromium entry file, by key and whole, and inflated as a gzip body.
//
// Acceptable outcomes: no entry, or an entry whose body lies inside the
// file; an inflated body never beyond its bound. Nothing may throw.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cache/browser_cache.h"
#include "platform/stream.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "browser cache: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace peloria;
  const std::vector<std::uint8_t> bytes(data, data + size);
  for (TBrowserCacheKind kind : {TBrowserCacheKind::kFirefox, TBrowserCacheKind::kChromium}) {
    for (bool keyOnly : {true, false}) {
      TMemoryStream file(bytes);
      const auto entry = ReadBrowserCacheEntry(file, kind, keyOnly);
      if (!entry || keyOnly) continue;
      Check(entry->bodyOffset >= 0 && entry->bodySize >= 0, "negative body range");
      Check(entry->bodyOffset + entry->bodySize <= static_cast<std::int64_t>(size),
            "body beyond the file");
      Check(entry->statusCode > 0 && entry->statusCode <= 999, "status code out of range");
    }
  }
  constexpr std::int64_t kBound = 1 << 20;
  const auto inflated = GunzipBody(data, size, kBound);
  Check(!inflated || static_cast<std::int64_t>(inflated->size()) <= kBound, "body beyond bound");
  return 0;
}
