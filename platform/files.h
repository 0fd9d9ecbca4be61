// The file system as the program sees it: paths are CP932 byte strings with
// "/" as the delimiter and are converted to the system's UTF-8 names here.
#pragma once

#include <optional>
#include <string>

namespace peloria {

constexpr char kPathDelimiter = '/';

// The folder of the running executable (symbolic links resolved), ending with
// "/".
std::string ProgramFolder();

// True when `path` names an existing entry that is not a folder.
bool FileExists(const std::string& path);

// Percent-decodes %XX escapes (the decoded bytes read as UTF-8 and converted
// to CP932); none when the text holds no valid escape.
std::optional<std::string> PercentDecodedPath(const std::string& path);

// The entries of one folder in the order the file system gives them, "." and
// ".." included. A folder that cannot be opened yields no entries.
class FolderEnumerator {
 public:
  struct Entry {
    std::string name;  // CP932
    bool isDirectory;  // a symbolic link is never a directory here
  };

  explicit FolderEnumerator(const std::string& folder);
  ~FolderEnumerator();
  FolderEnumerator(const FolderEnumerator&) = delete;
  FolderEnumerator& operator=(const FolderEnumerator&) = delete;

  // Fills `entry` with the next entry; false when there is none.
  bool Next(Entry& entry);

 private:
  std::string native_;
  void* dir_;  // DIR*
};

// The path of a shell special folder. Number 32 (the web browser's Internet
// cache) is $XDG_CACHE_HOME, else $HOME/.cache, else the .cache folder in the
// home folder of the user's password entry; empty when none can be named.
// Other numbers give empty text.
constexpr int kCsidlInternetCache = 32;
std::string SpecialFolderPath(int csidl);

// Reads one value from an INI file: [section] lines open sections, key=value
// lines follow. Section and key names match without regard to A-Z letter
// case; the first matching key wins; the value is trimmed of blanks and of one
// pair of enclosing double or single quotes, then cut to 2047 bytes. Lines
// starting with ";" are comments. A missing or unreadable file, section or key
// gives `fallback`.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& iniPath);

}  // namespace peloria
