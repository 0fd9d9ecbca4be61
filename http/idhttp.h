// TIdHTTP: a blocking HTTP/1.1 client for GET requests (RFC 9112), directly
// or through a plain HTTP proxy, on top of TIdTCPClient. One request at a
// time; a connection that the reply leaves open is reused for the next
// request to the same endpoint.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "http/header_info.h"
#include "http/header_list.h"
#include "http/id_exceptions.h"
#include "http/proxy_env.h"
#include "http/tcp_connection.h"
#include "platform/stream.h"

namespace peloria {

constexpr std::int32_t kHttpDefaultPort = 80;
constexpr std::int32_t kHttpsDefaultPort = 443;

// A reply whose status is not a success: the message is the status text
// without its version word ("404 Not Found"), ReplyCode() the number.
class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(std::int32_t replyCode, std::string message)
      : EIdException("EIdProtocolReplyError", std::move(message)), replyCode_(replyCode) {}
  std::int32_t ReplyCode() const noexcept { return replyCode_; }

 private:
  std::int32_t replyCode_;
};

// A URL whose scheme this client cannot speak (neither http nor https) on a
// direct connection.
PELORIA_DECLARE_EXCEPTION(EIdInterceptPropInvalid, EIdException);
inline constexpr const char* kMsgInterceptPropInvalid = "Intercept value is not valid";

// A reply's header block beyond kHttpMaxHeaderBytes or kHttpMaxHeaderLines;
// the message is ReplyHeaderTooLargeMessage(). The connection is closed.
PELORIA_DECLARE_EXCEPTION(EIdReplyHeaderTooLarge, EIdException);
std::string ReplyHeaderTooLargeMessage();

// An address that cannot be sent: a control byte (CR, LF, ...) that would
// end up inside the request, or a port number above 65535.
PELORIA_DECLARE_EXCEPTION(EIdBadAddress, EIdException);
// Redirects beyond RedirectMaximum: "too many redirects".
PELORIA_DECLARE_EXCEPTION(EIdTooManyRedirects, EIdException);
// A redirect to a scheme other than http or https (file:, ftp: ...).
PELORIA_DECLARE_EXCEPTION(EIdRedirectRefused, EIdException);
// A body beyond MaxBodyBytes; the transfer stops there and the connection
// is closed.
PELORIA_DECLARE_EXCEPTION(EIdReplyTooLarge, EIdException);
// More than kHttpMaxInterimReplies interim (1xx) replies.
PELORIA_DECLARE_EXCEPTION(EIdTooManyInterimReplies, EIdException);
// A chunked body whose chunk-size line is no size: the body cannot be framed,
// and taking the line for the last chunk would pass a cut-off body as whole.
PELORIA_DECLARE_EXCEPTION(EIdMalformedChunk, EIdException);

// A reply whose framing cannot be read one way only (Content-Length values
// that differ) or that does not begin with a status line. The connection is
// closed; the message names the fault, never the peer's bytes.
PELORIA_DECLARE_EXCEPTION(EIdMalformedReply, EIdException);

enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };
enum TIdHTTPMethod { hmGet, hmHead };

// Empties `lines` and adds one "Name: value" line per header of `request`
// that has a value, in a fixed order, the extra headers last. The Host line
// is not among them: SendRequest writes it.
void ComposeHeaderLines(const TIdHeaderInfo& request, TIdHeaderList& lines);

// Moves the known headers of `lines` into the values of `into` (removing
// their lines from `lines`) and the remaining lines into its ExtraHeaders.
// A malformed Content-Range fails with EConvertError; a Content-Length that
// is no decimal number from 0 up counts as absent (0, DeclaredLength -1).
void ParseHeaderLines(TIdHeaderList& lines, TIdHeaderInfo& into);

// The size of a chunk-size line (RFC 9112 7.1): hexadecimal digits in either
// letter case, cut at the first SP, HTAB or ";" (a chunk extension, which is
// ignored); 0 is the last chunk. Anything else, also a size beyond 2^31 - 1,
// fails with EIdMalformedChunk.
std::int32_t ParseChunkSize(std::string_view line);

class TIdHTTP : public TIdTCPClient {
 public:
  // Called before a redirect is followed or refused: `dest` (the Location)
  // and `numRedirect` (the redirect depth) may be changed, `handled` starts
  // as HandleRedirects and decides.
  using TIdHTTPOnRedirectEvent = std::function<void(TIdHTTP& sender, std::string& dest,
                                                    std::int32_t& numRedirect, bool& handled)>;

  TIdHTTP() { Port = kHttpDefaultPort; }
  ~TIdHTTP() override;

  TIdHeaderInfo Request;
  TIdHeaderInfo Reply;
  // The composed request header lines; after a reply its header lines that
  // were not parsed into Reply.
  TIdHeaderList HeaderLines;
  TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
  std::int32_t RedirectMaximum = kHttpDefaultRedirectMaximum;
  bool HandleRedirects = false;
  TIdHTTPOnRedirectEvent OnRedirect;
  // The largest body written to the target; more fails with EIdReplyTooLarge.
  std::int64_t MaxBodyBytes = kHttpMaxBodyBytes;
  // Without Request.ProxyServer: take the proxy for each URL from the
  // environment (http_proxy, https_proxy, all_proxy, no_proxy; proxy_env.h),
  // with the credentials its value carries.
  bool UseEnvironmentProxy = false;

