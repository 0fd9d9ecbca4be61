#include "app/exif_report.h"

#include <array>
#include <charconv>
#include <cmath>
#include <concepts>
#include <type_traits>
#include <variant>

#include "platform/cp932.h"
#include "text/format.h"

namespace peloria {

namespace {

constexpr char kHex[] = "0123456789abcdef";

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// A stored rational text "n/d" as its two numbers; none for any other text
// (a rational field fed by an entry of another type has no text).
std::optional<std::pair<std::int64_t, std::int64_t>> Fraction(const std::string& text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) return std::nullopt;
  std::int64_t n = 0, d = 0;
  const char* end = text.data() + text.size();
  auto [p, e1] = std::from_chars(text.data(), text.data() + slash, n);
  auto [q, e2] = std::from_chars(text.data() + slash + 1, end, d);
  if (e1 != std::errc() || e2 != std::errc() || p != text.data() + slash || q != end)
    return std::nullopt;
  return std::pair{n, d};
}

// ------------------------------------------------------------------- lines

std::string Show(const std::string& text) {
  return EscapeControls(Utf8(text));
}

std::string Show(const TExifRational& rational) {
  return Show(rational.Text) + " | " + Utf8(FormatGeneral(rational.Value, 15));
}

std::string Show(const TExifRationals& list) {
  std::string texts, values;
  for (const TExifRational& part : list.Parts) {
    if (!texts.empty()) texts += ' ', values += ' ';
    texts += Show(part.Text);
    values += Utf8(FormatGeneral(part.Value, 15));
  }
  return texts + " | " + values;
}

std::string Show(const TExifStringValue& coded) {
  return std::to_string(coded.Value) + " | " + Show(coded.Text);
}

std::string OrientationName(TImageOrientation orientation) {
  static constexpr std::array<const char*, 9> kNames = {
      "ioUnknown", "ioTopLeft",  "ioTopRight",    "ioBottomLeft", "ioBottomRight",
      "ioLeftTop", "ioRightTop", "ioRightBottom", "ioLeftBottom"};
  const auto index = static_cast<std::size_t>(orientation);
  return index < kNames.size() ? kNames[index] : std::to_string(index);
}

std::string Show(TImageOrientation orientation) {
  return OrientationName(orientation);
}

std::string Show(const TExifGpsPosition& position) {
  std::string text = Utf8(FormatGeneral(position.Latitude, 15)) + " " +
                     Utf8(FormatGeneral(position.Longitude, 15));
  if (position.Altitude) text += " " + Utf8(FormatGeneral(*position.Altitude, 15));
  return text;
}

template <std::integral Integer>
std::string Show(Integer value) {
  return std::to_string(value);
}

// ------------------------------------------------------------------- JSON

std::string Json(const std::string& text) {
  return JsonString(Utf8(text));
}

std::string Json(const TExifRational& rational) {
  auto fraction = Fraction(rational.Text);
  if (!fraction) return JsonNumber(rational.Value);
  return "{\"rational\": [" + std::to_string(fraction->first) + ", " +
         std::to_string(fraction->second) +
         "], \"value\": " + (fraction->second == 0 ? "null" : JsonNumber(rational.Value)) + "}";
}

std::string Json(const TExifRationals& list) {
  std::string rationals, values;
  for (const TExifRational& part : list.Parts) {
    if (!rationals.empty()) rationals += ", ", values += ", ";
    auto fraction = Fraction(part.Text);
    rationals += fraction ? "[" + std::to_string(fraction->first) + ", " +
                                std::to_string(fraction->second) + "]"
                          : "null";
    values += fraction && fraction->second == 0 ? "null" : JsonNumber(part.Value);
  }
  return "{\"rational\": [" + rationals + "], \"value\": [" + values + "]}";
}

std::string Json(const TExifStringValue& coded) {
  return "{\"code\": " + std::to_string(coded.Value) + ", \"text\": " + Json(coded.Text) + "}";
}

std::string Json(TImageOrientation orientation) {
  return JsonString(OrientationName(orientation));
}

std::string Json(const std::vector<std::string>& lines) {
  std::string array;
  for (const std::string& line : lines) array += (array.empty() ? "" : ", ") + Json(line);
  return "[" + array + "]";
}

std::string Json(const TExifGpsPosition& position) {
  std::string object =
      "{\"lat\": " + JsonNumber(position.Latitude) + ", \"lon\": " + JsonNumber(position.Longitude);
  if (position.Altitude) object += ", \"alt\": " + JsonNumber(*position.Altitude);
  return object + "}";
}

template <std::integral Integer>
std::string Json(Integer value) {
  return std::to_string(value);
}

// Calls `write(row, value)` for each field the walk filled, in table order.
template <typename Write>
void ForEachPresent(const TExifInfo& exif, Write write) {
  const auto tags = ExifTags();
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (tags[i].name == nullptr || !exif.Has(i)) continue;
    std::visit(
        [&](const auto& member) {
          if constexpr (!std::is_same_v<std::decay_t<decltype(member)>, std::monostate>)
            write(tags[i], exif.*member);
        },
        tags[i].field);
  }
}

}  // namespace

