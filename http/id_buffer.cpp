#include "http/id_buffer.h"

#include <algorithm>
#include <cstring>

#include "http/id_exceptions.h"

namespace peloria {

void TIdBuffer::Append(const void* bytes, std::size_t count) {
  if (count == 0) return;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  bytes_.insert(bytes_.end(), p, p + count);
}

void TIdBuffer::Remove(std::size_t count) {
  if (count > Size()) throw EIdNotEnoughDataInBuffer(kMsgNotEnoughData);
  start_ += count;
  if (start_ == bytes_.size()) {
    Clear();
  } else if (start_ > bytes_.size() / 2) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
}

std::string TIdBuffer::Extract(std::size_t count) {
  if (count > Size()) throw EIdNotEnoughDataInBuffer(kMsgNotEnoughData);
  std::string result(reinterpret_cast<const char*>(Data()), count);
  Remove(count);
  return result;
}

void TIdBuffer::Clear() {
  bytes_.clear();
  start_ = 0;
}

std::size_t TIdBuffer::Find(std::string_view needle, std::size_t from) const {
  std::size_t at = View().find(needle, from);
  return at == std::string_view::npos ? npos : at;
}

}  // namespace peloria
