// The socket layer: address checks, name lookup without a resolver, error
// numbers and texts, the input buffer and the component count.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "http/id_buffer.h"
#include "http/id_exceptions.h"
#include "http/id_stack.h"
#include "http/tcp_connection.h"
#include "platform/socket.h"

namespace peloria {
namespace {

TEST(IdStack, IsDottedAddress) {
  const struct {
    const char* text;
    bool dotted;
  } rows[] = {
      {"1.2.3.4", true},
      {"0.0.0.0", true},
      {"255.255.255.255", true},
      {"001.02.3.040", true},  // decimal, never octal
      {"1.2.3.4.5", false},
      {"256.1.1.1", false},
      {"1.2.3.256", false},
      {"1..2.3", false},
      {"1.2.3", false},
      {"1.2.3.", false},
      {".1.2.3", false},
      {"localhost", false},
      {"", false},
      {" 1.2.3.4", false},
      {"1.2.3.4 ", false},
      {"+1.2.3.4", false},
      {"1.2.3.-4", false},
      {"1.2.3.4x", false},
      {"1.2.3.0000000000004", true},
      {"99999999999.1.1.1", false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsDottedAddress(row.text), row.dotted) << row.text;
}

TEST(IdStack, LookupHostWithoutResolver) {
  for (const char* name : {"localhost", "LOCALHOST", "LocalHost"}) {
    EXPECT_EQ(LookupHost(name), "127.0.0.1") << name;
  }
  EXPECT_EQ(LookupHost("10.20.30.40"), "10.20.30.40");
  EXPECT_EQ(LookupHost("127.000.000.001"), "127.000.000.001");
}

TEST(IdStack, EmptyHostIsNotFound) {
  try {
    LookupHost("");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), kIdErrHostNotFound);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(e.ClassName(), "EIdSocketError");
  }
}

TEST(IdStack, Ipv6LiteralNamesItsCause) {
  for (const char* name : {"[::1]", "::1", "[fe80::1%25eth0]"}) {
    try {
      LookupHost(name);
      FAIL() << name;
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.Message(),
                "Socket Error # 10047\r\nAddress family not supported by protocol family.")
          << name;
    }
  }
}

TEST(IdStack, ErrnoMapsToTableNumbers) {
  const std::pair<int, int> rows[] = {
      {ECONNREFUSED, 10061}, {ECONNRESET, 10054}, {ETIMEDOUT, 10060},    {EADDRINUSE, 10048},
      {EPIPE, 10058},        {EAGAIN, 10035},     {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
      {EINTR, 10004},        {EIO, EIO},  // no row: the number itself
  };
  for (const auto& [err, number] : rows) EXPECT_EQ(sock::FromErrno(err), number) << err;
}

TEST(IdStack, ErrorTextsAndMessages) {
  const std::pair<int, const char*> rows[] = {
      {10004, "Interrupted system call."},
      {10035, "Operation would block. "},  // trailing blank kept
      {10047, "Address family not supported by protocol family."},
      {10058, "Cannot send or receive after socket is closed."},
      {10061, "Connection refused."},
      {10066, "Directory not empty"},  // no full stop
      {10003, ""},
      {10067, ""},
      {11001, "Host not found."},
      {11004, "Valid name, no data record of requested type."},
      {11005, ""},
  };
  for (const auto& [code, text] : rows) {
    EXPECT_EQ(SocketErrorText(code), text) << code;
    try {
      ThrowSocketError(code);
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.Message(), "Socket Error # " + std::to_string(code) + "\r\n" + text);
      EXPECT_EQ(e.SocketErrorCode(), code);
    }
  }
}

TEST(IdStack, CheckSocketResult) {
  EXPECT_FALSE(CheckSocketResult(0));
  EXPECT_FALSE(CheckSocketResult(17));
  // A failed call: bind with an invalid port leaves "invalid argument".
  EXPECT_EQ(sock::Bind(-1, "", 70000), -1);
  EXPECT_TRUE(CheckSocketResult(-1, {kIdErrInvalidArgument}));
  EXPECT_THROW(CheckSocketResult(-1, {kIdErrAddressInUse}), EIdSocketError);
}

TEST(IdStack, LayerLivesWithItsComponents) {
  const int before = TIdStack::LiveCount();
  {
    TIdTCPClient a;
    TIdTCPConnection b;
    EXPECT_EQ(TIdStack::LiveCount(), before + 2);
  }
  EXPECT_EQ(TIdStack::LiveCount(), before);
}

TEST(IdStack, StatusTexts) {
  EXPECT_EQ(IdStatusText(TIdStatus::hsResolving, "example"), "Resolving hostname example.");
  EXPECT_EQ(IdStatusText(TIdStatus::hsConnecting, "1.2.3.4"), "Connecting to 1.2.3.4.");
  EXPECT_EQ(IdStatusText(TIdStatus::hsConnected, ""), "Connected.");
  EXPECT_EQ(IdStatusText(TIdStatus::hsDisconnecting, "1.2.3.4"), "Disconnecting from 1.2.3.4.");
  EXPECT_EQ(IdStatusText(TIdStatus::hsDisconnected, ""), "Not connected.");
  EXPECT_EQ(IdStatusText(TIdStatus::hsStatusText, "Chunk Started"), "Chunk Started");
}

TEST(IdBuffer, RemovesFromTheFront) {
  TIdBuffer buffer;
  buffer.Append("hello world");
  EXPECT_EQ(buffer.Extract(6), "hello ");
  EXPECT_EQ(buffer.View(), "world");
  EXPECT_EQ(buffer.Find("ld"), 3u);
  EXPECT_EQ(buffer.Find("ld", 4), TIdBuffer::npos);
  buffer.Append("!");
  try {
    buffer.Remove(7);
    FAIL() << "no exception";
  } catch (const EIdNotEnoughDataInBuffer& e) {
    EXPECT_EQ(e.Message(), "Not enough data in buffer.");
  }
  EXPECT_EQ(buffer.View(), "world!");  // a failed removal changes nothing
  buffer.Remove(6);
  EXPECT_TRUE(buffer.Empty());
  EXPECT_THROW(buffer.Extract(1), EIdNotEnoughDataInBuffer);
}

TEST(IdBuffer, ManySmallRemovalsKeepOrder) {
  TIdBuffer buffer;
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    const std::string piece = std::to_string(i) + ",";
    buffer.Append(piece);
    expected += piece;
    if (i % 3 == 0) {
      EXPECT_EQ(buffer.Extract(2), expected.substr(0, 2));
      expected.erase(0, 2);
    }
  }
  EXPECT_EQ(buffer.View(), expected);
}

}  // namespace
}  // namespace peloria
