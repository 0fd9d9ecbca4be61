#include "tests/e2e/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/wait.h"

namespace peloria::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Collects the exit status of child `pid` into `status`; with `block` false
// answers false at once while the child still runs. Never throws, since
// Process's destructor reaps through it.
bool Reap(pid_t pid, int& status, bool block) {
  pid_t r;
  do {
    r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  return r == pid;
}

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) Fail("pipe2");
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (read >= 0) ::close(read);
    read = -1;
  }
  void CloseWrite() {
    if (write >= 0) ::close(write);
    write = -1;
  }
};

// Everything the child needs is prepared before fork: between fork and exec
// only async-signal-safe calls are made.
struct Prepared {
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::string cwd;
  bool dropToNobody = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

Prepared Prepare(const Command& command) {
  if (command.argv.empty()) throw std::invalid_argument("empty command");
  Prepared p;
  for (const auto& a : command.argv) p.argv.push_back(const_cast<char*>(a.c_str()));
  p.argv.push_back(nullptr);
  for (const auto& e : command.env) p.envp.push_back(const_cast<char*>(e.c_str()));
  p.envp.push_back(nullptr);
  p.cwd = command.cwd.string();
  if (command.asNobody && RunningAsRoot()) {
    p.dropToNobody = true;
    p.uid = NobodyUid();
    p.gid = NobodyGid();
  }
  return p;
}

// In the child: sets up descriptors and identity and executes; never returns.
[[noreturn]] void Exec(const Prepared& p, int in, int out, int err, int passFd, int passFd4) {
  ::setpgid(0, 0);
  ::signal(SIGPIPE, SIG_DFL);
  // The standard streams' descriptors may be 3 or 4 themselves: they move
  // out of the way of the handed ones first.
  for (int* fd : {&in, &out, &err}) {
    if (*fd == 3 || *fd == 4) *fd = ::fcntl(*fd, F_DUPFD, 10);
  }
  if (passFd >= 0 && ::dup2(passFd, 3) < 0) ::_exit(127);
  if (passFd4 >= 0 && ::dup2(passFd4, 4) < 0) ::_exit(127);
  if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
  if (!p.cwd.empty() && ::chdir(p.cwd.c_str()) != 0) ::_exit(127);
  if (p.dropToNobody) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(p.gid) != 0 || ::setuid(p.uid) != 0) ::_exit(127);
  }
  ::execve(p.argv[0], p.argv.data(), p.envp.data());
  ::_exit(127);
}

int OpenDevNull(int flags) {
  int fd = ::open("/dev/null", flags | O_CLOEXEC);
  if (fd < 0) Fail("open /dev/null");
  return fd;
}

void KillGroup(pid_t pid, int sig) {
  if (::kill(-pid, sig) != 0) ::kill(pid, sig);
}

}  // namespace

bool RunningAsRoot() {
  return ::geteuid() == 0;
}

uid_t NobodyUid() {
  const passwd* pw = ::getpwnam("nobody");
  return pw ? pw->pw_uid : 65534;
}

gid_t NobodyGid() {
  const passwd* pw = ::getpwnam("nobody");
  return pw ? pw->pw_gid : 65534;
}

std::vector<std::string> ChildEnvironment(const std::filesystem::path& home,
                                          const std::filesystem::path& cacheHome,
                                          const std::filesystem::path& runtimeDir) {
  std::vector<std::string> env = {
      "PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin",
      "LANG=C.UTF-8",
      "HOME=" + home.string(),
      "XDG_CACHE_HOME=" + cacheHome.string(),
      // A desktop session has one; without it Qt warns on standard error.
      "XDG_RUNTIME_DIR=" + runtimeDir.string(),
  };
  // The TLS store a test names (its own authority) reaches the program too.
  for (const char* name :
       {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "SSL_CERT_FILE", "SSL_CERT_DIR"}) {
    if (const char* value = ::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

Outcome RunToEnd(const Command& command, milliseconds timeout) {
  Prepared p = Prepare(command);
  Pipe out, err;
  int in = OpenDevNull(O_RDONLY);
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(in);
    Fail("fork");
  }
  if (pid == 0) Exec(p, in, out.write, err.write, command.passFd, command.passFd4);
  ::close(in);
  out.CloseWrite();
  err.CloseWrite();

  Outcome outcome;
  const auto deadline = Clock::now() + timeout;
  bool killed = false;
  while (out.read >= 0 || err.read >= 0) {
    pollfd fds[2];
    int n = 0;
    for (int fd : {out.read, err.read}) {
      if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
    }
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      // Stuck, or a grandchild holds the pipes open: end the whole group.
      KillGroup(pid, SIGKILL);
      killed = true;
      break;
    }
    int r = ::poll(fds, n, static_cast<int>(std::min<long long>(left, 1000)));
    if (r < 0 && errno != EINTR) Fail("poll");
    for (int i = 0; i < n && r > 0; ++i) {
      if (fds[i].revents == 0) continue;
      Pipe& pipe = fds[i].fd == out.read ? out : err;
      std::string& sink = fds[i].fd == out.read ? outcome.out : outcome.err;
      char buffer[65536];
      ssize_t got = ::read(pipe.read, buffer, sizeof buffer);
      if (got > 0) {
        sink.append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        pipe.CloseRead();
      }
    }
  }
  int status = 0;
  // Output closed but the child may still run: give it until the deadline.
  if (!killed &&
      !testing::WaitUntil([&] { return Reap(pid, status, false); },
                          std::chrono::duration_cast<milliseconds>(deadline - Clock::now()))) {
    KillGroup(pid, SIGKILL);
    killed = true;
  }
  if (killed) Reap(pid, status, true);
  outcome.timedOut = killed;
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

Process::Process(const Command& command, const std::filesystem::path& logFile) {
  Prepared p = Prepare(command);
  int in = OpenDevNull(O_RDONLY);
  int log = logFile.empty()
                ? OpenDevNull(O_WRONLY)
                : ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) {
    ::close(in);
    Fail("open " + logFile.string());
  }
  pid_ = ::fork();
  if (pid_ == 0) Exec(p, in, log, log, command.passFd, command.passFd4);
  ::close(in);
  ::close(log);
  if (pid_ < 0) Fail("fork");
}

Process::~Process() {
  Stop();
}

std::optional<int> Process::Poll() {
  if (status_ || pid_ < 0) return status_;
  int status = 0;
  if (Reap(pid_, status, false)) status_ = status;
  return status_;
}

std::optional<int> Process::Wait(milliseconds timeout) {
  testing::WaitUntil([&] { return Poll().has_value(); }, timeout);
  return status_;
}

int Process::Stop() {
  if (pid_ < 0) return -1;
  if (!Poll()) {
    KillGroup(pid_, SIGTERM);
    if (!Wait(milliseconds(3000))) {
      KillGroup(pid_, SIGKILL);
      int status = 0;
      Reap(pid_, status, true);
      status_ = status;
    }
  }
  return *status_;
}

}  // namespace peloria::e2e
