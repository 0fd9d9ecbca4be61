#include "http/tcp_connection.h"

#include <algorithm>

#include "http/id_stack.h"
#include "http/tls_transport.h"
#include "platform/socket.h"

namespace peloria {

// ---------------------------------------------------------------------------
// TIdComponent

TIdComponent::TIdComponent() {
  TIdStack::Acquire();
}

TIdComponent::~TIdComponent() {
  TIdStack::Release();
}

std::string IdStatusText(TIdStatus status, std::string_view arg) {
  switch (status) {
    case TIdStatus::hsResolving:
      return "Resolving hostname " + std::string(arg) + ".";
    case TIdStatus::hsConnecting:
      return "Connecting to " + std::string(arg) + ".";
    case TIdStatus::hsConnected:
      return "Connected.";
    case TIdStatus::hsDisconnecting:
      return "Disconnecting from " + std::string(arg) + ".";
    case TIdStatus::hsDisconnected:
      return "Not connected.";
    case TIdStatus::hsStatusText:
      break;
  }
  return std::string(arg);
}

void TIdComponent::DoStatus(TIdStatus status, std::string_view arg) {
  if (OnStatus) OnStatus(*this, status, IdStatusText(status, arg));
}

void TIdComponent::DoWorkBegin(TWorkMode mode, std::int64_t countMax) {
  if (OnWorkBegin) OnWorkBegin(*this, mode, countMax);
}

void TIdComponent::DoWork(TWorkMode mode, std::int64_t count) {
  if (OnWork) OnWork(*this, mode, count);
}

void TIdComponent::DoWorkEnd(TWorkMode mode) {
  if (OnWorkEnd) OnWorkEnd(*this, mode);
}

// ---------------------------------------------------------------------------
// TIdSocketHandle

TIdSocketHandle::~TIdSocketHandle() {
  CloseSocket();
}

void TIdSocketHandle::AllocateSocket() {
  CloseSocket();
  handle_ = sock::Create();
  if (handle_ < 0) throw EIdInvalidSocket(kMsgCannotAllocateSocket);
}

void TIdSocketHandle::Bind() {
  if (CheckSocketResult(sock::Bind(handle_, IP, Port), {kIdErrAddressInUse})) {
    throw EIdCouldNotBindSocket(kMsgCouldNotBind);
  }
}

void TIdSocketHandle::Connect(int timeoutMs) {
  CheckSocketResult(sock::Connect(handle_, PeerIP, PeerPort, timeoutMs));
  // The local end is known now; a failure to read it changes nothing.
  std::string ip;
  int port = 0;
  if (sock::LocalAddress(handle_, ip, port) == 0) {
    IP = ip;
    Port = port;
  }
}

void TIdSocketHandle::SetNoDelay(bool on) {
  CheckSocketResult(sock::SetNoDelay(handle_, on));
}

void TIdSocketHandle::CloseSocket() {
  if (handle_ < 0) return;
  // Failures of shutdown (a socket that never connected) and close leave
  // nothing to recover: the descriptor is gone either way.
  sock::ShutdownSend(handle_);
  sock::Close(handle_);
  handle_ = -1;
  Reset();
}

void TIdSocketHandle::Reset() {
  IP.clear();
  Port = 0;
  PeerIP.clear();
  PeerPort = 0;
}

long long TIdSocketHandle::Send(const void* bytes, std::size_t count) {
  return sock::Send(handle_, bytes, count);
}

long long TIdSocketHandle::Recv(void* bytes, std::size_t count) {
  return sock::Recv(handle_, bytes, count);
}

int TIdSocketHandle::WaitReadable(int timeoutMs) {
  return sock::WaitReadable(handle_, timeoutMs < 0 ? -1 : timeoutMs);
}

// ---------------------------------------------------------------------------
// TIdTCPConnection

TIdTCPConnection::TIdTCPConnection() = default;

// The socket handle closes the descriptor itself; no notification is sent
// from a component that is being destroyed.
TIdTCPConnection::~TIdTCPConnection() = default;

std::vector<std::uint8_t>& TIdTCPConnection::ReceiveBlock() {
  const std::size_t size = static_cast<std::size_t>(std::max<std::int32_t>(RecvBufferSize, 1));
  if (receiveBlock_.size() != size) receiveBlock_.assign(size, 0);
  return receiveBlock_;
}

void TIdTCPConnection::RequireOpen() const {
  if (!IsConnected()) throw EIdConnClosedGracefully(kMsgConnClosedGracefully);
}

void TIdTCPConnection::OpenTransport(std::unique_ptr<TIdTransport> transport) {
  if (IsConnected()) throw EIdAlreadyConnected(kMsgAlreadyConnected);
  inputBuffer_.Clear();
  closedSinceOpen_ = false;
  cutReason_.clear();
  transport_ = std::move(transport);
}

void TIdTCPConnection::CloseConnection() {
  if (!IsConnected() && !socket_.HandleAllocated()) return;
  DoStatus(TIdStatus::hsDisconnecting, socket_.PeerIP);
  if (transport_) transport_->Close();
  transport_.reset();
  {
    std::lock_guard lock(abortMutex_);
    socket_.CloseSocket();
  }
  closedSinceOpen_ = true;
  DoStatus(TIdStatus::hsDisconnected);
  if (OnDisconnected) OnDisconnected(*this);
}

void TIdTCPConnection::CheckGracefulClose() {
  ReceiveIntoBuffer(kIdGracefulCloseWaitMs);
}

void TIdTCPConnection::Abort() {
  aborted_ = true;
  std::lock_guard lock(abortMutex_);
  if (socket_.HandleAllocated()) sock::ShutdownBoth(socket_.Handle());
}

void TIdTCPConnection::ThrowIfAborted() const {
  if (aborted_) throw EIdAborted(kMsgAborted);
}

bool TIdTCPConnection::WaitReadable(int timeoutMs) {
  ThrowIfAborted();
  RequireOpen();
  try {
    return transport_->WaitReadable(timeoutMs);
  } catch (...) {
    // A broken stream is not reused: the next request opens a fresh one.
    CloseConnection();
    throw;
  }
}

std::size_t TIdTCPConnection::Receive(std::uint8_t* block, std::size_t size, int timeoutMs) {
  std::size_t received = 0;
  try {
    received = transport_->Receive(block, size, timeoutMs);
  } catch (const EIdSocketError& e) {
    // Receiving after our own shutdown: the connection is over; bytes
    // already buffered may still be read.
    CloseConnection();
    ThrowIfAborted();
    if (e.SocketErrorCode() == kIdErrShutdown && !inputBuffer_.Empty()) return 0;
    throw;
  } catch (...) {
    CloseConnection();
    ThrowIfAborted();
    throw;
  }
  if (received == 0) {
    cutReason_ = transport_->CutReason();
    CloseConnection();
  }
  // The shutdown of Abort reads as the peer's end: it must not end a body.
  ThrowIfAborted();
  if (ASCIIFilter) {
    for (std::size_t i = 0; i < received; ++i) block[i] &= 0x7F;
  }
  return received;
}

bool TIdTCPConnection::ReceiveIntoBuffer(int timeoutMs) {
  if (!IsConnected() || !WaitReadable(timeoutMs)) return false;
  std::vector<std::uint8_t>& block = ReceiveBlock();
  const std::size_t received = Receive(block.data(), block.size(), timeoutMs);
  inputBuffer_.Append(block.data(), received);
  return received > 0;
}

std::string TIdTCPConnection::ReadLine(std::string_view terminator, int timeoutMs,
                                       std::size_t maxLength) {
  const bool defaultTerminator = terminator.empty();
  const std::string_view term = defaultTerminator ? std::string_view("\n") : terminator;
  // Bytes at the end of a buffer without a terminator that may still belong
  // to the line end: a CR before LF, or the start of a longer terminator.
  const std::size_t slack = defaultTerminator ? 1 : term.size() - 1;
  const auto tooLong = [this, maxLength]() {
    CloseConnection();
    inputBuffer_.Clear();
    throw EIdLineTooLong("Line too long: more than " + std::to_string(maxLength) +
                         " bytes without a line end.");
  };
  lineTimedOut_ = false;
  lastLineBytes_ = 0;

  // Only the bytes that arrived since the last search are searched again
  // (with an overlap of the terminator's length less one).
  std::size_t searched = 0;
  std::size_t at = TIdBuffer::npos;
  for (;;) {
    if (!inputBuffer_.Empty()) {
      at = inputBuffer_.Find(term, searched > term.size() - 1 ? searched - (term.size() - 1) : 0);
      if (at != TIdBuffer::npos) break;
      searched = inputBuffer_.Size();
      if (searched > maxLength + slack) tooLong();
    }
    // A close noticed earlier is reported even with a partial line buffered.
    RequireOpen();
    if (!ReceiveIntoBuffer(timeoutMs)) {
      if (!IsConnected() && inputBuffer_.Empty()) {
        throw EIdConnClosedGracefully(kMsgConnClosedGracefully);
      }
      lineTimedOut_ = true;
      return {};
    }
  }

  std::size_t length = at;
  if (defaultTerminator && length > 0 && inputBuffer_.Data()[length - 1] == '\r') --length;
  if (length > maxLength) tooLong();
  lastLineBytes_ = at + term.size();
  std::string line = inputBuffer_.Extract(at + term.size());
  line.resize(length);
  return line;
}

void TIdTCPConnection::ReadCountIntoStream(TStream& stream, std::int64_t count) {
  // The stream grows only with the bytes that arrive: a declared length
  // reserves nothing, so a peer that lies about it costs nothing.
  DoWorkBegin(TWorkMode::wmRead, count);
  std::int64_t remaining = count;
  const std::size_t fromBuffer =
      std::min(inputBuffer_.Size(), static_cast<std::size_t>(std::max<std::int64_t>(remaining, 0)));
  if (fromBuffer > 0) {
    stream.WriteBuffer(inputBuffer_.Data(), static_cast<std::int64_t>(fromBuffer));
    inputBuffer_.Remove(fromBuffer);
    remaining -= static_cast<std::int64_t>(fromBuffer);
    DoWork(TWorkMode::wmRead, static_cast<std::int64_t>(fromBuffer));
  }
  std::vector<std::uint8_t>& block = ReceiveBlock();
  while (remaining > 0) {
    RequireOpen();
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), remaining));
    const std::size_t received = Receive(block.data(), want, ReadTimeout);
    if (received == 0) throw EIdConnClosedGracefully(kMsgConnClosedGracefully);
    stream.WriteBuffer(block.data(), static_cast<std::int64_t>(received));
    remaining -= static_cast<std::int64_t>(received);
    DoWork(TWorkMode::wmRead, static_cast<std::int64_t>(received));
  }
  DoWorkEnd(TWorkMode::wmRead);
}

