// SplitAt, SplitUrl, Base64 and the internet date.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "http/base64.h"
#include "http/internet_date.h"
#include "http/url_parts.h"

namespace peloria {
namespace {

TEST(SplitAtTest, BeforeTheFirstDelimiter) {
  struct Case {
    std::string source, delimiter;
    bool remove;
    std::string result, rest;
  } cases[] = {
      {"a:b:c", ":", true, "a", "b:c"},  {"a:b:c", ":", false, "a", "a:b:c"},
      {"a://b", "://", true, "a", "b"},  {"abc", ":", true, "abc", ""},
      {"abc", ":", false, "abc", "abc"}, {":x", ":", true, "", "x"},
      {"", " ", true, "", ""},
  };
  for (Case c : cases) {
    EXPECT_EQ(SplitAt(c.source, c.delimiter, c.remove), c.result) << c.source;
    EXPECT_EQ(c.source, c.rest);
  }
}

TEST(SplitUrlTest, Parts) {
  struct Case {
    std::string url;
    TIdUrlParts parts;  // protocol, host, port, path, document, fragment
  } cases[] = {
      {"http://host/dir/name.jpg", {"http", "host", "", "/dir/", "name.jpg", ""}},
      {"http://host", {"http", "host", "", "/", "", ""}},
      {"http://host/", {"http", "host", "", "/", "", ""}},
      {"http://host:8080/a.jpg", {"http", "host", "8080", "/", "a.jpg", ""}},
      {"http://host:x/a.jpg", {"http", "host", "x", "/", "a.jpg", ""}},
      {"HTTPS://h/a", {"HTTPS", "h", "", "/", "a", ""}},
      {"http://h/a.jpg#top", {"http", "h", "", "/", "a.jpg", "top"}},
      {"http://h/a.jpg#x/y", {"http", "h", "", "/", "a.jpg", "x/y"}},
      {"http://h/s.cgi?u=/d/e.jpg", {"http", "h", "", "/s.cgi?u=/d/", "e.jpg", ""}},
      {"http://h/q?a=1&b=2", {"http", "h", "", "/", "q?a=1&b=2", ""}},
      {"http:\\\\h\\d\\a.jpg", {"http", "h", "", "/d/", "a.jpg", ""}},
      {"http://user:pw@h/", {"http", "user", "pw@h", "/", "", ""}},
      {"http://[::1]:8080/a.jpg", {"http", "[::1]", "8080", "/", "a.jpg", ""}},
      {"http://[fe80::1]/a.jpg", {"http", "[fe80::1]", "", "/", "a.jpg", ""}},
      {"dir/a.jpg", {"", "", "", "/dir/", "a.jpg", ""}},
      {"a.jpg", {"", "", "", "/", "a.jpg", ""}},
      {"", {"", "", "", "/", "", ""}},
      // A CP932 trail byte equal to "\" is part of its character: 0x95 0x5C.
      {"http://h/\x95\\\\x.jpg", {"http", "h", "", "/\x95\\/", "x.jpg", ""}},
  };
  for (const Case& c : cases) {
    TIdUrlParts p = SplitUrl(c.url);
    EXPECT_EQ(p.Protocol, c.parts.Protocol) << c.url;
    EXPECT_EQ(p.Host, c.parts.Host) << c.url;
    EXPECT_EQ(p.Port, c.parts.Port) << c.url;
    EXPECT_EQ(p.Path, c.parts.Path) << c.url;
    EXPECT_EQ(p.Document, c.parts.Document) << c.url;
    EXPECT_EQ(p.Fragment, c.parts.Fragment) << c.url;
  }
}

TEST(Base64Test, Rfc4648Vectors) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\xff\xfe\x00", std::string("//4A")},
  };
  cases[7].in = std::string("\xff\xfe\x00", 3);
  for (const Case& c : cases) EXPECT_EQ(Base64Encode(c.in), c.out) << c.in;
  // No line breaks, however long: the result goes into one header line.
  EXPECT_EQ(Base64Encode(std::string(300, 'a')).find('\n'), std::string::npos);
}

// 6 November 1994 is day 34644 after 30 December 1899.
constexpr double kNov6 = 34644;
constexpr double kHour = 1.0 / 24;

TEST(InternetDateTest, ToLocalDateTime) {
  struct Case {
    const char* text;
    long localOffset;  // seconds east of UTC
    double expected;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 0, kNov6 + (8 * 3600 + 49 * 60 + 37) / 86400.0},
      {"  sunday 06 nov 1994 08:00:00 GMT  ", 0, kNov6 + 8 * kHour},
      {"06 Nov 1994 08:00:00 +0100", 0, kNov6 + 7 * kHour},
      {"06 Nov 1994 08:00:00 -0130", 0, kNov6 + 9.5 * kHour},
      {"06 Nov 1994 08:00:00 +01", 0, kNov6 + 8 * kHour},
      {"06 Nov 1994 08:00:00 GMT", 9 * 3600, kNov6 + 17 * kHour},
      {"06 Nov 1994", 0, kNov6},
      {"06 Nov 94 08:00", 0, kNov6 + 8 * kHour},
      {"01 Jan 00", 0, 36526},  // 2000
      {"x Jan 1900", 0, 2},     // no day number: day 1
      {"29 Feb 2000", 0, 36585},
      {"31 Dec 1899 12:00:00", 0, 1.5},
      {"29 Dec 1899 06:00:00", 0, -1.25},
      // No valid date: day 0 plus the local offset.
      {"", 3600, kHour},
      {"06 Foo 1994", 0, 0},
      {"29 Feb 1900", 0, 0},
      {"06 Nov 1994 24:00:00", 0, 0},
      {"Sunday, 06-Nov-94 08:49:37 GMT", -3600, -kHour},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(InternetDateToLocal(c.text, c.localOffset), c.expected, 1e-9) << c.text;
  }
}

TEST(InternetDateTest, UsesTheSystemOffset) {
  double local = InternetDateToLocal("06 Nov 1994 08:00:00 GMT");
  double hours = (local - kNov6) * 24 - 8;
  EXPECT_NEAR(hours * 4, std::round(hours * 4), 1e-6);  // whole quarter hours from UTC
  EXPECT_LE(std::abs(hours), 14);
}

}  // namespace
}  // namespace peloria
