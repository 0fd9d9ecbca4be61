// The connection against real servers on 127.0.0.1: nginx serving a folder
// and tinyproxy in front of it. The launchers of tests/support/peers.h are
// exercised here too.
#include <gtest/gtest.h>

#include <string>

#include "http/tcp_connection.h"
#include "tests/support/peers.h"
#include "tests/support/temp_dir.h"

namespace peloria {
namespace {

using testing::NginxServer;
using testing::TempDir;
using testing::TinyproxyServer;

// Sends `request` and reads the status line, the headers and a counted body.
std::string Fetch(TIdTCPClient& client, const std::string& request, std::string& status) {
  client.WriteText(request);
  status = client.ReadLine();
  std::int64_t length = -1;
  for (std::string line = client.ReadLine(); !line.empty(); line = client.ReadLine()) {
    if (line.rfind("Content-Length: ", 0) == 0) length = std::stoll(line.substr(16));
  }
  TMemoryStream body;
  if (length < 0) {
    client.ReadToCloseIntoStream(body, INT64_MAX);
  } else {
    client.ReadCountIntoStream(body, length);
  }
  return body.Text();
}

TEST(TcpRealPeers, NginxServesAFileTwiceOnOneConnection) {
  PELORIA_SKIP_WITHOUT_NGINX();
  TempDir root;
  const std::string content(100000, 'q');
  root.Write("photo.jpg", content);
  NginxServer nginx(root.path());

  TIdTCPClient client;
  client.Host = "localhost";
  client.Port = nginx.Port();
  client.OpenConnection();
  std::string status;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Fetch(client, "GET /photo.jpg HTTP/1.1\r\nHost: localhost\r\n\r\n", status), content);
    EXPECT_EQ(status, "HTTP/1.1 200 OK");
  }
  EXPECT_TRUE(client.IsConnected());
}

TEST(TcpRealPeers, TinyproxyForwardsToNginx) {
  PELORIA_SKIP_WITHOUT_NGINX();
  PELORIA_SKIP_WITHOUT_TINYPROXY();
  TempDir root;
  root.Write("page.html", "<p>hello</p>");
  NginxServer nginx(root.path());
  TinyproxyServer proxy;

  TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = proxy.Port();
  client.OpenConnection();
  std::string status;
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/page.html";
  EXPECT_EQ(Fetch(client, "GET " + url + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", status),
            "<p>hello</p>");
  EXPECT_EQ(status.substr(9), "200 OK") << proxy.Log();
}

}  // namespace
}  // namespace peloria