bool TIdTCPConnection::ReadToCloseIntoStream(TStream& stream, std::int64_t maxBytes) {
  DoWorkBegin(TWorkMode::wmRead, 0);
  std::int64_t written = 0;
  bool closed = false;
  const auto take = [&](const std::uint8_t* bytes, std::size_t count) {
    const std::int64_t room = maxBytes - written;
    const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(count), room);
    if (n > 0) stream.WriteBuffer(bytes, n);
    written += n;
    return n == static_cast<std::int64_t>(count);
  };
  bool fits = true;
  if (!inputBuffer_.Empty()) {
    const std::size_t size = inputBuffer_.Size();
    fits = take(inputBuffer_.Data(), size);
    inputBuffer_.Remove(fits ? size : static_cast<std::size_t>(written));
    DoWork(TWorkMode::wmRead, written);
  }
  std::vector<std::uint8_t>& block = ReceiveBlock();
  while (fits && IsConnected()) {
    const std::size_t received = Receive(block.data(), block.size(), ReadTimeout);
    if (received == 0) break;
    fits = take(block.data(), received);
    DoWork(TWorkMode::wmRead, static_cast<std::int64_t>(received));
  }
  closed = fits;
  DoWorkEnd(TWorkMode::wmRead);
  if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
  // Only an orderly end ends the data: a stream cut without it may have lost
  // any number of bytes.
  if (closed && !cutReason_.empty()) throw EIdTLSError(cutReason_);
  return closed;
}

