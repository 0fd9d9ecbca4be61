// Storage for the pixels of a bitmap (and the whole files the decoders read).
// Large blocks come from the system as
// huge-page mappings (platform/memory.h explains why); small blocks from the
// ordinary heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace peloria {

struct PixelMemoryDeleter {
  std::size_t bytes = 0;
  void operator()(std::uint8_t* block) const;
};
using PixelMemory = std::unique_ptr<std::uint8_t[], PixelMemoryDeleter>;

// Blocks of at least this size are mapped from the system.
inline constexpr std::size_t kMappedPixelBlock = std::size_t{4} << 20;

// A block of `bytes` bytes (none for 0), zero-filled when `zero` (mapped
// blocks always are). Fails with EOutOfResources when the system has no
// memory for it.
PixelMemory AllocatePixels(std::size_t bytes, bool zero);

}  // namespace peloria
