// Real peers on 127.0.0.1 for the network tests: a scripted TCP peer that
// plays a chosen conversation on each accepted connection, and launchers for
// nginx (a web server over a folder) and tinyproxy (a plain HTTP proxy), each
// on a free loopback port with its configuration in a temporary folder.
// Nothing here reaches beyond 127.0.0.1 and no port is fixed.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace peloria::testing {

// What the scripted peer does on one connection, step by step. A step that
// fails (the client has gone) ends the script; the connection is then closed.
// A script that ends without Close or Reset closes normally.
class PeerScript {
 public:
  PeerScript& Send(std::string bytes);
  // One send per byte with the no-delay option set, so the client sees the
  // bytes arrive in separate segments.
  PeerScript& SendByteByByte(std::string bytes);
  // One byte every `intervalMs` milliseconds: a slow but steady peer.
  PeerScript& SendSlowly(std::string bytes, int intervalMs);
  // `count` copies of `byte`, sent in blocks (for large amounts).
  PeerScript& SendRepeated(char byte, std::size_t count);
  // Reads and records until an empty line (CR LF CR LF or LF LF) has arrived.
  PeerScript& ReadRequest();
  // Reads and records exactly `count` bytes (fewer when the client closes).
  PeerScript& Read(std::size_t count);
  // Reads and records until the client closes.
  PeerScript& ReadUntilClose();
  // Stays open until ScriptedPeer::Release() (or the peer's destruction).
  PeerScript& WaitRelease();
  // Closes the connection normally (FIN).
  PeerScript& Close();
  // Resets the connection (SO_LINGER 0, RST).
  PeerScript& Reset();

  struct Step {
    enum Kind {
      kSend,
      kSendByteByByte,
      kSendSlowly,
      kSendRepeated,
      kReadRequest,
      kRead,
      kReadUntilClose,
      kWaitRelease,
      kClose,
      kReset
    };
    Kind kind;
    std::string bytes;
    std::size_t count = 0;
  };
  const std::vector<Step>& Steps() const { return steps_; }

 private:
  std::vector<Step> steps_;
};

// Listens on 127.0.0.1 at an ephemeral port from construction on (clients may
// connect as soon as the constructor returns) and runs a script on each
// accepted connection in its own thread.
class ScriptedPeer {
 public:
  // Every connection runs `script`.
  explicit ScriptedPeer(PeerScript script);
  // Connection i runs scripts[i]; connections beyond the list run the last.
  explicit ScriptedPeer(std::vector<PeerScript> scripts);
  // Releases waiting scripts, cuts connections still open and joins threads.
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int Port() const { return port_; }
  // Ends every WaitRelease step, now and later.
  void Release();
  // Waits until `count` connections have finished their scripts; false when
  // `timeoutMs` passed first.
  bool WaitFinished(std::size_t count = 1, int timeoutMs = 10000);
  // The number of connections accepted so far.
  std::size_t Accepted() const;
  // The bytes the client sent on connection `index` (0-based) so far; empty
  // for a connection not (yet) accepted.
  std::string Received(std::size_t index = 0) const;

 private:
  struct Connection;
  void AcceptLoop();
  void Run(Connection& connection, const PeerScript& script);
  bool Receive(Connection& connection, std::size_t maxCount);

  std::vector<PeerScript> scripts_;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
  bool stopping_ = false;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

// The path of an installed program found in PATH, /usr/sbin or /usr/bin;
// empty when it is absent.
std::string FindProgram(const std::string& name);

// A server program run for one test: started on a free loopback port, ready
// when it accepts a connection, stopped (SIGTERM, then SIGKILL) and reaped in
// the destructor. A start that fails raises std::runtime_error with the
// program's log.
class LoopbackServer {
 public:
  virtual ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const { return port_; }
  // The folder holding the configuration, pid file and logs.
  const std::filesystem::path& Folder() const { return folder_.path(); }
  // The program's own log and its standard output and error.
  std::string Log() const;

 protected:
  LoopbackServer() = default;
  // Writes the configuration for a port with WriteConfig, starts the program
  // with Arguments and waits until it accepts connections; tries other ports
  // when the chosen one is taken meanwhile.
  void Start(const std::string& program);
  virtual void WriteConfig(int port) = 0;
  virtual std::vector<std::string> Arguments() const = 0;
  virtual std::filesystem::path PidFile() const = 0;
  virtual std::filesystem::path LogFile() const = 0;

 private:
  void Stop();

  TempDir folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// The certificate and key files of an nginx that speaks TLS.
struct NginxTls {
  std::filesystem::path certificate;  // PEM, the chain the server sends
  std::filesystem::path key;
};

// nginx serving the files of `root` (read only) on 127.0.0.1. `serverExtra`
// is added inside the server block (locations, keep-alive settings ...).
// With `tls` the port speaks https only.
class NginxServer : public LoopbackServer {
 public:
  static bool Available() { return !FindProgram("nginx").empty(); }
  explicit NginxServer(std::filesystem::path root, std::string serverExtra = {},
                       std::optional<NginxTls> tls = std::nullopt);
  ~NginxServer() override = default;

 private:
  void WriteConfig(int port) override;
  std::vector<std::string> Arguments() const override;
  std::filesystem::path PidFile() const override { return Folder() / "nginx.pid"; }
  std::filesystem::path LogFile() const override { return Folder() / "error.log"; }

  std::filesystem::path root_;
  std::string serverExtra_;
  std::optional<NginxTls> tls_;
};

// tinyproxy as a plain HTTP proxy on 127.0.0.1 that accepts clients from
// 127.0.0.1 only. Without ConnectPort lines it tunnels CONNECT to any port;
// `extraConfig` adds lines (e.g. "ConnectPort 1" to refuse other tunnels).
class TinyproxyServer : public LoopbackServer {
 public:
  static bool Available() { return !FindProgram("tinyproxy").empty(); }
  explicit TinyproxyServer(std::string extraConfig = {});
  ~TinyproxyServer() override = default;

 private:
  void WriteConfig(int port) override;
  std::vector<std::string> Arguments() const override;
  std::filesystem::path PidFile() const override { return Folder() / "tinyproxy.pid"; }
  std::filesystem::path LogFile() const override { return Folder() / "tinyproxy.log"; }

  std::string extraConfig_;
};

}  // namespace peloria::testing

// Use at the start of a test body (or SetUp): skips the test with a clear
// message when the program is not installed. Safe inside an if without braces.
#define PELORIA_SKIP_WITHOUT_PROGRAM_(Server, name)                    \
  if (::peloria::testing::Server::Available()) {                       \
  } else                                                               \
    GTEST_SKIP() << name                                               \
        " is not installed (looked in PATH, /usr/sbin and /usr/bin); " \
        "install the " name " package to run this test"
#define PELORIA_SKIP_WITHOUT_NGINX() PELORIA_SKIP_WITHOUT_PROGRAM_(NginxServer, "nginx")
#define PELORIA_SKIP_WITHOUT_TINYPROXY() PELORIA_SKIP_WITHOUT_PROGRAM_(TinyproxyServer, "tinyproxy")
