#include "app/histogram_count.h"

#include <algorithm>
#include <bit>
#include <thread>
#include <vector>

#include "app/app_limits.h"

namespace peloria {
namespace {

// The counter type that counts the bytes themselves: an 8-bit row's palette
// indices, which are then counted as their colours.
constexpr int kIndex = 4;

// Counts into eight interleaved sets of 32-bit counters, so that runs of equal
// values (smooth pictures) do not wait on one counter, and adds them to 64-bit
// totals before any of them could overflow. The brightness type counts the
// sum blue + green + red (0 .. 765) and divides by 3 only when adding up, which
// keeps the per-pixel work to two additions.
template <int kType>
class Counter {
 public:
  explicit Counter(THistogramCounts& totals) : totals_(totals) {}
  ~Counter() { Flush(); }
  Counter(const Counter&) = delete;
  Counter& operator=(const Counter&) = delete;

  // Counts `count` pixels of `kStride` bytes each, blue, green, red first
  // (3 for a 24-bit row; 4 for 0xFFRRGGBB words, which lie in memory as blue,
  // green, red, alpha).
  template <int kStride>
  void Add(const std::uint8_t* p, int count) {
    Reserve(count);
    int x = 0;
    for (; x + kLanes <= count; x += kLanes, p += kLanes * kStride) {
      for (int lane = 0; lane < kLanes; ++lane) ++lanes_[lane][Key(p + lane * kStride)];
    }
    for (; x < count; ++x, p += kStride) ++lanes_[0][Key(p)];
  }

 private:
  static constexpr std::size_t kKeys = kType == 3 ? 766 : 256;
  static constexpr int kLanes = 8;

  // The counted key of the pixel at `p` (blue, green, red): one channel, or
  // the sum of all three.
  static std::size_t Key(const std::uint8_t* p) {
    if constexpr (kType == 0) return p[2];
    if constexpr (kType == 1) return p[1];
    if constexpr (kType == 2) return p[0];
    if constexpr (kType == kIndex) return p[0];
    return std::size_t{p[0]} + p[1] + p[2];
  }

  void Reserve(int count) {
    if (pending_ + count > kHistogramLaneFlush) Flush();
    pending_ += count;
  }

  void Flush() {
    for (auto& lane : lanes_) {
      for (std::size_t key = 0; key < kKeys; ++key) {
        totals_[kType == 3 ? key / 3 : key] += lane[key];  // (b + g + r) div 3
      }
      lane.fill(0);
    }
    pending_ = 0;
  }

  THistogramCounts& totals_;
  std::array<std::array<std::uint32_t, kKeys>, kLanes> lanes_{};
  std::int64_t pending_ = 0;
};

template <int kType, int kStride = 3>
void CountRows(const std::vector<const std::uint8_t*>& rows, int width, THistogramCounts& counts) {
  const std::int64_t pixels = static_cast<std::int64_t>(rows.size()) * width;
  const unsigned threads = static_cast<unsigned>(std::clamp<std::int64_t>(
      pixels / kMinPixelsPerHistogramThread, 1,
      std::min(kMaxHistogramThreads, std::max(1u, std::thread::hardware_concurrency()))));
  // Each thread counts a band of rows into its own totals; the bands are
  // added up at the end, so the result does not depend on the thread count.
  std::vector<THistogramCounts> partial(threads, THistogramCounts{});
  auto band = [&](unsigned t) {
    const std::size_t first = rows.size() * t / threads;
    const std::size_t last = rows.size() * (t + 1) / threads;
    Counter<kType> counter(partial[t]);
    for (std::size_t y = first; y < last; ++y) counter.template Add<kStride>(rows[y], width);
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

// The value a colour is counted under by histogram type.
template <int kType>
std::size_t KeyOf(const TRGBQuad& q) {
  if constexpr (kType == 0) return q.rgbRed;
  if constexpr (kType == 1) return q.rgbGreen;
  if constexpr (kType == 2) return q.rgbBlue;
  return (std::size_t{q.rgbBlue} + q.rgbGreen + q.rgbRed) / 3;
}

// An 8-bit bitmap counts how often each palette index occurs, then adds each
// index's count under its colour (an index beyond the palette is black, as
// the bitmap reads it): the same counts as pixel by pixel, at one addition a
// pixel.
template <int kType>
void CountIndices(const TBitmap& bitmap, const std::vector<const std::uint8_t*>& rows,
                  THistogramCounts& counts) {
  THistogramCounts byIndex{};
  CountRows<kIndex, 1>(rows, std::min(bitmap.Width(), bitmap.RowBytes()), byIndex);
  const std::vector<TRGBQuad>& palette = bitmap.Palette();
  for (std::size_t i = 0; i < 256; ++i) {
    if (byIndex[i] == 0) continue;
    counts[KeyOf<kType>(i < palette.size() ? palette[i] : TRGBQuad{})] += byIndex[i];
  }
}

template <int kType>
void CountBitmap(const TBitmap& bitmap, THistogramCounts& counts) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (bitmap.BitsPerPixel() == 24 || bitmap.BitsPerPixel() == 8) {
    // The rows are looked up here, on the caller's thread, through the
    // read-only access, which never copies a shared image; the counting
    // threads then only read them.
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) rows[static_cast<std::size_t>(y)] = bitmap.RowData(y);
    if (bitmap.BitsPerPixel() == 8) {
      CountIndices<kType>(bitmap, rows, counts);
    } else {
      CountRows<kType>(rows, std::min(width, bitmap.RowBytes() / 3), counts);
    }
    return;
  }
  Counter<kType> counter(counts);
  static_assert(std::endian::native == std::endian::little);
  std::vector<std::uint32_t> row(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    bitmap.RowToArgb(y, row.data());
    counter.template Add<4>(reinterpret_cast<const std::uint8_t*>(row.data()), width);
  }
}

}  // namespace

void CountHistogram(const TBitmap& bitmap, int type, THistogramCounts& counts) {
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
