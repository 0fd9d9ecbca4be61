#include "http/idhttp.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <utility>

#include "http/base64.h"
#include "http/internet_date.h"
#include "http/url_parts.h"
#include "platform/cp932.h"
#include "platform/numbers.h"

namespace peloria {

namespace {

constexpr std::int32_t kNoPort = -1;
constexpr std::int32_t kMaxPort = 65535;

// Decimal digits only, at most `limit`; none for anything else.
std::optional<std::int32_t> DecimalNumber(std::string_view text, std::int64_t limit) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

// The text after a URL's host ":" as a port number; none when it is empty
// (RFC 3986 3.2.3: an empty port is the scheme's default). Anything else
// that is no port from 0 to 65535 ("-1", "70000", "x") fails: falling back
// to the default port would fetch from a port the address never named.
std::int32_t PortNumber(std::string_view text) {
  if (text.empty()) return kNoPort;
  if (const auto port = DecimalNumber(text, kMaxPort)) return *port;
  const std::string shown(text.substr(0, 20));
  const bool number = text.find_first_not_of("0123456789", text.starts_with('-') ? 1 : 0) ==
                          std::string_view::npos &&
                      text != "-";
  if (number) throw EIdBadAddress("port number out of range: " + shown);
  throw EIdBadAddress("port is not a number: " + shown);
}

// A request target as it goes on the wire (RFC 9112 3.2, RFC 3986 2.1):
// bytes that a target cannot hold (blanks, non-ASCII bytes, and " < > \ ^ `
// { | }) percent-encoded, everything else (a "%" of an encoded byte too) as
// it is. Browsers do the same with the UTF-8 bytes of an address.
std::string EncodedTarget(std::string_view target) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(target.size());
  for (char c : target) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F ||
        std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

// Control bytes (CR, LF, NUL ...) in an address would be written into the
// request as they are: a CR LF would end the request line and start a header
// of the address's choosing.
void CheckAddressBytes(std::string_view url) {
  for (char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) throw EIdBadAddress("control character in the address");
  }
}

bool IsHttp(std::string_view protocol) {
  return SameTextAscii(protocol, "http");
}

bool IsHttps(std::string_view protocol) {
  return SameTextAscii(protocol, "https");
}

// The redirect statuses that name another address for the same request
// (RFC 9110 15.4.2 to 15.4.9).
bool IsFollowedRedirect(std::int32_t statusCode) {
  return statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307 ||
         statusCode == 308;
}

bool IsChunked(const TIdHeaderInfo& reply) {
  return reply.ExtraHeaders.Value("Transfer-Encoding").find("chunked") != std::string::npos;
}

// Takes header `name` out of `lines` and answers its value without the
// blanks around it. A field value ends before optional white space (SP, HTAB);
// CR, LF and NUL count as SP, and other control bytes cannot be part of a
// value, so every byte up to 0x20 goes (Trimmed). Without this a trailing TAB
// made "Content-Length: 5\t" no number and "Location: /b.jpg\t" no address.
std::string TakeValue(TIdHeaderList& lines, std::string_view name) {
  std::string value(Trimmed(lines.Value(name)));
  lines.Remove(name);
  return value;
}

bool HasNoBody(TIdHTTPMethod method, std::int32_t statusCode) {
  // RFC 9112 6.3: replies to HEAD and 1xx, 204 and 304 replies end with
  // their header block, whatever their headers say.
  return method == hmHead || statusCode / 100 == 1 || statusCode == 204 || statusCode == 304;
}

}  // namespace

std::string ReplyHeaderTooLargeMessage() {
  return "Reply header block too large: more than " + std::to_string(kHttpMaxHeaderBytes) +
         " bytes or " + std::to_string(kHttpMaxHeaderLines) + " lines.";
}

