// TLS 1.2 and later over the connection's socket, with the system's TLS
// library. The peer's certificate chain is verified against the system's
// store (SSL_CERT_FILE and SSL_CERT_DIR name other stores, as the library's
// own tools honour them) and must name the host (or IP address) that was
// asked for; the host name also goes out as SNI.
#pragma once

#include <memory>
#include <string>

#include "http/transport.h"

namespace peloria {

class TIdTLSTransport final : public TIdTransport {
 public:
  // Runs the handshake for `serverName` over the connected `socket` (which
  // stays the caller's). A step of the handshake that waits longer than
  // `timeoutMs` raises EIdConnectTimeout; every other failure EIdTLSError
  // with the library's reason, or EIdSocketError for a socket failure.
  TIdTLSTransport(TIdSocketHandle& socket, const std::string& serverName, int timeoutMs);
  ~TIdTLSTransport() override;

  bool WaitReadable(int timeoutMs) override;
  std::size_t Receive(void* bytes, std::size_t count, int timeoutMs) override;
  std::size_t Send(const void* bytes, std::size_t count, int timeoutMs) override;
  // "unexpected eof while reading" once the peer closed without close_notify.
  std::string CutReason() const override;
  void Close() override;

  // The negotiated protocol ("TLSv1.3").
  std::string Version() const;

 private:
  struct Session;
  std::unique_ptr<Session> session_;
};

}  // namespace peloria
