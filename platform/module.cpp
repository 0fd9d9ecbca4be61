#include "platform/module.h"

#include <dlfcn.h>

namespace peloria {

TModuleMain LoadModuleMain(const std::string& file, const std::string& symbol) {
  // RTLD_LOCAL: the library's own copies of Peloria's static libraries stay
  // private to it. RTLD_LAZY: functions are bound at their first call, as for
  // the libraries a program is linked with (binding all of the toolkit's at
  // once costs start-up time). Never closed: its code runs until the process
  // exits.
  void* library = dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    throw EModuleError(reason != nullptr ? reason : "cannot load " + file);
  }
  void* entry = dlsym(library, symbol.c_str());
  if (entry == nullptr) {
    const char* reason = dlerror();
    throw EModuleError(reason != nullptr ? reason : file + ": no " + symbol);
  }
  return reinterpret_cast<TModuleMain>(entry);
}

}  // namespace peloria
