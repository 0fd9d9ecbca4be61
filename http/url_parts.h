// Taking a URL apart the way the HTTP client needs it. No percent-decoding
// or escaping is done: the parts are the URL's own bytes.
#pragma once

#include <string>
#include <string_view>

namespace peloria {

// The text of `source` before the first `delimiter`, the whole of it when
// the delimiter does not occur. With `remove` that text and the delimiter
// are taken out of `source` (which becomes empty without a delimiter).
std::string SplitAt(std::string& source, std::string_view delimiter, bool remove);

struct TIdUrlParts {
  std::string Protocol;  // "http", as written; empty without "://"
  std::string Host;      // empty without "://"; an IPv6 address with its brackets
  std::string Port;      // the text after the host's ":", empty without one
  std::string Path;      // always begins with "/": "/dir/"
  std::string Document;  // after the last "/", query included: "a.jpg?x=1"
  std::string Fragment;  // after the first "#" of the document; never sent

  bool operator==(const TIdUrlParts&) const = default;
};

// `url` (CP932) with every backslash as "/"; a CP932 lead byte is skipped
// together with its trail byte, so a trail byte equal to "\" stays.
std::string WithForwardSlashes(std::string_view url);

// Splits `url` into its parts. Backslashes count as "/" (a CP932 lead byte is
// skipped together with its trail byte, so a trail byte equal to "\" stays).
// A query is not separated: Path + Document give back the URL's text after
// the authority, less the fragment.
TIdUrlParts SplitUrl(std::string_view url);

// The scheme of an absolute address ("http" of "http://h/"), as written;
// empty when `url` does not begin with one (RFC 3986 3.1).
std::string UrlScheme(std::string_view url);

// The absolute address that `reference` (a redirect's Location) names when
// read against the absolute address `base` (RFC 3986 5.2): an absolute
// reference stays as it is, "//host/..." takes the base's scheme, "/path"
// its authority, "?query" its path, and a relative path is merged with the
// base's folder with "." and ".." segments removed. A fragment is dropped.
std::string ResolveUrl(std::string_view base, std::string_view reference);

}  // namespace peloria
