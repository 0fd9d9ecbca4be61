#include "tests/support/peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/wait.h"

extern char** environ;

namespace peloria::testing {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kStartTimeout(10000);  // for a server program to accept
constexpr milliseconds kStopTimeout(5000);    // after SIGTERM, before SIGKILL
constexpr int kStartAttempts = 5;             // ports tried when one is taken meanwhile
constexpr milliseconds kProbeInterval(10);

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  return addr;
}

int BoundPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) Fail("getsockname");
  return ntohs(addr.sin_port);
}

// A port that was free a moment ago: bound at 0 and released.
int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  sockaddr_in addr = Loopback(0);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    Fail("bind");
  }
  int port = BoundPort(fd);
  ::close(fd);
  return port;
}

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr = Loopback(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

bool SendAll(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

// ---------------------------------------------------------------------------
// PeerScript

PeerScript& PeerScript::Send(std::string bytes) {
  steps_.push_back({Step::kSend, std::move(bytes)});
  return *this;
}
PeerScript& PeerScript::SendByteByByte(std::string bytes) {
  steps_.push_back({Step::kSendByteByByte, std::move(bytes)});
  return *this;
}
PeerScript& PeerScript::SendSlowly(std::string bytes, int intervalMs) {
  steps_.push_back({Step::kSendSlowly, std::move(bytes), static_cast<std::size_t>(intervalMs)});
  return *this;
}
PeerScript& PeerScript::SendRepeated(char byte, std::size_t count) {
  steps_.push_back({Step::kSendRepeated, std::string(1, byte), count});
  return *this;
}
PeerScript& PeerScript::ReadRequest() {
  steps_.push_back({Step::kReadRequest, {}});
  return *this;
}
PeerScript& PeerScript::Read(std::size_t count) {
  steps_.push_back({Step::kRead, {}, count});
  return *this;
}
PeerScript& PeerScript::ReadUntilClose() {
  steps_.push_back({Step::kReadUntilClose, {}});
  return *this;
}
PeerScript& PeerScript::WaitRelease() {
  steps_.push_back({Step::kWaitRelease, {}});
  return *this;
}
PeerScript& PeerScript::Close() {
  steps_.push_back({Step::kClose, {}});
  return *this;
}
PeerScript& PeerScript::Reset() {
  steps_.push_back({Step::kReset, {}});
  return *this;
}

// ---------------------------------------------------------------------------
// ScriptedPeer

struct ScriptedPeer::Connection {
  int fd = -1;  // guarded by the peer's mutex; closed by the worker only
  std::string received;
  bool finished = false;
};

ScriptedPeer::ScriptedPeer(PeerScript script) : ScriptedPeer(std::vector<PeerScript>{script}) {}

ScriptedPeer::ScriptedPeer(std::vector<PeerScript> scripts) : scripts_(std::move(scripts)) {
  if (scripts_.empty()) scripts_.emplace_back();
  if (::pipe2(wakeFds_, O_CLOEXEC) != 0) Fail("pipe2");
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) Fail("socket");
  sockaddr_in addr = Loopback(0);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) Fail("bind");
  if (::listen(listenFd_, 16) != 0) Fail("listen");
  port_ = BoundPort(listenFd_);
  // Listening already: a client may connect before the acceptor runs.
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    released_ = true;
    // Wake workers blocked in a receive or a send.
    for (auto& c : connections_) {
      if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
  }
  changed_.notify_all();
  char wake = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wakeFds_[1], &wake, 1);
  acceptor_.join();
  for (auto& w : workers_) w.join();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

void ScriptedPeer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    const std::size_t index = connections_.size();
    connections_.push_back(std::make_unique<Connection>());
    Connection& connection = *connections_.back();
    connection.fd = fd;
    const PeerScript& script = scripts_[std::min(index, scripts_.size() - 1)];
    workers_.emplace_back([this, &connection, &script] { Run(connection, script); });
  }
}

