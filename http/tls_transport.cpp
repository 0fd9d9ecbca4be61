#include "http/tls_transport.h"

#include <climits>

#include "http/id_exceptions.h"
#include "http/id_stack.h"
#include "http/tcp_connection.h"
#include "http/tls_library.h"
#include "platform/socket.h"

namespace peloria {
namespace {

// The socket error of the channel's last read or write on this thread; 0
// when it succeeded or met the end of the stream. The socket layer's own
// last error keeps an earlier "would block" after a later read that met the
// end, which would then be reported as the cause of a peer's close.
thread_local int channelError = 0;

// The socket runs non-blocking under TLS: the library answers "want read" or
// "want write" and the wait happens here, with the time limit. The library's
// own socket channel writes with write(2), which raises SIGPIPE on a peer
// that has gone; this channel sends with the socket layer (MSG_NOSIGNAL).
// The library's retry-flag and descriptor macros are spelled out as the
// calls they stand for.
int ChannelFd(BIO* bio) {
  return static_cast<int>(TlsLibrary().BIO_ctrl(bio, BIO_C_GET_FD, 0, nullptr));
}

int ChannelWrite(BIO* bio, const char* data, int length) {
  const TTlsLibrary& tls = TlsLibrary();
  tls.BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
  const long long n = sock::Send(ChannelFd(bio), data, static_cast<std::size_t>(length));
  channelError = n < 0 ? sock::LastError() : 0;
  if (channelError == kIdErrWouldBlock)
    tls.BIO_set_flags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
  return static_cast<int>(n);
}

int ChannelRead(BIO* bio, char* data, int length) {
  const TTlsLibrary& tls = TlsLibrary();
  tls.BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
  const long long n = sock::Recv(ChannelFd(bio), data, static_cast<std::size_t>(length));
  channelError = n < 0 ? sock::LastError() : 0;
  if (channelError == kIdErrWouldBlock)
    tls.BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
  return static_cast<int>(n);
}

long ChannelControl(BIO* bio, int command, long number, void* pointer) {
  const TTlsLibrary& tls = TlsLibrary();
  switch (command) {
    case BIO_C_SET_FD:
      tls.BIO_set_data(bio,
                       reinterpret_cast<void*>(static_cast<intptr_t>(*static_cast<int*>(pointer))));
      tls.BIO_set_init(bio, 1);
      (void)number;
      return 1;
    case BIO_C_GET_FD:
      return static_cast<long>(reinterpret_cast<intptr_t>(tls.BIO_get_data(bio)));
    case BIO_CTRL_FLUSH:
      return 1;
    default:
      return 0;
  }
}

BIO_METHOD* Channel() {
  static BIO_METHOD* method = [] {
    const TTlsLibrary& tls = TlsLibrary();
    BIO_METHOD* m =
        tls.BIO_meth_new(tls.BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "peloria socket");
    tls.BIO_meth_set_write(m, ChannelWrite);
    tls.BIO_meth_set_read(m, ChannelRead);
    tls.BIO_meth_set_ctrl(m, ChannelControl);
    return m;
  }();
  return method;
}

// The reason of the library's last failure, for the failure line.
std::string LibraryReason(SSL* ssl) {
  const TTlsLibrary& tls = TlsLibrary();
  const long verify = ssl == nullptr ? X509_V_OK : tls.SSL_get_verify_result(ssl);
  const unsigned long code = tls.ERR_peek_last_error();
  if (verify != X509_V_OK && ERR_GET_REASON(code) == SSL_R_CERTIFICATE_VERIFY_FAILED) {
    return std::string("certificate verify failed: ") + tls.X509_verify_cert_error_string(verify);
  }
  if (code == 0) return "TLS failure";
  const char* reason = tls.ERR_reason_error_string(code);
  return reason != nullptr ? reason : "TLS failure (error " + std::to_string(code) + ")";
}

[[noreturn]] void Fail(SSL* ssl) {
  std::string reason = LibraryReason(ssl);
  TlsLibrary().ERR_clear_error();
  throw EIdTLSError(std::move(reason));
}

}  // namespace

struct TIdTLSTransport::Session {
  int fd = -1;
  SSL_CTX* context = nullptr;
  SSL* ssl = nullptr;
  // The library's reason when the peer ended the stream without
  // close_notify; empty while it has not ended so.
  std::string cutReason;

  ~Session() {
    if (ssl != nullptr) TlsLibrary().SSL_free(ssl);
    if (context != nullptr) TlsLibrary().SSL_CTX_free(context);
    // The socket goes back to blocking for its owner.
    if (fd >= 0) sock::SetNonBlocking(fd, false);
  }

