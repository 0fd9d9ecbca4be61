#include "platform/files.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/cp932.h"

namespace peloria {

std::string ProgramFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return "./";
    if (static_cast<size_t>(n) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(n));
      return Cp932(path.substr(0, path.rfind('/') + 1));
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(Utf8(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<std::string> PercentDecodedPath(const std::string& path) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  // The address is CP932; its escapes stand for UTF-8 bytes. Decode the
  // escapes into a UTF-8 string and convert the whole once.
  std::string utf8 = Utf8(path);
  std::string decoded;
  bool any = false;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '%' && i + 2 < utf8.size() && hex(utf8[i + 1]) >= 0 && hex(utf8[i + 2]) >= 0) {
      decoded.push_back(static_cast<char>(hex(utf8[i + 1]) * 16 + hex(utf8[i + 2])));
      i += 2;
      any = true;
    } else {
      decoded.push_back(utf8[i]);
    }
  }
  if (!any) return std::nullopt;
  return Cp932(decoded);
}

FolderEnumerator::FolderEnumerator(const std::string& folder)
    : native_(Utf8(folder)), dir_(::opendir(native_.c_str())) {}

FolderEnumerator::~FolderEnumerator() {
  if (dir_ != nullptr) ::closedir(static_cast<DIR*>(dir_));
}

bool FolderEnumerator::Next(Entry& entry) {
  if (dir_ == nullptr) return false;
  const dirent* d = ::readdir(static_cast<DIR*>(dir_));
  if (d == nullptr) return false;
  entry.name = Cp932(d->d_name);
  if (d->d_type == DT_UNKNOWN) {
    // Some file systems do not fill in the type; ask without following links.
    struct stat st;
    std::string full = native_ + (native_.empty() || native_.back() == '/' ? "" : "/") + d->d_name;
    entry.isDirectory = ::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  } else {
    entry.isDirectory = d->d_type == DT_DIR;
  }
  return true;
}

std::string SpecialFolderPath(int csidl) {
  if (csidl != kCsidlInternetCache) return {};
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] != '\0') {
    return Cp932(xdg);
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    return Cp932(std::string(home) + "/.cache");
  }
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    return Cp932(std::string(pw->pw_dir) + "/.cache");
  }
  return {};
}

namespace {

std::string_view Trim(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& iniPath) {
  constexpr size_t kMaxValue = 2047;  // a 2048-byte buffer with its terminating zero
  std::ifstream in(Utf8(iniPath), std::ios::binary);
  if (!in) return fallback;
  bool inSection = false;
  std::string line;
  while (std::getline(in, line)) {
    std::string_view l = Trim(line);
    if (l.empty() || l.front() == ';') continue;
    if (l.front() == '[') {
      size_t close = l.find(']');
      inSection =
          close != std::string_view::npos && SameTextAscii(Trim(l.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    size_t eq = l.find('=');
    if (eq == std::string_view::npos || !SameTextAscii(Trim(l.substr(0, eq)), key)) continue;
    std::string_view value = Trim(l.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kMaxValue));
  }
  return fallback;
}

}  // namespace peloria
