#include "host/json.h"

#include <cstdint>

#include "host/host_limits.h"

namespace peloria {

namespace {

class TJsonReader {
 public:
  explicit TJsonReader(std::string_view text) : text_(text) {}

  TJsonValue Document() {
    TJsonValue value = Value(0);
    SkipSpace();
    if (pos_ != text_.size()) Fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw EJsonError(what + " at byte " + std::to_string(pos_));
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
      ++pos_;
    }
  }

  void Expect(char c) {
    if (AtEnd() || Peek() != c) Fail(std::string("'") + c + "' expected");
    ++pos_;
  }

  TJsonValue Value(int depth) {
    SkipSpace();
    if (AtEnd()) Fail("value expected");
    TJsonValue value;
    switch (Peek()) {
      case '{':
        return Object(depth + 1);
      case '[':
        return Array(depth + 1);
      case '"':
        value.kind = TJsonValue::Kind::kString;
        value.text = String();
        return value;
      case 't':
        Literal("true");
        value.kind = TJsonValue::Kind::kTrue;
        return value;
      case 'f':
        Literal("false");
        value.kind = TJsonValue::Kind::kFalse;
        return value;
      case 'n':
        Literal("null");
        return value;
      default:
        value.kind = TJsonValue::Kind::kNumber;
        value.text = Number();
        return value;
    }
  }

  void Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) Fail("unknown word");
    pos_ += word.size();
  }

  void CheckDepth(int depth) const {
    if (depth > kMaxJsonDepth) Fail("nested deeper than " + std::to_string(kMaxJsonDepth));
  }

  TJsonValue Object(int depth) {
    CheckDepth(depth);
    TJsonValue value;
    value.kind = TJsonValue::Kind::kObject;
    Expect('{');
    SkipSpace();
    if (Peek() == '}') {
      ++pos_;
      return value;
    }
    for (;;) {
      SkipSpace();
      if (Peek() != '"') Fail("member name expected");
      std::string name = String();
      if (value.Member(name) != nullptr) Fail("member \"" + name + "\" given twice");
      SkipSpace();
      Expect(':');
      value.items.push_back(Value(depth));
      value.names.push_back(std::move(name));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      Expect('}');
      return value;
    }
  }

  TJsonValue Array(int depth) {
    CheckDepth(depth);
    TJsonValue value;
    value.kind = TJsonValue::Kind::kArray;
    Expect('[');
    SkipSpace();
    if (Peek() == ']') {
      ++pos_;
      return value;
    }
    for (;;) {
      value.items.push_back(Value(depth));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      Expect(']');
      return value;
    }
  }

  std::string Number() {
    const std::size_t start = pos_;
    auto digits = [this] {
      const std::size_t first = pos_;
      while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++pos_;
      return pos_ - first;
    };
    if (Peek() == '-') ++pos_;
    if (Peek() == '0') {
      ++pos_;
    } else if (digits() == 0) {
      Fail("value expected");
    }
    if (Peek() == '.') {
      ++pos_;
      if (digits() == 0) Fail("digit expected");
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      if (digits() == 0) Fail("digit expected");
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  unsigned Hex4() {
    unsigned code = 0;
    for (int i = 0; i < 4; ++i, ++pos_) {
      const char c = Peek();
      unsigned digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else {
        Fail("hexadecimal digit expected");
      }
      code = code << 4 | digit;
    }
    return code;
  }

  static void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // One UTF-8 sequence copied as it is, after checking it is the shortest
  // form of a scalar value (no surrogates, nothing above U+10FFFF).
  void Utf8Sequence(std::string& out) {
    const auto lead = static_cast<unsigned char>(Peek());
    std::size_t length;
    std::uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      Fail("invalid UTF-8");
    }
    if (text_.size() - pos_ < length) Fail("invalid UTF-8");
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text_[pos_ + i]);
      if ((next & 0xC0) != 0x80) Fail("invalid UTF-8");
      code = code << 6 | (next & 0x3F);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
      Fail("invalid UTF-8");
    }
    out.append(text_.substr(pos_, length));
    pos_ += length;
  }

  std::string String() {
    Expect('"');
    std::string out;
    for (;;) {
      if (AtEnd()) Fail("unterminated string");
      const auto c = static_cast<unsigned char>(Peek());
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c < 0x20) Fail("control character in a string");
      if (c >= 0x80) {
        Utf8Sequence(out);
        continue;
      }
      ++pos_;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      const char escape = Peek();
      ++pos_;
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out += escape;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t code = Hex4();
          if (code >= 0xDC00 && code <= 0xDFFF) Fail("unpaired surrogate");
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (text_.substr(pos_, 2) != "\\u") Fail("unpaired surrogate");
            pos_ += 2;
            const std::uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("unpaired surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          --pos_;
          Fail("unknown escape");
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

const TJsonValue* TJsonValue::Member(std::string_view name) const {
  if (kind != Kind::kObject) return nullptr;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return &items[i];
  }
  return nullptr;
}

TJsonValue ParseJson(std::string_view text) {
  return TJsonReader(text).Document();
}

std::string JsonQuoted(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace peloria
