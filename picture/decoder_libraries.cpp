#include "picture/decoder_libraries.h"

#include <string_view>

#include "picture/decoder_support.h"
#include "platform/module.h"

namespace peloria {

namespace {

// The interfaces have kept these file names through libheif's 1.x releases
// and since libtiff 4.5.
static_assert(LIBHEIF_NUMERIC_VERSION >> 24 == 1, "libheif 1.x expected");
static_assert(TIFFLIB_VERSION >= 20221213, "libtiff 4.5 or later expected");
constexpr const char* kHeifFile = "libheif.so.1";
constexpr const char* kTiffFile = "libtiff.so.6";

// Loads `file` and lets `bind` fill the function table from it.
template <class Functions, class Bind>
Functions Load(const char* file, std::string_view kind, Bind bind) {
  Functions functions{};
  try {
    bind(functions, TSharedLibrary(file));
  } catch (const EModuleError& failure) {
    InvalidImage(kind, failure.Message());
  }
  return functions;
}

#define PELORIA_LIBRARY_BIND(name) \
  functions.name = reinterpret_cast<decltype(&::name)>(library.Symbol(#name));

}  // namespace

// A failed load leaves the initialisation by its exception, so that the next
// call tries again.

const THeifLibrary& HeifLibrary() {
  static const THeifLibrary library = [] {
    THeifLibrary functions = Load<THeifLibrary>(
        kHeifFile, "HEIF", [](THeifLibrary& functions, const TSharedLibrary& library) {
          PELORIA_HEIF_FUNCTIONS(PELORIA_LIBRARY_BIND)
        });
    functions.heif_init(nullptr);
    return functions;
  }();
  return library;
}

const TTiffLibrary& TiffLibrary() {
  static const TTiffLibrary library = Load<TTiffLibrary>(
      kTiffFile, "TIFF", [](TTiffLibrary& functions, const TSharedLibrary& library) {
        PELORIA_TIFF_FUNCTIONS(PELORIA_LIBRARY_BIND)
      });
  return library;
}

}  // namespace peloria
