#include "platform/module.h"

#include <dlfcn.h>

namespace peloria {

TSharedLibrary::TSharedLibrary(const std::string& file)
    // RTLD_LOCAL: the library's own copies of Peloria's static libraries stay
    // private to it. RTLD_LAZY: functions are bound at their first call, as
    // for the libraries a program is linked with (binding all of the
    // toolkit's at once costs start-up time). Never closed: its code runs
    // until the process exits.
    : file_(file), handle_(dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL)) {
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    throw EModuleError(reason != nullptr ? reason : "cannot load " + file);
  }
}

void* TSharedLibrary::Symbol(const char* name) const {
  void* address = dlsym(handle_, name);
  if (address == nullptr) {
    const char* reason = dlerror();
    throw EModuleError(reason != nullptr ? reason : file_ + ": no " + name);
  }
  return address;
}

TModuleMain LoadModuleMain(const std::string& file, const std::string& symbol) {
  return reinterpret_cast<TModuleMain>(TSharedLibrary(file).Symbol(symbol.c_str()));
}

}  // namespace peloria