// Receives up to `maxCount` bytes once and records them; false at the end of
// the stream or on a failure.
bool ScriptedPeer::Receive(Connection& connection, std::size_t maxCount) {
  char block[16384];
  ssize_t n;
  do {
    n = ::recv(connection.fd, block, std::min(maxCount, sizeof block), 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  std::lock_guard lock(mutex_);
  connection.received.append(block, static_cast<std::size_t>(n));
  return true;
}

void ScriptedPeer::Run(Connection& connection, const PeerScript& script) {
  const int fd = connection.fd;
  bool ok = true;
  bool reset = false;
  std::size_t requestStart = 0;  // where the current request's bytes begin
  for (const PeerScript::Step& step : script.Steps()) {
    if (!ok) break;
    switch (step.kind) {
      case PeerScript::Step::kSend:
        ok = SendAll(fd, step.bytes.data(), step.bytes.size());
        break;
      case PeerScript::Step::kSendByteByByte: {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        for (std::size_t i = 0; ok && i < step.bytes.size(); ++i) {
          ok = SendAll(fd, &step.bytes[i], 1);
        }
        break;
      }
      case PeerScript::Step::kSendSlowly: {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        for (std::size_t i = 0; ok && i < step.bytes.size(); ++i) {
          ok = SendAll(fd, &step.bytes[i], 1);
          // The pause is the script's pace; Release or the peer's end cut it.
          std::unique_lock lock(mutex_);
          changed_.wait_for(lock, std::chrono::milliseconds(step.count),
                            [this] { return released_; });
        }
        break;
      }
      case PeerScript::Step::kSendRepeated: {
        const std::string block(65536, step.bytes[0]);
        for (std::size_t left = step.count; ok && left > 0;) {
          const std::size_t n = std::min(left, block.size());
          ok = SendAll(fd, block.data(), n);
          left -= n;
        }
        break;
      }
      case PeerScript::Step::kReadRequest:
        for (;;) {
          {
            std::lock_guard lock(mutex_);
            const std::string_view request =
                std::string_view(connection.received).substr(requestStart);
            std::size_t end = request.find("\r\n\r\n");
            std::size_t endLength = 4;
            if (std::size_t lf = request.find("\n\n"); lf < end) {
              end = lf;
              endLength = 2;
            }
            if (end != std::string_view::npos) {
              requestStart += end + endLength;
              break;
            }
          }
          // One byte at a time, so that bytes after the empty line stay unread.
          if (!Receive(connection, 1)) {
            ok = false;
            break;
          }
        }
        break;
      case PeerScript::Step::kRead:
        for (std::size_t got = 0; ok && got < step.count;) {
          std::size_t before;
          {
            std::lock_guard lock(mutex_);
            before = connection.received.size();
          }
          ok = Receive(connection, step.count - got);
          std::lock_guard lock(mutex_);
          got += connection.received.size() - before;
        }
        {
          std::lock_guard lock(mutex_);
          requestStart = connection.received.size();
        }
        break;
      case PeerScript::Step::kReadUntilClose:
        while (Receive(connection, 16384)) {
        }
        break;
      case PeerScript::Step::kWaitRelease: {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return released_; });
        break;
      }
      case PeerScript::Step::kClose:
        ok = false;
        break;
      case PeerScript::Step::kReset:
        reset = true;
        ok = false;
        break;
    }
  }
  if (reset) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  } else {
    ::shutdown(fd, SHUT_WR);
  }
  {
    std::lock_guard lock(mutex_);
    ::close(fd);
    connection.fd = -1;
    connection.finished = true;
  }
  changed_.notify_all();
}

void ScriptedPeer::Release() {
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

bool ScriptedPeer::WaitFinished(std::size_t count, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    std::size_t done = 0;
    for (const auto& c : connections_) done += c->finished ? 1 : 0;
    return done >= count;
  });
}

std::size_t ScriptedPeer::Accepted() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

std::string ScriptedPeer::Received(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return index < connections_.size() ? connections_[index]->received : std::string();
}

// ---------------------------------------------------------------------------
// Server programs

