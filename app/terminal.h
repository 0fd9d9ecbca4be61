// The terminal modes of the peloria command that need neither the window part
// nor the web client: a dump of the Exif reader's fields (--exif), help and
// version, and the error line every mode writes (the summary print, --print,
// is app/print_main.h).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace peloria {

// Exit codes of the terminal modes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // failure display; no Exif header
constexpr int kExitError = 2;    // an unhandled failure; a usage error

// Writes "peloria: INPUT: MESSAGE" and a line feed (UTF-8 texts), control
// bytes of both escaped as "\\xHH" (EscapeControls).
void PrintError(std::ostream& err, const std::string& input, const std::string& message);

// Parses the local file that `argument` names (a file:/// address or a path,
// as the window takes them) with the Exif reader and writes "ByteOrder: ..."
// and then each field the file has as "Name: value" lines in UTF-8, or with
// `json` one JSON object (see app/exif_report.h). kExitFailure, with nothing
// on `out`, when the file has no Exif header; kExitError when reading fails.
int PrintExif(const std::string& argument, std::ostream& out, std::ostream& err, bool json = false);

void PrintUsage(std::ostream& out);
void PrintHelp(std::ostream& out);
void PrintVersion(std::ostream& out);

}  // namespace peloria
