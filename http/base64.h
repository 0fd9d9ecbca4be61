// Base64 of RFC 4648 section 4: encoding as one line without line breaks (it
// goes into a header value, where a line break would end the header), and a
// strict decoding of such a line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace peloria {

std::string Base64Encode(std::string_view bytes);

// The bytes of `text`; none unless it is canonical base64: groups of four
// characters of the standard alphabet, "=" padding only at the end of the
// last group, the padded group's unused bits zero, and nothing else (no line
// breaks, blanks or URL-safe letters).
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace peloria