namespace {

// Text headers of a request, in the order they are sent.
constexpr std::pair<std::string_view, std::string TIdHeaderInfo::*> kRequestTextHeaders[] = {
    {"Accept", &TIdHeaderInfo::Accept},
    {"Accept-Charset", &TIdHeaderInfo::AcceptCharSet},
    {"Accept-Encoding", &TIdHeaderInfo::AcceptEncoding},
    {"Accept-Language", &TIdHeaderInfo::AcceptLanguage},
    {"From", &TIdHeaderInfo::From},
    {"Referer", &TIdHeaderInfo::Referer},
    {"User-Agent", &TIdHeaderInfo::UserAgent},
    {"Connection", &TIdHeaderInfo::Connection},
    {"Content-Version", &TIdHeaderInfo::ContentVersion},
    {"Content-Encoding", &TIdHeaderInfo::ContentEncoding},
    {"Content-Language", &TIdHeaderInfo::ContentLanguage},
    {"Content-Type", &TIdHeaderInfo::ContentType},
};

// Text headers of a reply that are parsed before Content-Length.
constexpr std::pair<std::string_view, std::string TIdHeaderInfo::*> kReplyTextHeaders[] = {
    {"Location", &TIdHeaderInfo::Location},
    {"Server", &TIdHeaderInfo::Server},
    {"Connection", &TIdHeaderInfo::Connection},
    {"Content-Version", &TIdHeaderInfo::ContentVersion},
    {"WWW-Authenticate", &TIdHeaderInfo::WWWAuthenticate},
    {"Content-Encoding", &TIdHeaderInfo::ContentEncoding},
    {"Content-Language", &TIdHeaderInfo::ContentLanguage},
    {"Content-Type", &TIdHeaderInfo::ContentType},
};

}  // namespace

void ComposeHeaderLines(const TIdHeaderInfo& request, TIdHeaderList& lines) {
  lines.Clear();
  for (const auto& [name, member] : kRequestTextHeaders) {
    const std::string& value = request.*member;
    if (!value.empty()) lines.Add(std::string(name) + ": " + value);
  }
  if (request.ContentLength != 0) {
    lines.Add("Content-Length: " + std::to_string(request.ContentLength));
  }
  if (request.ContentRangeEnd != 0) {
    lines.Add("Range: bytes=" + std::to_string(request.ContentRangeStart) + "-" +
              std::to_string(request.ContentRangeEnd));
  } else if (request.ContentRangeStart != 0) {
    lines.Add("Range: bytes=" + std::to_string(request.ContentRangeStart) + "-");
  }
  // Basic authentication, RFC 7617: Base64 of "user:password".
  if (!request.Username.empty()) {
    lines.Add("Authorization: Basic " + Base64Encode(request.Username + ":" + request.Password));
  }
  if (!request.ProxyServer.empty() && !request.ProxyUsername.empty()) {
    lines.Add("Proxy-Authorization: Basic " +
              Base64Encode(request.ProxyUsername + ":" + request.ProxyPassword));
  }
  for (const std::string& line : request.ExtraHeaders.Lines()) lines.Add(line);
}

void ParseHeaderLines(TIdHeaderList& lines, TIdHeaderInfo& into) {
  into.ExtraHeaders.Clear();
  for (const auto& [name, member] : kReplyTextHeaders) into.*member = TakeValue(lines, name);
  // RFC 9110 8.6: 1*DIGIT. A negative or malformed length counts as absent,
  // so the body is then framed by chunks or by the close. Several lines or a
  // list ("42, 42") of one value are that value; values that differ frame
  // nothing (RFC 9112 6.3 rule 5), whichever a reader takes.
  std::string length;
  bool conflicting = false;
  bool first = true;
  while (lines.IndexOfName("Content-Length")) {
    std::string list = TakeValue(lines, "Content-Length");
    do {
      std::string member(Trimmed(SplitAt(list, ",", true)));
      // "0012" and "12" are one length.
      if (member.find_first_not_of("0123456789") == std::string::npos) {
        member.erase(0, std::min(member.find_first_not_of('0'), member.size() - 1));
      }
      if (first) length = member;
      conflicting = conflicting || member != length;
      first = false;
    } while (!list.empty());
  }
  into.ContentLength = 0;
  into.DeclaredLength = -1;
  if (conflicting) {
    into.DeclaredLength = TIdHeaderInfo::kConflictingLength;
  } else {
    into.ContentLength =
        DecimalNumber(length, std::numeric_limits<std::int32_t>::max()).value_or(0);
    if (!length.empty() && length.size() <= 18 &&
        length.find_first_not_of("0123456789") == std::string::npos) {
      into.DeclaredLength = std::stoll(length);
    } else if (!length.empty() && length.find_first_not_of("0123456789") == std::string::npos) {
      into.DeclaredLength = std::numeric_limits<std::int64_t>::max();  // beyond every limit
    }
  }
  into.ContentRangeStart = 0;
  into.ContentRangeEnd = 0;
  if (lines.IndexOfName("Content-Range")) {
    // "bytes 0-499/1234"
    std::string range = TakeValue(lines, "Content-Range");
    SplitAt(range, " ", true);
    into.ContentRangeStart = StrToInt(SplitAt(range, "-", true));
    into.ContentRangeEnd = StrToInt(SplitAt(range, "/", true));
  }
  into.Date = InternetDateToLocal(TakeValue(lines, "Date"));
  into.LastModified = InternetDateToLocal(TakeValue(lines, "Last-Modified"));
  into.Expires = InternetDateToLocal(TakeValue(lines, "Expires"));
  into.ProxyAuthenticate = TakeValue(lines, "Proxy-Authenticate");
  for (const std::string& line : lines.Lines()) into.ExtraHeaders.Add(line);
}

