// The proxy conventions of Linux programs: http_proxy for http addresses,
// https_proxy for https ones (the lowercase name first, then the uppercase
// one; HTTP_PROXY is never read, because CGI servers set it from a request's
// "Proxy:" header), all_proxy as the fallback, and no_proxy for the hosts
// reached directly.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace peloria {

struct TProxyAddress {
  std::string Host;
  std::int32_t Port = 0;
  // From "user:password@" before the host, percent-decoded; empty without.
  // They go to this proxy only (Proxy-Authorization), never to a web server.
  std::string Username;
  std::string Password;
  bool operator==(const TProxyAddress&) const = default;
};

// Reads one environment variable; none when unset.
using TEnvironmentReader = std::function<std::optional<std::string>(const char* name)>;
// The process environment.
std::optional<std::string> ProcessEnvironment(const char* name);

// The proxy for a request with `scheme` ("http" or "https", any letter
// case) to `host`; none for a direct connection. A proxy value is
// "[http://][user[:password]@]host[:port][/]" (port 80 when absent, as for
// any http address); a value with another scheme (socks5://, https://) is
// a proxy this client cannot speak to and counts as unset. no_proxy holds
// names separated by commas or blanks: "*" (every host), a host name or IP
// address (also its subdomains), ".domain" (its subdomains and the domain),
// or an address block "address/bits" ("10.0.0.0/8", "::1/128"), which holds
// the literal IPv4 or IPv6 addresses whose first bits equal its own (host
// names are not looked up for it); a ":port" on an entry is ignored. An IPv6
// address may stand in brackets, in the URL and in the entry.
std::optional<TProxyAddress> ProxyFromEnvironment(
    const std::string& scheme, const std::string& host,
    const TEnvironmentReader& read = ProcessEnvironment);

// Whether `host` is named by a no_proxy value.
bool NoProxyMatches(const std::string& noProxy, const std::string& host);

}  // namespace peloria
