#include "http/url_parts.h"

#include <algorithm>
#include <vector>

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

std::string WithForwardSlashes(std::string_view url) {
  std::string rest(url);
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(rest[i]))) {
      ++i;  // the trail byte stays whatever it is
    } else if (rest[i] == '\\') {
      rest[i] = '/';
    }
  }
  return rest;
}

TIdUrlParts SplitUrl(std::string_view url) {
  TIdUrlParts parts;
  std::string rest = WithForwardSlashes(url);

  if (rest.find("://") != std::string::npos) {
    parts.Protocol = SplitAt(rest, "://", true);
    std::string authority = SplitAt(rest, "/", true);
    if (const std::size_t close = authority.find(']');
        authority.starts_with('[') && close != std::string::npos) {
      // An IPv6 address stands in brackets, which it keeps: "[::1]:8080".
      parts.Host = authority.substr(0, close + 1);
      authority.erase(0, close + 1);
      if (authority.starts_with(':')) authority.erase(0, 1);
      parts.Port = authority;
    } else {
      parts.Host = SplitAt(authority, ":", true);
      parts.Port = authority;
    }
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

std::string UrlScheme(std::string_view url) {
  std::size_t i = 0;
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (url.empty() || !letter(url[0])) return {};
  while (i < url.size() && (letter(url[i]) || (url[i] >= '0' && url[i] <= '9') || url[i] == '+' ||
                            url[i] == '-' || url[i] == '.')) {
    ++i;
  }
  return i < url.size() && url[i] == ':' ? std::string(url.substr(0, i)) : std::string();
}

namespace {

// RFC 3986 5.2.4: "." and ".." segments out of an absolute path.
std::string RemoveDotSegments(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t at = 1;  // after the leading "/"
  bool endsAsFolder = false;
  while (at <= path.size()) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::string_view segment = path.substr(at, end - at);
    endsAsFolder = segment == "." || segment == "..";
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (segment != ".") {
      segments.push_back(segment);
    }
    at = end + 1;
  }
  std::string result;
  for (std::string_view segment : segments) result.append("/").append(segment);
  if (endsAsFolder || result.empty()) result += "/";
  return result;
}

}  // namespace

std::string ResolveUrl(std::string_view base, std::string_view reference) {
  reference = reference.substr(0, reference.find('#'));
  if (!UrlScheme(reference).empty()) return std::string(reference);
  base = base.substr(0, base.find('#'));
  const std::string scheme = UrlScheme(base);
  if (reference.starts_with("//")) return scheme + ":" + std::string(reference);

  // base = scheme "://" authority path [ "?" query ]
  std::size_t authorityStart = base.find("://");
  authorityStart = authorityStart == std::string_view::npos ? 0 : authorityStart + 3;
  const std::size_t pathStart = std::min(base.find_first_of("/?", authorityStart), base.size());
  const std::string origin(base.substr(0, pathStart));
  std::string_view basePath = base.substr(pathStart);
  basePath = basePath.substr(0, basePath.find('?'));
  if (basePath.empty()) basePath = "/";

  if (reference.empty()) return std::string(base);
  if (reference.starts_with('?')) return origin + std::string(basePath) + std::string(reference);

  const std::size_t queryAt = std::min(reference.find('?'), reference.size());
  const std::string_view query = reference.substr(queryAt);
  std::string path(reference.substr(0, queryAt));
  if (!path.starts_with('/')) {
    path = std::string(basePath.substr(0, basePath.rfind('/') + 1)) + path;
  }
  return origin + RemoveDotSegments(path) + std::string(query);
}

}  // namespace peloria
