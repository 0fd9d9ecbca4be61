// TIdTCPConnection and TIdTCPClient against a scripted peer on 127.0.0.1.
#include "http/tcp_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <type_traits>
#include <vector>

#include "http/id_exceptions.h"
#include "http/id_stack.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace peloria {
namespace {

using testing::PeerScript;
using testing::ScriptedPeer;

void Open(TIdTCPClient& client, const ScriptedPeer& peer) {
  client.Host = "127.0.0.1";
  client.Port = peer.Port();
  client.OpenConnection();
}

// A port on 127.0.0.1 where nothing listens: the peer's, after it is gone.
int ClosedPort() {
  return ScriptedPeer(PeerScript()).Port();
}

// Short receive attempts until the client notices the peer's close; false
// when it has not within 10 s.
bool NoticesClose(TIdTCPClient& client) {
  return testing::WaitUntil(
      [&] {
        client.CheckGracefulClose();
        return !client.IsConnected();
      },
      std::chrono::seconds(10));
}

template <typename E, typename F>
E Raised(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e;
  }
  ADD_FAILURE() << "no exception of the expected class";
  if constexpr (std::is_same_v<E, EIdSocketError>) {
    return E(0, "");
  } else {
    return E("");
  }
}

TEST(TcpReadLine, LinesThenPartialLineThenClose) {
  ScriptedPeer peer(PeerScript().Send("first\r\nsecond\n\nthird").Close());
  TIdTCPClient client;
  Open(client, peer);
  EXPECT_EQ(client.ReadLine(), "first");
  EXPECT_EQ(client.ReadLine(), "second");
  EXPECT_EQ(client.ReadLine(), "");
  EXPECT_FALSE(client.LineTimedOut());
  // The close arrives before a line end: empty answer, the partial line kept.
  EXPECT_EQ(client.ReadLine(), "");
  EXPECT_TRUE(client.LineTimedOut());
  EXPECT_TRUE(client.PeerClosed());
  EXPECT_EQ(client.InputBuffer().View(), "third");
  EXPECT_FALSE(client.IsConnected());
  auto e = Raised<EIdConnClosedGracefully>([&] { client.ReadLine(); });
  EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
  EXPECT_EQ(client.InputBuffer().View(), "third");
}

TEST(TcpReadLine, CloseWhileWaitingWithNothingBuffered) {
  ScriptedPeer peer(PeerScript().Close());
  TIdTCPClient client;
  Open(client, peer);
  auto e = Raised<EIdConnClosedGracefully>([&] { client.ReadLine(); });
  EXPECT_EQ(e.ClassName(), "EIdConnClosedGracefully");
  EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
}

TEST(TcpReadLine, OneByteAtATime) {
  ScriptedPeer peer(
      PeerScript().SendByteByByte("HTTP/1.1 200 OK\r\nA: b\r\n\r\nx1\r\n\r\nz\r\ny").WaitRelease());
  TIdTCPClient client;
  Open(client, peer);
  EXPECT_EQ(client.ReadLine(), "HTTP/1.1 200 OK");
  EXPECT_EQ(client.ReadLine(), "A: b");
  EXPECT_EQ(client.ReadLine(), "");
  // A terminator of its own, arriving split over receives; a CR stays.
  EXPECT_EQ(client.ReadLine("\r\n\r\n"), "x1");
  EXPECT_EQ(client.ReadLine("\n"), "z\r");
  EXPECT_EQ(client.ReadLine("y"), "");
  peer.Release();
}

TEST(TcpReadLine, TimeLimit) {
  ScriptedPeer peer(PeerScript().Send("part").WaitRelease().Send("ial\n"));
  TIdTCPClient client;
  Open(client, peer);
  EXPECT_EQ(client.ReadLine({}, 50), "");
  EXPECT_TRUE(client.LineTimedOut());
  EXPECT_TRUE(client.IsConnected());
  peer.Release();
  EXPECT_EQ(client.ReadLine(), "partial");
  EXPECT_FALSE(client.LineTimedOut());
}

