#include "picture/pixel_memory.h"

#include <new>
#include <string>

#include "picture/errors.h"
#include "platform/memory.h"

namespace peloria {

namespace {

[[noreturn]] void NoMemory(std::size_t bytes) {
  throw EOutOfResources(FillMessage(kMsgNoPixelMemory, {std::to_string(bytes)}));
}

}  // namespace

void PixelMemoryDeleter::operator()(std::uint8_t* block) const {
  if (block == nullptr) return;
  if (bytes >= kMappedPixelBlock) {
    ReleaseLargeBlock(block, bytes);
  } else {
    delete[] block;
  }
}

PixelMemory AllocatePixels(std::size_t bytes, bool zero) {
  if (bytes == 0) return PixelMemory(nullptr, PixelMemoryDeleter{0});
  if (bytes >= kMappedPixelBlock) {
    void* block = AllocateLargeBlock(bytes);
    if (block == nullptr) NoMemory(bytes);
    return PixelMemory(static_cast<std::uint8_t*>(block), PixelMemoryDeleter{bytes});
  }
  std::uint8_t* block =
      zero ? new (std::nothrow) std::uint8_t[bytes]() : new (std::nothrow) std::uint8_t[bytes];
  if (block == nullptr) NoMemory(bytes);
  return PixelMemory(block, PixelMemoryDeleter{bytes});
}

}  // namespace peloria
