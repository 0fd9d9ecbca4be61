// The browser's message as the host reads it: the frame, the JSON, the
// members, and the reply's frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "host/host_limits.h"
#include "host/json.h"
#include "host/launch.h"
#include "host/message.h"
#include "http/base64.h"

namespace peloria {
namespace {

// A reader over `input` that hands out at most `chunk` bytes a call, as a
// pipe may.
TInputReader ReaderOf(const std::string& input, std::size_t chunk = 7) {
  auto pos = std::make_shared<std::size_t>(0);
  return [input, pos, chunk](void* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count && *pos < input.size()) {
      const std::size_t n = std::min({count - done, input.size() - *pos, chunk});
      std::memcpy(static_cast<char*>(buffer) + done, input.data() + *pos, n);
      *pos += n;
      done += n;
    }
    return done;
  };
}

std::string Length(std::uint32_t n) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &n, 4);
  return bytes;
}

TEST(HostFrame, ReadsOneFramedMessageAndRefusesBadLengths) {
  EXPECT_EQ(ReadFramedMessage(ReaderOf(Length(2) + "{}")), "{}");
  // Only the announced bytes are read; what follows stays unread.
  EXPECT_EQ(ReadFramedMessage(ReaderOf(Length(2) + "{}garbage")), "{}");

  struct Case {
    std::string input;
    std::string error;
  };
  const Case cases[] = {
      {"", "no message"},
      {std::string("\x02\x00", 2), "message length cut short"},
      {Length(10) + "{}", "message cut short"},
      {Length(static_cast<std::uint32_t>(kMaxMessageBytes) + 1),
       "message of 67108865 bytes is above the limit of 67108864 bytes"},
      {Length(0xFFFFFFFF), "message of 4294967295 bytes is above the limit of 67108864 bytes"},
  };
  for (const Case& c : cases) {
    try {
      ReadFramedMessage(ReaderOf(c.input));
      ADD_FAILURE() << "accepted: " << c.error;
    } catch (const EBrowserMessage& failure) {
      EXPECT_EQ(failure.Message(), c.error);
    }
  }
}

TEST(HostFrame, MessageAtTheBoundIsRead) {
  // {"address":"http://h/a.jpg","page":"xxxx…"} padded to exactly the bound.
  const std::string head = R"({"address":"http://h/a.jpg","picture":")";
  std::size_t room = kMaxMessageBytes - head.size() - 2;
  room -= room % 4;
  std::string json = head + std::string(room, 'A') + "\"}";
  json.insert(json.size() - 1, std::string(kMaxMessageBytes - json.size(), ' '));
  ASSERT_EQ(json.size(), kMaxMessageBytes);
  const std::string read =
      ReadFramedMessage(ReaderOf(Length(static_cast<std::uint32_t>(json.size())) + json, 1 << 20));
  EXPECT_EQ(read.size(), kMaxMessageBytes);
  const TBrowserMessage message = ParseBrowserMessage(read);
  EXPECT_EQ(message.picture->size(), room / 4 * 3);
}

