// One set of HTTP header values: those of the next request or those parsed
// from the last reply. Copying a set copies every value, its extra lines
// included; two sets never share their extra lines.
#pragma once

#include <cstdint>
#include <string>

#include "http/header_list.h"

namespace peloria {

struct TIdHeaderInfo {
  // What construction and Clear() put in place.
  static constexpr const char* kDefaultAccept = "text/html, */*";
  static constexpr const char* kDefaultUserAgent = "Peloria-HTTP/1.0";

  std::string Accept = kDefaultAccept;
  std::string AcceptCharSet;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string Connection;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::int32_t ContentLength = 0;
  // A reply's Content-Length as sent (64 bits, so that a length beyond the
  // 32-bit property is still seen); -1 when absent or malformed,
  // kConflictingLength when the reply sent values that differ.
  static constexpr std::int64_t kConflictingLength = -2;
  std::int64_t DeclaredLength = -1;
  std::int32_t ContentRangeEnd = 0;
  std::int32_t ContentRangeStart = 0;
  std::string ContentType;
  std::string ContentVersion;
  // Date-times as days since 30 December 1899, the time as the fraction.
  double Date = 0;
  double Expires = 0;
  double LastModified = 0;
  // Header lines of no named value, as received or to be sent.
  TIdHeaderList ExtraHeaders;
  std::string From;
  std::string Location;
  std::string Password;
  std::string ProxyAuthenticate;
  std::string ProxyPassword;
  std::int32_t ProxyPort = 0;
  std::string ProxyServer;
  std::string ProxyUsername;
  std::string Referer;
  std::string Server;
  std::string UserAgent = kDefaultUserAgent;
  std::string Username;
  std::string WWWAuthenticate;

  // Puts every value back to its state after construction.
  void Clear();

  bool operator==(const TIdHeaderInfo&) const = default;
};

}  // namespace peloria