std::int32_t ParseChunkSize(std::string_view line) {
  // The size ends at blanks (SP, HTAB) or at a chunk extension (";name=value").
  std::string_view size = line.substr(0, line.find_first_of(" \t;"));
  const auto malformed = [] { throw EIdMalformedChunk("malformed chunk size"); };
  if (size.empty()) malformed();
  std::int64_t value = 0;
  for (char c : size) {
    const int digit = HexDigitValue(c);
    if (digit < 0) malformed();
    value = value * 16 + digit;
    if (value > std::numeric_limits<std::int32_t>::max()) malformed();
  }
  return static_cast<std::int32_t>(value);
}

TIdHTTP::~TIdHTTP() = default;

TProxyAddress TIdHTTP::ChooseProxy(const std::string& protocol, const std::string& host) const {
  if (!Request.ProxyServer.empty()) {
    return {Request.ProxyServer, Request.ProxyPort, Request.ProxyUsername, Request.ProxyPassword};
  }
  if (!UseEnvironmentProxy) return {};
  // A URL without a protocol or host (a relative one) goes as the previous.
  const std::string scheme = protocol.empty() ? requestProtocol_ : protocol;
  return ProxyFromEnvironment(scheme, host.empty() ? requestHost_ : host).value_or(TProxyAddress{});
}

bool TIdHTTP::ChooseEndpoint(const std::string& protocol, const std::string& host,
                             std::int32_t port) {
  std::string newHost;
  std::int32_t newPort;
  proxy_ = ChooseProxy(protocol, host);
  const bool secure = IsHttps(protocol.empty() ? requestProtocol_ : protocol);
  const bool proxy = !proxy_.Host.empty();
  const std::int32_t defaultPort = secure ? kHttpsDefaultPort : kHttpDefaultPort;
  if (proxy) {
    // Every protocol goes to the proxy; plain ones as the whole URL, https
    // through a tunnel to the origin.
    newHost = proxy_.Host;
    newPort = proxy_.Port;
    if (!host.empty()) {
      requestHost_ = host;
      tlsPort_ = port != kNoPort ? port : defaultPort;
    }
  } else {
    // A URL without a host (a relative redirect) goes to the previous host
    // and, when it names no port either, to the previous port.
    newHost = host.empty() ? Host : host;
    if (port != kNoPort) {
      newPort = port;
    } else {
      newPort = host.empty() ? Port : defaultPort;
    }
    requestHost_ = newHost;
    tlsPort_ = newPort;
  }
  if (!protocol.empty()) requestProtocol_ = protocol;
  tlsHost_ = requestHost_;
  if (!secure) {
    wantedKind_.clear();
  } else if (proxy) {
    wantedKind_ = "tunnel " + tlsHost_ + ":" + std::to_string(tlsPort_);
  } else {
    wantedKind_ = "tls";
  }
  if (IsConnected() &&
      (!SameTextAscii(newHost, Host) || newPort != Port || wantedKind_ != openKind_)) {
    CloseConnection();
  }
  Host = newHost;
  Port = newPort;
  return proxy && !secure;
}

void TIdHTTP::OpenChosenConnection() {
  OpenConnection();
  openKind_.clear();
  if (wantedKind_.starts_with("tunnel")) OpenTunnel();
  if (!wantedKind_.empty()) StartTLS(tlsHost_);
  openKind_ = wantedKind_;
}

