// The --print download's progress line: shown on a terminal once the download
// has taken longer than half a second, erased at its end; nothing when
// standard error is no terminal.
#include "app/download_progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <string>

#include "platform/stream.h"
#include "tests/support/peers.h"

namespace peloria {
namespace {

using testing::PeerScript;
using testing::ScriptedPeer;

// Runs `body` with standard error on `fd`, then puts it back.
template <class Body>
void WithStandardError(int fd, Body body) {
  const int saved = ::dup(STDERR_FILENO);
  ASSERT_GE(saved, 0);
  ::dup2(fd, STDERR_FILENO);
  body();
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
}

std::string ReadAvailable(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  return text;
}

// 2 KiB of 4 KiB at once, the rest after the progress delay.
PeerScript SlowReply() {
  return PeerScript()
      .ReadRequest()
      .Send("HTTP/1.1 200 OK\r\nContent-Length: 4096\r\n\r\n" + std::string(2048, 'x'))
      .SendSlowly(std::string(40, 'y'), 50)
      .Send(std::string(2048 - 40, 'z'));
}

TEST(DownloadProgressTest, ALineOnATerminalOnly) {
  int master = -1;
  int slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ScriptedPeer peer(SlowReply());
  TMemoryStream target;
  TIdHTTP http;
  WithStandardError(slave, [&] {
    DownloadWithTerminalProgress(http, "http://127.0.0.1:" + std::to_string(peer.Port()) + "/a.jpg",
                                 target);
  });
  EXPECT_EQ(target.Size(), 4096);
  const std::string shown = ReadAvailable(master);
  EXPECT_NE(shown.find("\rpeloria: 2 KiB of 4 KiB (50%)\033[K"), std::string::npos) << shown;
  EXPECT_TRUE(shown.ends_with("\r\033[K")) << "the line is erased at the end";
  ::close(slave);
  ::close(master);

  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  ScriptedPeer quiet(SlowReply());
  TMemoryStream second;
  WithStandardError(pipe[1], [&] {
    DownloadWithTerminalProgress(
        http, "http://127.0.0.1:" + std::to_string(quiet.Port()) + "/a.jpg", second);
  });
  EXPECT_EQ(second.Size(), 4096);
  EXPECT_EQ(ReadAvailable(pipe[0]), "");
  ::close(pipe[0]);
  ::close(pipe[1]);
}

}  // namespace
}  // namespace peloria