  std::int32_t RedirectDepth() const { return redirectDepth_; }
  std::int32_t StatusCode() const { return statusCode_; }
  // The status line without its version word: "404 Not Found".
  const std::string& StatusText() const { return statusText_; }
  // The host and protocol written into the Host line and a proxy's request
  // URI; kept from request to request, overwritten by non-empty URL parts.
  const std::string& RequestHost() const { return requestHost_; }
  const std::string& RequestProtocol() const { return requestProtocol_; }

  // GETs `url` and writes the body into `target` from its position. Returns
  // for a 2xx reply (or a redirect that OnRedirect accepts); otherwise fails
  // with EIdProtocolReplyError after the body has been read into `target`.
  void Download(const std::string& url, TStream& target) { SendRequest(hmGet, url, target); }

  // Sends one request for `url`, reads the reply and follows redirects as
  // HandleRedirects and OnRedirect say. The per-request state (redirect
  // depth, whether the chain went over https, interim replies) starts fresh.
  void SendRequest(TIdHTTPMethod method, const std::string& url, TStream& target);

  // Sets Host, Port, RequestHost and RequestProtocol for a URL with these
  // parts (`port` -1: none) and answers whether the request goes to a proxy
  // in absolute form (plain http through a proxy; https through a proxy is a
  // CONNECT tunnel and goes in origin form). A URL without a host keeps the
  // previous host (and, naming no port, the previous port). An open
  // connection to another endpoint, or of another kind, is closed.
  bool ChooseEndpoint(const std::string& protocol, const std::string& host, std::int32_t port);

 protected:
  // Reads the header block into HeaderLines and parses it into Reply.
  void ReadReplyHeaders();
  // Reads the reply body into `target`: chunked (which wins over a length),
  // Content-Length bytes, or until the peer closes. Differing lengths fail
  // with EIdMalformedReply.
  void ReadBody(TStream& target);
  // The chunks and the trailer, every byte counted against MaxBodyBytes;
  // `tooLarge` raises beyond it.
  void ReadChunkedBody(TStream& target, const std::function<void()>& tooLarge);
  // Reads one chunk-size line (at most kHttpMaxChunkLineBytes).
  std::int32_t ReadChunkSize();

 private:
  // ReadLine with the default terminator and ReadTimeout, at most
  // `maxLength` bytes; a peer close before the line ends fails with
  // EIdConnClosedGracefully.
  std::string ReadReplyLine(std::size_t maxLength = kIdMaxLineLength);
  // Reads the status line into StatusText and StatusCode; answers whether
  // the reply is version 1.0.
  bool ReadStatusLine();
  // Header lines up to the empty line, within the header block limits;
  // `counted` (when set) gets the bytes each line took from the stream.
  void ReadHeaderBlock(TIdHeaderList& lines, const std::function<void(std::size_t)>& counted = {});
  // One request of a chain: SendRequest's first and each followed redirect.
  void RunRequest(TIdHTTPMethod method, const std::string& url, TStream& target);
  bool AskRedirect(std::string& dest);
  // Follows the redirect to `dest` (resolved against `url`) within
  // RedirectMaximum and the http/https schemes.
  void FollowRedirect(TIdHTTPMethod method, const std::string& url, std::string dest,
                      TStream& target);
  // Steps of SendRequest: the connection to the chosen endpoint (a kept one
  // when it is still sound), the request line and headers (`uri` in the form
  // the endpoint takes), and the status line and headers of the final reply
  // after any interim ones (answers whether that reply is version 1.0).
  void ConnectForRequest();
  void WriteRequest(TIdHTTPMethod method, const std::string& uri, bool absoluteForm);
  bool ReadFinalReplyHead();
  // Opens the connection that ChooseEndpoint chose: plain, TLS, or TLS
  // inside a proxy's CONNECT tunnel.
  void OpenChosenConnection();
  void OpenTunnel();
  // One more interim reply; EIdTooManyInterimReplies beyond the bound.
  void CountInterimReply();
  // The proxy for a URL with its credentials: Request.ProxyServer (with
  // Request.ProxyUsername and ProxyPassword), else the environment's; an
  // empty Host for a direct connection.
  TProxyAddress ChooseProxy(const std::string& protocol, const std::string& host) const;
  // Closes the connection when this reply ends it, otherwise notices a close
  // that already happened.
  void SettleConnection(bool reply10);

  std::int32_t redirectDepth_ = 0;
  std::int32_t statusCode_ = 0;
  std::string statusText_;
  std::string requestHost_;
  std::string requestProtocol_;
  // The port text of the last URL with a host, for a proxy's request URI.
  std::string requestPort_;
  // The kind of connection the request needs and the kind that is open:
  // empty for plain TCP, "tls" for TLS to Host, "tunnel host:port" for TLS
  // inside a proxy's tunnel.
  std::string wantedKind_;
  std::string openKind_;
  // The proxy that ChooseEndpoint chose; an empty Host for none.
  TProxyAddress proxy_;
  // The origin's name and port for TLS (SNI, certificate check, CONNECT).
  std::string tlsHost_;
  std::int32_t tlsPort_ = 0;
  // An earlier request of this redirect chain went over https.
  bool chainSecure_ = false;
  std::int32_t interimReplies_ = 0;
  // This reply's framing was doubtful: its connection is closed after it.
  bool closeAfterReply_ = false;
};

}  // namespace peloria
