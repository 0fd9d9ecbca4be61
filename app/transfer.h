// The addresses that a drop or the clipboard hands over, read from the texts
// of their data formats (all UTF-8 here): a uri-list (RFC 2483), the first
// line of a text/x-moz-url, the first picture of an HTML fragment, or an
// address typed as plain text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace peloria {

// The first address of a uri-list: lines end with CR LF (a bare LF is
// taken too), lines starting with "#" are comments. A file address
// ("file:///path", "file://localhost/path") becomes "file://" and the
// percent-decoded path, so that it names the dropped file's own bytes.
std::optional<std::string> UriListAddress(std::string_view list);

// The src of the first <img> element of an HTML fragment (a browser's copy
// of a picture), its character references &amp; &quot; &#39; &lt; &gt;
// resolved. None for an inline picture (data:), which carries no address.
std::optional<std::string> HtmlImageAddress(std::string_view html);

// A plain text that is one address: its first line, trimmed, when it starts
// with "http://", "https://" or "file://", or is an absolute path.
std::optional<std::string> TextAddress(std::string_view text);

}  // namespace peloria
