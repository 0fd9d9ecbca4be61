#include "app/address.h"

#include "platform/files.h"

namespace peloria {

std::optional<std::string> LocalPathOf(const std::string& argument) {
  constexpr std::string_view kLocalFilePrefix = "file:///";
  if (argument.starts_with(kLocalFilePrefix)) {
    // Dropping "file://" keeps the root "/". File managers and browsers hand
    // over percent-encoded addresses; an existing literal path always wins.
    std::string path = argument.substr(kLocalFilePrefix.size() - 1);
    if (!FileExists(path)) {
      auto decoded = PercentDecodedPath(path);
      if (decoded && decoded->find('\0') == std::string::npos) path = std::move(*decoded);
    }
    return path;
  }
  // Anything holding "://" is an address even when a file of that name exists.
  if (argument.find("://") == std::string::npos && FileExists(argument)) return argument;
  return std::nullopt;
}

}  // namespace peloria
