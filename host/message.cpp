#include "host/message.h"

#include <cstdint>
#include <cstring>

#include "host/host_limits.h"
#include "host/json.h"
#include "http/base64.h"

namespace peloria {

namespace {

// The scheme of `address` in lower case, up to its ":"; empty when none.
std::string SchemeOf(std::string_view address) {
  const std::size_t colon = address.find(':');
  if (colon == std::string_view::npos || colon == 0) return {};
  std::string scheme;
  for (const char c : address.substr(0, colon)) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && !(other && !scheme.empty())) return {};
    scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return scheme;
}

// C0 controls, DEL and the C1 controls (U+0080 to U+009F, "\xC2\x80" to
// "\xC2\x9F" in UTF-8): none of them belongs in an address, and CR or LF
// would split the request line or the Referer header.
bool HasControlCharacter(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      return true;
    }
  }
  return false;
}

// The string member `name`; none when absent; a member of another kind fails.
std::optional<std::string> StringMember(const TJsonValue& object, std::string_view name) {
  const TJsonValue* member = object.Member(name);
  if (member == nullptr) return std::nullopt;
  if (member->kind != TJsonValue::Kind::kString) {
    throw EBrowserMessage("\"" + std::string(name) + "\" is not a string");
  }
  return member->text;
}

void CheckAddressText(const std::string& address, std::string_view what) {
  if (HasControlCharacter(address)) {
    throw EBrowserMessage(std::string(what) + " holds control characters");
  }
}

}  // namespace

std::string ReadFramedMessage(const TInputReader& read) {
  std::uint32_t length = 0;
  const std::size_t got = read(&length, sizeof length);
  if (got == 0) throw EBrowserMessage("no message");
  if (got < sizeof length) throw EBrowserMessage("message length cut short");
  if (length > kMaxMessageBytes) {
    throw EBrowserMessage("message of " + std::to_string(length) + " bytes is above the limit of " +
                          std::to_string(kMaxMessageBytes) + " bytes");
  }
  std::string json(length, '\0');
  if (read(json.data(), json.size()) < json.size()) {
    throw EBrowserMessage("message cut short");
  }
  return json;
}

TBrowserMessage ParseBrowserMessage(std::string_view json) {
  TJsonValue root;
  try {
    root = ParseJson(json);
  } catch (const EJsonError& failure) {
    throw EBrowserMessage("message is not JSON: " + failure.Message());
  }
  if (root.kind != TJsonValue::Kind::kObject) throw EBrowserMessage("message is not an object");

  TBrowserMessage message;
  const auto address = StringMember(root, "address");
  if (!address) throw EBrowserMessage("\"address\" is missing");
  message.address = *address;
  const auto page = StringMember(root, "page");
  const auto picture = StringMember(root, "picture");

  if (message.address.empty()) throw EBrowserMessage("\"address\" is empty");
  CheckAddressText(message.address, "\"address\"");
  const std::string scheme = SchemeOf(message.address);
  const bool web = scheme == "http" || scheme == "https";
  const bool inPage = scheme == "data" || scheme == "blob";
  if (!web && !inPage && scheme != "file") {
    throw EBrowserMessage("\"address\" is no http, https, file, data or blob address");
  }
  // A data: address holds the picture itself and is never handed on whole.
  if (scheme != "data" && message.address.size() > kMaxAddressBytes) {
    throw EBrowserMessage("\"address\" is longer than " + std::to_string(kMaxAddressBytes) +
                          " bytes");
  }

  if (page) {
    CheckAddressText(*page, "\"page\"");
    // Only a web page's address is sent on, as the download's Referer.
    const std::string pageScheme = SchemeOf(*page);
    if ((pageScheme == "http" || pageScheme == "https") && page->size() <= kMaxAddressBytes) {
      message.page = *page;
    }
  }

  if (picture) {
    message.picture = Base64Decode(*picture);
    if (!message.picture) throw EBrowserMessage("\"picture\" is not base64");
  } else if (inPage) {
    throw EBrowserMessage("a " + scheme + ": picture needs its bytes in \"picture\"");
  }
  return message;
}

namespace {

// `text` with every byte that does not belong to a valid UTF-8 sequence
// replaced by U+FFFD: a reply the browser cannot decode would be lost whole,
// and a failure may name a path in any encoding.
std::string ValidUtf8(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80                    ? 1
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    if (length > 1) {
      // The checks of the strict reader: shortest form, no surrogates.
      try {
        ParseJson("\"" + text.substr(i, length) + "\"");
      } catch (const EJsonError&) {
        length = 0;
      }
    }
    if (length == 0 || i + length > text.size()) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace

std::string FramedReply(const std::optional<std::string>& error) {
  const std::string json = error
                               ? "{\"ok\": false, \"error\": " + JsonQuoted(ValidUtf8(*error)) + "}"
                               : "{\"ok\": true}";
  const auto length = static_cast<std::uint32_t>(json.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  return frame + json;
}

std::string ShownAddress(const std::string& address) {
  if (SchemeOf(address) != "data" || address.size() <= kShownDataAddressBytes) return address;
  // Cut before a UTF-8 continuation byte never splits a character.
  std::size_t cut = kShownDataAddressBytes;
  while (cut > 0 && (static_cast<unsigned char>(address[cut]) & 0xC0) == 0x80) --cut;
  return address.substr(0, cut) + "…";
}

}  // namespace peloria
