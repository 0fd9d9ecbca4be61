// Byte streams: an abstract stream with a position and a size, a file stream
// over a path in CP932, and a growable memory stream.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace peloria {

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to `count` bytes at the position and advances it; answers how
  // many were read (0 at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes `count` bytes at the position (growing the stream as needed) and
  // advances it; answers how many were written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position; a position beyond the end is allowed.
  virtual void Seek(std::int64_t position) = 0;
  virtual std::int64_t Position() const = 0;
  virtual std::int64_t Size() const = 0;
  // Grows or cuts the stream; the position stays unless it lay beyond the new end.
  virtual void SetSize(std::int64_t size) = 0;

  // Read and Write that fail with EReadError "Stream read error" and
  // EWriteError "Stream write error" when fewer bytes moved than asked; the
  // write error names the system's cause when there is one ("Stream write
  // error: No space left on device").
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);

 protected:
  // The errno of the last failed Write; 0 when it failed without one.
  virtual int WriteCause() const { return 0; }
};

// "Stream write error", with ": " and the text of `cause` when it is not 0.
std::string WriteErrorText(int cause);

class TFileStream final : public TStream {
 public:
  enum class Mode {
    // Open an existing regular file for reading; others may read it, writers
    // are refused (an advisory shared lock; a file held exclusively fails).
    kOpenReadDenyWrite,
    // Create the file or empty an existing one, for reading and writing, with
    // exclusive access (an advisory exclusive lock). A symbolic link in the
    // last place is never followed, and an existing entry that is no regular
    // file, or a file with another hard link, is refused.
    kCreateExclusive,
  };

  // Fails with EFOpenError "ファイル %s は開けません" or EFCreateError
  // "ファイル %s を作成できません", the path (as CP932 text) in place of %s.
  // Paths are the file system's own bytes; one holding a zero byte names no
  // file. Opening never blocks: a FIFO or device is refused, not waited on.
  // `lockWait` is how long to wait for a lock that another holder keeps
  // before failing; by default the lock is tried once.
  TFileStream(const std::string& path, Mode mode,
              std::chrono::milliseconds lockWait = std::chrono::milliseconds(0));
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // Turns an exclusive lock into a shared one without letting go of it in
  // between: readers may then open the file, writers still wait.
  void ShareLock();

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  void Seek(std::int64_t position) override;
  std::int64_t Position() const override { return position_; }
  std::int64_t Size() const override;
  void SetSize(std::int64_t size) override;

  const std::string& Path() const { return path_; }

 protected:
  int WriteCause() const override { return writeCause_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::int64_t position_ = 0;
  int writeCause_ = 0;
};

class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  void Seek(std::int64_t position) override { position_ = position < 0 ? 0 : position; }
  std::int64_t Position() const override { return position_; }
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  void SetSize(std::int64_t size) override;

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  std::string Text() const { return std::string(bytes_.begin(), bytes_.end()); }

 private:
  std::vector<std::uint8_t> bytes_;
  std::int64_t position_ = 0;
};

}  // namespace peloria
