#include "http/proxy_env.h"

#include <cstdlib>

#include "platform/cp932.h"

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

std::optional<TProxyAddress> ParseProxy(std::string value) {
  if (const std::size_t scheme = value.find("://"); scheme != std::string::npos) {
    if (!SameTextAscii(value.substr(0, scheme), "http")) return std::nullopt;
    value.erase(0, scheme + 3);
  }
  value = value.substr(0, value.find('/'));
  // user:password@ is not supported by the request composer; drop it.
  if (const std::size_t at = value.rfind('@'); at != std::string::npos) value.erase(0, at + 1);
  TProxyAddress proxy;
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

}  // namespace

std::optional<std::string> ProcessEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool NoProxyMatches(const std::string& noProxy, const std::string& host) {
  const std::string name = LowerAscii(host);
  std::size_t at = 0;
  while (at < noProxy.size()) {
    const std::size_t end = noProxy.find_first_of(", \t", at);
    std::string entry = LowerAscii(noProxy.substr(at, end == std::string::npos ? end : end - at));
    at = end == std::string::npos ? noProxy.size() : end + 1;
    if (entry == "*") return true;
    entry = entry.substr(0, entry.find(':'));
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
