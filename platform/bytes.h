// Fixed-size unsigned integers read from a span of bytes in either byte
// order. Every reader checks its range first, as `count <= size && at <=
// size - count`, so that no sum can wrap and no pointer is formed past the
// end; a read that does not fit gives no value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace peloria {

enum class ByteOrder { kLittle, kBig };

using ByteSpan = std::span<const std::uint8_t>;

// True when `count` bytes from `at` lie inside `data`.
constexpr bool InRange(ByteSpan data, std::size_t at, std::size_t count) {
  return count <= data.size() && at <= data.size() - count;
}

// The `Bytes`-byte unsigned integer at `at` in `order`; none when it does not
// fit inside `data`.
template <typename T>
constexpr std::optional<T> ReadUnsigned(ByteSpan data, std::size_t at, ByteOrder order) {
  constexpr std::size_t kBytes = sizeof(T);
  if (!InRange(data, at, kBytes)) return std::nullopt;
  T value = 0;
  for (std::size_t i = 0; i < kBytes; ++i) {
    const std::size_t from = order == ByteOrder::kBig ? i : kBytes - 1 - i;
    value = static_cast<T>(value << 8 | data[at + from]);
  }
  return value;
}

constexpr std::optional<std::uint16_t> ReadU16(ByteSpan data, std::size_t at, ByteOrder order) {
  return ReadUnsigned<std::uint16_t>(data, at, order);
}
constexpr std::optional<std::uint32_t> ReadU32(ByteSpan data, std::size_t at, ByteOrder order) {
  return ReadUnsigned<std::uint32_t>(data, at, order);
}
constexpr std::optional<std::uint64_t> ReadU64(ByteSpan data, std::size_t at, ByteOrder order) {
  return ReadUnsigned<std::uint64_t>(data, at, order);
}

constexpr std::optional<std::uint16_t> U16Le(ByteSpan data, std::size_t at) {
  return ReadU16(data, at, ByteOrder::kLittle);
}
constexpr std::optional<std::uint16_t> U16Be(ByteSpan data, std::size_t at) {
  return ReadU16(data, at, ByteOrder::kBig);
}
constexpr std::optional<std::uint32_t> U32Le(ByteSpan data, std::size_t at) {
  return ReadU32(data, at, ByteOrder::kLittle);
}
constexpr std::optional<std::uint32_t> U32Be(ByteSpan data, std::size_t at) {
  return ReadU32(data, at, ByteOrder::kBig);
}
constexpr std::optional<std::uint64_t> U64Le(ByteSpan data, std::size_t at) {
  return ReadU64(data, at, ByteOrder::kLittle);
}
constexpr std::optional<std::uint64_t> U64Be(ByteSpan data, std::size_t at) {
  return ReadU64(data, at, ByteOrder::kBig);
}

}  // namespace peloria
