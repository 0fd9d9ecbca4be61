// The blocking TCP client underneath the HTTP component: TIdComponent (the
// notifications and the socket layer's lifetime), TIdSocketHandle (one
// socket), TIdTCPConnection (input buffer, line and stream reads, writes, the
// peer-close bookkeeping) and TIdTCPClient (connecting to a host and port).
// Everything blocks on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "http/id_buffer.h"
#include "http/id_exceptions.h"
#include "platform/stream.h"

namespace peloria {

// Limits and sizes of the connection layer.
constexpr int kIdTimeoutInfinite = -2;                // wait without a limit
constexpr std::int32_t kIdDefaultBufferSize = 32768;  // receive block and send size
// The longest line ReadLine answers (terminator and a dropped CR not
// counted); a longer one raises EIdLineTooLong.
constexpr std::size_t kIdMaxLineLength = 1024 * 1024;
constexpr int kIdGracefulCloseWaitMs = 1;  // CheckGracefulClose's receive wait

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
  // Connects to PeerIP (dotted) and PeerPort; EIdSocketError on failure.
  void Connect();
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

class TIdTCPConnection : public TIdComponent {
 public:
  TIdTCPConnection();
  // Closes the socket quietly (no notifications, no OnDisconnected).
  ~TIdTCPConnection() override;

  // Received bytes not yet consumed; reads take from its front. It outlives
  // the socket and is emptied by OpenConnection.
  TIdBuffer& InputBuffer() { return inputBuffer_; }
  TIdSocketHandle& Socket() { return socket_; }

  std::int32_t RecvBufferSize = kIdDefaultBufferSize;  // receive block size
  std::int32_t SendBufferSize = kIdDefaultBufferSize;  // kept; writes send at once

  // The last receive or send moved 0 bytes, or the socket was closed.
  bool PeerClosed() const { return peerClosed_; }
  // The last ReadLine ended without a line.
  bool LineTimedOut() const { return lineTimedOut_; }
  // When set, the top bit of every received byte is cleared.
  bool ASCIIFilter = false;
  // Called after the socket has been closed.
  std::function<void(TIdTCPConnection&)> OnDisconnected;

  // When the peer has closed or no socket is allocated: closes the socket if
  // one is allocated and, when `raise` is set and (`ignoreBuffer` is set or
  // InputBuffer is empty), raises EIdConnClosedGracefully.
  void CheckPeerClosed(bool raise, bool ignoreBuffer);
  // CheckPeerClosed without raising, then whether a socket is allocated.
  bool IsConnected();
  // Both close the socket: the disconnecting notification, shutdown and
  // close, PeerClosed set, the disconnected notification, OnDisconnected.
  // InputBuffer keeps its bytes.
  void CloseConnection() { CloseSocketOnly(); }
  void CloseSocketOnly();
  // One receive attempt waiting at most kIdGracefulCloseWaitMs into
  // InputBuffer: notices a peer close (closing the socket) or keeps what came.
  void CheckGracefulClose(bool raise);
  // Waits until the socket is readable (data, close or reset); false when the
  // time ran out. EIdConnClosedGracefully when no socket is allocated.
  bool WaitReadable(int timeoutMs);
  // One receive of at most `blockSize` bytes into `block` (nullptr: the
  // receive block of RecvBufferSize bytes). With `intoBuffer` the bytes are
  // appended to InputBuffer, otherwise they stay in the block and are reported
  // as read work. Answers the count received, 0 when the time ran out or the
  // peer closed (a close raises when `raise` is set and InputBuffer is empty).
  std::int64_t FillFromSocket(bool raise, int timeoutMs, std::uint8_t* block,
                              std::int64_t blockSize, bool intoBuffer);
  // Reads one line ended by `terminator` (empty: LF, and then a CR before it
  // is dropped too). When the time runs out, or the peer closes without a
  // complete line, answers "" with LineTimedOut set and the partial line kept
  // in InputBuffer. A line longer than kIdMaxLineLength raises EIdLineTooLong.
  std::string ReadLine(std::string_view terminator = {}, int timeoutMs = kIdTimeoutInfinite);
  // Reads `count` bytes (untilClose false) or everything until the peer
  // closes (untilClose true, count -1) into `stream` at its position. The
  // counted form sizes the stream to position + count first and raises
  // EIdConnClosedGracefully when the peer closes early.
  void ReadIntoStream(TStream& stream, std::int64_t count, bool untilClose);
  // Each write is sent at once, in full. Writing after the peer close was
  // noticed raises EIdConnClosedGracefully before anything is sent.
  void WriteLine(std::string_view text);  // text + CR LF
  void WriteText(std::string_view text);
  void WriteBytes(const void* bytes, std::int64_t length);

 protected:
  void ResetPeerClosed() { peerClosed_ = false; }

  TIdSocketHandle socket_;

 private:
  std::vector<std::uint8_t>& ReceiveBlock();
  [[noreturn]] void FailAndClose(int code);

  TIdBuffer inputBuffer_;
  std::vector<std::uint8_t> receiveBlock_;
  bool peerClosed_ = false;
  bool lineTimedOut_ = false;
};

class TIdTCPClient : public TIdTCPConnection {
 public:
  std::string Host;
  std::int32_t Port = 0;
  std::string BoundIP;  // local address to bind to; empty: any
  bool UseNagle = true;
  std::function<void(TIdTCPClient&)> OnConnected;

  // Connects to Host:Port. EIdAlreadyConnected "Already connected." when a
  // socket is allocated; socket, bind, lookup and connect failures raise with
  // the socket closed.
  void OpenConnection();
};

}  // namespace peloria
