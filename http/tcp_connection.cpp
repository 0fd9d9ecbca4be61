#include "http/tcp_connection.h"

#include <algorithm>

#include "http/id_stack.h"
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

void TIdSocketHandle::Connect() {
  CheckSocketResult(sock::Connect(handle_, PeerIP, PeerPort));
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
  return sock::WaitReadable(handle_, timeoutMs == kIdTimeoutInfinite ? -1 : std::max(timeoutMs, 0));
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

void TIdTCPConnection::FailAndClose(int code) {
  // After a failed receive or send (reset, abort, time-out) the stream is
  // broken; close the socket so that the next request opens a fresh one.
  CloseSocketOnly();
  ThrowSocketError(code);
}

void TIdTCPConnection::CheckPeerClosed(bool raise, bool ignoreBuffer) {
  if (!peerClosed_ && socket_.HandleAllocated()) return;
  if (socket_.HandleAllocated()) CloseSocketOnly();
  if (raise && (ignoreBuffer || inputBuffer_.Empty())) {
    throw EIdConnClosedGracefully(kMsgConnClosedGracefully);
  }
}

bool TIdTCPConnection::IsConnected() {
  CheckPeerClosed(false, false);
  return socket_.HandleAllocated();
}

void TIdTCPConnection::CloseSocketOnly() {
  if (!socket_.HandleAllocated()) return;
  DoStatus(TIdStatus::hsDisconnecting, socket_.PeerIP);
  socket_.CloseSocket();
  peerClosed_ = true;
  DoStatus(TIdStatus::hsDisconnected);
  if (OnDisconnected) OnDisconnected(*this);
}

void TIdTCPConnection::CheckGracefulClose(bool raise) {
  FillFromSocket(raise, kIdGracefulCloseWaitMs, nullptr, 0, true);
}

bool TIdTCPConnection::WaitReadable(int timeoutMs) {
  if (!socket_.HandleAllocated()) throw EIdConnClosedGracefully(kMsgConnClosedGracefully);
  const int ready = socket_.WaitReadable(timeoutMs);
  if (ready < 0) FailAndClose(sock::LastError());
  return ready > 0;
}

std::int64_t TIdTCPConnection::FillFromSocket(bool raise, int timeoutMs, std::uint8_t* block,
                                              std::int64_t blockSize, bool intoBuffer) {
  CheckPeerClosed(raise, false);
  if (!IsConnected()) return 0;
  if (block == nullptr) {
    std::vector<std::uint8_t>& own = ReceiveBlock();
    block = own.data();
    blockSize = static_cast<std::int64_t>(own.size());
  }
  if (blockSize <= 0 || !WaitReadable(timeoutMs)) return 0;

  long long received = socket_.Recv(block, static_cast<std::size_t>(blockSize));
  peerClosed_ = received == 0;
  if (received < 0) {
    const int code = sock::LastError();
    if (code != kIdErrShutdown) FailAndClose(code);
    // Receiving after our own shutdown: the connection is over.
    received = 0;
    CloseSocketOnly();
    if (inputBuffer_.Empty()) ThrowSocketError(code);
  }
  if (received > 0) {
    if (ASCIIFilter) {
      for (long long i = 0; i < received; ++i) block[i] &= 0x7F;
    }
    if (intoBuffer) {
      inputBuffer_.Append(block, static_cast<std::size_t>(received));
    } else {
      DoWork(TWorkMode::wmRead, received);
    }
  }
  CheckPeerClosed(raise, false);
  return received;
}

std::string TIdTCPConnection::ReadLine(std::string_view terminator, int timeoutMs) {
  const bool defaultTerminator = terminator.empty();
  const std::string_view term = defaultTerminator ? std::string_view("\n") : terminator;
  // Bytes at the end of a buffer without a terminator that may still belong
  // to the line end: a CR before LF, or the start of a longer terminator.
  const std::size_t slack = defaultTerminator ? 1 : term.size() - 1;
  const auto tooLong = [this]() {
    CloseSocketOnly();
    inputBuffer_.Clear();
    throw EIdLineTooLong("Line too long: more than " + std::to_string(kIdMaxLineLength) +
                         " bytes without a line end.");
  };
  lineTimedOut_ = false;

  // Only the bytes that arrived since the last search are searched again
  // (with an overlap of the terminator's length less one).
  std::size_t searched = 0;
  std::size_t at = TIdBuffer::npos;
  for (;;) {
    if (!inputBuffer_.Empty()) {
      at = inputBuffer_.Find(term, searched > term.size() - 1 ? searched - (term.size() - 1) : 0);
      if (at != TIdBuffer::npos) break;
      searched = inputBuffer_.Size();
      if (searched > kIdMaxLineLength + slack) tooLong();
    }
    CheckPeerClosed(true, true);
    if (FillFromSocket(true, timeoutMs, nullptr, 0, true) == 0) {
      lineTimedOut_ = true;
      return {};
    }
  }

  std::size_t length = at;
  if (defaultTerminator && length > 0 && inputBuffer_.Data()[length - 1] == '\r') --length;
  if (length > kIdMaxLineLength) tooLong();
  std::string line = inputBuffer_.Extract(at + term.size());
  line.resize(length);
  return line;
}

void TIdTCPConnection::ReadIntoStream(TStream& stream, std::int64_t count, bool untilClose) {
  // `remaining` < 0: no count, read until the peer closes.
  std::int64_t remaining = count;
  if (count >= 0) stream.SetSize(stream.Position() + count);
  DoWorkBegin(TWorkMode::wmRead, untilClose || count < 0 ? 0 : count);

  std::size_t fromBuffer = inputBuffer_.Size();
  if (remaining >= 0) fromBuffer = std::min(fromBuffer, static_cast<std::size_t>(remaining));
  if (fromBuffer > 0) {
    stream.WriteBuffer(inputBuffer_.Data(), static_cast<std::int64_t>(fromBuffer));
    inputBuffer_.Remove(fromBuffer);
    if (remaining > 0) remaining -= static_cast<std::int64_t>(fromBuffer);
    DoWork(TWorkMode::wmRead, static_cast<std::int64_t>(fromBuffer));
  }

  while (remaining != 0 && IsConnected()) {
    std::vector<std::uint8_t>& block = ReceiveBlock();
    std::int64_t want = static_cast<std::int64_t>(block.size());
    if (remaining > 0) want = std::min(want, remaining);
    const std::int64_t received =
        FillFromSocket(!untilClose, kIdTimeoutInfinite, block.data(), want, false);
    if (received > 0) {
      stream.WriteBuffer(block.data(), received);
      if (remaining > 0) remaining -= received;
    }
  }
  // A counted read that ends short is a failure even when the close was
  // noticed before this read began.
  if (remaining > 0 && !untilClose) throw EIdConnClosedGracefully(kMsgConnClosedGracefully);

  DoWorkEnd(TWorkMode::wmRead);
  if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
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
  CheckPeerClosed(true, true);
  const auto* rest = static_cast<const std::uint8_t*>(bytes);
  std::int64_t left = length;
  while (left > 0) {
    const long long sent = socket_.Send(rest, static_cast<std::size_t>(left));
    if (sent < 0) FailAndClose(sock::LastError());
    peerClosed_ = sent == 0;
    CheckPeerClosed(true, false);
    if (!socket_.HandleAllocated()) throw EIdConnClosedGracefully(kMsgConnClosedGracefully);
    DoWork(TWorkMode::wmWrite, sent);
    rest += sent;
    left -= sent;
  }
}

// ---------------------------------------------------------------------------
// TIdTCPClient

void TIdTCPClient::OpenConnection() {
  if (socket_.HandleAllocated()) throw EIdAlreadyConnected(kMsgAlreadyConnected);
  socket_.Reset();
  InputBuffer().Clear();
  ResetPeerClosed();
  socket_.AllocateSocket();
  try {
    socket_.IP = BoundIP.empty() ? std::string() : LookupHost(BoundIP);
    socket_.Port = 0;
    socket_.Bind();
    if (!IsDottedAddress(Host)) DoStatus(TIdStatus::hsResolving, Host);
    socket_.PeerIP = LookupHost(Host);
    socket_.PeerPort = Port;
    if (!UseNagle) socket_.SetNoDelay(true);
    DoStatus(TIdStatus::hsConnecting, socket_.PeerIP);
    socket_.Connect();
  } catch (...) {
    CloseConnection();
    throw;
  }
  DoStatus(TIdStatus::hsConnected);
  if (OnConnected) OnConnected(*this);
}

}  // namespace peloria
