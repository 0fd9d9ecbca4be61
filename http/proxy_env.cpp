#include "http/proxy_env.h"

#include <cstdlib>

#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/socket.h"

namespace peloria {
namespace {

// The first of `names` that is set and not empty.
std::optional<std::string> FirstSet(std::initializer_list<const char*> names,
                                    const TEnvironmentReader& read) {
  for (const char* name : names) {
    std::optional<std::string> value = read(name);
    if (value && !value->empty()) return value;
  }
  return std::nullopt;
}

std::string PercentDecoded(const std::string& text) {
  return PercentDecodedPath(text).value_or(text);
}

std::optional<TProxyAddress> ParseProxy(std::string value) {
  if (const std::size_t scheme = value.find("://"); scheme != std::string::npos) {
    if (!SameTextAscii(value.substr(0, scheme), "http")) return std::nullopt;
    value.erase(0, scheme + 3);
  }
  value = value.substr(0, value.find('/'));
  TProxyAddress proxy;
  // "user:password@host": the userinfo is percent-decoded (a ":" or "@" in a
  // password is written %3A, %40); the last "@" ends it.
  if (const std::size_t at = value.rfind('@'); at != std::string::npos) {
    std::string userinfo = value.substr(0, at);
    value.erase(0, at + 1);
    const std::size_t colon = userinfo.find(':');
    proxy.Username = PercentDecoded(userinfo.substr(0, colon));
    if (colon != std::string::npos) proxy.Password = PercentDecoded(userinfo.substr(colon + 1));
  }
  proxy.Port = 80;
  const std::size_t colon = value.rfind(':');
  if (colon != std::string::npos) {
    const std::string port = value.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535) {
      return std::nullopt;
    }
    proxy.Port = std::stoi(port);
    value.erase(colon);
  }
  if (value.empty()) return std::nullopt;
  proxy.Host = value;
  return proxy;
}

// An IPv6 address in a URL or no_proxy entry stands in brackets ("[::1]").
std::string_view Unbracketed(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  return host;
}

// A no_proxy entry without its ":port". An entry with more than one ":" is
// an IPv6 address, which has no port unless it stands in brackets.
std::string_view WithoutPort(std::string_view entry) {
  if (entry.starts_with('[')) return entry.substr(0, entry.find(']') + 1);
  if (entry.find(':') != entry.rfind(':')) return entry;
  return entry.substr(0, entry.find(':'));
}

// Whether `host` is a literal IP address inside the block `block`,
// "address/bits" ("10.0.0.0/8", "fe80::/10"): its first `bits` bits equal the
// block's. A host name is not looked up, and an address of the other family
// is never inside; a malformed block holds nothing.
bool InAddressBlock(std::string_view block, std::string_view host) {
  const std::size_t slash = block.find('/');
  const std::string_view bitsText = block.substr(slash + 1);
  const auto network = sock::ParseIpLiteral(Unbracketed(block.substr(0, slash)));
  const auto address = sock::ParseIpLiteral(host);
  if (!network || !address || network->size() != address->size() || bitsText.empty() ||
      bitsText.size() > 3 || bitsText.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const std::size_t bits = static_cast<std::size_t>(std::stoi(std::string(bitsText)));
  if (bits > network->size() * 8) return false;
  for (std::size_t i = 0; i * 8 < bits; ++i) {
    const std::size_t left = bits - i * 8;
    const auto mask = static_cast<std::uint8_t>(left >= 8 ? 0xFF : 0xFF << (8 - left));
    if (((*network)[i] ^ (*address)[i]) & mask) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> ProcessEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool NoProxyMatches(const std::string& noProxy, const std::string& host) {
  const std::string name = LowerAscii(Unbracketed(host));
  std::size_t at = 0;
  while (at < noProxy.size()) {
    const std::size_t end = noProxy.find_first_of(", \t", at);
    std::string entry = LowerAscii(noProxy.substr(at, end == std::string::npos ? end : end - at));
    at = end == std::string::npos ? noProxy.size() : end + 1;
    if (entry == "*") return true;
    if (entry.find('/') != std::string::npos) {
      if (InAddressBlock(entry, name)) return true;
      continue;
    }
    entry = std::string(Unbracketed(WithoutPort(entry)));
    if (entry.starts_with('.')) entry.erase(0, 1);
    if (entry.empty()) continue;
    if (name == entry) return true;
    if (name.size() > entry.size() && name.ends_with(entry) &&
        name[name.size() - entry.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

std::optional<TProxyAddress> ProxyFromEnvironment(const std::string& scheme,
                                                  const std::string& host,
                                                  const TEnvironmentReader& read) {
  std::optional<std::string> value;
  if (SameTextAscii(scheme, "https")) {
    value = FirstSet({"https_proxy", "HTTPS_PROXY"}, read);
  } else if (SameTextAscii(scheme, "http")) {
    value = FirstSet({"http_proxy"}, read);
  }
  if (!value) value = FirstSet({"all_proxy", "ALL_PROXY"}, read);
  if (!value) return std::nullopt;
  if (std::optional<std::string> noProxy = FirstSet({"no_proxy", "NO_PROXY"}, read)) {
    if (NoProxyMatches(*noProxy, host)) return std::nullopt;
  }
  return ParseProxy(*value);
}

}  // namespace peloria
