// Starting other programs and the standard streams as raw bytes. A program
// started here runs in a session of its own, so that it outlives the process
// that started it and no signal meant for that process's group reaches it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"

namespace peloria {

PELORIA_DECLARE_EXCEPTION(EProcessError, Exception);  // a program could not be started

// Bytes in an anonymous file of their own (in memory, never in a folder), for
// a started program to read from a descriptor.
class TAnonymousFile {
 public:
  // Fails with EProcessError when the file cannot be made or filled.
  explicit TAnonymousFile(std::string_view bytes);
  ~TAnonymousFile();
  TAnonymousFile(const TAnonymousFile&) = delete;
  TAnonymousFile& operator=(const TAnonymousFile&) = delete;

  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

// The descriptor number at which a started program finds the handed file.
constexpr int kHandedDescriptor = 3;

// Starts `program` (a path, never looked up in PATH) with `arguments` (the
// program's name first) in a new session, detached from this process: it is
// not this process's child, so it is never waited for, and it keeps running
// after this process ends. Its standard input, output and error are
// /dev/null; `handed`, when given, is open at kHandedDescriptor; no other
// descriptor of this process is inherited. Returns once the program has been
// executed; fails with EProcessError naming the cause when it could not be
// (a missing file, no permission).
void StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   const TAnonymousFile* handed = nullptr);

// Reads standard input until `count` bytes have come or it ends; answers how
// many bytes were read. A read failure counts as the end.
std::size_t ReadStandardInput(void* buffer, std::size_t count);
// Writes all of `bytes` to standard output; false when it could not.
bool WriteStandardOutput(std::string_view bytes);

// Reads the whole of the descriptor `fd` (a handed file) from its start, at
// most `limit` bytes; fails with EProcessError when it cannot be read or
// holds more.
std::string ReadDescriptor(int fd, std::size_t limit);

}  // namespace peloria