void TIdHTTP::OpenTunnel() {
  // RFC 9110 9.3.6: the proxy connects to the origin and then relays bytes
  // both ways; TLS with the origin's name runs inside.
  const std::string authority = tlsHost_ + ":" + std::to_string(tlsPort_);
  WriteLine("CONNECT " + authority + " HTTP/1.1");
  WriteLine("Host: " + authority);
  if (!proxy_.Username.empty()) {
    WriteLine("Proxy-Authorization: Basic " +
              Base64Encode(proxy_.Username + ":" + proxy_.Password));
  }
  WriteLine("");
  interimReplies_ = 0;
  ReadStatusLine();
  while (statusCode_ / 100 == 1) {
    TIdHeaderList interim;
    ReadHeaderBlock(interim);
    CountInterimReply();
    ReadStatusLine();
  }
  TIdHeaderList lines;
  ReadHeaderBlock(lines);
  if (statusCode_ / 100 != 2) {
    // The refusal's body (if any) is of no use; the tunnel never opened.
    CloseConnection();
    throw EIdProtocolReplyError(statusCode_, "proxy refused the tunnel: " + statusText_);
  }
}

void TIdHTTP::CountInterimReply() {
  if (++interimReplies_ > kHttpMaxInterimReplies) {
    CloseConnection();
    throw EIdTooManyInterimReplies("more than " + std::to_string(kHttpMaxInterimReplies) +
                                   " interim replies");
  }
}

void TIdHTTP::SendRequest(TIdHTTPMethod method, const std::string& url, TStream& target) {
  // Each request starts its own chain: a failure leaves the depth where it
  // stopped (for the caller to read), and it must not count against the next.
  redirectDepth_ = 0;
  chainSecure_ = false;
  interimReplies_ = 0;
  // The address is the program's text (CP932); the wire and every Location
  // that comes back speak UTF-8, so the chain runs on the UTF-8 form.
  // Backslashes are found on the CP932 form, where a trail byte may be one.
  RunRequest(method, Utf8(WithForwardSlashes(url)), target);
}

void TIdHTTP::RunRequest(TIdHTTPMethod method, const std::string& url, TStream& target) {
  ++redirectDepth_;
  closeAfterReply_ = false;
  CheckAddressBytes(url);
  const TIdUrlParts parts = SplitUrl(url);
  std::string uri = EncodedTarget(parts.Path + parts.Document);
  std::int32_t port = PortNumber(parts.Port);
  if (!parts.Protocol.empty() && !IsHttp(parts.Protocol) && !IsHttps(parts.Protocol)) {
    // Only a proxy may speak another protocol for us.
    if (ChooseProxy(parts.Protocol, parts.Host).Host.empty()) {
      throw EIdInterceptPropInvalid(kMsgInterceptPropInvalid);
    }
  }
  const bool absoluteForm = ChooseEndpoint(parts.Protocol, parts.Host, port);
  if (absoluteForm) {
    // The proxy gets the absolute form (RFC 9112 3.2.2). Its authority keeps
    // a port that the URL names, or the proxy would go to the default port.
    if (!parts.Host.empty()) requestPort_ = port == kNoPort ? std::string() : parts.Port;
    uri = requestProtocol_ + "://" + requestHost_ + (requestPort_.empty() ? "" : ":") +
          requestPort_ + uri;
  }

  ConnectForRequest();
  WriteRequest(method, uri, absoluteForm);
  const bool reply10 = ReadFinalReplyHead();
  const bool hasBody = !HasNoBody(method, statusCode_);

  std::int32_t statusClass = statusCode_ / 100;
  // With redirects followed, only the redirect statuses name another address
  // for this request; any other reply stands for itself.
  const bool redirect = HandleRedirects
                            ? IsFollowedRedirect(statusCode_) && !Reply.Location.empty()
                            : (statusClass == 3 && statusCode_ != 304) || !Reply.Location.empty();
  if (redirect) {
    if (hasBody) ReadBody(target);
    std::string dest = Reply.Location;
    if (HandleRedirects) {
      if (redirectDepth_ >= RedirectMaximum) {
        SettleConnection(reply10);
        throw EIdTooManyRedirects("too many redirects");
      }
      target.Seek(0);
      if (AskRedirect(dest)) {
        if (ProtocolVersion == pv1_0 || reply10 || closeAfterReply_ ||
            SameTextAscii(Trimmed(Reply.Connection), "close")) {
          CloseConnection();
        } else {
          SettleConnection(reply10);
        }
        FollowRedirect(method, url, dest, target);
        return;
      }
    } else if (AskRedirect(dest)) {
      Reply.Location = dest;
    } else {
      SettleConnection(reply10);
      throw EIdProtocolReplyError(statusCode_, statusText_);
    }
  } else {
    if (hasBody) ReadBody(target);
    if (statusClass != 2) {
      SettleConnection(reply10);
      throw EIdProtocolReplyError(statusCode_, statusText_);
    }
  }
  SettleConnection(reply10);
  redirectDepth_ = 0;
}

