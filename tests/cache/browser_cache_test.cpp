// The browser cache reader against entry files written in the browsers'
// layouts: addresses and keys, responses that serve and those that do not,
// damaged files, the newest of several entries, the folders looked at, and
// a cache of 20,000 entries.
#include "cache/browser_cache.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/cp932.h"
#include "platform/exception.h"
#include "tests/cache/browser_cache_entries.h"
#include "tests/support/temp_dir.h"

namespace peloria {
namespace {

namespace fs = std::filesystem;
using testing::ChromiumEntry;
using testing::FirefoxEntry;
using testing::FirefoxMetadata;
using testing::Gzip;
using testing::Head;

constexpr std::int64_t kMax = 1 << 20;
constexpr const char* kFirefoxEntries = "cache/mozilla/firefox/x1y2.default-esr/cache2/entries";
constexpr const char* kChromiumEntries = "cache/chromium/Default/Cache/Cache_Data";

class BrowserCacheTest : public ::testing::Test {
 protected:
  fs::path Put(TBrowserCacheKind kind, const std::string& name, const std::string& bytes) {
    const fs::path folder =
        dir_.path() / (kind == TBrowserCacheKind::kFirefox ? kFirefoxEntries : kChromiumEntries);
    fs::create_directories(folder);
    const fs::path file = folder / (kind == TBrowserCacheKind::kFirefox ? name : name + "_0");
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

  std::optional<std::string> Find(const std::string& address, std::int64_t max = kMax,
                                  const TBodyStartTest& startTest = {}) {
    TMemoryStream target;
    const auto hit = FindInBrowserCache(
        address, BrowserCacheFolders(Cp932((dir_.path() / "cache").string()), ""), max, target,
        startTest);
    if (!hit) {
      EXPECT_EQ(target.Size(), 0) << "a refused entry left bytes behind";
      return std::nullopt;
    }
    EXPECT_EQ(hit->bodySize, target.Size());
    return target.Text();
  }

  testing::TempDir dir_;
};

std::string Entry(TBrowserCacheKind kind, const std::string& key, const Head& head,
                  const std::string& body) {
  return kind == TBrowserCacheKind::kFirefox ? FirefoxEntry(key, head, body)
                                             : ChromiumEntry(key, head, body);
}

// One entry in the cache and one address looked up.
struct LookupCase {
  const char* name;
  TBrowserCacheKind kind;
  std::string key;
  Head head;
  std::string body;
  std::string address;
  std::optional<std::string> expected;
};

TEST_F(BrowserCacheTest, FindsCompleteResponsesForTheAddressOnly) {
  using enum TBrowserCacheKind;
  const std::string picture = "\xFF\xD8picture bytes\xFF\xD9";
  const std::string zipped = Gzip(picture);
  const Head plain;
  const Head gzip{"HTTP/1.1 200 OK", {"Content-Encoding: gzip"}};
  const std::string chromeKey = "1/0/_dk_https://example.com https://example.com ";
  const std::vector<LookupCase> cases = {
      {"firefox plain key", kFirefox, ":http://h/a.jpg", plain, picture, "http://h/a.jpg", picture},
      {"firefox partitioned key", kFirefox,
       "O^partitionKey=%28http%2Cexample.com%29,:https://cdn.example.com/a.jpg", plain, picture,
       "https://cdn.example.com/a.jpg", picture},
      {"firefox several tags", kFirefox, "a,~1700000000,:http://h/a.jpg", plain, picture,
       "http://h/a.jpg", picture},
      {"firefox key without tags end", kFirefox, "http://h/a.jpg", plain, picture, "http://h/a.jpg",
       std::nullopt},
      {"chromium isolated key", kChromium, chromeKey + "https://cdn.example.com/a.jpg", plain,
       picture, "https://cdn.example.com/a.jpg", picture},
      {"chromium address-only key", kChromium, "http://h/a.jpg", plain, picture, "http://h/a.jpg",
       picture},
      {"another address", kFirefox, ":http://h/b.jpg", plain, picture, "http://h/a.jpg",
       std::nullopt},
      {"longer address", kChromium, chromeKey + "http://h/a.jpg?s=1", plain, picture,
       "http://h/a.jpg", std::nullopt},
      {"address spelled otherwise", kFirefox, ":http://h/a%20b.jpg", plain, picture,
       "HTTP://H:80/a b.jpg#top", picture},
      {"another port", kChromium, "http://h:8080/a.jpg", plain, picture, "http://h/a.jpg",
       std::nullopt},
      {"not found", kFirefox, ":http://h/a.jpg", Head{"HTTP/1.1 404 Not Found", {}}, picture,
       "http://h/a.jpg", std::nullopt},
      {"partial content", kChromium, "http://h/a.jpg", Head{"HTTP/1.1 206 Partial Content", {}},
       picture, "http://h/a.jpg", std::nullopt},
      {"no status line", kChromium, "http://h/a.jpg", Head{"Content-Type: image/jpeg", {}}, picture,
       "http://h/a.jpg", std::nullopt},
      {"HTTP/2 status line", kFirefox, ":http://h/a.jpg", Head{"HTTP/2 200 ", {}}, picture,
       "http://h/a.jpg", picture},
      {"whole length", kFirefox, ":http://h/a.jpg",
       Head{"HTTP/1.1 200 OK", {"Content-Length: " + std::to_string(picture.size())}}, picture,
       "http://h/a.jpg", picture},
      {"cut transfer", kChromium, "http://h/a.jpg",
       Head{"HTTP/1.1 200 OK", {"Content-Length: " + std::to_string(picture.size() + 1)}}, picture,
       "http://h/a.jpg", std::nullopt},
      {"length that is no number", kFirefox, ":http://h/a.jpg",
       Head{"HTTP/1.1 200 OK", {"Content-Length: 1x"}}, picture, "http://h/a.jpg", std::nullopt},
      {"firefox gzip", kFirefox, ":http://h/a.jpg", gzip, zipped, "http://h/a.jpg", picture},
      {"chromium gzip", kChromium, "http://h/a.jpg", gzip, zipped, "http://h/a.jpg", picture},
      {"gzip with its length", kChromium, "http://h/a.jpg",
       Head{"HTTP/1.1 200 OK",
            {"content-encoding: x-gzip", "Content-Length: " + std::to_string(zipped.size())}},
       zipped, "http://h/a.jpg", picture},
      {"identity", kFirefox, ":http://h/a.jpg",
       Head{"HTTP/1.1 200 OK", {"Content-Encoding: identity"}}, picture, "http://h/a.jpg", picture},
      {"brotli", kFirefox, ":http://h/a.jpg", Head{"HTTP/1.1 200 OK", {"Content-Encoding: br"}},
       picture, "http://h/a.jpg", std::nullopt},
      {"gzip twice", kChromium, "http://h/a.jpg",
       Head{"HTTP/1.1 200 OK", {"Content-Encoding: gzip, gzip"}}, Gzip(zipped), "http://h/a.jpg",
       std::nullopt},
      {"gzip that is none", kFirefox, ":http://h/a.jpg", gzip, picture, "http://h/a.jpg",
       std::nullopt},
      {"empty body", kChromium, "http://h/a.jpg", plain, "", "http://h/a.jpg", ""},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = Put(c.kind, "0123456789ABCDEF", Entry(c.kind, c.key, c.head, c.body));
    EXPECT_EQ(Find(c.address), c.expected);
    fs::remove(file);
  }
}

TEST_F(BrowserCacheTest, SkipsBodiesBeyondTheBoundAndDamagedChecksums) {
  const std::string picture(1000, 'p');
  Put(TBrowserCacheKind::kChromium, "big", ChromiumEntry("http://h/big.jpg", Head{}, picture));
  EXPECT_EQ(Find("http://h/big.jpg", 1000), picture);
  EXPECT_EQ(Find("http://h/big.jpg", 999), std::nullopt);

  // Small when stored, too large when decoded.
  Put(TBrowserCacheKind::kFirefox, "zip",
      FirefoxEntry(":http://h/zip.jpg", Head{"HTTP/1.1 200 OK", {"Content-Encoding: gzip"}},
                   Gzip(picture)));
  EXPECT_EQ(Find("http://h/zip.jpg", 1000), picture);
  EXPECT_EQ(Find("http://h/zip.jpg", 999), std::nullopt);

  // A body whose bytes no longer match the recorded CRC; without a CRC the
  // same bytes serve.
  std::string entry = ChromiumEntry("http://h/crc.jpg", Head{}, picture);
  entry[entry.find(picture) + 10] = 'q';
  const fs::path file = Put(TBrowserCacheKind::kChromium, "crc", entry);
  EXPECT_EQ(Find("http://h/crc.jpg"), std::nullopt);
  fs::remove(file);
  Put(TBrowserCacheKind::kChromium, "nocrc",
      ChromiumEntry("http://h/crc.jpg", Head{}, picture, /*withCrc=*/false));
  EXPECT_EQ(Find("http://h/crc.jpg"), picture);

  // Alternative data stored after the body is not part of it.
  Put(TBrowserCacheKind::kFirefox, "alt",
      FirefoxEntry(":http://h/alt.jpg", Head{}, "bodyALTDATA", {{"alt-data", "1;4,x-type"}}));
  EXPECT_EQ(Find("http://h/alt.jpg"), "body");
}

TEST_F(BrowserCacheTest, DamagedEntriesAreSkippedAndTheWholeOneFound) {
  // Every shorter cut of a whole entry of each kind, and files that are no
  // entries at all, lie beside the one whole entry.
  for (TBrowserCacheKind kind : {TBrowserCacheKind::kFirefox, TBrowserCacheKind::kChromium}) {
    const std::string key =
        kind == TBrowserCacheKind::kFirefox ? ":http://h/a.jpg" : "http://h/a.jpg";
    const std::string whole = Entry(kind, key, Head{}, "the picture");
    for (std::size_t n = 0; n < whole.size(); ++n) {
      Put(kind, "cut" + std::to_string(n), whole.substr(0, n));
    }
    Put(kind, "noise", std::string(5000, '\xFF'));
    Put(kind, "zeros", std::string(100, '\0'));
    EXPECT_EQ(Find("http://h/a.jpg"), std::nullopt);
    Put(kind, "whole", whole);
    EXPECT_EQ(Find("http://h/a.jpg"), "the picture");
    fs::remove_all(dir_.path() / "cache");
  }
}

TEST_F(BrowserCacheTest, NewestServingEntryWinsAndNothingIsWritten) {
  using namespace std::chrono_literals;
  const fs::path older =
      Put(TBrowserCacheKind::kFirefox, "old", FirefoxEntry(":http://h/a.jpg", Head{}, "older"));
  const fs::path newer =
      Put(TBrowserCacheKind::kChromium, "new", ChromiumEntry("http://h/a.jpg", Head{}, "newer"));
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(older, now - 100s);
  fs::last_write_time(newer, now - 10s);
  EXPECT_EQ(Find("http://h/a.jpg"), "newer");
  fs::last_write_time(older, now);
  EXPECT_EQ(Find("http://h/a.jpg"), "older");

  // The newest entry is an error reply: the older picture still serves.
  const fs::path error = Put(TBrowserCacheKind::kChromium, "err",
                             ChromiumEntry("http://h/a.jpg", Head{"HTTP/1.1 500 Oops", {}}, "x"));
  fs::last_write_time(error, now + 10s);

  // Every file and folder stays as it was: same names, bytes and times.
  auto snapshot = [this] {
    std::map<fs::path, std::pair<std::string, fs::file_time_type>> state;
    for (const auto& item : fs::recursive_directory_iterator(dir_.path())) {
      std::string bytes;
      if (item.is_regular_file()) {
        std::ifstream in(item.path(), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
      }
      state[item.path()] = {bytes, item.last_write_time()};
    }
    return state;
  };
  const auto before = snapshot();
  EXPECT_EQ(Find("http://h/a.jpg"), "older");
  EXPECT_EQ(snapshot(), before);
}

TEST_F(BrowserCacheTest, LooksInEveryBrowsersProfilesAndPackagedHomes) {
  const fs::path root = dir_.path();
  for (const char* folder : {
           "cache/mozilla/firefox/a.default/cache2/entries",
           "cache/mozilla/firefox/b.work/cache2",  // no entries folder: left out
           "cache/chromium/Default/Cache/Cache_Data",
           "cache/chromium/Profile 2/Cache/Cache_Data",
           "cache/chromium/System Profile/Cache/Cache_Data",  // no user profile
           "cache/chromium/Profile x/Cache/Cache_Data",
           "cache/google-chrome/Default/Cache/Cache_Data",
           "cache/BraveSoftware/Brave-Browser/Profile 1/Cache/Cache_Data",
           "cache/microsoft-edge/Default/Cache/Cache_Data",
           "cache/vivaldi/Default/Cache/Cache_Data",
           "cache/opera/Default/Cache/Cache_Data",  // not a browser looked at
           "home/.var/app/org.mozilla.firefox/cache/mozilla/firefox/f.default/cache2/entries",
           "home/snap/firefox/common/.cache/mozilla/firefox/s.default/cache2/entries",
           "home/snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data",
       }) {
    fs::create_directories(root / folder);
  }
  const std::string base = Cp932(root.string());
  std::vector<TBrowserCacheFolder> found = BrowserCacheFolders(base + "/cache/", base + "/home");
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.path < b.path; });
  using enum TBrowserCacheKind;
  const std::vector<TBrowserCacheFolder> expected = {
      {base + "/cache/BraveSoftware/Brave-Browser/Profile 1/Cache/Cache_Data", kChromium},
      {base + "/cache/chromium/Default/Cache/Cache_Data", kChromium},
      {base + "/cache/chromium/Profile 2/Cache/Cache_Data", kChromium},
      {base + "/cache/google-chrome/Default/Cache/Cache_Data", kChromium},
      {base + "/cache/microsoft-edge/Default/Cache/Cache_Data", kChromium},
      {base + "/cache/mozilla/firefox/a.default/cache2/entries", kFirefox},
      {base + "/cache/vivaldi/Default/Cache/Cache_Data", kChromium},
      {base + "/home/.var/app/org.mozilla.firefox/cache/mozilla/firefox/f.default/cache2/entries",
       kFirefox},
      {base + "/home/snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data", kChromium},
      {base + "/home/snap/firefox/common/.cache/mozilla/firefox/s.default/cache2/entries",
       kFirefox},
  };
  EXPECT_EQ(found, expected);
  EXPECT_TRUE(BrowserCacheFolders("", "").empty());
}

TEST_F(BrowserCacheTest, FindsOneEntryAmongTwentyThousand) {
  // 10,000 entries of each kind for other addresses, and the one wanted.
  for (int i = 0; i < 10000; ++i) {
    const std::string n = std::to_string(i);
    Put(TBrowserCacheKind::kFirefox, "f" + n,
        FirefoxEntry(
            "O^partitionKey=%28https%2Cexample.com%29,:https://example.com/p/" + n + ".jpg", Head{},
            "body " + n));
    Put(TBrowserCacheKind::kChromium, "c" + n,
        ChromiumEntry(
            "1/0/_dk_https://example.com https://example.com https://example.com/q/" + n + ".jpg",
            Head{}, "body " + n));
  }
  EXPECT_EQ(Find("https://example.com/q/7777.jpg"), "body 7777");
  EXPECT_EQ(Find("https://example.com/p/123.jpg"), "body 123");
  EXPECT_EQ(Find("https://example.com/r/1.jpg"), std::nullopt);
}

// A target that keeps nothing but the count of bytes written to it.
class CountingStream final : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t count) override {
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
  }
  void Seek(std::int64_t position) override { position_ = position; }
  std::int64_t Position() const override { return position_; }
  std::int64_t Size() const override { return size_; }
  void SetSize(std::int64_t size) override { size_ = size; }

