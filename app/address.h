// Which local file a command-line address names, by the argument's own bytes
// (never converted, so any file name the file system holds can be opened).
#pragma once

#include <optional>
#include <string>

namespace peloria {

// The local path of `argument`, the address as the command line gave it:
//  - a file:/// address (the first 8 bytes exactly): the address without
//    "file://", so the root "/" stays. When that literal path is no existing
//    file and the address holds %XX escapes, the percent-decoded path is taken
//    instead, unless it holds a zero byte (such a path names no file). The
//    result may name no file; loading it then fails.
//  - an argument without "://" that names an existing regular file, relative
//    or absolute: the argument itself;
// none for anything else, which is a web address.
std::optional<std::string> LocalPathOf(const std::string& argument);

}  // namespace peloria
