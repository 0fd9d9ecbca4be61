// The terminal modes of the peloria command: the start-up sequence without a
// window (--print), a dump of the Exif reader's fields (--exif), help and
// version. They never change what the window does.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace peloria {

// Exit codes of the terminal modes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // failure display; no Exif header
constexpr int kExitError = 2;    // an unhandled failure; a usage error

// Writes "peloria: INPUT: MESSAGE" and a line feed (UTF-8 texts).
void PrintError(std::ostream& err, const std::string& input, const std::string& message);

// Runs the start-up sequence on `address` (CP932) without showing the window
// and writes the summary label's text to `out` in UTF-8. The failure display
// writes its text to `err` instead (kExitFailure); an unhandled failure writes
// its message there (kExitError); both name the address. Needs a QApplication.
int PrintSummary(const std::string& address, std::ostream& out, std::ostream& err);

// Parses `file` (CP932) with the Exif reader and writes "ByteOrder: ..." and
// then every result field as "Name: value" lines in UTF-8. kExitFailure when
// the file has no Exif header, kExitError when reading fails.
int PrintExif(const std::string& file, std::ostream& out, std::ostream& err);

void PrintUsage(std::ostream& out);
void PrintHelp(std::ostream& out);
void PrintVersion(std::ostream& out);

}  // namespace peloria
