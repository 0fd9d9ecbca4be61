#include "http/idhttp.h"

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

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

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

// The text after a URL's host ":" as a port number; none when it is not one.
std::int32_t PortNumber(std::string_view text) {
  return DecimalNumber(text, kMaxPort).value_or(kNoPort);
}

// Takes header `name` out of `lines` and answers its value.
std::string TakeValue(TIdHeaderList& lines, std::string_view name) {
  std::string value = lines.Value(name);
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
  // so the body is then framed by chunks or by the close.
  into.ContentLength =
      DecimalNumber(TakeValue(lines, "Content-Length"), std::numeric_limits<std::int32_t>::max())
          .value_or(0);
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
  std::string_view size = line.substr(0, line.find(' '));
  if (size.empty()) return 0;
  std::int64_t value = 0;
  for (char c : size) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return 0;
    }
    value = value * 16 + digit;
    if (value > std::numeric_limits<std::int32_t>::max()) return 0;
  }
  return static_cast<std::int32_t>(value);
}

bool TIdHTTP::ChooseEndpoint(const std::string& protocol, const std::string& host,
                             std::int32_t port) {
  std::string newHost;
  std::int32_t newPort;
  bool proxy = !Request.ProxyServer.empty();
  if (proxy) {
    // Every protocol goes to the proxy, which is asked for the whole URL.
    newHost = Request.ProxyServer;
    newPort = Request.ProxyPort;
    if (!host.empty()) requestHost_ = host;
  } else {
    if (SameTextAscii(protocol, "HTTPS")) throw EIdInterceptPropInvalid(kMsgInterceptPropInvalid);
    // A URL without a host (a relative redirect) goes to the previous host
    // and, when it names no port either, to the previous port.
    newHost = host.empty() ? Host : host;
    if (port != kNoPort) {
      newPort = port;
    } else {
      newPort = host.empty() ? Port : kHttpDefaultPort;
    }
    requestHost_ = newHost;
  }
  if (!protocol.empty()) requestProtocol_ = protocol;
  if (IsConnected() && (!SameTextAscii(newHost, Host) || newPort != Port)) CloseConnection();
  Host = newHost;
  Port = newPort;
  return proxy;
}

void TIdHTTP::SendRequest(TIdHTTPMethod method, const std::string& url, TStream& target) {
  ++redirectDepth_;
  TIdUrlParts parts = SplitUrl(url);
  std::string uri = parts.Path + parts.Document;
  std::int32_t port = PortNumber(parts.Port);
  if (ChooseEndpoint(parts.Protocol, parts.Host, port)) {
    // The proxy gets the absolute form (RFC 9112 3.2.2). Its authority keeps
    // a port that the URL names, or the proxy would go to the default port.
    if (!parts.Host.empty()) requestPort_ = port == kNoPort ? std::string() : parts.Port;
    uri = requestProtocol_ + "://" + requestHost_ + (requestPort_.empty() ? "" : ":") +
          requestPort_ + uri;
  }

  CheckPeerClosed(false, false);
  if (IsConnected()) {
    // A kept connection may have been closed by the server while it was idle
    // (RFC 9112 9.3): a short receive attempt notices that. Bytes that
    // arrived unasked belong to no request: the connection has lost its
    // framing and is not reused.
    CheckGracefulClose(false);
    if (IsConnected() && !InputBuffer().Empty()) CloseConnection();
  }
  if (!IsConnected()) OpenConnection();

  HeaderLines.Clear();
  Request.ContentLength = 0;  // GET and HEAD send no body
  ComposeHeaderLines(Request, HeaderLines);

  // Each line is handed to the socket by itself.
  WriteLine(std::string(method == hmHead ? "HEAD " : "GET ") + uri + " HTTP/" +
            (ProtocolVersion == pv1_0 ? "1.0" : "1.1"));
  WriteLine("Host: " + requestHost_);
  for (const std::string& line : HeaderLines.Lines()) WriteLine(line);
  WriteLine("");

  bool reply10 = ReadStatusLine();
  // RFC 9110 15.2: interim replies come before the final one and are skipped.
  while (statusCode_ / 100 == 1 && statusCode_ != 101) {
    ReadReplyHeaders();
    reply10 = ReadStatusLine();
  }
  ReadReplyHeaders();
  bool hasBody = !HasNoBody(method, statusCode_);

  std::int32_t statusClass = statusCode_ / 100;
  if ((statusClass == 3 && statusCode_ != 304) || !Reply.Location.empty()) {
    if (hasBody) ReadBody(target);
    std::string dest = Reply.Location;
    if (HandleRedirects && redirectDepth_ < RedirectMaximum) {
      target.Seek(0);
      if (AskRedirect(dest)) {
        if (ProtocolVersion == pv1_0 || reply10 ||
            SameTextAscii(TrimBlanks(Reply.Connection), "close")) {
          CloseConnection();
        }
        SendRequest(method, dest, target);
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

void TIdHTTP::SettleConnection(bool reply10) {
  if (ProtocolVersion == pv1_0 || reply10) {
    CloseConnection();
  } else if (SameTextAscii(TrimBlanks(Reply.Connection), "close") && IsConnected()) {
    CloseConnection();
  } else {
    CheckGracefulClose(false);
  }
}

bool TIdHTTP::AskRedirect(std::string& dest) {
  bool handled = HandleRedirects;
  if (OnRedirect) OnRedirect(*this, dest, redirectDepth_, handled);
  return handled;
}

std::string TIdHTTP::ReadReplyLine() {
  std::string line = ReadLine();
  if (LineTimedOut()) throw EIdConnClosedGracefully(kMsgConnClosedGracefully);
  return line;
}

bool TIdHTTP::ReadStatusLine() {
  // "HTTP/1.1 404 Not Found"
  statusText_ = ReadReplyLine();
  bool reply10 = statusText_.size() >= 8 && SameTextAscii(statusText_.substr(5, 3), "1.0");
  SplitAt(statusText_, " ", true);
  std::string code = statusText_;
  statusCode_ = StrToInt(SplitAt(code, " ", false));
  return reply10;
}

void TIdHTTP::ReadHeaderBlock(TIdHeaderList& lines) {
  lines.Clear();
  std::size_t bytes = 0;
  for (;;) {
    std::string line = ReadReplyLine();
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
  if (Reply.ContentLength > 0) {
    ReadIntoStream(target, Reply.ContentLength, false);
  } else if (Reply.ExtraHeaders.Value("Transfer-Encoding").find("chunked") != std::string::npos) {
    // RFC 9112 7.1: chunk-size line, data, CR LF; a last chunk of size 0,
    // then the trailer section up to an empty line.
    DoStatus(TIdStatus::hsStatusText, "Chunk Started");
    for (std::int32_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
      ReadIntoStream(target, size, false);
      ReadReplyLine();
    }
    TIdHeaderList trailer;
    ReadHeaderBlock(trailer);
  } else {
    ReadIntoStream(target, -1, true);
  }
}

std::int32_t TIdHTTP::ReadChunkSize() {
  return ParseChunkSize(ReadReplyLine());
}

}  // namespace peloria
