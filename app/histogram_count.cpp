#include "app/histogram_count.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <thread>
#include <vector>

namespace peloria {
namespace {

// Counts into four interleaved sets of 32-bit counters, so that runs of equal
// values (smooth pictures) do not wait on one counter, and adds them to 64-bit
// totals before any of them could overflow.
class Counter {
 public:
  explicit Counter(THistogramCounts& totals) : totals_(totals) {}
  ~Counter() { Flush(); }
  Counter(const Counter&) = delete;
  Counter& operator=(const Counter&) = delete;

  // Counts `count` pixels of 3 bytes each, blue, green, red.
  template <int kType>
  void AddBgr(const std::uint8_t* p, int count) {
    Reserve(count);
    int x = 0;
    // Four pixels are twelve bytes: three 32-bit loads instead of twelve byte
    // loads. Bytes in a little-endian word: b0 g0 r0 b1 | g1 r1 b2 g2 | r2 b3 g3 r3.
    for (; x + 4 <= count; x += 4, p += 12) {
      std::uint32_t w[3];
      std::memcpy(w, p, sizeof w);
      Count4<kType>(Pixel(w[0]), Pixel((w[0] >> 24) | (w[1] << 8)),
                    Pixel((w[1] >> 16) | (w[2] << 16)), Pixel(w[2] >> 8));
    }
    for (; x < count; ++x, p += 3) {
      ++lanes_[0][Value<kType>(Pixel(p[0] | (p[1] << 8) | (p[2] << 16)))];
    }
  }

  // Counts `count` pixels given as 0xFFRRGGBB.
  template <int kType>
  void AddArgb(const std::uint32_t* p, int count) {
    Reserve(count);
    int x = 0;
    for (; x + 4 <= count; x += 4, p += 4) Count4<kType>(p[0], p[1], p[2], p[3]);
    for (; x < count; ++x, ++p) ++lanes_[0][Value<kType>(*p & 0xFFFFFF)];
  }

 private:
  static constexpr std::int64_t kFlushAt = std::int64_t{1} << 30;

  // (b + g + r) div 3 for every sum.
  static constexpr std::array<std::uint8_t, 766> kThird = [] {
    std::array<std::uint8_t, 766> third{};
    for (std::size_t sum = 0; sum < third.size(); ++sum)
      third[sum] = static_cast<std::uint8_t>(sum / 3);
    return third;
  }();

  // A pixel as 0x00RRGGBB.
  static std::uint32_t Pixel(std::uint32_t bgr) { return bgr & 0xFFFFFF; }

  template <int kType>
  static std::size_t Value(std::uint32_t rgb) {
    const std::uint32_t b = rgb & 0xFF, g = (rgb >> 8) & 0xFF, r = (rgb >> 16) & 0xFF;
    if constexpr (kType == 0) return r;
    if constexpr (kType == 1) return g;
    if constexpr (kType == 2) return b;
    return kThird[b + g + r];
  }

  template <int kType>
  void Count4(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    ++lanes_[0][Value<kType>(a & 0xFFFFFF)];
    ++lanes_[1][Value<kType>(b & 0xFFFFFF)];
    ++lanes_[2][Value<kType>(c & 0xFFFFFF)];
    ++lanes_[3][Value<kType>(d & 0xFFFFFF)];
  }

  void Reserve(int count) {
    if (pending_ + count > kFlushAt) Flush();
    pending_ += count;
  }

  void Flush() {
    for (auto& lane : lanes_) {
      for (std::size_t i = 0; i < lane.size(); ++i) totals_[i] += lane[i];
      lane.fill(0);
    }
    pending_ = 0;
  }

  THistogramCounts& totals_;
  std::array<std::array<std::uint32_t, 257>, 4> lanes_{};
  std::int64_t pending_ = 0;
};

// Below this many pixels a second thread costs more than it saves.
constexpr std::int64_t kPixelsPerThread = std::int64_t{1} << 21;
constexpr unsigned kMaxThreads = 4;

template <int kType>
void CountRows(const std::vector<const std::uint8_t*>& rows, int width, THistogramCounts& counts) {
  const std::int64_t pixels = static_cast<std::int64_t>(rows.size()) * width;
  const unsigned threads = static_cast<unsigned>(std::clamp<std::int64_t>(
      pixels / kPixelsPerThread, 1,
      std::min(kMaxThreads, std::max(1u, std::thread::hardware_concurrency()))));
  // Each thread counts a band of rows into its own totals; the bands are
  // added up at the end, so the result does not depend on the thread count.
  std::vector<THistogramCounts> partial(threads, THistogramCounts{});
  auto band = [&](unsigned t) {
    const std::size_t first = rows.size() * t / threads;
    const std::size_t last = rows.size() * (t + 1) / threads;
    Counter counter(partial[t]);
    for (std::size_t y = first; y < last; ++y) counter.AddBgr<kType>(rows[y], width);
  };
  {
    std::vector<std::jthread> workers;
    for (unsigned t = 1; t < threads; ++t) workers.emplace_back(band, t);
    band(0);
  }
  for (const THistogramCounts& p : partial) {
    for (std::size_t i = 0; i < counts.size(); ++i) counts[i] += p[i];
  }
}

template <int kType>
void CountBitmap(TBitmap& bitmap, THistogramCounts& counts) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (bitmap.BitsPerPixel() == 24) {
    // Row access happens here, on the caller's thread, one row at a time: the
    // first access gives the bitmap its own pixels. The counting threads then
    // only read.
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) rows[static_cast<std::size_t>(y)] = bitmap.ScanLine(y);
    CountRows<kType>(rows, std::min(width, bitmap.RowBytes() / 3), counts);
    return;
  }
  Counter counter(counts);
  std::vector<std::uint32_t> row(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    bitmap.RowToArgb(y, row.data());
    counter.AddArgb<kType>(row.data(), width);
  }
}

}  // namespace

void CountHistogram(TBitmap& bitmap, int type, THistogramCounts& counts) {
  if (bitmap.Width() <= 0 || bitmap.Height() <= 0) return;
  switch (type) {
    case 0:
      CountBitmap<0>(bitmap, counts);
      break;
    case 1:
      CountBitmap<1>(bitmap, counts);
      break;
    case 2:
      CountBitmap<2>(bitmap, counts);
      break;
    default:
      CountBitmap<3>(bitmap, counts);
      break;
  }
}

}  // namespace peloria
