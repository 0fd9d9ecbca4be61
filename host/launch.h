// Starting the Peloria window for a browser's message.
#pragma once

#include <string>
#include <vector>

#include "host/message.h"

namespace peloria {

// The option that starts the window for a browser (never an address, since
// no address starts with "--"), and its companions.
inline constexpr char kFromBrowserOption[] = "--from-browser";
inline constexpr char kPageOption[] = "--page=";
inline constexpr char kPictureFdOption[] = "--picture-fd=";

// The peloria command of the same installation as the host in `hostFolder`
// (ending with "/"): beside it (a build or a portable folder), else
// ../../bin/peloria (the package keeps the host in /usr/lib/peloria/). Never
// looked up in PATH; fails with EBrowserMessage when neither exists.
std::string PeloriaCommand(const std::string& hostFolder);

// The window's command line for `message`: the command, kFromBrowserOption,
// the page and the handed file when there are, and the shown address last.
std::vector<std::string> WindowArguments(const std::string& command,
                                         const TBrowserMessage& message);

// Starts the window for `message` in a session of its own; its bytes, when
// handed, go to it in an anonymous file. Fails with EProcessError.
void StartWindow(const std::string& command, const TBrowserMessage& message);

}  // namespace peloria
