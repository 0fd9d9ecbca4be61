// An independent check of FormatGeneral's digits for the tests: the exact
// decimal expansion comes from std::to_chars with enough digits to be exact,
// the text is read back and its form checked.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace peloria::testing {

struct Digits {
  bool negative = false;
  std::string digits;  // no leading or trailing zeros; empty for zero
  int exponent = 0;    // the value is 0.digits * 10^exponent

  bool operator==(const Digits&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Digits& d) {
  return out << (d.negative ? "-" : "") << "0." << d.digits << "E" << d.exponent;
}

// Adds one unit in the last digit.
inline void Increment(Digits& d) {
  std::size_t i = d.digits.size();
  while (i > 0 && d.digits[i - 1] == '9') --i;
  if (i == 0) {
    d.digits = "1";
    ++d.exponent;
  } else {
    ++d.digits[i - 1];
    d.digits.resize(i);
  }
}

// The digits FormatGeneral shows for a finite, normal `value`: the exact
// expansion rounded to 18 digits ties to even, then to `precision` (2..18)
// digits half up.
inline Digits ReferenceDigits(long double value, int precision) {
  int binaryExponent = 0;
  std::frexp(value, &binaryExponent);
  // m * 2^q has at most 20 + |q| digits after the first.
  const int exactPrecision = std::abs(binaryExponent) + 100;
  std::string text(static_cast<std::size_t>(exactPrecision) + 20, '\0');
  auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), std::fabs(value),
                                 std::chars_format::scientific, exactPrecision);
  if (ec != std::errc()) std::abort();
  text.resize(static_cast<std::size_t>(end - text.data()));
  const std::size_t e = text.find('e');
  Digits d;
  d.negative = std::signbit(value);
  d.exponent = std::atoi(text.c_str() + e + 1) + 1;
  const std::string all = text.substr(0, 1) + text.substr(2, e - 2);
  d.digits = all.substr(0, 18);
  if (all.size() > 18) {
    const char next = all[18];
    const bool rest = all.find_first_not_of('0', 19) != std::string::npos;
    if (next > '5' || (next == '5' && (rest || (d.digits[17] - '0') % 2 != 0))) Increment(d);
  }
  if (static_cast<int>(d.digits.size()) > precision) {
    const bool up = d.digits[static_cast<std::size_t>(precision)] >= '5';
    d.digits.resize(static_cast<std::size_t>(precision));
    if (up) Increment(d);
  }
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

// Reads FormatGeneral's text back into digits and exponent. None when the text
// breaks a rule of the format: plain form exactly when -3 <= exponent <=
// precision, no trailing zeros after the separator, one digit before it in
// the exponent form, no "+" and no leading zeros in the exponent.
inline std::optional<Digits> ParseGeneral(std::string_view text, int precision, char separator) {
  auto isDigits = [](std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
  };
  Digits d;
  if (!text.empty() && text[0] == '-') {
    d.negative = true;
    text.remove_prefix(1);
  }
  const std::size_t e = text.find('E');
  const std::string_view mantissa = text.substr(0, e);
  const std::size_t point = mantissa.find(separator);
  const std::string_view whole = mantissa.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : mantissa.substr(point + 1);
  if (!isDigits(whole)) return std::nullopt;
  if (point != std::string_view::npos && (!isDigits(fraction) || fraction.back() == '0')) {
    return std::nullopt;
  }
  if (e != std::string_view::npos) {
    std::string_view exponent = text.substr(e + 1);
    bool minus = !exponent.empty() && exponent[0] == '-';
    if (minus) exponent.remove_prefix(1);
    if (!isDigits(exponent) || (exponent.size() > 1 && exponent[0] == '0')) return std::nullopt;
    if (whole.size() != 1 || whole[0] == '0') return std::nullopt;
    d.digits = std::string(whole) + std::string(fraction);
    d.exponent = std::atoi(std::string(exponent).c_str()) * (minus ? -1 : 1) + 1;
    if (d.exponent >= -3 && d.exponent <= precision) return std::nullopt;
    return d;
  }
  if (whole.size() > 1 && whole[0] == '0') return std::nullopt;
  const std::string all = std::string(whole) + std::string(fraction);
  const std::size_t first = all.find_first_not_of('0');
  if (first == std::string::npos) {
    // Zero: "0" alone, never with a sign.
    if (d.negative || point != std::string_view::npos) return std::nullopt;
    return Digits{};
  }
  d.exponent = static_cast<int>(whole.size()) - static_cast<int>(first);
  d.digits = all.substr(first);
  while (d.digits.back() == '0') d.digits.pop_back();
  if (d.exponent < -3 || d.exponent > precision) return std::nullopt;
  return d;
}

}  // namespace peloria::testing
