#include "http/transport.h"

#include <algorithm>
#include <cstring>

#include "http/id_exceptions.h"
#include "http/id_stack.h"
#include "http/tcp_connection.h"
#include "platform/socket.h"

namespace peloria {

// ---------------------------------------------------------------------------
// TIdSocketTransport

bool TIdSocketTransport::WaitReadable(int timeoutMs) {
  const int ready = socket_.WaitReadable(timeoutMs);
  if (ready < 0) ThrowSocketError(sock::LastError());
  return ready > 0;
}

std::size_t TIdSocketTransport::Receive(void* bytes, std::size_t count, int timeoutMs) {
  if (!WaitReadable(timeoutMs)) throw EIdReadTimeout(kMsgTimedOut);
  const long long received = socket_.Recv(bytes, count);
  if (received < 0) ThrowSocketError(sock::LastError());
  return static_cast<std::size_t>(received);
}

std::size_t TIdSocketTransport::Send(const void* bytes, std::size_t count, int timeoutMs) {
  if (timeoutMs != kIdTimeoutInfinite) {
    const int ready = sock::WaitWritable(socket_.Handle(), timeoutMs);
    if (ready < 0) ThrowSocketError(sock::LastError());
    if (ready == 0) throw EIdReadTimeout(kMsgTimedOut);
  }
  const long long sent = socket_.Send(bytes, count);
  if (sent < 0) ThrowSocketError(sock::LastError());
  // A stream socket never accepts 0 of a non-empty send; count it as the
  // peer's end, as a receive of 0 is.
  if (sent == 0) ThrowSocketError(kIdErrShutdown);
  return static_cast<std::size_t>(sent);
}

// ---------------------------------------------------------------------------
// TIdMemoryTransport

TIdMemoryTransport::TIdMemoryTransport(std::string reply, End end, bool answerAtOnce)
    : reply_(std::move(reply)), end_(end), answerAtOnce_(answerAtOnce) {}

bool TIdMemoryTransport::Answering() const {
  return answerAtOnce_ || sent_.find("\r\n\r\n") != std::string::npos ||
         sent_.find("\n\n") != std::string::npos;
}

void TIdMemoryTransport::WaitAtEnd(int timeoutMs) {
  // Before the request has ended the peer is silent too, but that is no
  // wait at the reply's end.
  if (Answering() && OnBlockedEnd) OnBlockedEnd(timeoutMs);
  if (timeoutMs == kIdTimeoutInfinite) {
    if (OnWaitForever) OnWaitForever();
  } else {
    virtualWaitMs_ += timeoutMs;
  }
}

bool TIdMemoryTransport::WaitReadable(int timeoutMs) {
  if (Answering() && (taken_ < reply_.size() || end_ == End::kClose)) return true;
  WaitAtEnd(timeoutMs);
  // A wait without a limit that returned (OnWaitForever did not leave) still
  // cannot be readable: report the silence as the end of the time.
  return false;
}

std::size_t TIdMemoryTransport::Receive(void* bytes, std::size_t count, int timeoutMs) {
  if (!WaitReadable(timeoutMs)) throw EIdReadTimeout(kMsgTimedOut);
  const std::size_t n = std::min(count, reply_.size() - taken_);
  if (n > 0) std::memcpy(bytes, reply_.data() + taken_, n);
  taken_ += n;
  if (OnReceive) OnReceive(n);
  return n;
}

std::size_t TIdMemoryTransport::Send(const void* bytes, std::size_t count, int) {
  if (closed_) ThrowSocketError(kIdErrShutdown);
  sent_.append(static_cast<const char*>(bytes), count);
  return count;
}

}  // namespace peloria
