#include "http/header_list.h"

#include "platform/cp932.h"

namespace peloria {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A place to fold `line` at: a single space, neither first nor last, not
// next to another blank, at or after `from`, and followed by a character that
// unfolding keeps (it drops every character up to the space from the front of
// a continuation line). Unfolding then inserts exactly that one space again.
// The latest such place that keeps the first part within kFoldLength is
// preferred, the earliest one after it otherwise.
std::optional<std::size_t> FoldPoint(std::string_view line, std::size_t from) {
  std::optional<std::size_t> best;
  for (std::size_t p = from < 1 ? 1 : from; p + 1 < line.size(); ++p) {
    if (line[p] != ' ' || IsBlank(line[p - 1]) || IsBlankByte(line[p + 1])) {
      continue;
    }
    if (p <= TIdHeaderList::kFoldLength || !best) best = p;
    if (p > TIdHeaderList::kFoldLength) break;
  }
  return best;
}

}  // namespace

void TIdHeaderList::Delete(std::size_t index) {
  if (index < lines_.size()) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::string_view TIdHeaderList::NameOf(std::string_view line) {
  std::size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
}

std::optional<std::size_t> TIdHeaderList::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (SameTextAscii(NameOf(lines_[i]), name)) return i;
  }
  return std::nullopt;
}

std::size_t TIdHeaderList::EndOfHeader(std::size_t index) const {
  std::size_t end = index + 1;
  while (end < lines_.size() && !lines_[end].empty() && IsBlank(lines_[end][0])) ++end;
  return end;
}

std::string TIdHeaderList::Value(std::string_view name) const {
  std::optional<std::size_t> index = IndexOfName(name);
  if (!index) return {};
  const std::string& line = lines_[*index];
  std::size_t colon = line.find(':');
  std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
  std::size_t end = EndOfHeader(*index);
  for (std::size_t i = *index + 1; i < end; ++i) {
    if (!value.empty() && !IsBlank(value.back())) value += ' ';
    value += TrimmedLeft(lines_[i]);
  }
  return std::string(TrimmedLeft(value));
}

void TIdHeaderList::Remove(std::string_view name) {
  std::optional<std::size_t> index = IndexOfName(name);
  if (!index) return;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*index),
               lines_.begin() + static_cast<std::ptrdiff_t>(EndOfHeader(*index)));
}

void TIdHeaderList::SetValue(std::string_view name, std::string_view value) {
  std::optional<std::size_t> index = IndexOfName(name);
  std::size_t at = index.value_or(lines_.size());
  if (index) {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*index),
                 lines_.begin() + static_cast<std::ptrdiff_t>(EndOfHeader(*index)));
  }
  if (value.empty()) return;

  std::string rest = std::string(name) + std::string(kNameValueSeparator) + std::string(value);
  // The first line is never folded inside the name and its separator.
  std::size_t from = name.size() + kNameValueSeparator.size();
  std::vector<std::string> folded;
  while (rest.size() > kFoldLength) {
    std::optional<std::size_t> p = FoldPoint(rest, from);
    if (!p) break;
    folded.push_back(rest.substr(0, *p));
    rest.erase(0, *p);  // the continuation line begins with the space
    from = 1;
  }
  folded.push_back(std::move(rest));
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), folded.begin(), folded.end());
}

}  // namespace peloria
