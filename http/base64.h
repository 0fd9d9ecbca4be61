// Base64 of RFC 2045 6.8, as one line without line breaks (it goes into a
// header value, where a line break would end the header).
#pragma once

#include <string>
#include <string_view>

namespace peloria {

std::string Base64Encode(std::string_view bytes);

}  // namespace peloria
