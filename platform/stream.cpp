#include "platform/stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/cp932.h"
#include "platform/exception.h"
#include "platform/message.h"

namespace peloria {

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError(WriteErrorText(WriteCause()));
}

std::string WriteErrorText(int cause) {
  // The system's reason (ENOSPC: "No space left on device") tells a full disk
  // from any other failure; the bare text names none.
  return cause == 0 ? "Stream write error"
                    : std::string("Stream write error: ") + std::strerror(cause);
}

namespace {

// flock that retries a lock held elsewhere until `wait` has passed.
bool LockWithin(int fd, int operation, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(5);
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(100));
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& path, Mode mode, std::chrono::milliseconds lockWait)
    : path_(path) {
  // No name can hold a zero byte: such a path names no file (and must not be
  // cut short at it by the system call).
  const bool nameable = !path.empty() && path.find('\0') == std::string::npos;
  // O_NONBLOCK: opening a FIFO without a writer, or some devices, would wait
  // forever. Only regular files are kept, for which the flag has no effect.
  if (mode == Mode::kOpenReadDenyWrite) {
    fd_ = nameable ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY) : -1;
    struct stat st;
    bool ok = fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) &&
              LockWithin(fd_, LOCK_SH, lockWait);
    if (!ok) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
      throw EFOpenError(FillMessage("ファイル %s は開けません", {Cp932(path)}));
    }
  } else {
    // Take the lock before emptying, so a file that another holder keeps
    // exclusively is not cut behind its back. O_NOFOLLOW: a symbolic link
    // planted under the name must not send the data elsewhere; nor may a
    // hard link, whose other name would see every byte written here.
    fd_ = nameable ? ::open(path.c_str(),
                            O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666)
                   : -1;
    struct stat st;
    bool ok = fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
              LockWithin(fd_, LOCK_EX, lockWait) && ::ftruncate(fd_, 0) == 0;
    if (!ok) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
      throw EFCreateError(FillMessage("ファイル %s を作成できません", {Cp932(path)}));
    }
  }
}

void TFileStream::ShareLock() {
  // Linux converts a flock lock in place, under the lock table's own lock, so
  // no waiting writer can slip in between.
  ::flock(fd_, LOCK_SH);
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
    writeCause_ = n < 0 ? errno : 0;
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
  if (::ftruncate(fd_, size < 0 ? 0 : size) != 0) throw EWriteError(WriteErrorText(errno));
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