void TIdHTTP::ConnectForRequest() {
  if (IsConnected()) {
    // A kept connection may have been closed by the server while it was idle
    // (RFC 9112 9.3): a short receive attempt notices that. Bytes that
    // arrived unasked belong to no request: the connection has lost its
    // framing and is not reused.
    CheckGracefulClose();
    if (IsConnected() && !InputBuffer().Empty()) CloseConnection();
  }
  if (!IsConnected()) OpenChosenConnection();
}

void TIdHTTP::WriteRequest(TIdHTTPMethod method, const std::string& uri, bool absoluteForm) {
  const bool secure = IsHttps(requestProtocol_);
  HeaderLines.Clear();
  Request.ContentLength = 0;  // GET and HEAD send no body
  TIdHeaderInfo sent = Request;
  // No Referer from an https page to an http one (RFC 9110 10.1.3): the
  // address of a secure page is not told over a plain connection.
  if (chainSecure_ && !secure) sent.Referer.clear();
  // The proxy's credentials go only to the proxy that this request is
  // addressed to: not to a web server, directly or inside a tunnel (the
  // tunnel's proxy got them with CONNECT).
  sent.ProxyServer = absoluteForm ? proxy_.Host : std::string();
  sent.ProxyUsername = absoluteForm ? proxy_.Username : std::string();
  sent.ProxyPassword = absoluteForm ? proxy_.Password : std::string();
  ComposeHeaderLines(sent, HeaderLines);
  if (secure) chainSecure_ = true;

  // Each line is handed to the socket by itself.
  WriteLine(std::string(method == hmHead ? "HEAD " : "GET ") + uri + " HTTP/" +
            (ProtocolVersion == pv1_0 ? "1.0" : "1.1"));
  WriteLine("Host: " + requestHost_);
  for (const std::string& line : HeaderLines.Lines()) WriteLine(line);
  WriteLine("");
}

bool TIdHTTP::ReadFinalReplyHead() {
  interimReplies_ = 0;
  bool reply10 = ReadStatusLine();
  // RFC 9110 15.2: interim replies come before the final one and are skipped.
  while (statusCode_ / 100 == 1 && statusCode_ != 101) {
    ReadReplyHeaders();
    CountInterimReply();
    reply10 = ReadStatusLine();
  }
  ReadReplyHeaders();
  return reply10;
}

void TIdHTTP::FollowRedirect(TIdHTTPMethod method, const std::string& url, std::string dest,
                             TStream& target) {
  // A relative Location (RFC 9110 10.2.2) is read against the address that
  // was asked for; only http and https are followed, so a reply cannot send
  // the program to a local file or another protocol.
  const std::string absolute = UrlScheme(url).empty() ? dest : ResolveUrl(url, dest);
  const std::string scheme = UrlScheme(absolute);
  if (!scheme.empty() && !IsHttp(scheme) && !IsHttps(scheme)) {
    throw EIdRedirectRefused("redirect to a " + scheme + ": address refused");
  }
  RunRequest(method, absolute, target);
}

void TIdHTTP::SettleConnection(bool reply10) {
  if (ProtocolVersion == pv1_0 || reply10 || closeAfterReply_) {
    CloseConnection();
  } else if (SameTextAscii(Trimmed(Reply.Connection), "close") && IsConnected()) {
    CloseConnection();
  } else if (IsConnected()) {
    CheckGracefulClose();
  }
}

bool TIdHTTP::AskRedirect(std::string& dest) {
  bool handled = HandleRedirects;
  if (OnRedirect) OnRedirect(*this, dest, redirectDepth_, handled);
  return handled;
}

std::string TIdHTTP::ReadReplyLine(std::size_t maxLength) {
  std::string line = ReadLine({}, ReadTimeout, maxLength);
  if (LineTimedOut()) {
    // Still open: the peer stayed silent longer than ReadTimeout.
    if (IsConnected()) {
      CloseConnection();
      throw EIdReadTimeout(kMsgTimedOut);
    }
    throw EIdConnClosedGracefully(kMsgConnClosedGracefully);
  }
  return line;
}

