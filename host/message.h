// The browser's one message to the host and the host's one reply, in the
// framing of the browsers' native messaging: a 32-bit length in the machine's
// byte order, then that many bytes of UTF-8 JSON.
//
//   message  {"address": "...", "page": "...", "picture": "<base64>"}
//            page and picture optional
//   reply    {"ok": true}  or  {"ok": false, "error": "..."}
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace peloria {

// A message that is not one the host accepts; its text goes into the reply.
PELORIA_DECLARE_EXCEPTION(EBrowserMessage, Exception);

struct TBrowserMessage {
  std::string address;                 // the picture's address: http(s), file, data or blob
  std::string page;                    // the page's http(s) address; empty when none
  std::optional<std::string> picture;  // the picture's bytes, when handed
};

// Reads up to `count` bytes into `buffer`, fewer only at the input's end.
using TInputReader = std::function<std::size_t(void* buffer, std::size_t count)>;

// The JSON text of one framed message; fails with EBrowserMessage for a cut
// length or body, or a length above kMaxMessageBytes (whose body is then not
// read).
std::string ReadFramedMessage(const TInputReader& read);

// The message in `json`; fails with EBrowserMessage naming what is wrong: no
// JSON object, a missing or non-string address, a page or picture that is no
// string, control characters in an address, an address that is too long or
// of a kind Peloria cannot open, a data: or blob: address without its
// bytes, a picture that is not base64.
TBrowserMessage ParseBrowserMessage(std::string_view json);

// The framed reply: {"ok": true} without an error, else {"ok": false,
// "error": `error`}.
std::string FramedReply(const std::optional<std::string>& error);

// The address the window shows for the picture: a data: address cut to its
// first kShownDataAddressBytes bytes followed by "…"; any other as it is.
std::string ShownAddress(const std::string& address);

}  // namespace peloria
