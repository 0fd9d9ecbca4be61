// Shared libraries loaded at run time. The peloria command keeps its window
// part (everything that needs the GUI toolkit) in a library of its own, which
// it loads only when a window or the summary print needs it, so that the
// terminal-only modes never load the toolkit's libraries. Large libraries
// that only a few files need (libheif with its codecs) are loaded the same
// way, at their first use.
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

// A shared library loaded by its file name (e.g. "libheif.so.1"), never
// unloaded. Both steps fail with EModuleError carrying the loader's message.
class TSharedLibrary {
 public:
  explicit TSharedLibrary(const std::string& file);
  // The address of the library's function or object `name`.
  void* Symbol(const char* name) const;

 private:
  std::string file_;
  void* handle_;
};

}  // namespace peloria