void TIdTCPConnection::WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append("\r\n");
  WriteText(line);
}

void TIdTCPConnection::WriteText(std::string_view text) {
  if (!text.empty()) WriteBytes(text.data(), static_cast<std::int64_t>(text.size()));
}

void TIdTCPConnection::WriteBytes(const void* bytes, std::int64_t length) {
  if (length <= 0) return;
  ThrowIfAborted();
  RequireOpen();
  const auto* rest = static_cast<const std::uint8_t*>(bytes);
  std::int64_t left = length;
  while (left > 0) {
    std::size_t sent = 0;
    try {
      sent = transport_->Send(rest, static_cast<std::size_t>(left), ReadTimeout);
    } catch (...) {
      CloseConnection();
      ThrowIfAborted();
      throw;
    }
    DoWork(TWorkMode::wmWrite, static_cast<std::int64_t>(sent));
    rest += sent;
    left -= static_cast<std::int64_t>(sent);
  }
}

// ---------------------------------------------------------------------------
// TIdTCPClient

void TIdTCPClient::OpenConnection() {
  if (IsConnected() || socket_.HandleAllocated()) throw EIdAlreadyConnected(kMsgAlreadyConnected);
  ThrowIfAborted();
  socket_.Reset();
  {
    std::lock_guard lock(abortMutex_);
    socket_.AllocateSocket();
  }
  try {
    socket_.IP = BoundIP.empty() ? std::string() : LookupHost(BoundIP);
    socket_.Port = 0;
    socket_.Bind();
    if (!IsDottedAddress(Host)) DoStatus(TIdStatus::hsResolving, Host);
    socket_.PeerIP = LookupHost(Host);
    socket_.PeerPort = Port;
    if (!UseNagle) socket_.SetNoDelay(true);
    DoStatus(TIdStatus::hsConnecting, socket_.PeerIP);
    socket_.Connect(ConnectTimeout);
  } catch (const EIdSocketError& e) {
    CloseConnection();
    ThrowIfAborted();
    if (e.SocketErrorCode() == kIdErrTimedOut && ConnectTimeout != kIdTimeoutInfinite) {
      throw EIdConnectTimeout(kMsgTimedOut);
    }
    throw;
  } catch (...) {
    CloseConnection();
    throw;
  }
  OpenTransport(std::make_unique<TIdSocketTransport>(socket_));
  // An Abort during the lookup or the connect found no connection to cut.
  if (Aborted()) {
    CloseConnection();
    ThrowIfAborted();
  }
  DoStatus(TIdStatus::hsConnected);
  if (OnConnected) OnConnected(*this);
}

void TIdTCPClient::StartTLS(const std::string& serverName) {
  if (!IsConnected() || !socket_.HandleAllocated()) {
    throw EIdConnClosedGracefully(kMsgConnClosedGracefully);
  }
  // Bytes the peer sent before the handshake belong to no TLS record.
  if (!InputBuffer().Empty()) {
    CloseConnection();
    throw EIdTLSError("unexpected bytes before the TLS handshake");
  }
  try {
    transport_ = std::make_unique<TIdTLSTransport>(socket_, serverName, ConnectTimeout);
  } catch (...) {
    CloseConnection();
    ThrowIfAborted();
    throw;
  }
}

}  // namespace peloria
