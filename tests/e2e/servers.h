// What the web server saw: the requests in nginx's access log, read back for
// the download tests.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/peers.h"

namespace peloria::e2e {

using testing::NginxServer;
using testing::TinyproxyServer;

// One request from the access log (nginx's "combined" format).
struct LoggedRequest {
  std::string requestLine;  // "GET /a.jpg HTTP/1.1"
  int status = 0;
  std::string referer;  // "-" when none was sent
  std::string userAgent;
};

// The requests logged so far, oldest first. nginx writes a line once it has
// sent the reply, which may be just after the client has gone: this waits up
// to two seconds for at least `expected` lines.
std::vector<LoggedRequest> Requests(const NginxServer& server, std::size_t expected = 0);

// "http://127.0.0.1:PORT" + `path`.
std::string UrlOf(const NginxServer& server, const std::string& path);

}  // namespace peloria::e2e
