#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace peloria {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// The block is faulted in on another thread while the caller writes it from
// its start, as a decoder does: the caller sees zeros and keeps its writes.
TEST(LargeBlockTest, ZeroFilledAndKeepsWritesMadeWhileFaultedIn) {
  const std::size_t bytes = 64 * kMiB + 123;
  auto* block = static_cast<std::uint8_t*>(AllocateLargeBlock(bytes));
  ASSERT_NE(block, nullptr);
  for (std::size_t at = 0; at < bytes; at += 4096) {
    ASSERT_EQ(block[at], 0) << at;
    block[at] = static_cast<std::uint8_t>(at / 4096 + 1);
  }
  EXPECT_EQ(block[bytes - 1], 0);
  for (std::size_t at = 0; at < bytes; at += 4096) {
    ASSERT_EQ(block[at], static_cast<std::uint8_t>(at / 4096 + 1)) << at;
  }
  ReleaseLargeBlock(block, bytes);
}

// Blocks released before they are faulted in stop their faulting first.
TEST(LargeBlockTest, ReleasedAtOnceManyTimes) {
  for (int i = 0; i < 20; ++i) {
    void* block = AllocateLargeBlock(512 * kMiB);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xFF, 4096);
    ReleaseLargeBlock(block, 512 * kMiB);
  }
}

}  // namespace
}  // namespace peloria
