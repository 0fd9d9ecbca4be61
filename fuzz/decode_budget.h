// The time a harness allows one decode. The decoders bound their work (JPEG
// block visits, HEIF items and tiles, TIFF strips and tiles) as well as their
// memory, and the fuzz build lowers those bounds with the bitmap bound, so a
// decode under the sanitizers ends in well under a second; one that takes
// longer than this has found work no bound covers and is a finding, even
// when it would finish before libFuzzer's own -timeout.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace peloria::fuzz {

inline constexpr std::chrono::seconds kDecodeSeconds{5};

class TDecodeBudget {
 public:
  // Aborts when more than kDecodeSeconds passed since construction.
  void Check() const {
    const auto spent = std::chrono::steady_clock::now() - start_;
    if (spent > kDecodeSeconds) {
      std::fprintf(stderr, "decode took %.1f s, more than the decode budget of %lld s\n",
                   std::chrono::duration<double>(spent).count(),
                   static_cast<long long>(kDecodeSeconds.count()));
      std::abort();
    }
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace peloria::fuzz
