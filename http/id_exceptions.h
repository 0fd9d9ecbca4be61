// Failures of the TCP connection and the socket layer. Every class carries
// its own name and a fixed message text.
#pragma once

#include <string>
#include <utility>

#include "platform/exception.h"

namespace peloria {

PELORIA_DECLARE_EXCEPTION(EIdException, Exception);

// A socket call failed. The message is "Socket Error # <n>" CR LF followed by
// the error's text (see SocketErrorText in id_stack.h); <n> is the error
// number of the table, 10000 plus the classic BSD error number.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int code, std::string message)
      : EIdException("EIdSocketError", std::move(message)), code_(code) {}
  int SocketErrorCode() const noexcept { return code_; }

 private:
  int code_;
};

// Failures that report an expected end rather than a fault.
PELORIA_DECLARE_EXCEPTION(EIdSilentException, EIdException);
// "Connection Closed Gracefully."
PELORIA_DECLARE_EXCEPTION(EIdConnClosedGracefully, EIdSilentException);

PELORIA_DECLARE_EXCEPTION(EIdAlreadyConnected, EIdException);       // "Already connected."
PELORIA_DECLARE_EXCEPTION(EIdInvalidSocket, EIdException);          // "Cannot allocate socket."
PELORIA_DECLARE_EXCEPTION(EIdCouldNotBindSocket, EIdException);     // see kMsgCouldNotBind
PELORIA_DECLARE_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException);  // "Not enough data in buffer."
// A received line grew beyond kIdMaxLineLength bytes (tcp_connection.h):
// "Line too long: more than 1048576 bytes without a line end.";
// the connection is closed because the rest of the stream cannot be framed.
PELORIA_DECLARE_EXCEPTION(EIdLineTooLong, EIdException);

// Time limits (ConnectTimeout, ReadTimeout of TIdTCPConnection): the
// connection, the TLS handshake or a reply stayed silent for too long. The
// message is the cause alone, as the failure line shows it.
PELORIA_DECLARE_EXCEPTION(EIdConnectTimeout, EIdException);
PELORIA_DECLARE_EXCEPTION(EIdReadTimeout, EIdException);
inline constexpr const char* kMsgTimedOut = "timed out";
// A TLS failure: the message is the library's reason, for a certificate the
// verification result ("certificate verify failed: unable to get local
// issuer certificate").
PELORIA_DECLARE_EXCEPTION(EIdTLSError, EIdException);
// The transfer was ended by TIdTCPConnection::Abort: "cancelled".
PELORIA_DECLARE_EXCEPTION(EIdAborted, EIdException);
inline constexpr const char* kMsgAborted = "cancelled";

inline constexpr const char* kMsgConnClosedGracefully = "Connection Closed Gracefully.";
inline constexpr const char* kMsgAlreadyConnected = "Already connected.";
inline constexpr const char* kMsgCannotAllocateSocket = "Cannot allocate socket.";
inline constexpr const char* kMsgCouldNotBind =
    "Could not bind socket. Address and port are already in use.";
inline constexpr const char* kMsgNotEnoughData = "Not enough data in buffer.";

}  // namespace peloria
