#include "app/transfer.h"

#include <array>

#include "platform/files.h"

namespace peloria {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

// "file:///p" and "file://localhost/p" as "file://" + the decoded path;
// other addresses as they are.
std::string FileAddress(std::string_view uri) {
  std::string_view path;
  if (StartsWithFolded(uri, "file:///")) {
    path = uri.substr(7);
  } else if (StartsWithFolded(uri, "file://localhost/")) {
    path = uri.substr(16);
  } else {
    return std::string(uri);
  }
  const std::string literal(path);
  return "file://" + PercentDecodedPath(literal).value_or(literal);
}

// The value of the attribute `name` in the tag text `tag` (after "<img").
std::optional<std::string_view> Attribute(std::string_view tag, std::string_view name) {
  for (std::size_t at = 0; at < tag.size(); ++at) {
    // The name must stand alone: after a blank, followed by "=" (blanks
    // allowed around it).
    if (!StartsWithFolded(tag.substr(at), name) ||
        (at > 0 && kBlanks.find(tag[at - 1]) == std::string_view::npos && tag[at - 1] != '/')) {
      continue;
    }
    std::size_t i = at + name.size();
    while (i < tag.size() && kBlanks.find(tag[i]) != std::string_view::npos) ++i;
    if (i >= tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && kBlanks.find(tag[i]) != std::string_view::npos) ++i;
    if (i >= tag.size()) return std::nullopt;
    if (tag[i] == '"' || tag[i] == '\'') {
      const std::size_t end = tag.find(tag[i], i + 1);
      if (end == std::string_view::npos) return std::nullopt;
      return tag.substr(i + 1, end - i - 1);
    }
    std::size_t end = i;
    while (end < tag.size() && kBlanks.find(tag[end]) == std::string_view::npos &&
           tag[end] != '>') {
      ++end;
    }
    return tag.substr(i, end - i);
  }
  return std::nullopt;
}

std::string Unescaped(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, char>, 6> kReferences = {{
      {"&amp;", '&'},
      {"&quot;", '"'},
      {"&#39;", '\''},
      {"&#x27;", '\''},
      {"&lt;", '<'},
      {"&gt;", '>'},
  }};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    for (const auto& [reference, c] : kReferences) {
      if (text.substr(i, reference.size()) == reference) {
        out += c;
        i += reference.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

}  // namespace

std::optional<std::string> UriListAddress(std::string_view list) {
  while (!list.empty()) {
    const std::size_t end = list.find('\n');
    const std::string_view line = Trimmed(list.substr(0, end));
    if (!line.empty() && line.front() != '#') return FileAddress(line);
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return std::nullopt;
}

std::optional<std::string> HtmlImageAddress(std::string_view html) {
  for (std::size_t at = 0; at < html.size(); ++at) {
    if (html[at] != '<' || !StartsWithFolded(html.substr(at + 1), "img")) continue;
    const std::size_t close = html.find('>', at);
    const std::string_view tag = html.substr(
        at + 4, close == std::string_view::npos ? std::string_view::npos : close - at - 4);
    const std::optional<std::string_view> src = Attribute(tag, "src");
    if (!src) continue;
    const std::string address = Unescaped(Trimmed(*src));
    if (address.empty() || StartsWithFolded(address, "data:")) return std::nullopt;
    return address;
  }
  return std::nullopt;
}

std::optional<std::string> TextAddress(std::string_view text) {
  const std::string_view trimmed = Trimmed(text);
  const std::string_view first = Trimmed(trimmed.substr(0, trimmed.find('\n')));
  if (StartsWithFolded(first, "http://") || StartsWithFolded(first, "https://")) {
    return std::string(first);
  }
  if (StartsWithFolded(first, "file://")) return FileAddress(first);
  if (!first.empty() && first.front() == '/') return std::string(first);
  return std::nullopt;
}

}  // namespace peloria