 private:
  std::int64_t position_ = 0;
  std::int64_t size_ = 0;
};

// Runs `look` in a child process; answers its exit code and peak memory.
std::pair<int, long> InChild(const std::function<int()>& look) {
  const pid_t child = fork();
  if (child == 0) _exit(look());
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)) return {-1, 0};
  return {WEXITSTATUS(status), usage.ru_maxrss};
}

bool StartsLikeJpeg(ByteSpan start) {
  return start.size() >= 3 && start[0] == 0xFF && start[1] == 0xD8 && start[2] == 0xFF;
}

constexpr std::int64_t kGiB = std::int64_t{1} << 30;

// A sparse Firefox entry of 1 GiB was held twice in memory (2.1 GB): its
// body now goes to the target piece by piece (here 256 MiB, which took 512
// MiB before).
TEST_F(BrowserCacheTest, LargeBodiesAreCopiedWithoutHoldingThemInMemory) {
  constexpr std::int64_t kSparse = std::int64_t{256} << 20;
  const fs::path file = Put(TBrowserCacheKind::kFirefox, "sparse", "\xFF\xD8\xFF");
  fs::resize_file(file, kSparse);
  std::ofstream(file, std::ios::binary | std::ios::app)
      << FirefoxMetadata(":http://h/sparse.jpg", Head{}, kSparse);
  const auto folders = BrowserCacheFolders(Cp932((dir_.path() / "cache").string()), "");
  const auto [code, peakKiB] = InChild([&] {
    CountingStream target;
    const auto hit =
        FindInBrowserCache("http://h/sparse.jpg", folders, kGiB, target, StartsLikeJpeg);
    return hit && hit->bodySize == kSparse && target.Size() == kSparse ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
  EXPECT_LT(peakKiB, 100 * 1024);
}

// 1 MB of zeros compressed, as a gzip member of about a kilobyte.
std::string ZerosMember(const std::string& start = "") {
  std::string bytes(1 << 20, '\0');
  bytes.replace(0, start.size(), start);
  return Gzip(bytes);
}

// A gzip-coded entry of a few hundred kilobytes inflated 1,000 MB into
// temp.jpg before anything looked at it. Its first bytes are looked at now:
// no picture, nothing more is inflated; a picture is inflated into the
// target piece by piece.
TEST_F(BrowserCacheTest, GzipBodiesAreLookedAtBeforeTheRestIsInflated) {
  const Head gzip{"HTTP/1.1 200 OK", {"Content-Encoding: gzip"}};
  const std::string member = ZerosMember();
  std::string bomb;
  for (int i = 0; i < 1000; ++i) bomb += member;
  Put(TBrowserCacheKind::kFirefox, "bomb", FirefoxEntry(":http://h/bomb.jpg", gzip, bomb));
  std::vector<std::string> seen;
  const auto startTest = [&](ByteSpan start) {
    seen.emplace_back(start.begin(), start.end());
    return StartsLikeJpeg(start);
  };
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Find("http://h/bomb.jpg", kGiB, startTest), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(seen, std::vector<std::string>{std::string(kBrowserCacheStartBytes, '\0')});

  std::string picture = ZerosMember("\xFF\xD8\xFF");
  for (int i = 1; i < 300; ++i) picture += member;
  Put(TBrowserCacheKind::kChromium, "picture",
      ChromiumEntry("http://h/picture.jpg", gzip, picture));
  const auto folders = BrowserCacheFolders(Cp932((dir_.path() / "cache").string()), "");
  const auto [code, peakKiB] = InChild([&] {
    CountingStream target;
    const auto hit =
        FindInBrowserCache("http://h/picture.jpg", folders, kGiB, target, StartsLikeJpeg);
    return hit && target.Size() == std::int64_t{300} << 20 ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
  EXPECT_LT(peakKiB, 100 * 1024);
}

// Bodies stored and inflated across the pieces they are read in come out
// whole; a body shorter than the start bytes is tested whole; an entry the
// start test refuses leaves the next one to serve.
TEST_F(BrowserCacheTest, StartTestAndPiecesKeepBodiesWhole) {
  std::string noise(3 << 20, '\0');
  std::uint32_t state = 12345;
  for (char& c : noise) {
    state = state * 1103515245 + 12345;
    c = static_cast<char>(state >> 24);
  }
  noise.replace(0, 3, "\xFF\xD8\xFF");
  const Head gzip{"HTTP/1.1 200 OK", {"Content-Encoding: gzip"}};
  Put(TBrowserCacheKind::kFirefox, "plain", FirefoxEntry(":http://h/plain.jpg", Head{}, noise));
  Put(TBrowserCacheKind::kChromium, "zip", ChromiumEntry("http://h/zip.jpg", gzip, Gzip(noise)));
  EXPECT_EQ(Find("http://h/plain.jpg", kGiB, StartsLikeJpeg), noise);
  EXPECT_EQ(Find("http://h/zip.jpg", kGiB, StartsLikeJpeg), noise);

  std::vector<std::string> seen;
  const auto startTest = [&](ByteSpan start) {
    seen.emplace_back(start.begin(), start.end());
    return StartsLikeJpeg(start);
  };
  const fs::path older = Put(TBrowserCacheKind::kFirefox, "older",
                             FirefoxEntry(":http://h/a.jpg", Head{}, "\xFF\xD8\xFF short"));
  fs::last_write_time(older, fs::last_write_time(older) - std::chrono::hours(1));
  Put(TBrowserCacheKind::kChromium, "newer",
      ChromiumEntry("http://h/a.jpg", Head{}, "<html>" + std::string(100, ' ')));
  EXPECT_EQ(Find("http://h/a.jpg", kMax, startTest), "\xFF\xD8\xFF short");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "<html>" + std::string(kBrowserCacheStartBytes - 6, ' '));
  EXPECT_EQ(seen[1], "\xFF\xD8\xFF short");
}

// The target's own failure (a full disk) is no damaged entry: it reaches the
// caller.
TEST_F(BrowserCacheTest, TargetWriteFailuresReachTheCaller) {
  class FullDisk final : public TStream {
   public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    void Seek(std::int64_t) override {}
    std::int64_t Position() const override { return 0; }
    std::int64_t Size() const override { return 0; }
    void SetSize(std::int64_t) override {}
  } target;
  Put(TBrowserCacheKind::kFirefox, "a", FirefoxEntry(":http://h/a.jpg", Head{}, "body"));
  EXPECT_THROW(FindInBrowserCache("http://h/a.jpg",
                                  BrowserCacheFolders(Cp932((dir_.path() / "cache").string()), ""),
                                  kMax, target),
               EWriteError);
}

TEST(BrowserCacheAddressTest, SpellsAddressesAsBrowsersKeyThem) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"http://h/a.jpg", "http://h/a.jpg"},
      {"HTTP://Example.COM/Dir/A.JPG", "http://example.com/Dir/A.JPG"},
      {"http://h:80/a.jpg", "http://h/a.jpg"},
      {"https://h:443/a.jpg", "https://h/a.jpg"},
      {"http://h:443/a.jpg", "http://h:443/a.jpg"},
      {"http://h", "http://h/"},
      {"http://h/a.jpg?x=1#frag", "http://h/a.jpg?x=1"},
      {"http://h/a b\"<>.jpg", "http://h/a%20b%22%3C%3E.jpg"},
      {Cp932("http://h/写真.jpg"), "http://h/%E5%86%99%E7%9C%9F.jpg"},
      {"http://h/%41.jpg", "http://h/%41.jpg"},
  };
  for (const auto& [address, keyed] : cases)
    EXPECT_EQ(BrowserCacheAddress(address), keyed) << address;
}

TEST(GunzipBodyTest, DecodesWholeMembersWithinTheBound) {
  const std::string text(3000, 'x');
  const std::string one = Gzip(text);
  auto run = [](const std::string& z, std::int64_t max) -> std::optional<std::string> {
    auto out = GunzipBody(reinterpret_cast<const std::uint8_t*>(z.data()), z.size(), max);
    if (!out) return std::nullopt;
    return std::string(out->begin(), out->end());
  };
  EXPECT_EQ(run(one, 3000), text);
  EXPECT_EQ(run(one, 2999), std::nullopt);
  EXPECT_EQ(run(one + Gzip("tail"), 3004), text + "tail");
  EXPECT_EQ(run(one + "junk", 10000), std::nullopt);
  EXPECT_EQ(run(one.substr(0, one.size() - 1), 10000), std::nullopt);
  EXPECT_EQ(run("", 10000), std::nullopt);
  std::string flipped =
      Gzip("some text that is long enough to be compressed, compressed, compressed");
  flipped[flipped.size() - 6] ^= 0x55;  // the CRC of the member
  EXPECT_EQ(run(flipped, 10000), std::nullopt);
}

}  // namespace
}  // namespace peloria
