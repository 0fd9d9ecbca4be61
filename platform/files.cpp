#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/cp932.h"
#include "platform/platform_limits.h"

namespace peloria {

std::string ProgramFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return "./";
    if (static_cast<size_t>(n) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(n));
      return path.substr(0, path.rfind('/') + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && path.find('\0') == std::string::npos && ::stat(path.c_str(), &st) == 0 &&
         S_ISREG(st.st_mode);
}

bool IsSpecialFile(const std::string& path) {
  struct stat st;
  return !path.empty() && path.find('\0') == std::string::npos && ::stat(path.c_str(), &st) == 0 &&
         (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ||
          S_ISSOCK(st.st_mode));
}

std::optional<std::string> PercentDecodedPath(const std::string& path) {
  std::string decoded;
  bool any = false;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size() && HexDigitValue(path[i + 1]) >= 0 &&
        HexDigitValue(path[i + 2]) >= 0) {
      decoded.push_back(
          static_cast<char>(HexDigitValue(path[i + 1]) * 16 + HexDigitValue(path[i + 2])));
      i += 2;
      any = true;
    } else {
      decoded.push_back(path[i]);
    }
  }
  if (!any) return std::nullopt;
  return decoded;
}

FolderEnumerator::FolderEnumerator(const std::string& folder)
    : folder_(folder),
      dir_(folder.find('\0') == std::string::npos ? ::opendir(folder.c_str()) : nullptr) {}

FolderEnumerator::~FolderEnumerator() {
  if (dir_ != nullptr) ::closedir(static_cast<DIR*>(dir_));
}

bool FolderEnumerator::Next(Entry& entry) {
  if (dir_ == nullptr) return false;
  const dirent* d = ::readdir(static_cast<DIR*>(dir_));
  if (d == nullptr) return false;
  entry.name = d->d_name;
  if (d->d_type == DT_UNKNOWN) {
    // Some file systems do not fill in the type; ask without following links.
    struct stat st;
    std::string full = folder_ + (folder_.empty() || folder_.back() == '/' ? "" : "/") + d->d_name;
    entry.isDirectory = ::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  } else {
    entry.isDirectory = d->d_type == DT_DIR;
  }
  return true;
}

namespace {

// An environment variable's value; none when unset or empty.
std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] == '\0') return std::nullopt;
  return std::string(value);
}

// A base directory of the XDG rules: the variable when it holds an absolute
// path, else `fallback` under the home folder; empty when there is no home.
std::string XdgFolder(const char* variable, const char* fallback) {
  if (auto value = Environment(variable); value && value->front() == '/') return *value;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/" + fallback;
}

// Folders that hold installed programs. Root may write them, but a program
// started from there is never a portable installation.
bool IsSystemProgramFolder(const std::string& folder) {
  for (const char* system : {"/bin/", "/sbin/", "/usr/bin/", "/usr/sbin/", "/usr/local/bin/",
                             "/usr/local/sbin/", "/usr/games/"}) {
    if (folder == system) return true;
  }
  return false;
}

}  // namespace

std::string HomeFolder() {
  if (auto home = Environment("HOME")) return *home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    return pw->pw_dir;
  }
  return {};
}

std::string SpecialFolderPath(int csidl) {
  if (csidl != kCsidlInternetCache) return {};
  if (auto xdg = Environment("XDG_CACHE_HOME")) return *xdg;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.cache";
}

ProgramFiles ProgramFilesFor(const std::string& programFolder) {
  constexpr char kIniName[] = "Peloria.ini";
  ProgramFiles files{programFolder, programFolder + kIniName};
  const bool portable =
      ::access(programFolder.c_str(), W_OK | X_OK) == 0 && !IsSystemProgramFolder(programFolder);
  if (portable) return files;

  const std::string cache = XdgFolder("XDG_CACHE_HOME", ".cache");
  if (!cache.empty()) files.downloadFolder = cache + "/peloria/";
  if (!FileExists(files.iniPath)) {
    const std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
    if (!config.empty()) files.iniPath = config + "/peloria/" + kIniName;
  }
  return files;
}

void MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    ::mkdir(folder.substr(0, slash).c_str(), 0700);
    if (slash == std::string::npos) break;
  }
}

namespace {

// The first MiB of a regular file; none for anything else. Opening never
// blocks (a FIFO would wait for a writer), and a device never streams without
// end into memory.
std::optional<std::string> ReadSettingsFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<std::string> text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    std::string bytes(std::min(kMaxSettingsBytes, static_cast<size_t>(st.st_size)), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    text = std::move(bytes);
  }
  ::close(fd);
  return text;
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& iniPath) {
  const std::optional<std::string> text = ReadSettingsFile(iniPath);
  if (!text) return fallback;
  std::string_view rest = *text;
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);  // UTF-8 byte-order mark
  bool inSection = false;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view l = Trimmed(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (l.empty() || l.front() == ';') continue;
    if (l.front() == '[') {
      size_t close = l.find(']');
      inSection = close != std::string_view::npos &&
                  SameTextAscii(Trimmed(l.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    size_t eq = l.find('=');
    if (eq == std::string_view::npos || !SameTextAscii(Trimmed(l.substr(0, eq)), key)) continue;
    std::string_view value = Trimmed(l.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kMaxProfileValue));
  }
  return fallback;
}

}  // namespace peloria