TEST(TcpReadLine, LengthLimit) {
  const std::size_t max = kIdMaxLineLength;
  const struct {
    std::size_t length;
    const char* end;
    bool fits;
  } rows[] = {
      {max, "\n", true},
      {max, "\r\n", true},  // a dropped CR does not count
      {max + 1, "\n", false},
      {max + 1, "\r\n", false},
  };
  for (const auto& row : rows) {
    ScriptedPeer peer(PeerScript().SendRepeated('a', row.length).Send(row.end).Send("next\n"));
    TIdTCPClient client;
    Open(client, peer);
    if (row.fits) {
      EXPECT_EQ(client.ReadLine().size(), row.length);
      EXPECT_EQ(client.ReadLine(), "next");
    } else {
      auto e = Raised<EIdLineTooLong>([&] { client.ReadLine(); });
      EXPECT_EQ(e.Message(), "Line too long: more than 1048576 bytes without a line end.");
      EXPECT_FALSE(client.IsConnected());
      EXPECT_TRUE(client.InputBuffer().Empty());
    }
  }
}

TEST(TcpReadLine, EndlessLineFailsEarlyWithBoundedMemory) {
  // 100 MiB without a line feed: the read stops soon after the limit.
  ScriptedPeer peer(PeerScript().SendRepeated('x', std::size_t{100} << 20));
  TIdTCPClient client;
  Open(client, peer);
  const auto start = std::chrono::steady_clock::now();
  Raised<EIdLineTooLong>([&] { client.ReadLine(); });
  EXPECT_TRUE(client.InputBuffer().Empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_TRUE(peer.WaitFinished());  // the peer's sending failed: we closed
}

TEST(TcpReadLine, ResetMidRead) {
  ScriptedPeer peer(PeerScript().Send("HTTP/1.1 200").Reset());
  TIdTCPClient client;
  Open(client, peer);
  auto e = Raised<EIdSocketError>([&] { client.ReadLine(); });
  EXPECT_EQ(e.SocketErrorCode(), kIdErrConnectionReset);
  EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_FALSE(client.IsConnected());  // a broken connection is not reused
}

TEST(TcpReadLine, AsciiFilterClearsTheTopBit) {
  ScriptedPeer peer(PeerScript().Send("\xC1\xE2\x8A"));
  TIdTCPClient client;
  client.ASCIIFilter = true;
  Open(client, peer);
  EXPECT_EQ(client.ReadLine(), "Ab");
}

TEST(TcpReadIntoStream, CountedAfterBufferedBytes) {
  const std::string body(100000, 'b');
  ScriptedPeer peer(PeerScript().Send("head\n" + body.substr(0, 10)).Send(body.substr(10)));
  TIdTCPClient client;
  client.RecvBufferSize = 7;
  Open(client, peer);
  EXPECT_EQ(client.ReadLine(), "head");
  std::vector<std::int64_t> works;
  client.OnWork = [&](TIdComponent&, TWorkMode mode, std::int64_t n) {
    EXPECT_EQ(mode, TWorkMode::wmRead);
    works.push_back(n);
  };
  std::int64_t begun = -1;
  client.OnWorkBegin = [&](TIdComponent&, TWorkMode, std::int64_t n) { begun = n; };
  TMemoryStream stream;
  stream.Write("old", 3);
  client.ReadCountIntoStream(stream, 99990);
  EXPECT_EQ(begun, 99990);
  EXPECT_EQ(stream.Text(), "old" + body.substr(0, 99990));
  EXPECT_EQ(stream.Position(), 99993);
  std::int64_t total = 0;
  for (std::size_t i = 1; i < works.size(); ++i) EXPECT_LE(works[i], 7);  // [0]: the buffer
  for (auto n : works) total += n;
  EXPECT_EQ(total, 99990);
  // The rest stays for the next read.
  client.ReadCountIntoStream(stream, 10);
  EXPECT_EQ(stream.Size(), 100003);
}

TEST(TcpReadIntoStream, CountedReadCutShortByClose) {
  ScriptedPeer peer(PeerScript().Send(std::string(500, 'm')).Close());
  TIdTCPClient client;
  Open(client, peer);
  TMemoryStream stream;
  stream.Write("xy", 2);
  EXPECT_THROW(client.ReadCountIntoStream(stream, 1000), EIdConnClosedGracefully);
  // The stream grows only with what arrived: the count reserves nothing.
  EXPECT_EQ(stream.Size(), 2 + 500);
  EXPECT_EQ(stream.Position(), 2 + 500);
}

TEST(TcpReadIntoStream, CountedReadAfterANoticedClose) {
  // The close is noticed while the line is read; the body is still short.
  ScriptedPeer peer(PeerScript().SendByteByByte("x\nabc").Close());
  TIdTCPClient client;
  Open(client, peer);
  EXPECT_EQ(client.ReadLine(), "x");
  ASSERT_TRUE(NoticesClose(client));
  TMemoryStream stream;
  EXPECT_THROW(client.ReadCountIntoStream(stream, 5), EIdConnClosedGracefully);
  EXPECT_EQ(stream.Text().substr(0, 3), "abc");
}

TEST(TcpReadIntoStream, UntilCloseCutsTheStream) {
  std::string body;
  for (int i = 0; i < 30000; ++i) body += std::to_string(i);
  ScriptedPeer peer(PeerScript().Send(body).Close());
  TIdTCPClient client;
  Open(client, peer);
  TMemoryStream stream;
  stream.Write(std::string(body.size() * 2, '-').data(),
               static_cast<std::int64_t>(body.size() * 2));
  stream.Seek(0);
  client.ReadToCloseIntoStream(stream, INT64_MAX);
  EXPECT_EQ(stream.Text(), body);
  EXPECT_FALSE(client.IsConnected());
}

TEST(TcpReadIntoStream, UntilCloseWithReset) {
  ScriptedPeer peer(PeerScript().Send("some").Reset());
  TIdTCPClient client;
  Open(client, peer);
  TMemoryStream stream;
  auto e = Raised<EIdSocketError>([&] { client.ReadToCloseIntoStream(stream, INT64_MAX); });
  EXPECT_EQ(e.SocketErrorCode(), kIdErrConnectionReset);
}

TEST(TcpWrite, EachWriteGoesOutAtOnce) {
  ScriptedPeer peer(PeerScript().ReadRequest().Send("ok\n").Read(5).Send("done\n"));
  TIdTCPClient client;
  client.UseNagle = false;
  Open(client, peer);
  std::vector<std::int64_t> works;
  client.OnWork = [&](TIdComponent&, TWorkMode mode, std::int64_t n) {
    EXPECT_EQ(mode, TWorkMode::wmWrite);
    works.push_back(n);
  };
  client.WriteLine("GET / HTTP/1.1");
  client.WriteText("");
  client.WriteBytes("x", 0);
  client.WriteText("Host: a\r\n");
  client.WriteLine("");
  client.OnWork = nullptr;
  EXPECT_EQ(client.ReadLine(), "ok");
  client.WriteBytes("12345", 5);
  EXPECT_EQ(client.ReadLine(), "done");
  EXPECT_EQ(peer.Received(), "GET / HTTP/1.1\r\nHost: a\r\n\r\n12345");
  EXPECT_EQ(works, (std::vector<std::int64_t>{16, 9, 2}));
}

TEST(TcpWrite, AfterANoticedCloseNothingIsSent) {
  ScriptedPeer peer(PeerScript().Close());
  TIdTCPClient client;
  Open(client, peer);
  ASSERT_TRUE(NoticesClose(client));
  bool sent = false;
  client.OnWork = [&](TIdComponent&, TWorkMode, std::int64_t) { sent = true; };
  auto e = Raised<EIdConnClosedGracefully>([&] { client.WriteLine("GET / HTTP/1.1"); });
  EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
  EXPECT_FALSE(sent);
}

TEST(TcpWrite, ToAPeerThatResetRaisesWithoutSigpipe) {
  ScriptedPeer peer(PeerScript().Reset());
  TIdTCPClient client;
  Open(client, peer);
  ASSERT_TRUE(peer.WaitFinished());
  const std::string block(65536, 'w');
  auto e = Raised<EIdSocketError>([&] {
    for (int i = 0; i < 1000; ++i) client.WriteText(block);
  });
  EXPECT_TRUE(e.SocketErrorCode() == kIdErrConnectionReset || e.SocketErrorCode() == kIdErrShutdown)
      << e.Message();
  EXPECT_FALSE(client.IsConnected());
}

TEST(TcpGracefulClose, NoticesCloseKeepsData) {
  ScriptedPeer peer(PeerScript().WaitRelease().Send("late").Close());
  TIdTCPClient client;
  Open(client, peer);
  client.CheckGracefulClose();  // nothing yet: no change
  EXPECT_TRUE(client.IsConnected());
  peer.Release();
  ASSERT_TRUE(NoticesClose(client));
  EXPECT_EQ(client.InputBuffer().View(), "late");
  // The close was noticed already: a line read reports it, the bytes stay.
  EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
  EXPECT_EQ(client.InputBuffer().View(), "late");
}

TEST(TcpClient, StatusTextsAndEvents) {
  ScriptedPeer peer(PeerScript().WaitRelease());
  TIdTCPClient client;
  std::vector<std::string> texts;
  client.OnStatus = [&](TIdComponent& sender, TIdStatus, const std::string& text) {
    EXPECT_EQ(&sender, &client);
    texts.push_back(text);
  };
  int connected = 0;
  int disconnected = 0;
  client.OnConnected = [&](TIdTCPClient&) { ++connected; };
  client.OnDisconnected = [&](TIdTCPConnection&) { ++disconnected; };
  client.Host = "LocalHost";
  client.Port = peer.Port();
  client.OpenConnection();
  EXPECT_EQ(client.Socket().PeerIP, "127.0.0.1");
  EXPECT_EQ(client.Socket().IP, "127.0.0.1");
  EXPECT_NE(client.Socket().Port, 0);
  client.CloseConnection();
  client.CloseConnection();  // a second close does nothing
  EXPECT_EQ(texts, (std::vector<std::string>{"Resolving hostname LocalHost.",
                                             "Connecting to 127.0.0.1.", "Connected.",
                                             "Disconnecting from 127.0.0.1.", "Not connected."}));
  EXPECT_EQ(connected, 1);
  EXPECT_EQ(disconnected, 1);
  EXPECT_TRUE(client.PeerClosed());
  peer.Release();
}

TEST(TcpClient, ConnectFailures) {
  const int closed = ClosedPort();
  const struct {
    int port;
    std::string bound;
    int code;
    std::string message;
  } rows[] = {
      {closed, "", 10061, "Socket Error # 10061\r\nConnection refused."},
      {0, "", 10061, "Socket Error # 10061\r\nConnection refused."},
      {65536, "", 10022, "Socket Error # 10022\r\nInvalid argument."},
      {-1, "", 10022, "Socket Error # 10022\r\nInvalid argument."},
      // An address that is not this machine's cannot be bound (no traffic).
      {closed, "192.0.2.1", 10049, "Socket Error # 10049\r\nCannot assign requested address."},
  };
  for (const auto& row : rows) {
    TIdTCPClient client;
    std::vector<std::string> texts;
    client.OnStatus = [&](TIdComponent&, TIdStatus, const std::string& t) { texts.push_back(t); };
    client.Host = "127.0.0.1";
    client.Port = row.port;
    client.BoundIP = row.bound;
    auto e = Raised<EIdSocketError>([&] { client.OpenConnection(); });
    EXPECT_EQ(e.SocketErrorCode(), row.code) << row.port;
    EXPECT_EQ(e.Message(), row.message);
    EXPECT_FALSE(client.Socket().HandleAllocated());  // closed before the exception left
    EXPECT_EQ(texts.back(), "Not connected.");
  }
}

TEST(TcpClient, BindingAPortInUse) {
  ScriptedPeer peer{PeerScript()};
  TIdSocketHandle handle;
  handle.AllocateSocket();
  handle.IP = "127.0.0.1";
  handle.Port = peer.Port();
  auto e = Raised<EIdCouldNotBindSocket>([&] { handle.Bind(); });
  EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  handle.Port = 0;
  handle.Bind();
}

TEST(TcpClient, AlreadyConnectedThenReconnect) {
  ScriptedPeer peer(PeerScript().Send("one\nrest").Close());
  TIdTCPClient client;
  client.BoundIP = "127.0.0.1";
  Open(client, peer);
  auto e = Raised<EIdAlreadyConnected>([&] { client.OpenConnection(); });
  EXPECT_EQ(e.Message(), "Already connected.");
  EXPECT_EQ(client.ReadLine(), "one");
  EXPECT_EQ(client.ReadLine(), "");
  EXPECT_FALSE(client.IsConnected());
  // A new connection starts with an empty buffer and no close seen.
  client.OpenConnection();
  EXPECT_TRUE(client.InputBuffer().Empty());
  EXPECT_FALSE(client.PeerClosed());
  EXPECT_EQ(client.ReadLine(), "one");
  EXPECT_EQ(peer.Accepted(), 2u);
}

TEST(TcpClient, ClosedConnectionRefusesReads) {
  TIdTCPClient client;
  EXPECT_FALSE(client.IsConnected());
  EXPECT_THROW(client.WaitReadable(0), EIdConnClosedGracefully);
  EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
  EXPECT_THROW(client.WriteText("x"), EIdConnClosedGracefully);
  EXPECT_FALSE(client.ReceiveIntoBuffer(0));
}

}  // namespace
}  // namespace peloria