std::string EscapeControls(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (unsigned char c : utf8) {
    if (IsControl(c)) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (IsControl(c)) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0x0F];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  std::array<char, 32> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  if (error != std::errc()) return "null";
  return std::string(buffer.data(), end);
}

std::string ExifLines(const TExifInfo& exif) {
  std::string out =
      std::string("ByteOrder: ") + (exif.MotorolaOrder() ? "Motorola" : "Intel") + "\n";
  ForEachPresent(exif, [&out](const TExifTag& row, const auto& value) {
    if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::vector<std::string>>) {
      for (const std::string& line : value) out += std::string(row.name) + ": " + Show(line) + "\n";
    } else {
      out += std::string(row.name) + ": " + Show(value) + "\n";
    }
  });
  return out;
}

std::string ExifJson(const TExifInfo& exif) {
  std::string out =
      std::string("{\n  \"ByteOrder\": ") + (exif.MotorolaOrder() ? "\"Motorola\"" : "\"Intel\"");
  ForEachPresent(exif, [&out](const TExifTag& row, const auto& value) {
    out += ",\n  " + JsonString(row.name) + ": " + Json(value);
  });
  return out + "\n}\n";
}

namespace {

// The summary's last two lines, built from the reader's texts as the window
// builds them.
std::string FreeTextLines(const TExifInfo& exif) {
  return Cp932("撮影日時          :") + exif.DateTimeOriginal + "\n" +
         Cp932("機種名            :") + exif.Model + "\n";
}

// The summary's lines, UTF-8, each without its line feed, control bytes
// escaped; the free texts at its end are escaped as they are, line feeds
// included.
std::vector<std::string> SummaryLines(const std::string& summary, const TExifInfo& exif) {
  std::string head = summary, tail;
  const std::string free = FreeTextLines(exif);
  if (exif.Walked() && summary.ends_with(free)) {
    head = summary.substr(0, summary.size() - free.size());
    tail = free;
  }
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = head.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(Utf8(head.substr(start, end - start)));
  if (start < head.size()) lines.push_back(Utf8(head.substr(start)));
  if (!tail.empty()) {
    lines.push_back(Utf8(Cp932("撮影日時          :") + exif.DateTimeOriginal));
    lines.push_back(Utf8(Cp932("機種名            :") + exif.Model));
  }
  return lines;
}

}  // namespace

std::string TerminalSummary(const std::string& summary, const TExifInfo& exif) {
  std::string out;
  for (const std::string& line : SummaryLines(summary, exif)) out += EscapeControls(line) + "\n";
  // The summary without Exif data is one line without a line feed.
  if (!summary.ends_with('\n') && !out.empty()) out.pop_back();
  return out;
}

std::string SummaryJson(const std::string& summary, const TExifInfo& exif) {
  std::string out = "{\n  \"summary\": [";
  bool first = true;
  for (const std::string& line : SummaryLines(summary, exif)) {
    out += (first ? "\n    " : ",\n    ") + JsonString(line);
    first = false;
  }
  out += "\n  ]";
  if (exif.Walked()) {
    // ExifJson's object, indented one level further.
    std::string object = ExifJson(exif);
    object.pop_back();  // its final line feed
    std::string indented;
    for (char c : object) indented += c == '\n' ? std::string("\n  ") : std::string(1, c);
    out += ",\n  \"exif\": " + indented;
  }
  return out + "\n}\n";
}

std::optional<std::string> MapAddress(const TExifInfo& exif) {
  auto row = ExifFieldRow(&TExifResults::GPSPosition);
  if (!row || !exif.Has(*row)) return std::nullopt;
  const double lat = exif.GPSPosition.Latitude, lon = exif.GPSPosition.Longitude;
  if (!(std::fabs(lat) <= 90) || !(std::fabs(lon) <= 180)) return std::nullopt;
  // Six decimals place a point within about 10 cm; to_chars writes a point
  // whatever the user's locale.
  auto fixed = [](double value) {
    std::array<char, 32> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 6);
    return std::string(buffer.data(), end);
  };
  return "https://www.openstreetmap.org/?mlat=" + fixed(lat) + "&mlon=" + fixed(lon) + "#map=15/" +
         fixed(lat) + "/" + fixed(lon);
}

}  // namespace peloria