std::string FindProgram(const std::string& name) {
  std::string dirs = "/usr/sbin:/usr/bin";
  if (const char* path = std::getenv("PATH"); path != nullptr)
    dirs = std::string(path) + ":" + dirs;
  std::stringstream list(dirs);
  for (std::string dir; std::getline(list, dir, ':');) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

LoopbackServer::~LoopbackServer() {
  Stop();
}

std::string LoopbackServer::Log() const {
  return ReadFile(LogFile()) + ReadFile(Folder() / "output.log");
}

void LoopbackServer::Start(const std::string& program) {
  const std::string path = FindProgram(program);
  if (path.empty()) throw std::runtime_error(program + " is not installed");
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    port_ = FreePort();
    WriteConfig(port_);
    std::error_code ignored;
    std::filesystem::remove(PidFile(), ignored);

    std::vector<std::string> args = Arguments();
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string output = (Folder() / "output.log").string();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group, so that its workers are stopped with it.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    const int rc = ::posix_spawn(&pid_, path.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
      pid_ = -1;
      errno = rc;
      Fail("posix_spawn " + path);
    }

    // Ready when it accepts a connection and has written its pid file (both
    // programs write it after binding, so a connection that reached another
    // program on a port taken meanwhile does not count). A program that
    // exited lost the port, or its configuration was refused.
    bool ready = false;
    WaitUntil(
        [&] {
          int status = 0;
          if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
          }
          ready = Accepts(port_) && std::filesystem::exists(PidFile());
          return ready;
        },
        kStartTimeout, kProbeInterval);
    if (ready) return;
    Stop();
  }
  throw std::runtime_error(program + " did not start on 127.0.0.1:\n" + Log());
}

void LoopbackServer::Stop() {
  if (pid_ < 0) return;
  ::kill(-pid_, SIGTERM);
  // Wait for the leader to exit without reaping it: while it is a zombie its
  // id cannot be reused, so the group kill below cannot hit another process.
  WaitUntil(
      [&] {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid_;
      },
      kStopTimeout, kProbeInterval);
  // Anything of the group still running (workers, or a leader that ignored
  // SIGTERM) goes now.
  ::kill(-pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

NginxServer::NginxServer(std::filesystem::path root, std::string serverExtra,
                         std::optional<NginxTls> tls)
    : root_(std::filesystem::absolute(std::move(root))),
      serverExtra_(std::move(serverExtra)),
      tls_(std::move(tls)) {
  Start("nginx");
}

void NginxServer::WriteConfig(int port) {
  const std::string dir = Folder().string();
  std::ofstream conf(Folder() / "nginx.conf");
  // As root the workers would otherwise switch to an unprivileged user that
  // cannot read the test's private folders.
  if (::geteuid() == 0) conf << "user root;\n";
  conf << "worker_processes 1;\n"
       << "error_log " << dir << "/error.log info;\n"
       << "pid " << dir << "/nginx.pid;\n"
       << "events { worker_connections 64; }\n"
       << "http {\n"
       << "  access_log " << dir << "/access.log;\n"
       << "  client_body_temp_path " << dir << "/client_body;\n"
       << "  proxy_temp_path " << dir << "/proxy;\n"
       << "  fastcgi_temp_path " << dir << "/fastcgi;\n"
       << "  uwsgi_temp_path " << dir << "/uwsgi;\n"
       << "  scgi_temp_path " << dir << "/scgi;\n"
       << "  default_type application/octet-stream;\n"
       << "  types { text/html html htm; text/plain txt; image/jpeg jpg jpeg; image/bmp bmp; }\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << port << (tls_ ? " ssl" : "") << ";\n"
       << "    server_name localhost;\n";
  if (tls_) {
    conf << "    ssl_certificate " << tls_->certificate.string() << ";\n"
         << "    ssl_certificate_key " << tls_->key.string() << ";\n";
  }
  conf << "    root " << root_.string() << ";\n"
       << serverExtra_ << "\n"
       << "  }\n"
       << "}\n";
}

std::vector<std::string> NginxServer::Arguments() const {
  const std::string dir = Folder().string();
  return {"-p", dir, "-e", dir + "/error.log", "-c", dir + "/nginx.conf", "-g", "daemon off;"};
}

TinyproxyServer::TinyproxyServer(std::string extraConfig) : extraConfig_(std::move(extraConfig)) {
  Start("tinyproxy");
}

void TinyproxyServer::WriteConfig(int port) {
  const std::string dir = Folder().string();
  std::ofstream conf(Folder() / "tinyproxy.conf");
  // No User/Group: it then runs as the current user (as root it warns and
  // goes on).
  conf << "Port " << port << "\n"
       << "Listen 127.0.0.1\n"
       << "Allow 127.0.0.1\n"
       << "Timeout 60\n"
       << "MaxClients 16\n"
       << "LogLevel Info\n"
       << "LogFile \"" << dir << "/tinyproxy.log\"\n"
       << "PidFile \"" << dir << "/tinyproxy.pid\"\n"
       << extraConfig_ << "\n";
}

std::vector<std::string> TinyproxyServer::Arguments() const {
  return {"-d", "-c", (Folder() / "tinyproxy.conf").string()};
}

}  // namespace peloria::testing
