// Large zero-filled memory blocks straight from the system. A photo's pixel
// image is tens of megabytes written once right after allocation; with 4 KiB
// pages that first touch costs one page fault per page, which for a
// 24-megapixel photo takes longer than the whole JPEG entropy decoding. Such
// blocks are therefore mapped directly, marked for transparent huge pages
// where the kernel offers them, and faulted in whole, on another core while
// the caller starts writing when the machine has one.
#pragma once

#include <cstddef>

namespace peloria {

// A zero-filled block of `bytes` bytes (bytes > 0), or nullptr when the
// system has no memory for it. Release it with ReleaseLargeBlock.
void* AllocateLargeBlock(std::size_t bytes);
void ReleaseLargeBlock(void* block, std::size_t bytes);

}  // namespace peloria
