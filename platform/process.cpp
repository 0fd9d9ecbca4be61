#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/cp932.h"
#include "platform/message.h"

namespace peloria {

namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
  throw EProcessError(what + ": " + Cp932(std::strerror(error)));
}

// write() until all bytes are out; false on a failure.
bool WriteAll(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

// In the grandchild, between fork and exec: only async-signal-safe calls.
// The standard streams become /dev/null, the handed file descriptor 3, and
// every other descriptor is closed except the one that reports a failed exec.
[[noreturn]] void ExecInChild(const char* program, char* const* argv, int handed, int report) {
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
  }
  // The report pipe moves above the descriptors the program gets, so that
  // placing the handed file cannot overwrite it; everything else is closed.
  report = ::fcntl(report, F_DUPFD_CLOEXEC, kHandedDescriptor + 8);
  if (handed >= 0) {
    if (handed == kHandedDescriptor) {
      ::fcntl(handed, F_SETFD, 0);
    } else {
      ::dup2(handed, kHandedDescriptor);  // the copy is not closed on exec
    }
  }
  const unsigned firstFree = handed >= 0 ? kHandedDescriptor + 1 : kHandedDescriptor;
  if (report > static_cast<int>(firstFree)) {
    ::close_range(firstFree, static_cast<unsigned>(report) - 1, 0);
  }
  ::close_range(static_cast<unsigned>(report) + 1, ~0U, 0);
  // Signals the starter ignored or blocked must not carry over.
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::signal(SIGPIPE, SIG_DFL);
  ::execv(program, argv);
  const int error = errno;
  (void)!::write(report, &error, sizeof error);
  ::_exit(127);
}

}  // namespace

TAnonymousFile::TAnonymousFile(std::string_view bytes) {
  fd_ = ::memfd_create("peloria-handed", MFD_CLOEXEC);
  if (fd_ < 0) Fail("memfd_create", errno);
  if (!WriteAll(fd_, bytes.data(), bytes.size()) || ::lseek(fd_, 0, SEEK_SET) != 0) {
    const int error = errno;
    ::close(fd_);
    Fail("write", error);
  }
}

TAnonymousFile::~TAnonymousFile() {
  if (fd_ >= 0) ::close(fd_);
}

void StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   const TAnonymousFile* handed) {
  // Everything the children need is made before fork: after it, only
  // async-signal-safe calls are allowed.
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const int handedFd = handed != nullptr ? handed->Descriptor() : -1;

  // The grandchild writes errno into this pipe when exec fails; a successful
  // exec closes it (close-on-exec), so an empty read means the program runs.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) Fail("pipe", errno);

  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    Fail("fork", error);
  }
  if (child == 0) {
    // The child leads a new session and forks the program's process, which
    // is then nobody's child but init's (or a subreaper's) once this exits.
    ::close(report[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) ExecInChild(program.c_str(), argv.data(), handedFd, report[1]);
    ::_exit(grandchild < 0 ? 126 : 0);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw EProcessError("fork: failed");
  if (n == static_cast<ssize_t>(sizeof error)) Fail(program, error);
}

std::size_t ReadStandardInput(void* buffer, std::size_t count) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(0, bytes + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

bool WriteStandardOutput(std::string_view bytes) {
  return WriteAll(1, bytes.data(), bytes.size());
}

std::string ReadDescriptor(int fd, std::size_t limit) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) Fail("fstat", errno);
  if (::lseek(fd, 0, SEEK_SET) != 0 && S_ISREG(info.st_mode)) Fail("lseek", errno);
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("read", errno);
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > limit) {
      throw EProcessError(FillMessage("handed file above %d bytes", {std::to_string(limit)}));
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

}  // namespace peloria
