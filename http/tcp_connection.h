// The blocking TCP client underneath the HTTP component: TIdComponent (the
// notifications and the socket layer's lifetime), TIdSocketHandle (one
// socket), TIdTCPConnection (input buffer, line and stream reads, writes, the
// peer-close bookkeeping) and TIdTCPClient (connecting to a host and port).
// Everything blocks on the calling thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_limits.h"
#include "http/id_buffer.h"
#include "http/id_exceptions.h"
#include "http/transport.h"
#include "platform/stream.h"

namespace peloria {

enum class TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText
};
enum class TWorkMode { wmRead, wmWrite };

class TIdComponent {
 public:
  TIdComponent();
  virtual ~TIdComponent();
  TIdComponent(const TIdComponent&) = delete;
  TIdComponent& operator=(const TIdComponent&) = delete;

  // Status notifications with their texts: "Resolving hostname %s.",
  // "Connecting to %s.", "Connected.", "Disconnecting from %s.",
  // "Not connected." and "%s" for plain text.
  std::function<void(TIdComponent&, TIdStatus, const std::string&)> OnStatus;
  // Transfer progress. OnWork receives the byte count of each step.
  std::function<void(TIdComponent&, TWorkMode, std::int64_t)> OnWorkBegin;
  std::function<void(TIdComponent&, TWorkMode, std::int64_t)> OnWork;
  std::function<void(TIdComponent&, TWorkMode)> OnWorkEnd;

 protected:
  // Formats the status text and calls OnStatus; does nothing without OnStatus.
  void DoStatus(TIdStatus status, std::string_view arg = {});
  void DoWorkBegin(TWorkMode mode, std::int64_t countMax);
  void DoWork(TWorkMode mode, std::int64_t count);
  void DoWorkEnd(TWorkMode mode);
};

// The status text of a status kind, `arg` filled in where the text has a
// placeholder.
std::string IdStatusText(TIdStatus status, std::string_view arg);

// One IPv4 stream socket with its local and peer addresses.
class TIdSocketHandle {
 public:
  TIdSocketHandle() = default;
  ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  bool HandleAllocated() const { return handle_ >= 0; }
  int Handle() const { return handle_; }

  // Creates the socket; EIdInvalidSocket "Cannot allocate socket." on failure.
  void AllocateSocket();
  // Binds to IP (dotted; empty: any address) and Port (0: any). The
  // address-in-use error raises EIdCouldNotBindSocket, others EIdSocketError.
  void Bind();
  // Connects to PeerIP (dotted) and PeerPort within `timeoutMs`
  // (kIdTimeoutInfinite: no limit); EIdSocketError on failure, 10060 when
  // the time ran out.
  void Connect(int timeoutMs = kIdTimeoutInfinite);
  void SetNoDelay(bool on);
  // Shuts down the sending direction, closes the socket and forgets the
  // handle and the addresses. Does nothing when no socket is allocated.
  void CloseSocket();
  // Forgets the addresses (the socket stays).
  void Reset();

  // The raw calls: -1 on failure, the error is then read with
  // CheckSocketResult.
  long long Send(const void* bytes, std::size_t count);
  long long Recv(void* bytes, std::size_t count);
  // 1 readable, 0 timed out, -1 failure; kIdTimeoutInfinite waits without limit.
  int WaitReadable(int timeoutMs);

  std::string IP;  // local address; empty: any
  int Port = 0;    // local port; 0: any
  std::string PeerIP;
  int PeerPort = 0;

 private:
  int handle_ = -1;
};

// The connection's state has one source: the transport. A connection is open
// exactly while it has one; every close goes through CloseConnection, which
// drops it. A receive of 0 bytes (the peer's end) closes at once, so
// IsConnected() never needs to look at the socket.
class TIdTCPConnection : public TIdComponent {
 public:
  TIdTCPConnection();
  // Closes the socket quietly (no notifications, no OnDisconnected).
  ~TIdTCPConnection() override;

  // Received bytes not yet consumed; reads take from its front. It outlives
  // the connection and is emptied when a new one opens.
  TIdBuffer& InputBuffer() { return inputBuffer_; }
  TIdSocketHandle& Socket() { return socket_; }

  std::int32_t RecvBufferSize = kIdDefaultBufferSize;  // receive block size
  std::int32_t SendBufferSize = kIdDefaultBufferSize;  // kept; writes send at once
  // The idle limit of every read and write: the longest wait for one more
  // byte (or for room to send). kIdTimeoutInfinite: no limit.
  int ReadTimeout = kIdTimeoutInfinite;

  bool IsConnected() const { return transport_ != nullptr; }
  // The connection that was open has been closed (by either side) and no new
  // one has been opened since.
  bool PeerClosed() const { return closedSinceOpen_; }
  // The last ReadLine ended without a line.
  bool LineTimedOut() const { return lineTimedOut_; }
  // When set, the top bit of every received byte is cleared.
  bool ASCIIFilter = false;
  // Called after the connection has been closed.
  std::function<void(TIdTCPConnection&)> OnDisconnected;

