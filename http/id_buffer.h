// TIdBuffer: a growable byte store that is appended to at the end and
// consumed from the front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace peloria {

class TIdBuffer {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  std::size_t Size() const { return bytes_.size() - start_; }
  bool Empty() const { return Size() == 0; }
  // The buffered bytes, Size() of them; valid until the next change.
  const std::uint8_t* Data() const { return bytes_.data() + start_; }
  std::string_view View() const { return {reinterpret_cast<const char*>(Data()), Size()}; }

  void Append(const void* bytes, std::size_t count);
  void Append(std::string_view text) { Append(text.data(), text.size()); }
  // Drops `count` bytes from the front; EIdNotEnoughDataInBuffer "Not enough
  // data in buffer." when fewer are held.
  void Remove(std::size_t count);
  // Removes `count` bytes from the front and answers them (same failure).
  std::string Extract(std::size_t count);
  void Clear();
  // The offset of the first `needle` at or after `from`, or npos.
  std::size_t Find(std::string_view needle, std::size_t from = 0) const;

 private:
  // Bytes before start_ are consumed; they are dropped when they make up the
  // larger part of the store, so removal from the front is cheap on average.
  std::vector<std::uint8_t> bytes_;
  std::size_t start_ = 0;
};

}  // namespace peloria