TEST(HostMessage, AcceptsTheMessagesTheExtensionSends) {
  const TBrowserMessage plain = ParseBrowserMessage(R"({"address": "http://127.0.0.1/a.jpg"})");
  EXPECT_EQ(plain.address, "http://127.0.0.1/a.jpg");
  EXPECT_EQ(plain.page, "");
  EXPECT_FALSE(plain.picture);

  const TBrowserMessage full = ParseBrowserMessage(
      "{\"address\":\"data:image/jpeg;base64,/9j/\",\"page\":\"https://h/p?q=\\u3042\","
      "\"picture\":\"/9j/4A==\",\"extra\":[1,2,{\"x\":null}]}");
  EXPECT_EQ(full.page, "https://h/p?q=\xE3\x81\x82");
  EXPECT_EQ(*full.picture, std::string("\xFF\xD8\xFF\xE0"));

  // A page that is no web page is not sent on as the Referer.
  EXPECT_EQ(ParseBrowserMessage(R"({"address":"http://h/a.jpg","page":"file:///tmp/p.html"})").page,
            "");
  EXPECT_EQ(ParseBrowserMessage(R"({"address":"HTTPS://h/a.jpg"})").address, "HTTPS://h/a.jpg");
  EXPECT_TRUE(ParseBrowserMessage(R"({"address":"blob:http://h/1-2","picture":""})").picture);
}

TEST(HostMessage, RefusesEverythingElseWithItsCause) {
  struct Case {
    std::string json;
    std::string error;
  };
  const std::string longAddress = "http://h/" + std::string(kMaxAddressBytes, 'a');
  const Case cases[] = {
      // Not JSON.
      {"", "message is not JSON: value expected at byte 0"},
      {"{", "message is not JSON: member name expected at byte 1"},
      {R"({"address":"http://h/a.jpg"} x)", "message is not JSON: text after the value at byte 29"},
      {R"({"address":"http://h/a.jpg",})", "message is not JSON: member name expected at byte 28"},
      {R"({'address':'x'})", "message is not JSON: member name expected at byte 1"},
      {R"({"address":"http://h/\x"})", "message is not JSON: unknown escape at byte 22"},
      {R"({"address":"http://h/\ud800"})", "message is not JSON: unpaired surrogate at byte 27"},
      {"{\"address\":\"http://h/\xC3\x28\"}", "message is not JSON: invalid UTF-8 at byte 21"},
      {"{\"address\":\"http://h/\xE0\x80\xAF\"}", "message is not JSON: invalid UTF-8 at byte 21"},
      {"{\"address\":\"http://h/\xED\xA0\x80\"}", "message is not JSON: invalid UTF-8 at byte 21"},
      {"{\"address\":\"a\tb\"}", "message is not JSON: control character in a string at byte 13"},
      {R"({"address":"http://h/a","address":"http://h/b"})",
       "message is not JSON: member \"address\" given twice at byte 33"},
      {R"({"address":"http://h/a","n":01})", "message is not JSON: '}' expected at byte 29"},
      {std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']'),
       "message is not JSON: nested deeper than 16 at byte 16"},
      // Not the host's message.
      {R"(["http://h/a.jpg"])", "message is not an object"},
      {R"({})", "\"address\" is missing"},
      {R"({"address":42})", "\"address\" is not a string"},
      {R"({"address":null})", "\"address\" is not a string"},
      {R"({"address":"http://h/a.jpg","page":["x"]})", "\"page\" is not a string"},
      {R"({"address":"http://h/a.jpg","picture":true})", "\"picture\" is not a string"},
      {R"({"address":""})", "\"address\" is empty"},
      {R"({"address":"http://h/a.jpg\r\nX: y"})", "\"address\" holds control characters"},
      {R"({"address":"http://h/a\u0000.jpg"})", "\"address\" holds control characters"},
      {R"({"address":"http://h/a\u007f.jpg"})", "\"address\" holds control characters"},
      {R"({"address":"http://h/a\u0085.jpg"})", "\"address\" holds control characters"},
      {R"({"address":"http://h/a.jpg","page":"http://h/\u000d"})",
       "\"page\" holds control characters"},
      {R"({"address":"javascript:void"})",
       "\"address\" is no http, https, file, data or blob address"},
      {R"({"address":"--help"})", "\"address\" is no http, https, file, data or blob address"},
      {R"({"address":"/etc/passwd"})", "\"address\" is no http, https, file, data or blob address"},
      {"{\"address\":\"" + longAddress + "\"}", "\"address\" is longer than 32768 bytes"},
      {R"({"address":"data:image/png;base64,iVBO"})",
       "a data: picture needs its bytes in \"picture\""},
      {R"({"address":"blob:http://h/1"})", "a blob: picture needs its bytes in \"picture\""},
      // Not base64.
      {R"({"address":"http://h/a","picture":"/9j/4A="})", "\"picture\" is not base64"},
      {R"({"address":"http://h/a","picture":"/9j/\n4A=="})", "\"picture\" is not base64"},
      {R"({"address":"http://h/a","picture":"_9j-4A=="})", "\"picture\" is not base64"},
      {R"({"address":"http://h/a","picture":"/9j/4B=="})", "\"picture\" is not base64"},
      {R"({"address":"http://h/a","picture":"/9j="})", "\"picture\" is not base64"},
  };
  for (const Case& c : cases) {
    try {
      ParseBrowserMessage(c.json);
      ADD_FAILURE() << "accepted: " << c.json.substr(0, 80);
    } catch (const EBrowserMessage& failure) {
      EXPECT_EQ(failure.Message(), c.error) << c.json.substr(0, 80);
    }
  }
  // An address of exactly the bound passes.
  const std::string atBound = "http://h/" + std::string(kMaxAddressBytes - 9, 'a');
  EXPECT_EQ(ParseBrowserMessage("{\"address\":\"" + atBound + "\"}").address.size(),
            kMaxAddressBytes);
}

TEST(HostJson, DepthAtTheBoundAndStringEscapes) {
  EXPECT_NO_THROW(ParseJson(std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']')));
  EXPECT_EQ(ParseJson(R"("\"\\\/\b\f\n\r\t\u00e9\ud83c\udf38")").text,
            "\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x8C\xB8");
  for (const char* number : {"0", "-0", "1.5e-3", "12E+2", "-12.25"}) {
    EXPECT_EQ(ParseJson(number).text, number);
  }
  for (const char* bad : {"01", "1.", ".5", "+1", "1e", "-", "tru", "nul", "\"\\u12\""}) {
    EXPECT_THROW(ParseJson(bad), EJsonError) << bad;
  }
  EXPECT_EQ(JsonQuoted("a\"b\\c\n\x1b"), R"("a\"b\\c\u000a\u001b")");
}

TEST(HostBase64, DecodesWhatItEncodesAndNothingLoose) {
  for (const std::string& bytes :
       std::vector<std::string>{"", "a", "ab", "abc", "abcd", std::string("\0\xFF\x80", 3)}) {
    EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes);
  }
  for (const char* bad : {"=", "A", "AA", "AAA", "A===", "AA=A", "AA==AA==", "QQ=\n",
                          " QQ==", "QR==", "QUF=", "Q-==", "Q_=="}) {
    EXPECT_FALSE(Base64Decode(bad)) << bad;
  }
}

TEST(HostReply, IsExactlyOneFrame) {
  for (const auto& error :
       {std::optional<std::string>(), std::optional<std::string>("a \"b\"\n")}) {
    const std::string frame = FramedReply(error);
    std::uint32_t length = 0;
    ASSERT_GE(frame.size(), 4u);
    std::memcpy(&length, frame.data(), 4);
    EXPECT_EQ(length, frame.size() - 4);
    const TJsonValue reply = ParseJson(frame.substr(4));
    ASSERT_NE(reply.Member("ok"), nullptr);
    EXPECT_EQ(reply.Member("ok")->kind, error ? TJsonValue::Kind::kFalse : TJsonValue::Kind::kTrue);
    if (error) {
      EXPECT_EQ(reply.Member("error")->text, *error);
    }
  }
}

TEST(HostReply, ErrorTextIsAlwaysValidUtf8) {
  const std::string frame = FramedReply(std::string("\xFF/a\xE3\x81\x82" "b\xC3", 8));
  EXPECT_EQ(ParseJson(frame.substr(4)).Member("error")->text,
            "\xEF\xBF\xBD/a\xE3\x81\x82\x62\xEF\xBF\xBD");
}

TEST(HostWindow, CommandLineAndShownAddress) {
  TBrowserMessage message{"http://h/a.jpg", "http://h/p.html", std::nullopt};
  EXPECT_EQ(WindowArguments("/x/peloria", message),
            (std::vector<std::string>{"/x/peloria", "--from-browser", "--page=http://h/p.html",
                                      "http://h/a.jpg"}));
  const std::string data = "data:image/jpeg;base64," + std::string(1000, 'A');
  message = {data, "", std::string("bytes")};
  EXPECT_EQ(WindowArguments("/x/peloria", message),
            (std::vector<std::string>{"/x/peloria", "--from-browser", "--picture-fd=3",
                                      data.substr(0, kShownDataAddressBytes) + "…"}));
  EXPECT_EQ(ShownAddress("data:,x"), "data:,x");
  // Never cut inside a UTF-8 character.
  const std::string wide = "data:," + std::string(kShownDataAddressBytes - 7, 'a') + "\xE3\x81\x82";
  EXPECT_EQ(ShownAddress(wide), wide.substr(0, kShownDataAddressBytes - 1) + "…");
}

}  // namespace
}  // namespace peloria