  // Makes `transport` the open connection's channel: InputBuffer is emptied.
  // EIdAlreadyConnected "Already connected." when a connection is open.
  void OpenTransport(std::unique_ptr<TIdTransport> transport);
  // Ends the transport, closes the socket: the disconnecting notification,
  // PeerClosed set, the disconnected notification, OnDisconnected. Nothing
  // happens when no connection is open. InputBuffer keeps its bytes.
  void CloseConnection();
  // One receive attempt waiting at most kIdGracefulCloseWaitMs into
  // InputBuffer: notices a peer close (closing the connection) or keeps what
  // came. Never raises for a close.
  void CheckGracefulClose();
  // Waits until a receive would not block (data, close or reset); false when
  // the time ran out. EIdConnClosedGracefully when no connection is open.
  bool WaitReadable(int timeoutMs);
  // One receive of at most RecvBufferSize bytes appended to InputBuffer,
  // waiting at most `timeoutMs`. True when bytes arrived; false when the time
  // ran out or the peer closed (the connection is then closed). Does nothing
  // and answers false when no connection is open.
  bool ReceiveIntoBuffer(int timeoutMs);
  // Reads one line ended by `terminator` (empty: LF, and then a CR before it
  // is dropped too), waiting at most ReadTimeout (or `timeoutMs`) for each
  // receive. When the time runs out, or the peer closes without a complete
  // line, answers "" with LineTimedOut set and the partial line kept in
  // InputBuffer. A line longer than `maxLength` raises EIdLineTooLong.
  std::string ReadLine(std::string_view terminator = {}) {
    return ReadLine(terminator, ReadTimeout);
  }
  std::string ReadLine(std::string_view terminator, int timeoutMs,
                       std::size_t maxLength = kIdMaxLineLength);
  // The bytes the last ReadLine took from the stream, its terminator and a
  // dropped CR included; 0 when it answered no line.
  std::size_t LastLineBytes() const { return lastLineBytes_; }
  // Reads exactly `count` bytes into `stream` at its position (InputBuffer
  // first). A peer close before the end raises EIdConnClosedGracefully, a
  // silence longer than ReadTimeout EIdReadTimeout (closing the connection).
  void ReadCountIntoStream(TStream& stream, std::int64_t count);
  // Reads everything until the peer closes into `stream` at its position and
  // cuts the stream there. Stops before writing more than `maxBytes` bytes
  // and answers false then (the connection stays open); true at the close.
  // A close that the transport reports as cut short (TLS without the peer's
  // close_notify) is a truncation: EIdTLSError with the library's reason.
  bool ReadToCloseIntoStream(TStream& stream, std::int64_t maxBytes);
  // Each write is sent at once, in full. Writing without an open connection
  // raises EIdConnClosedGracefully before anything is sent.
  void WriteLine(std::string_view text);  // text + CR LF
  void WriteText(std::string_view text);
  void WriteBytes(const void* bytes, std::int64_t length);

  // Safe from another thread: ends the transfer in progress (its wait
  // returns at once) and every later read or write of this connection with
  // EIdAborted "cancelled". A read that ends by the close does not succeed.
  void Abort();
  bool Aborted() const { return aborted_; }

 protected:
  // EIdAborted once Abort was called.
  void ThrowIfAborted() const;
  TIdSocketHandle socket_;
  // The open connection's channel; null when closed.
  std::unique_ptr<TIdTransport> transport_;
  // Guards the socket's descriptor between Abort and its allocation or close.
  std::mutex abortMutex_;

 private:
  std::vector<std::uint8_t>& ReceiveBlock();
  // One receive into `block` with the idle limit; 0 at the peer's end (the
  // connection is then closed). Failures close the connection and raise.
  std::size_t Receive(std::uint8_t* block, std::size_t size, int timeoutMs);
  // EIdConnClosedGracefully when no connection is open.
  void RequireOpen() const;

  TIdBuffer inputBuffer_;
  std::vector<std::uint8_t> receiveBlock_;
  bool closedSinceOpen_ = false;
  // The transport's CutReason() at the end of the stream: why the last
  // close cannot count as the end of the data; empty for an orderly end.
  std::string cutReason_;
  std::size_t lastLineBytes_ = 0;
  std::atomic<bool> aborted_ = false;
  bool lineTimedOut_ = false;
};

class TIdTCPClient : public TIdTCPConnection {
 public:
  std::string Host;
  std::int32_t Port = 0;
  std::string BoundIP;  // local address to bind to; empty: any
  bool UseNagle = true;
  // The longest wait for the connection to be made, and for a TLS handshake.
  int ConnectTimeout = kIdTimeoutInfinite;
  std::function<void(TIdTCPClient&)> OnConnected;

  // Connects to Host:Port over plain TCP. EIdAlreadyConnected "Already
  // connected." when a connection is open; socket, bind, lookup and connect
  // failures raise with the socket closed; a connect that takes longer than
  // ConnectTimeout raises EIdConnectTimeout.
  void OpenConnection();
  // Runs a TLS handshake over the open plain connection for `serverName`
  // (sent as SNI and checked against the certificate) and carries the rest of
  // the connection over TLS. Failures raise EIdTLSError (EIdConnectTimeout
  // for a silent peer) with the connection closed.
  void StartTLS(const std::string& serverName);
};

}  // namespace peloria
