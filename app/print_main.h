// The summary print (--print) of the peloria command: the window's start
// without the window. It is built as the shared library libpeloria-print.so,
// which the command (app/main.cpp) loads only for this mode, so that the
// other terminal modes start without the web client and its TLS libraries,
// and without the GUI toolkit, which this mode never loads either.
#pragma once

#include <iosfwd>
#include <string>

namespace peloria {

inline constexpr char kPrintLibrary[] = "libpeloria-print.so";
inline constexpr char kPrintMain[] = "PeloriaPrintMain";

// Runs the window's start (settings, cache search, download, loading and
// copying the picture, summary) on `argument` (the address as the command
// line gave it) and writes the summary in UTF-8, control bytes made visible,
// or with `json` as one JSON object with the Exif fields. The failure display
// writes its text and the failure's cause to `err` instead (kExitFailure);
// any other failure writes its message there (kExitError); both name the
// address.
int PrintSummary(const std::string& argument, std::ostream& out, std::ostream& err,
                 bool json = false);

}  // namespace peloria

// PrintSummary of `argv[1]`, as JSON when `argv[2]` is "--json"; returns the
// exit code. The command has checked the arguments.
extern "C" [[gnu::visibility("default")]] int PeloriaPrintMain(int argc, char** argv);
