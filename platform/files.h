// The file system as the program sees it. Paths are the file system's own
// bytes (as the command line gives them, or percent-decoded from a file
// address), with "/" as the delimiter: they are never converted, so any name
// the file system holds can be opened. Names are turned into CP932 only where
// they are shown or compared.
#pragma once

#include <optional>
#include <string>

namespace peloria {

constexpr char kPathDelimiter = '/';

// The folder of the running executable (symbolic links resolved), ending with
// "/".
std::string ProgramFolder();

// The user's home folder: $HOME, else the password entry's; empty when
// neither names one.
std::string HomeFolder();

// True when `path` names an existing regular file (symbolic links followed).
// Folders, FIFOs, devices and sockets are no files here, and neither is a path
// holding a zero byte (no file system name can hold one).
bool FileExists(const std::string& path);

// True when `path` names a FIFO, a device or a socket (symbolic links
// followed): an entry that has a name like a file's but holds no file.
bool IsSpecialFile(const std::string& path);

// Percent-decodes %XX escapes into bytes; none when the text holds no valid
// escape.
std::optional<std::string> PercentDecodedPath(const std::string& path);

// The entries of one folder in the order the file system gives them, "." and
// ".." included. A folder that cannot be opened yields no entries.
class FolderEnumerator {
 public:
  struct Entry {
    std::string name;  // the file system's bytes
    bool isDirectory;  // a symbolic link is never a directory here
  };

  explicit FolderEnumerator(const std::string& folder);
  ~FolderEnumerator();
  FolderEnumerator(const FolderEnumerator&) = delete;
  FolderEnumerator& operator=(const FolderEnumerator&) = delete;

  // Fills `entry` with the next entry; false when there is none.
  bool Next(Entry& entry);

 private:
  std::string folder_;
  void* dir_;  // DIR*
};

// The path of a shell special folder. Number 32 (the web browser's Internet
// cache) is $XDG_CACHE_HOME, else $HOME/.cache, else the .cache folder in the
// home folder of the user's password entry; empty when none can be named.
// Other numbers give empty text.
constexpr int kCsidlInternetCache = 32;
std::string SpecialFolderPath(int csidl);

// Where the program keeps its files. A program folder that the user may write
// is a portable installation: temp.jpg and Peloria.ini both live there. An
// installed program (a folder the user cannot write) downloads into
// $XDG_CACHE_HOME/peloria/ (else ~/.cache/peloria/), and reads
// the Peloria.ini beside the program when there is one, else the one in
// $XDG_CONFIG_HOME/peloria/ (else ~/.config/peloria/). Relative XDG variables
// are ignored, as the base directory rules say.
struct ProgramFiles {
  std::string downloadFolder;  // ends with "/"
  std::string iniPath;
};
ProgramFiles ProgramFilesFor(const std::string& programFolder);

// Makes `folder` and any missing parents, private to the user (mode 700, as
// the XDG rules ask for the folders they name). A failure is not reported
// here: it shows when a file in the folder cannot be made.
void MakeFolders(const std::string& folder);

// Reads one value from an INI file: [section] lines open sections, key=value
// lines follow. Section and key names match without regard to A-Z letter
// case; the first matching key wins; the value is trimmed of blanks and of one
// pair of enclosing double or single quotes, then cut to 2047 bytes. Lines
// starting with ";" are comments; a UTF-8 byte-order mark at the start is
// skipped. Only the first MiB of a regular file is read: a missing or
// unreadable file, a folder, FIFO or device count as absent and give
// `fallback`, as do a missing section or key.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& iniPath);

}  // namespace peloria