bool TIdHTTP::ReadStatusLine() {
  // "HTTP/1.1 404 Not Found"
  statusText_ = ReadReplyLine();
  if (!statusText_.empty() && !SameTextAscii(statusText_.substr(0, 5), "HTTP/")) {
    // Not an HTTP reply at all: its bytes are no cause to show anyone.
    statusText_.clear();
    CloseConnection();
    throw EIdMalformedReply("reply without a status line");
  }
  bool reply10 = statusText_.size() >= 8 && SameTextAscii(statusText_.substr(5, 3), "1.0");
  SplitAt(statusText_, " ", true);
  std::string code = statusText_;
  statusCode_ = StrToInt(SplitAt(code, " ", false));
  return reply10;
}

void TIdHTTP::ReadHeaderBlock(TIdHeaderList& lines,
                              const std::function<void(std::size_t)>& counted) {
  lines.Clear();
  std::size_t bytes = 0;
  for (;;) {
    std::string line = ReadReplyLine();
    if (counted) counted(LastLineBytes());
    if (line.empty()) return;
    bytes += line.size();
    if (lines.Count() == kHttpMaxHeaderLines || bytes > kHttpMaxHeaderBytes) {
      // The rest of the block cannot be skipped safely.
      CloseConnection();
      throw EIdReplyHeaderTooLarge(ReplyHeaderTooLargeMessage());
    }
    lines.Add(std::move(line));
  }
}

void TIdHTTP::ReadReplyHeaders() {
  ReadHeaderBlock(HeaderLines);
  ParseHeaderLines(HeaderLines, Reply);
}

void TIdHTTP::ReadBody(TStream& target) {
  const auto tooLarge = [this]() {
    // The rest of the body cannot be skipped at a bearable cost.
    CloseConnection();
    throw EIdReplyTooLarge("reply body larger than " + std::to_string(MaxBodyBytes) + " bytes");
  };
  if (IsChunked(Reply)) {
    // RFC 9112 6.3 rule 3: chunks frame the body whatever Content-Length
    // says. A reply with both may be meant to be read two ways (one reader
    // taking the length, another the chunks): its connection is not reused.
    if (Reply.DeclaredLength != -1) closeAfterReply_ = true;
    ReadChunkedBody(target, tooLarge);
  } else if (Reply.DeclaredLength == TIdHeaderInfo::kConflictingLength) {
    // Where the body ends, and so where the next reply starts, is unknown.
    CloseConnection();
    throw EIdMalformedReply("Content-Length values differ");
  } else if (Reply.DeclaredLength > 0) {
    if (Reply.DeclaredLength > MaxBodyBytes) tooLarge();
    ReadCountIntoStream(target, Reply.DeclaredLength);
  } else if (Reply.DeclaredLength != 0) {
    // No length: the body ends with the connection (RFC 9112 6.3, rule 8).
    if (!ReadToCloseIntoStream(target, MaxBodyBytes)) tooLarge();
  }
  // Content-Length: 0 is an empty body. The target ends where this body
  // ends, also after a longer redirect body written from the same start.
  if (target.Size() > target.Position()) target.SetSize(target.Position());
}

void TIdHTTP::ReadChunkedBody(TStream& target, const std::function<void()>& tooLarge) {
  // RFC 9112 7.1: chunk-size line, data, CR LF; a last chunk of size 0,
  // then the trailer section up to an empty line. Every byte of it counts
  // against the bound, the framing as well as the data.
  DoStatus(TIdStatus::hsStatusText, "Chunk Started");
  std::int64_t total = 0;
  const auto count = [&](std::int64_t bytes) {
    total += bytes;
    if (total > MaxBodyBytes) tooLarge();
  };
  for (;;) {
    const std::int32_t size = ReadChunkSize();
    count(static_cast<std::int64_t>(LastLineBytes()));
    if (size == 0) break;
    count(size);
    ReadCountIntoStream(target, size);
    // The data ends with CR LF; anything else there means the size was not
    // the sender's.
    const bool lineEnd = ReadReplyLine(kHttpMaxChunkLineBytes).empty();
    count(static_cast<std::int64_t>(LastLineBytes()));
    if (!lineEnd) {
      CloseConnection();
      throw EIdMalformedChunk("chunk data not followed by a line end");
    }
  }
  TIdHeaderList trailer;
  ReadHeaderBlock(trailer, [&](std::size_t bytes) { count(static_cast<std::int64_t>(bytes)); });
}

std::int32_t TIdHTTP::ReadChunkSize() {
  const std::string line = ReadReplyLine(kHttpMaxChunkLineBytes);
  try {
    return ParseChunkSize(line);
  } catch (const EIdMalformedChunk&) {
    // The rest of the stream has no framing left to find.
    CloseConnection();
    throw;
  }
}

}  // namespace peloria
