// Shared libraries loaded at run time. The peloria command keeps its window
// part (everything that needs the GUI toolkit) in a library of its own, which
// it loads only when a window or the summary print needs it, so that the
// terminal-only modes never load the toolkit's libraries.
#pragma once

#include <string>

#include "platform/exception.h"

namespace peloria {

PELORIA_DECLARE_EXCEPTION(EModuleError, Exception);  // a library or its entry is missing

// The entry of a loaded library, called like main().
using TModuleMain = int (*)(int argc, char** argv);

// Loads the shared library `file` (a bare name is looked for in the calling
// program's run path, then in the system's library folders) and returns its
// function `symbol`. The library stays loaded until the process ends. Fails
// with EModuleError carrying the loader's message.
TModuleMain LoadModuleMain(const std::string& file, const std::string& symbol);

}  // namespace peloria
