// A list of HTTP header lines as they appear on the wire, without their line
// ends: "Name: value" lines, possibly followed by continuation lines that
// begin with a space or a tab (the obsolete line folding of RFC 9112 5.2).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peloria {

class TIdHeaderList {
 public:
  // Written between name and value when a value is set.
  static constexpr std::string_view kNameValueSeparator = ": ";
  // A line longer than this is folded when a value is set.
  static constexpr std::size_t kFoldLength = 78;

  std::size_t Count() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }
  const std::string& operator[](std::size_t index) const { return lines_.at(index); }
  const std::vector<std::string>& Lines() const { return lines_; }

  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Delete(std::size_t index);
  void Clear() { lines_.clear(); }

  // The name of a line: its text before the first ":", empty without one.
  static std::string_view NameOf(std::string_view line);

  // The first line whose name equals `name`, letter case ignored.
  std::optional<std::size_t> IndexOfName(std::string_view name) const;

  // The value of header `name`, empty when there is no such line: the text
  // after the name and its ":", with the following continuation lines joined
  // (their leading blanks removed; one space in between unless the value so
  // far is empty or ends with a blank), then leading blanks removed.
  std::string Value(std::string_view name) const;

  // Replaces the line of header `name` and its continuation lines with
  // "name: value", folded at blanks so that lines stay within kFoldLength
  // where that can be done without changing the value that Value() gives
  // back; appends the line when there is none. An empty value removes the
  // header's line and its continuation lines.
  void SetValue(std::string_view name, std::string_view value);

  // Removes the line of header `name` and its continuation lines.
  void Remove(std::string_view name);

  bool operator==(const TIdHeaderList&) const = default;

 private:
  // One past the last continuation line of the line at `index`.
  std::size_t EndOfHeader(std::size_t index) const;

  std::vector<std::string> lines_;
};

}  // namespace peloria
