// The one place in picture/ that talks to the kernel directly: mmap and
// madvise have no portable equivalent, and the bitmap's first-touch cost is
// what the JPEG decoding time of large photos is measured against.
#include "picture/pixel_memory.h"

#include <sys/mman.h>

#include <new>
#include <string>

#include "picture/errors.h"

namespace peloria {

namespace {

[[noreturn]] void NoMemory(std::size_t bytes) {
  throw EOutOfResources(FormatPictureMessage(kMsgBitmapTooLarge, {std::to_string(bytes), "1"}));
}

}  // namespace

void PixelMemoryDeleter::operator()(std::uint8_t* block) const {
  if (block == nullptr) return;
  if (bytes >= kMappedPixelBlock) {
    munmap(block, bytes);
  } else {
    delete[] block;
  }
}

PixelMemory AllocatePixels(std::size_t bytes, bool zero) {
  if (bytes == 0) return PixelMemory(nullptr, PixelMemoryDeleter{0});
  if (bytes >= kMappedPixelBlock) {
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) NoMemory(bytes);
#ifdef MADV_HUGEPAGE
    madvise(block, bytes, MADV_HUGEPAGE);  // advice only: failure changes nothing
#endif
    return PixelMemory(static_cast<std::uint8_t*>(block), PixelMemoryDeleter{bytes});
  }
  std::uint8_t* block =
      zero ? new (std::nothrow) std::uint8_t[bytes]() : new (std::nothrow) std::uint8_t[bytes];
  if (block == nullptr) NoMemory(bytes);
  return PixelMemory(block, PixelMemoryDeleter{bytes});
}

}  // namespace peloria
