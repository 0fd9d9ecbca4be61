// The pictures of a local photo's folder, for stepping from one to the next:
// the files Peloria can show, hidden ones left out, in natural name order.
// The folder is listed again at every step, so that a file deleted since is
// passed over and a new one takes its place in the order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peloria {

// Natural name order: a run of digits compares by its number (IMG_2 before
// IMG_10; leading zeros do not count), the letters A-Z without regard to
// case, every other byte by its value (so UTF-8 names by code point). Names
// equal so far compare by their bytes, so that the order is total.
bool NaturalLess(std::string_view a, std::string_view b);

// True for the name of a file Peloria can show: not hidden (no leading
// "."), with an extension the file-type registry lists for a kind with
// pixels (metafiles are recognised but never shown).
bool ShowableName(const std::string& name);

// The showable pictures among the regular files of `folder` (the file
// system's bytes, ending with "/"; links to regular files count), their
// names in natural order. A folder that cannot be read has none.
std::vector<std::string> FolderPictures(const std::string& folder);

enum class TStep { kNext, kPrevious, kFirst, kLast };

// The name that `step` from `name` reaches in `pictures` (natural order):
// the next or previous name, or the first or last. `name` need not be in
// the list (a deleted file keeps its place in the order). None past either
// end: there is no wrap-around, and none when the step would stay on `name`.
std::optional<std::string> Stepped(const std::vector<std::string>& pictures,
                                   const std::string& name, TStep step);

// A local path split into its folder (absolute, ending with "/") and its
// name.
struct TFolderPlace {
  std::string folder;
  std::string name;
};
TFolderPlace PlaceOf(const std::string& localPath);

// The address of a picture in a folder: "file://" and its path.
std::string FolderAddress(const std::string& folder, const std::string& name);

}  // namespace peloria
