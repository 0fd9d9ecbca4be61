// Times one look-up in a cache folder holding 10,000 Firefox and 10,000
// Chromium entries for other addresses (plus the one wanted), as a user's
// long-used browsers leave them. The folder is written once into a temporary
// folder; the look-ups then run with the entries in the page cache, as they
// are right after the browser showed the picture.
//
//   browser_cache_bench [--benchmark_* options]
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cache/browser_cache.h"
#include "platform/cp932.h"
#include "tests/cache/browser_cache_entries.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace peloria;
using namespace peloria::testing;

constexpr int kEntriesPerKind = 10000;

const TempDir& Cache() {
  static const TempDir dir;
  static const bool written = [] {
    const fs::path firefox = dir.path() / "mozilla/firefox/b3nch.default-esr/cache2/entries";
    const fs::path chromium = dir.path() / "chromium/Default/Cache/Cache_Data";
    fs::create_directories(firefox);
    fs::create_directories(chromium);
    const std::string body(20000, 'b');  // a small picture's worth
    for (int i = 0; i < kEntriesPerKind; ++i) {
      const std::string n = std::to_string(i);
      std::ofstream(firefox / ("F" + n), std::ios::binary) << FirefoxEntry(
          "O^partitionKey=%28https%2Cexample.com%29,:https://example.com/p/" + n + ".jpg", Head{},
          body);
      std::ofstream(chromium / (n + "_0"), std::ios::binary) << ChromiumEntry(
          "1/0/_dk_https://example.com https://example.com https://example.com/q/" + n + ".jpg",
          Head{}, body);
    }
    std::ofstream(chromium / "wanted_0", std::ios::binary)
        << ChromiumEntry("https://example.com/wanted.jpg", Head{}, body);
    return true;
  }();
  (void)written;
  return dir;
}

void BM_LookUpAmongTwentyThousand(benchmark::State& state) {
  const std::string folder = Cp932(Cache().path().string());
  for (auto _ : state) {
    const auto folders = BrowserCacheFolders(folder, "");
    TMemoryStream body;
    auto hit = FindInBrowserCache("https://example.com/wanted.jpg", folders, 1 << 30, body);
    if (!hit) state.SkipWithError("the wanted entry was not found");
    benchmark::DoNotOptimize(hit);
  }
}
BENCHMARK(BM_LookUpAmongTwentyThousand)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LookUpOfAnAddressNotCached(benchmark::State& state) {
  const std::string folder = Cp932(Cache().path().string());
  for (auto _ : state) {
    TMemoryStream body;
    auto hit = FindInBrowserCache("https://example.com/absent.jpg", BrowserCacheFolders(folder, ""),
                                  1 << 30, body);
    if (hit) state.SkipWithError("found an address that is not cached");
  }
}
BENCHMARK(BM_LookUpOfAnAddressNotCached)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
