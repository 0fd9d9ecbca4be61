#include "picture/heif_library.h"

#include "picture/decoder_support.h"
#include "platform/module.h"

namespace peloria {

namespace {

// libheif's interface has kept this file name through its 1.x releases.
static_assert(LIBHEIF_NUMERIC_VERSION >> 24 == 1, "libheif 1.x expected");
constexpr const char* kLibraryFile = "libheif.so.1";

THeifLibrary Load() {
  THeifLibrary functions{};
  try {
    const TSharedLibrary library(kLibraryFile);
#define PELORIA_HEIF_BIND(name) \
  functions.name = reinterpret_cast<decltype(&::name)>(library.Symbol(#name));
    PELORIA_HEIF_FUNCTIONS(PELORIA_HEIF_BIND)
#undef PELORIA_HEIF_BIND
  } catch (const EModuleError& failure) {
    InvalidImage("HEIF", failure.Message());
  }
  functions.heif_init(nullptr);
  return functions;
}

}  // namespace

const THeifLibrary& HeifLibrary() {
  // A failed load leaves the initialisation by its exception, so that the
  // next call tries again.
  static const THeifLibrary library = Load();
  return library;
}

}  // namespace peloria
