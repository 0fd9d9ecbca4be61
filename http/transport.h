// The byte channel under TIdTCPConnection: every received and sent byte goes
// through one TIdTransport. A plain socket, TLS over a socket (tls_transport.h)
// and a memory peer for tests and fuzzing implement it, so the line, stream
// and reply framing above is the same code whatever carries the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "http/http_limits.h"

namespace peloria {

class TIdSocketHandle;

class TIdTransport {
 public:
  virtual ~TIdTransport() = default;

  // Waits at most `timeoutMs` (kIdTimeoutInfinite: no limit) until Receive
  // has something to answer: data, the end of the stream or an error. Bytes
  // already held inside the transport answer true at once.
  virtual bool WaitReadable(int timeoutMs) = 0;
  // Receives at most `count` (> 0) bytes: the count received, 0 at the peer's
  // orderly end. Waits at most `timeoutMs` for bytes; when the time runs out
  // raises EIdReadTimeout. Failures raise EIdSocketError or EIdTLSError.
  virtual std::size_t Receive(void* bytes, std::size_t count, int timeoutMs) = 0;
  // Sends some of `count` (> 0) bytes and answers how many (> 0); never
  // raises SIGPIPE. Waits at most `timeoutMs` for room (EIdReadTimeout).
  virtual std::size_t Send(const void* bytes, std::size_t count, int timeoutMs) = 0;
  // After Receive answered 0: why that end is no orderly end of the data
  // (TLS: the peer closed without close_notify); empty for an orderly end.
  virtual std::string CutReason() const { return {}; }
  // Ends the conversation politely when possible (TLS close_notify, then no
  // more sending). Never raises; the socket itself is closed by its owner.
  virtual void Close() = 0;
};

// Plain TCP over the connection's socket (which it does not own).
class TIdSocketTransport final : public TIdTransport {
 public:
  explicit TIdSocketTransport(TIdSocketHandle& socket) : socket_(socket) {}
  bool WaitReadable(int timeoutMs) override;
  std::size_t Receive(void* bytes, std::size_t count, int timeoutMs) override;
  std::size_t Send(const void* bytes, std::size_t count, int timeoutMs) override;
  void Close() override {}

 private:
  TIdSocketHandle& socket_;
};

// A scripted peer in memory. The reply becomes readable once the client has
// sent a request's end (an empty line), as a server answers; with
// `answerAtOnce` it is readable from the start. After the reply the stream
// either ends (kClose) or stays open without another byte (kBlock): a wait
// there runs out at once, adding its whole time limit to VirtualWaitMs, so
// tests and the fuzzer see a silent peer without waiting for it. A wait
// without a time limit at a blocking end would never return: it calls
// OnWaitForever (when set) and raises EIdReadTimeout.
class TIdMemoryTransport final : public TIdTransport {
 public:
  enum class End { kClose, kBlock };

  TIdMemoryTransport(std::string reply, End end, bool answerAtOnce = false);

  bool WaitReadable(int timeoutMs) override;
  std::size_t Receive(void* bytes, std::size_t count, int timeoutMs) override;
  std::size_t Send(const void* bytes, std::size_t count, int timeoutMs) override;
  void Close() override { closed_ = true; }
  std::string CutReason() const override { return taken_ < reply_.size() ? "" : EndCutReason; }

  // What CutReason answers once the reply has been taken: a stream that ends
  // as a TLS one without close_notify does.
  std::string EndCutReason;
  // Called each time the client waits at a blocking end (before the wait
  // runs out), with the time limit of that wait.
  std::function<void(int timeoutMs)> OnBlockedEnd;
  std::function<void()> OnWaitForever;
  // Called with the count of each receive (the fuzzer weighs the work).
  std::function<void(std::size_t count)> OnReceive;

  const std::string& Sent() const { return sent_; }
  std::int64_t VirtualWaitMs() const { return virtualWaitMs_; }
  bool Closed() const { return closed_; }

 private:
  bool Answering() const;
  // The wait at the end of a blocking stream: never readable.
  void WaitAtEnd(int timeoutMs);

  std::string reply_;
  std::size_t taken_ = 0;
  End end_;
  bool answerAtOnce_;
  std::string sent_;
  std::int64_t virtualWaitMs_ = 0;
  bool closed_ = false;
};

}  // namespace peloria
