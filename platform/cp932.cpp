#include "platform/cp932.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

namespace peloria {
namespace {

// One iconv conversion direction, opened on first use per thread.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; on an invalid or unmappable input sequence emits "?" and
  // skips `skip(rest)` input bytes, so the output never stops early.
  template <typename Skip>
  std::string Convert(std::string_view in, Skip skip) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset shift state
    std::string out;
    out.reserve(in.size() * 2 + 4);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[1024];
    while (srcLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a sequence cut at the end): replace and skip.
      out.push_back('?');
      size_t n = skip(std::string_view(src, srcLeft));
      src += n;
      srcLeft -= n;
    }
    return out;
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence that starts `rest`, at least 1.
size_t Utf8SkipLength(std::string_view rest) {
  auto c = static_cast<unsigned char>(rest[0]);
  size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  size_t i = 1;
  while (i < n && i < rest.size() && (static_cast<unsigned char>(rest[i]) & 0xC0) == 0x80) ++i;
  return i;
}

size_t OneByte(std::string_view) {
  return 1;
}

Converter& Utf8ToCp932() {
  thread_local Converter c("CP932", "UTF-8");
  return c;
}
Converter& Cp932ToUtf8() {
  thread_local Converter c("UTF-8", "CP932");
  return c;
}

}  // namespace

std::string Cp932(std::string_view utf8) {
  return Utf8ToCp932().Convert(utf8, Utf8SkipLength);
}

std::string Utf8(std::string_view cp932) {
  return Cp932ToUtf8().Convert(cp932, OneByte);
}

std::string LocaleToCp932(std::string_view text) {
  const char* codeset = nl_langinfo(CODESET);
  std::string_view cs = codeset ? codeset : "";
  if (cs == "UTF-8" || cs == "utf8" || cs == "ANSI_X3.4-1968") {
    // Plain ASCII locales hand over bytes too; reading them as UTF-8 keeps
    // ASCII unchanged and turns any other byte into "?".
    return Cp932(text);
  }
  thread_local Converter c("CP932", codeset);
  return c.Convert(text, OneByte);
}

std::string Utf16UnitToCp932(std::uint16_t unit) {
  if (unit == 0) return std::string(1, '\0');
  if (unit >= 0xD800 && unit <= 0xDFFF) return "?";
  char utf8[3];
  size_t n;
  if (unit < 0x80) {
    utf8[0] = static_cast<char>(unit);
    n = 1;
  } else if (unit < 0x800) {
    utf8[0] = static_cast<char>(0xC0 | (unit >> 6));
    utf8[1] = static_cast<char>(0x80 | (unit & 0x3F));
    n = 2;
  } else {
    utf8[0] = static_cast<char>(0xE0 | (unit >> 12));
    utf8[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    utf8[2] = static_cast<char>(0x80 | (unit & 0x3F));
    n = 3;
  }
  return Cp932(std::string_view(utf8, n));
}

std::string LowerAscii(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string UpperAscii(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view TrimmedLeft(std::string_view text) {
  while (!text.empty() && IsBlankByte(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view Trimmed(std::string_view text) {
  text = TrimmedLeft(text);
  while (!text.empty() && IsBlankByte(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace peloria
