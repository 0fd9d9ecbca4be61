// TIdHTTP against a scripted peer on loopback: the exact request bytes, the
// reply framing, status handling, redirects and connection reuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/idhttp.h"
#include "platform/cp932.h"
#include "platform/exception.h"
#include "platform/stream.h"
#include "tests/support/peers.h"

namespace peloria {
namespace {

using testing::PeerScript;
using testing::ScriptedPeer;

std::string Base(const ScriptedPeer& peer) {
  return "http://127.0.0.1:" + std::to_string(peer.Port());
}

// The program's own settings: referer the URL, user agent "Peloria".
void Prepare(TIdHTTP& http, const std::string& url, const std::string& proxy = {},
             int proxyPort = 0) {
  http.Request.ProxyServer = proxy;
  http.Request.ProxyPort = proxyPort;
  http.Request.Referer = url;
  http.Request.UserAgent = "Peloria";
}

struct Outcome {
  std::string body;
  std::string error;  // class name; empty on success
  std::string message;
  std::int32_t replyCode = 0;
};

Outcome Fetch(TIdHTTP& http, const std::string& url) {
  Outcome outcome;
  TMemoryStream stream;
  try {
    http.Download(url, stream);
  } catch (const EIdProtocolReplyError& e) {
    outcome.error = e.ClassName();
    outcome.message = e.Message();
    outcome.replyCode = e.ReplyCode();
  } catch (const Exception& e) {
    outcome.error = e.ClassName();
    outcome.message = e.Message();
  }
  outcome.body = stream.Text();
  return outcome;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
const std::string kAlphabet = "abcdefghijklmnopqrstuvwxyz";

TEST(HttpRequestTest, ExactBytesDirectAndThroughAProxy) {
  struct Case {
    std::string url;  // "@" stands for 127.0.0.1:<port> of the peer
    bool proxy;
    std::string requestLine;
    std::string host;
  } cases[] = {
      {"http://@/dir/name.jpg", false, "GET /dir/name.jpg HTTP/1.1", "127.0.0.1"},
      {"http://@", false, "GET / HTTP/1.1", "127.0.0.1"},
      {"http://@/", false, "GET / HTTP/1.1", "127.0.0.1"},
      {"http://@/a.jpg#part/two", false, "GET /a.jpg HTTP/1.1", "127.0.0.1"},
      {"http://@/s.cgi?u=/d/e.jpg&x=1", false, "GET /s.cgi?u=/d/e.jpg&x=1 HTTP/1.1", "127.0.0.1"},
      {"http:\\\\@\\dir\\b.jpg", false, "GET /dir/b.jpg HTTP/1.1", "127.0.0.1"},
      {"http://www.example.test/dir/name.jpg", true,
       "GET http://www.example.test/dir/name.jpg HTTP/1.1", "www.example.test"},
      {"http://www.example.test:8080/a.jpg", true,
       "GET http://www.example.test:8080/a.jpg HTTP/1.1", "www.example.test"},
      {"http://www.example.test:/a.jpg", true, "GET http://www.example.test/a.jpg HTTP/1.1",
       "www.example.test"},
      {"http://@/b c.jpg", false, "GET /b%20c.jpg HTTP/1.1", "127.0.0.1"},
      {"http://@/a%20b.jpg?q=<x>|{y}^`\"z\"", false,
       "GET /a%20b.jpg?q=%3Cx%3E%7C%7By%7D%5E%60%22z%22 HTTP/1.1", "127.0.0.1"},
      {"http://h.test/b c.jpg", true, "GET http://h.test/b%20c.jpg HTTP/1.1", "h.test"},
      {"http://www.example.test", true, "GET http://www.example.test/ HTTP/1.1",
       "www.example.test"},
      {"http://h.test/a.jpg#frag", true, "GET http://h.test/a.jpg HTTP/1.1", "h.test"},
      {"http://h.test/q?u=/x/y", true, "GET http://h.test/q?u=/x/y HTTP/1.1", "h.test"},
      {"http:\\\\h.test\\d\\e.jpg", true, "GET http://h.test/d/e.jpg HTTP/1.1", "h.test"},
      {"ftp://h.test/s.jpg", true, "GET ftp://h.test/s.jpg HTTP/1.1", "h.test"},
  };
  for (const Case& c : cases) {
    ScriptedPeer peer(PeerScript().ReadRequest().Send(kOk).WaitRelease());
    std::string url = c.url;
    if (std::size_t at = url.find('@'); at != std::string::npos) {
      url.replace(at, 1, "127.0.0.1:" + std::to_string(peer.Port()));
    }
    TIdHTTP http;
    Prepare(http, url, c.proxy ? "127.0.0.1" : "", c.proxy ? peer.Port() : 0);
    Outcome outcome = Fetch(http, url);
    EXPECT_EQ(outcome.error, "") << url << ": " << outcome.message;
    EXPECT_EQ(outcome.body, "ok");
    EXPECT_EQ(peer.Received(), c.requestLine + "\r\nHost: " + c.host +
                                   "\r\nAccept: text/html, */*\r\nReferer: " + url +
                                   "\r\nUser-Agent: Peloria\r\n\r\n")
        << url;
    EXPECT_EQ(http.RequestHost(), c.host);
  }
}

TEST(HttpRequestTest, TargetsAreSentInUtf8AndLocationsAsTheyCame) {
  // The address is the program's CP932 text; a Location is the wire's bytes
  // (UTF-8 here), resolved against the address and encoded, never converted.
  const std::string photo = Cp932("/写真/夏 1.jpg");
  const std::string location = "/\xE5\x86\x99 2.jpg";  // 写 2.jpg in UTF-8
  ScriptedPeer peer(
      PeerScript()
          .ReadRequest()
          .Send("HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n")
          .ReadRequest()
          .Send("HTTP/1.1 302 Found\r\nLocation: b c.jpg\r\nContent-Length: 0\r\n\r\n")
          .ReadRequest()
          .Send(kOk)
          .WaitRelease());
  TIdHTTP http;
  http.HandleRedirects = true;
  Outcome outcome = Fetch(http, Base(peer) + photo);
  EXPECT_EQ(outcome.error, "") << outcome.message;
  const std::string received = peer.Received();
  EXPECT_NE(received.find("GET /%E5%86%99%E7%9C%9F/%E5%A4%8F%201.jpg HTTP/1.1\r\n"),
            std::string::npos)
      << received;
  EXPECT_NE(received.find("GET /%E5%86%99%202.jpg HTTP/1.1\r\n"), std::string::npos);
  EXPECT_NE(received.find("GET /b%20c.jpg HTTP/1.1\r\n"), std::string::npos);
  peer.Release();
}

TEST(HttpRequestTest, OtherSchemeWithoutProxyFailsBeforeConnecting) {
  ScriptedPeer peer(PeerScript().ReadRequest().Send(kOk));
  for (std::string protocol : {"ftp", "FILE", "gopher"}) {
    TIdHTTP http;
    std::string url = protocol + "://127.0.0.1:" + std::to_string(peer.Port()) + "/a.jpg";
    Prepare(http, url);
    Outcome outcome = Fetch(http, url);
    EXPECT_EQ(outcome.error, "EIdInterceptPropInvalid");
    EXPECT_EQ(outcome.message, "Intercept value is not valid");
    EXPECT_FALSE(http.IsConnected());
  }
  EXPECT_EQ(peer.Accepted(), 0u);
}

TEST(HttpRequestTest, ProtocolVersion10AndComposedExtras) {
  ScriptedPeer peer(PeerScript().ReadRequest().Send(kOk).WaitRelease());
  TIdHTTP http;
  http.ProtocolVersion = pv1_0;
  http.Request.Accept.clear();
  http.Request.UserAgent.clear();
  http.Request.Username = "user";
  http.Request.ContentLength = 99;  // a GET never sends one
  http.Request.ExtraHeaders.Add("X-Extra: 1");
  EXPECT_EQ(Fetch(http, Base(peer) + "/v").error, "");
  EXPECT_EQ(peer.Received(),
            "GET /v HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic dXNlcjo=\r\n"
            "X-Extra: 1\r\n\r\n");
  EXPECT_FALSE(http.IsConnected());  // closed after a 1.0 request
}

TEST(HttpReplyTest, Framing) {
  const std::string chunk = "1A\r\n" + kAlphabet + "\r\n";
  struct Case {
    const char* name;
    std::string reply;  // the peer closes after it
    std::string body;
    std::string error;
    std::string message;
  } cases[] = {
      {"1.0 until close", "HTTP/1.0 200 OK\r\n\r\nabc", "abc", "", ""},
      {"1.1 length 0 is an empty body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nabc", "", "",
       ""},
      {"length lower case", "HTTP/1.1 200 OK\r\ncontent-length:   3\r\n\r\nabcXYZ", "abc", "", ""},
      {"length blank before colon", "HTTP/1.1 200 OK\r\nContent-Length : 3\r\n\r\nabcXYZ", "abcXYZ",
       "", ""},
      {"length with blanks after it", "HTTP/1.1 200 OK\r\nContent-Length: 3 \t\r\n\r\nabcXYZ",
       "abc", "", ""},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabcXYZ", "abcXYZ", "", ""},
      {"short counted body", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabc", "abc",
       "EIdConnClosedGracefully", "Connection Closed Gracefully."},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk + "0\r\n\r\n",
       kAlphabet, "", ""},
      {"chunked byte sizes",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk + "1\r\n!\r\n0\r\n\r\n",
       kAlphabet + "!", "", ""},
      {"chunk extension directly",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "1a;ext\r\n" +
           kAlphabet + "\r\n0\r\n\r\n",
       kAlphabet, "", ""},
      {"chunk extension after blank",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "1a ;ext\r\n" +
           kAlphabet + "\r\n0\r\n\r\n",
       kAlphabet, "", ""},
      {"chunk size that is no number: a failure, not a body cut short there",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk + "<html>\r\nrest",
       kAlphabet, "EIdMalformedChunk", "malformed chunk size"},
      {"Chunked capital",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n" + chunk + "0\r\n\r\n",
       chunk + "0\r\n\r\n", "", ""},
      {"no reason phrase", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok", "ok", "", ""},
      {"interim reply", "HTTP/1.1 100 Continue\r\n\r\n" + kOk, "ok", "", ""},
      {"LF only", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", "ok", "", ""},
      {"201 with Location",
       "HTTP/1.1 201 Created\r\nLocation: http://x/\r\n"
       "Content-Length: 2\r\n\r\nok",
       "ok", "EIdProtocolReplyError", "201 Created"},
      {"302", "HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 5\r\n\r\nmoved", "moved",
       "EIdProtocolReplyError", "302 Found"},
      {"404 keeps its body", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!",
       "not here!", "EIdProtocolReplyError", "404 Not Found"},
      {"404 until close", "HTTP/1.0 404 Not Found\r\n\r\nnot here", "not here",
       "EIdProtocolReplyError", "404 Not Found"},
      {"304", "HTTP/1.1 304 Not Modified\r\n\r\n", "", "EIdProtocolReplyError", "304 Not Modified"},
      {"empty status line", "\r\n", "", "EConvertError", "'' is not a valid integer value"},
      {"bad status code", "HTTP/1.1 2x0 OK\r\n\r\n", "", "EConvertError",
       "'2x0' is not a valid integer value"},
      {"nothing at all", "", "", "EIdConnClosedGracefully", "Connection Closed Gracefully."},
      // The peer's bytes are no cause: they never reach the message.
      {"no status line", "<h1>\x1B]0;owned\x07</h1>\r\n\r\nbody", "", "EIdMalformedReply",
       "reply without a status line"},
      {"close inside the headers", "HTTP/1.1 200 OK\r\nServer: x", "", "EIdConnClosedGracefully",
       "Connection Closed Gracefully."},
  };
  for (const Case& c : cases) {
    ScriptedPeer peer(PeerScript().ReadRequest().Send(c.reply).Close());
    TIdHTTP http;
    Outcome outcome = Fetch(http, Base(peer) + "/x");
    EXPECT_EQ(outcome.body, c.body) << c.name;
    EXPECT_EQ(outcome.error, c.error) << c.name;
    EXPECT_EQ(outcome.message, c.message) << c.name;
    if (c.error == "EIdProtocolReplyError") {
      EXPECT_EQ(outcome.replyCode, http.StatusCode()) << c.name;
      EXPECT_EQ(outcome.message, http.StatusText()) << c.name;
    }
  }
}

TEST(HttpReplyTest, HeadersAreParsed) {
  ScriptedPeer peer(PeerScript()
                        .ReadRequest()
                        .Send("HTTP/1.1 200 OK\r\nServer: scripted\r\nX-Folded: one\r\n "
                              "two\r\nContent-Type: image/jpeg"
                              "\r\nContent-Length : 1\r\nContent-Length: 2\r\n\r\nok")
                        .WaitRelease());
  TIdHTTP http;
  EXPECT_EQ(Fetch(http, Base(peer) + "/").body, "ok");
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(http.StatusText(), "200 OK");
  EXPECT_EQ(http.Reply.Server, "scripted");
  EXPECT_EQ(http.Reply.ContentType, "image/jpeg");
  EXPECT_EQ(http.Reply.ContentLength, 2);
  EXPECT_EQ(http.Reply.ExtraHeaders.Value("X-Folded"), "one two");
  EXPECT_EQ(http.Reply.ExtraHeaders.Lines(),
            (std::vector<std::string>{"X-Folded: one", " two", "Content-Length : 1"}));
  EXPECT_EQ(http.HeaderLines.Lines(), http.Reply.ExtraHeaders.Lines());
  EXPECT_EQ(http.RedirectDepth(), 0);
  EXPECT_TRUE(http.IsConnected());
}

TEST(HttpReplyTest, KeptConnectionServesTheNextRequests) {
  // Chunked with a trailer, a 204 and a 304 (no body, no close), then a
  // counted body: all on one connection.
  ScriptedPeer peer(PeerScript()
                        .ReadRequest()
                        .Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1A\r\n" +
                              kAlphabet + "\r\n0\r\nX-Trailer: 1\r\n\r\n")
                        .ReadRequest()
                        .Send("HTTP/1.1 204 No Content\r\n\r\n")
                        .ReadRequest()
                        .Send("HTTP/1.1 304 Not Modified\r\n\r\n")
                        .ReadRequest()
                        .SendByteByByte(kOk)
                        .WaitRelease());
  TIdHTTP http;
  EXPECT_EQ(Fetch(http, Base(peer) + "/1").body, kAlphabet);
  EXPECT_EQ(Fetch(http, Base(peer) + "/2").error, "");
  EXPECT_EQ(Fetch(http, Base(peer) + "/3").replyCode, 304);
  EXPECT_EQ(Fetch(http, Base(peer) + "/4").body, "ok");
  EXPECT_EQ(peer.Accepted(), 1u);
  EXPECT_EQ(Count(peer.Received(), "GET /"), 4u);
}

TEST(HttpReplyTest, WhenTheConnectionIsClosed) {
  struct Case {
    std::string reply;
    TIdHTTPProtocolVersion version;
    bool keptOpen;
  } cases[] = {
      {kOk, pv1_1, true},
      {kOk, pv1_0, false},
      {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", pv1_1, false},
      {"HTTP/1.1 200 OK\r\nConnection:  Close \r\nContent-Length: 2\r\n\r\nok", pv1_1, false},
      {"HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 2\r\n\r\nno", pv1_1, false},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno", pv1_1, true},
  };
  for (const Case& c : cases) {
    ScriptedPeer peer(PeerScript().ReadRequest().Send(c.reply).WaitRelease());
    TIdHTTP http;
    http.ProtocolVersion = c.version;
    Fetch(http, Base(peer) + "/");
    EXPECT_EQ(http.IsConnected(), c.keptOpen) << c.reply;
  }
}

TEST(HttpReplyTest, ConnectionClosedByThePeerIsReopened) {
  // The peer closes after a kept-alive reply; the next request connects anew.
  ScriptedPeer peer(PeerScript().ReadRequest().Send(kOk).Close());
  TIdHTTP http;
  EXPECT_EQ(Fetch(http, Base(peer) + "/1").body, "ok");
  ASSERT_TRUE(peer.WaitFinished(1));
  EXPECT_EQ(Fetch(http, Base(peer) + "/2").body, "ok");
  EXPECT_EQ(peer.Accepted(), 2u);
}

TEST(HttpReplyTest, HeaderBlockLimits) {
  auto lines = [](std::size_t count) {
    std::string block;
    for (std::size_t i = 0; i < count; ++i) block += "X-" + std::to_string(i) + ": v\r\n";
    return block;
  };
  auto bytes = [](std::size_t total) {
    std::size_t first = total / 2;  // two lines, each within the line limit
    return "X-A: " + std::string(first - 5, 'a') +
           "\r\nX-B: " + std::string(total - first - 5, 'b') + "\r\n";
  };
  struct Case {
    const char* name;
    std::string block;
    bool fails;
  } cases[] = {
      {"lines at the limit", lines(kHttpMaxHeaderLines), false},
      {"one line more", lines(kHttpMaxHeaderLines + 1), true},
      {"bytes at the limit", bytes(kHttpMaxHeaderBytes), false},
      {"one byte more", bytes(kHttpMaxHeaderBytes + 1), true},
  };
  for (const Case& c : cases) {
    // Version 1.0 without a length: the body ends with the close, so the
    // header block is exactly `block`.
    ScriptedPeer peer(
        PeerScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n" + c.block + "\r\nok").Close());
    TIdHTTP http;
    Outcome outcome = Fetch(http, Base(peer) + "/");
    if (c.fails) {
      EXPECT_EQ(outcome.error, "EIdReplyHeaderTooLarge") << c.name;
      EXPECT_EQ(outcome.message,
                "Reply header block too large: more than 1048576 bytes or 1000 lines.");
      EXPECT_FALSE(http.IsConnected()) << c.name;
    } else {
      EXPECT_EQ(outcome.body, "ok") << c.name << ": " << outcome.message;
    }
  }
}

TEST(HttpRedirectTest, FollowedWhenHandled) {
  ScriptedPeer peer(PeerScript()
                        .ReadRequest()
                        .Send("HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 8\r\n\r\n"
                              "moved!!!")
                        .ReadRequest()
                        .Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew")
                        .WaitRelease());
  TIdHTTP http;
  http.HandleRedirects = true;
  std::vector<std::string> seen;
  http.OnRedirect = [&](TIdHTTP&, std::string& dest, std::int32_t& num, bool& handled) {
    seen.push_back(dest + " " + std::to_string(num) + " " + (handled ? "yes" : "no"));
  };
  EXPECT_EQ(Fetch(http, Base(peer) + "/a").body, "new");  // position 0, cut to the new body
  EXPECT_EQ(seen, std::vector<std::string>{"/b 1 yes"});
  EXPECT_EQ(http.RedirectDepth(), 0);
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(Count(peer.Received(), "GET /b HTTP/1.1\r\nHost: 127.0.0.1\r\n"), 1u);
  EXPECT_EQ(peer.Accepted(), 1u);
}

TEST(HttpRedirectTest, LocationAndLengthWithTrailingBlanks) {
  // Blanks after a field value are no part of it: the Location is followed
  // and the lengths frame the bodies of the kept connection.
  ScriptedPeer peer(
      PeerScript()
          .ReadRequest()
          .Send("HTTP/1.1 302 Found\r\nLocation: /b.jpg\t\r\n"
                "Content-Length: 1\t\r\n\r\n.")
          .ReadRequest()
          .Send("HTTP/1.1 200 OK\r\nContent-Length: 3 \r\nConnection: close\t\r\n\r\nnew")
          .WaitRelease());
  TIdHTTP http;
  http.HandleRedirects = true;
  http.ReadTimeout = 5000;
  const Outcome outcome = Fetch(http, Base(peer) + "/a");
  EXPECT_EQ(outcome.error, "") << outcome.message;
  EXPECT_EQ(outcome.body, "new");
  EXPECT_EQ(Count(peer.Received(), "GET /b.jpg HTTP/1.1\r\n"), 1u);
  EXPECT_EQ(peer.Accepted(), 1u);
  EXPECT_FALSE(http.IsConnected());
}

TEST(HttpRedirectTest, RelativeLocationThroughAProxyKeepsHostAndPort) {
  ScriptedPeer proxy(PeerScript()
                         .ReadRequest()
                         .Send("HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 1\r\n\r\n.")
                         .ReadRequest()
                         .Send(kOk)
                         .WaitRelease());
  TIdHTTP http;
  Prepare(http, "http://h.test:8080/a", "127.0.0.1", proxy.Port());
  http.HandleRedirects = true;
  EXPECT_EQ(Fetch(http, "http://h.test:8080/a").body, "ok");
  std::string received = proxy.Received();
  EXPECT_EQ(received.substr(received.rfind("GET ")),
            "GET http://h.test:8080/b HTTP/1.1\r\n"
            "Host: h.test\r\nAccept: text/html, */*\r\nReferer: http://h.test:8080/a\r\n"
            "User-Agent: Peloria\r\n\r\n");
}

TEST(HttpRedirectTest, CallbackDecidesAndMayChangeTheTarget) {
  const std::string redirect = "HTTP/1.1 301 Moved\r\nLocation: /b\r\nContent-Length: 1\r\n\r\n.";
  struct Case {
    bool handleRedirects;
    std::string newDest;  // empty: refuse
    std::string error;
    std::string lastRequest;
  } cases[] = {
      {false, "", "EIdProtocolReplyError", "GET /a "},
      {false, "/c", "", "GET /a "},  // accepted but not followed: Location changed
      {true, "/c", "", "GET /c "},
      {true, "", "", "GET /a "},
  };
  for (const Case& c : cases) {
    ScriptedPeer peer(
        PeerScript().ReadRequest().Send(redirect).ReadRequest().Send(kOk).WaitRelease());
    TIdHTTP http;
    http.HandleRedirects = c.handleRedirects;
    http.OnRedirect = [&](TIdHTTP&, std::string& dest, std::int32_t&, bool& handled) {
      handled = !c.newDest.empty();
      if (handled) dest = c.newDest;
    };
    Outcome outcome = Fetch(http, Base(peer) + "/a");
    EXPECT_EQ(outcome.error, c.error) << c.handleRedirects << c.newDest;
    std::string received = peer.Received();
    EXPECT_EQ(received.substr(received.rfind("GET "), 7), c.lastRequest);
    if (!c.handleRedirects && !c.newDest.empty()) {
      EXPECT_EQ(http.Reply.Location, c.newDest);
    }
  }
}

TEST(HttpRedirectTest, StopsAtRedirectMaximum) {
  const std::string redirect =
      "HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 1\r\n\r\n.";
  PeerScript script;
  for (int i = 0; i < 4; ++i) script.ReadRequest().Send(redirect);
  ScriptedPeer peer(script.WaitRelease());
  TIdHTTP http;
  http.HandleRedirects = true;
  http.RedirectMaximum = 3;
  // The third redirect is not followed: the download fails with the cause.
  Outcome outcome = Fetch(http, Base(peer) + "/a");
  EXPECT_EQ(outcome.error, "EIdTooManyRedirects");
  EXPECT_EQ(outcome.message, "too many redirects");
  EXPECT_EQ(http.StatusCode(), 302);
  EXPECT_EQ(Count(peer.Received(), "GET "), 3u);
  EXPECT_EQ(peer.Accepted(), 1u);
}

TEST(ChooseEndpointTest, RouteHostPortAndRequestHost) {
  struct Case {
    std::string proxy;
    std::int32_t proxyPort;
    std::string protocol, host;
    std::int32_t port;
    bool viaProxy;
    std::string expectHost;
    std::int32_t expectPort;
    std::string requestHost, requestProtocol;
  } cases[] = {
      {"", 0, "http", "a.test", -1, false, "a.test", 80, "a.test", "http"},
      {"", 0, "http", "PREV.test", -1, false, "PREV.test", 80, "PREV.test", "http"},
      {"", 0, "http", "a.test", 8080, false, "a.test", 8080, "a.test", "http"},
      {"", 0, "", "", -1, false, "prev.test", 8000, "prev.test", "ftp"},
      {"", 0, "ftp", "", 81, false, "prev.test", 81, "prev.test", "ftp"},
      {"proxy.test", 3128, "http", "a.test", 8080, true, "proxy.test", 3128, "a.test", "http"},
      // https through a proxy is a tunnel: the request itself is in origin form.
      {"proxy.test", 0, "https", "a.test", -1, false, "proxy.test", 0, "a.test", "https"},
      {"proxy.test", 3128, "", "", -1, true, "proxy.test", 3128, "prev.test", "ftp"},
  };
  for (const Case& c : cases) {
    TIdHTTP http;
    ASSERT_FALSE(http.ChooseEndpoint("ftp", "prev.test", 8000));
    http.Request.ProxyServer = c.proxy;
    http.Request.ProxyPort = c.proxyPort;
    EXPECT_EQ(http.ChooseEndpoint(c.protocol, c.host, c.port), c.viaProxy) << c.host;
    EXPECT_EQ(http.Host, c.expectHost);
    EXPECT_EQ(http.Port, c.expectPort);
    EXPECT_EQ(http.RequestHost(), c.requestHost);
    EXPECT_EQ(http.RequestProtocol(), c.requestProtocol);
  }
}

TEST(ChooseEndpointTest, ReusesOnlyAConnectionToTheSameEndpoint) {
  ScriptedPeer a(PeerScript().ReadRequest().Send(kOk).ReadRequest().Send(kOk).ReadUntilClose());
  ScriptedPeer b(PeerScript().ReadRequest().Send(kOk).WaitRelease());
  TIdHTTP http;
  EXPECT_EQ(Fetch(http, Base(a) + "/1").body, "ok");
  EXPECT_EQ(Fetch(http, Base(a) + "/2").body, "ok");
  EXPECT_EQ(Fetch(http, Base(b) + "/3").body, "ok");
  EXPECT_TRUE(a.WaitFinished(1));  // the client closed its connection to a
  EXPECT_EQ(a.Accepted(), 1u);
  // A proxy is an endpoint like any other.
  Prepare(http, "", "127.0.0.1", a.Port());
  EXPECT_EQ(Fetch(http, "http://x.test/4").body, "ok");
  EXPECT_EQ(a.Accepted(), 2u);
  EXPECT_EQ(a.Received(1).substr(0, 28), "GET http://x.test/4 HTTP/1.1");
}

TEST(HttpConnectTest, FailuresOfTheEndpoint) {
  TIdHTTP http;
  http.Request.ProxyServer = "127.0.0.1";
  http.Request.ProxyPort = 0;  // no default proxy port: connecting fails
  EXPECT_EQ(Fetch(http, "http://a.test/").error, "EIdSocketError");
  EXPECT_FALSE(http.IsConnected());
  EXPECT_EQ(http.RedirectDepth(), 1);  // a failure leaves the depth as it was

  TIdHTTP empty;
  EXPECT_NE(Fetch(empty, "").error, "");  // no host at all
}

}  // namespace
}  // namespace peloria
