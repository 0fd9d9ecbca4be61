#include "http/url_parts.h"

#include "platform/cp932.h"

namespace peloria {

std::string SplitAt(std::string& source, std::string_view delimiter, bool remove) {
  std::size_t at = delimiter.empty() ? std::string::npos : source.find(delimiter);
  if (at == std::string::npos) {
    std::string all = source;
    if (remove) source.clear();
    return all;
  }
  std::string before = source.substr(0, at);
  if (remove) source.erase(0, at + delimiter.size());
  return before;
}

TIdUrlParts SplitUrl(std::string_view url) {
  TIdUrlParts parts;
  std::string rest(url);
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(rest[i]))) {
      ++i;  // the trail byte stays whatever it is
    } else if (rest[i] == '\\') {
      rest[i] = '/';
    }
  }

  if (rest.find("://") != std::string::npos) {
    parts.Protocol = SplitAt(rest, "://", true);
    std::string authority = SplitAt(rest, "/", true);
    parts.Host = SplitAt(authority, ":", true);
    parts.Port = authority;
  }

  // The fragment is cut before the path is found, so that a fragment that
  // holds "/" is not sent either (RFC 9112 3.2: no fragment in a request).
  std::size_t hash = rest.find('#');
  if (hash != std::string::npos) {
    parts.Fragment = rest.substr(hash + 1);
    rest.erase(hash);
  }

  std::size_t slash = rest.rfind('/');
  if (slash != std::string::npos) {
    parts.Path = rest.substr(0, slash + 1);
    parts.Document = rest.substr(slash + 1);
  } else {
    parts.Document = rest;
  }
  if (parts.Path.empty() || parts.Path[0] != '/') parts.Path = "/" + parts.Path;
  return parts;
}

}  // namespace peloria
