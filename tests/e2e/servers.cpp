#include "tests/e2e/servers.h"

#include <chrono>
#include <sstream>

#include "tests/e2e/installation.h"
#include "tests/support/wait.h"

namespace peloria::e2e {
namespace {

// The combined format:
//   $remote_addr - $remote_user [$time_local] "$request" $status
//   $body_bytes_sent "$http_referer" "$http_user_agent"
// nginx escapes a '"' inside a field as \x22, so quotes delimit fields.
bool Parse(const std::string& line, LoggedRequest& r) {
  std::vector<std::string> quoted;
  std::string between;
  size_t pos = 0;
  while (quoted.size() < 3) {
    const size_t open = line.find('"', pos);
    if (open == std::string::npos) return false;
    const size_t close = line.find('"', open + 1);
    if (close == std::string::npos) return false;
    if (quoted.size() == 1) between = line.substr(pos, open - pos);
    quoted.push_back(line.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  r.requestLine = quoted[0];
  r.status = std::atoi(between.c_str());
  r.referer = quoted[1];
  r.userAgent = quoted[2];
  return true;
}

std::vector<LoggedRequest> ReadLog(const NginxServer& server) {
  std::vector<LoggedRequest> requests;
  std::stringstream lines(ReadFile(server.Folder() / "access.log").value_or(""));
  std::string line;
  while (std::getline(lines, line)) {
    LoggedRequest r;
    if (Parse(line, r)) requests.push_back(r);
  }
  return requests;
}

}  // namespace

std::vector<LoggedRequest> Requests(const NginxServer& server, std::size_t expected) {
  using std::chrono::milliseconds;
  std::vector<LoggedRequest> requests;
  testing::WaitUntil(
      [&] {
        requests = ReadLog(server);
        return requests.size() >= expected;
      },
      milliseconds(2000), milliseconds(50));
  return requests;
}

std::string UrlOf(const NginxServer& server, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

}  // namespace peloria::e2e