  // Waits for what the library asked for after `result`; answers false when
  // the call should not be repeated (the failure is raised, the end is
  // reported by the caller). `timedOut` decides the class of a silent wait.
  bool Retry(int result, int timeoutMs, bool handshake) {
    const TTlsLibrary& tls = TlsLibrary();
    const int error = tls.SSL_get_error(ssl, result);
    int ready = 0;
    if (error == SSL_ERROR_WANT_READ) {
      ready = sock::WaitReadable(fd, timeoutMs);
    } else if (error == SSL_ERROR_WANT_WRITE) {
      ready = sock::WaitWritable(fd, timeoutMs);
    } else if (error == SSL_ERROR_ZERO_RETURN) {
      return false;
    } else if (error == SSL_ERROR_SYSCALL && tls.ERR_peek_last_error() == 0) {
      const int code = channelError;
      tls.ERR_clear_error();
      if (code != 0 && code != kIdErrWouldBlock && result < 0) ThrowSocketError(code);
      return EndWithoutCloseNotify(handshake, "unexpected eof while reading");
    } else if (ERR_GET_REASON(tls.ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
      return EndWithoutCloseNotify(handshake, LibraryReason(ssl));
    } else {
      Fail(ssl);
    }
    if (ready < 0) ThrowSocketError(sock::LastError());
    if (ready == 0) {
      if (handshake) throw EIdConnectTimeout(kMsgTimedOut);
      throw EIdReadTimeout(kMsgTimedOut);
    }
    return true;
  }

  // The peer closed the socket without close_notify. In the handshake that
  // is its refusal; afterwards the stream ends, marked as cut so that data
  // framed by the close is not taken as whole (a counted body needs none).
  bool EndWithoutCloseNotify(bool handshake, std::string reason) {
    TlsLibrary().ERR_clear_error();
    if (handshake) throw EIdTLSError("connection closed during the TLS handshake");
    cutReason = std::move(reason);
    return false;
  }
};

TIdTLSTransport::TIdTLSTransport(TIdSocketHandle& socket, const std::string& serverName,
                                 int timeoutMs)
    : session_(std::make_unique<Session>()) {
  Session& s = *session_;
  const TTlsLibrary& tls = TlsLibrary();
  tls.ERR_clear_error();
  s.context = tls.SSL_CTX_new(tls.TLS_client_method());
  if (s.context == nullptr) Fail(nullptr);
  tls.SSL_CTX_ctrl(s.context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  tls.SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER, nullptr);
  // The system store, or the files named by SSL_CERT_FILE / SSL_CERT_DIR.
  if (tls.SSL_CTX_set_default_verify_paths(s.context) != 1) Fail(nullptr);

  s.ssl = tls.SSL_new(s.context);
  if (s.ssl == nullptr) Fail(nullptr);
  X509_VERIFY_PARAM* param = tls.SSL_get0_param(s.ssl);
  if (IsDottedAddress(serverName)) {
    // RFC 6066 3: no SNI for an address; the certificate must name the IP.
    if (tls.X509_VERIFY_PARAM_set1_ip_asc(param, serverName.c_str()) != 1) Fail(s.ssl);
  } else {
    tls.X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // The host name goes out as SNI (the library's SSL_set_tlsext_host_name).
    if (tls.SSL_set1_host(s.ssl, serverName.c_str()) != 1 ||
        tls.SSL_ctrl(s.ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     const_cast<char*>(serverName.c_str())) != 1) {
      Fail(s.ssl);
    }
  }

  BIO* channel = tls.BIO_new(Channel());
  if (channel == nullptr) Fail(s.ssl);
  int fd = socket.Handle();
  tls.BIO_ctrl(channel, BIO_C_SET_FD, 0, &fd);
  tls.SSL_set_bio(s.ssl, channel, channel);
  if (sock::SetNonBlocking(fd, true) != 0) ThrowSocketError(sock::LastError());
  s.fd = fd;

  for (;;) {
    channelError = 0;
    const int result = tls.SSL_connect(s.ssl);
    if (result == 1) break;
    if (!s.Retry(result, timeoutMs, true)) {
      throw EIdTLSError("connection closed during the TLS handshake");
    }
  }
}

TIdTLSTransport::~TIdTLSTransport() = default;

bool TIdTLSTransport::WaitReadable(int timeoutMs) {
  // Bytes already decrypted inside the library come first: the socket may
  // stay silent while they wait.
  if (TlsLibrary().SSL_pending(session_->ssl) > 0) return true;
  const int ready = sock::WaitReadable(session_->fd, timeoutMs);
  if (ready < 0) ThrowSocketError(sock::LastError());
  return ready > 0;
}

std::size_t TIdTLSTransport::Receive(void* bytes, std::size_t count, int timeoutMs) {
  const int ask = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
  for (;;) {
    TlsLibrary().ERR_clear_error();
    channelError = 0;
    const int n = TlsLibrary().SSL_read(session_->ssl, bytes, ask);
    if (n > 0) return static_cast<std::size_t>(n);
    if (!session_->Retry(n, timeoutMs, false)) return 0;
  }
}

std::size_t TIdTLSTransport::Send(const void* bytes, std::size_t count, int timeoutMs) {
  const int ask = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
  for (;;) {
    TlsLibrary().ERR_clear_error();
    channelError = 0;
    const int n = TlsLibrary().SSL_write(session_->ssl, bytes, ask);
    if (n > 0) return static_cast<std::size_t>(n);
    if (!session_->Retry(n, timeoutMs, false)) ThrowSocketError(kIdErrShutdown);
  }
}

std::string TIdTLSTransport::CutReason() const {
  return session_->cutReason;
}

void TIdTLSTransport::Close() {
  // One close_notify, without waiting for the peer's (RFC 8446 6.1 allows
  // closing at once); failures change nothing.
  const TTlsLibrary& tls = TlsLibrary();
  tls.ERR_clear_error();
  tls.SSL_shutdown(session_->ssl);
  tls.ERR_clear_error();
}

std::string TIdTLSTransport::Version() const {
  return TlsLibrary().SSL_get_version(session_->ssl);
}

}  // namespace peloria
