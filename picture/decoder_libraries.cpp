#include "picture/decoder_libraries.h"

#include <jxl/version.h>

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
// libjxl's file name changes with each 0.x release.
static_assert(JPEGXL_MAJOR_VERSION == 0 && JPEGXL_MINOR_VERSION == 7, "libjxl 0.7 expected");
constexpr const char* kJxlFile = "libjxl.so.0.7";
constexpr const char* kJxlThreadsFile = "libjxl_threads.so.0.7";

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

const TJxlLibrary& JxlLibrary() {
  static const TJxlLibrary library = [] {
    TJxlLibrary functions = Load<TJxlLibrary>(
        kJxlFile, "JXL", [](TJxlLibrary& functions, const TSharedLibrary& library) {
          PELORIA_JXL_FUNCTIONS(PELORIA_LIBRARY_BIND)
        });
    const TJxlLibrary threads = Load<TJxlLibrary>(
        kJxlThreadsFile, "JXL", [](TJxlLibrary& functions, const TSharedLibrary& library) {
          PELORIA_JXL_THREADS_FUNCTIONS(PELORIA_LIBRARY_BIND)
        });
#define PELORIA_LIBRARY_COPY(name) functions.name = threads.name;
    PELORIA_JXL_THREADS_FUNCTIONS(PELORIA_LIBRARY_COPY)
#undef PELORIA_LIBRARY_COPY
    return functions;
  }();
  return library;
}

}  // namespace peloria
