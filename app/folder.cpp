#include "app/folder.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "picture/formats.h"
#include "picture/graphic.h"
#include "platform/cp932.h"
#include "platform/files.h"

namespace peloria {

namespace {

bool Digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

unsigned char Folded(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// <0, 0, >0 as `a` comes before, with or after `b` in natural order.
int NaturalCompare(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (Digit(ca) && Digit(cb)) {
      // Numbers of any length: the one with more significant digits is the
      // larger; equally long ones compare digit by digit.
      while (i < a.size() && a[i] == '0') ++i;
      while (j < b.size() && b[j] == '0') ++j;
      std::size_t ei = i;
      std::size_t ej = j;
      while (ei < a.size() && Digit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && Digit(static_cast<unsigned char>(b[ej]))) ++ej;
      if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
      if (const int c = a.substr(i, ei - i).compare(b.substr(j, ej - j)); c != 0) return c;
      i = ei;
      j = ej;
      continue;
    }
    if (Folded(ca) != Folded(cb)) return Folded(ca) < Folded(cb) ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool RegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
  const int c = NaturalCompare(a, b);
  return c != 0 ? c < 0 : a < b;
}

bool ShowableName(const std::string& name) {
  if (name.empty() || name.front() == '.') return false;
  const TGraphicClass* kind = FileFormats().Find(PathExtension(Cp932(name)));
  return kind != nullptr && !kind->InheritsFrom(TMetafile::StaticClass());
}

std::vector<std::string> FolderPictures(const std::string& folder) {
  std::vector<std::string> names;
  FolderEnumerator entries(folder);
  FolderEnumerator::Entry entry;
  while (entries.Next(entry)) {
    if (!entry.isDirectory && ShowableName(entry.name) && RegularFile(folder + entry.name)) {
      names.push_back(entry.name);
    }
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  return names;
}

std::optional<std::string> Stepped(const std::vector<std::string>& pictures,
                                   const std::string& name, TStep step) {
  if (pictures.empty()) return std::nullopt;
  const auto less = [](const std::string& a, const std::string& b) { return NaturalLess(a, b); };
  std::optional<std::string> to;
  switch (step) {
    case TStep::kFirst:
      to = pictures.front();
      break;
    case TStep::kLast:
      to = pictures.back();
      break;
    case TStep::kNext: {
      const auto after = std::upper_bound(pictures.begin(), pictures.end(), name, less);
      if (after != pictures.end()) to = *after;
      break;
    }
    case TStep::kPrevious: {
      const auto at = std::lower_bound(pictures.begin(), pictures.end(), name, less);
      if (at != pictures.begin()) to = *(at - 1);
      break;
    }
  }
  if (to == name) return std::nullopt;
  return to;
}

TFolderPlace PlaceOf(const std::string& localPath) {
  std::error_code failed;
  std::filesystem::path path = std::filesystem::absolute(localPath, failed);
  if (failed) path = localPath;
  path = path.lexically_normal();
  std::string folder = path.parent_path().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return {folder, path.filename().string()};
}

std::string FolderAddress(const std::string& folder, const std::string& name) {
  return "file://" + folder + name;
}

}  // namespace peloria
