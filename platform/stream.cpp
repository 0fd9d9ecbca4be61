#include "platform/stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/cp932.h"
#include "platform/exception.h"

namespace peloria {

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

namespace {

std::string Message(const char* utf8Template, const std::string& path) {
  std::string t = Cp932(utf8Template);
  size_t at = t.find("%s");
  return t.substr(0, at) + path + t.substr(at + 2);
}

}  // namespace

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
  const std::string native = Utf8(path);
  if (mode == Mode::kOpenReadDenyWrite) {
    fd_ = path.empty() ? -1 : ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    bool ok = fd_ >= 0 && ::fstat(fd_, &st) == 0 && !S_ISDIR(st.st_mode) &&
              ::flock(fd_, LOCK_SH | LOCK_NB) == 0;
    if (!ok) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
      throw EFOpenError(Message("ファイル %s は開けません", path));
    }
  } else {
    // Take the lock before emptying, so a file that another holder keeps
    // exclusively is not cut behind its back.
    fd_ = path.empty() ? -1 : ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    bool ok = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(fd_, 0) == 0;
    if (!ok) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
      throw EFCreateError(Message("ファイル %s を作成できません", path));
    }
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(count - done), position_ + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  position_ += done;
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t n = ::pwrite(fd_, in + done, static_cast<size_t>(count - done), position_ + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  position_ += done;
  return done;
}

void TFileStream::Seek(std::int64_t position) {
  position_ = position < 0 ? 0 : position;
}

std::int64_t TFileStream::Size() const {
  struct stat st;
  return ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

void TFileStream::SetSize(std::int64_t size) {
  if (::ftruncate(fd_, size < 0 ? 0 : size) != 0) throw EWriteError("Stream write error");
  if (position_ > size) position_ = size;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  std::int64_t available = Size() - position_;
  std::int64_t n = count < available ? count : available;
  if (n <= 0) return 0;
  std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (position_ + count > Size()) bytes_.resize(static_cast<size_t>(position_ + count));
  std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

void TMemoryStream::SetSize(std::int64_t size) {
  bytes_.resize(static_cast<size_t>(size < 0 ? 0 : size));
  if (position_ > size) position_ = size;
}

}  // namespace peloria
