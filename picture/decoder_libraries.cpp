#include "picture/decoder_libraries.h"

#include <jxl/version.h>

#include <string_view>

#include "picture/decoder_support.h"
#include "platform/module.h"

namespace peloria {

namespace {

// The file names to load are the SONAMEs of the libraries the build found
// (picture/CMakeLists.txt). Their version numbers are checked against the
// headers here, so that headers of one release and a library of another
// fail the build rather than the first file of the kind: libheif keeps its
// interface through each major version, libtiff's 4.5 release began
// libtiff.so.6, and libjxl's file name changes with each 0.x release.
constexpr const char* kHeifFile = PELORIA_HEIF_SONAME;
constexpr const char* kTiffFile = PELORIA_TIFF_SONAME;
constexpr const char* kJxlFile = PELORIA_JXL_SONAME;
constexpr const char* kJxlThreadsFile = PELORIA_JXL_THREADS_SONAME;

// The `index`th number after ".so." in a file name ("libjxl.so.0.7": 0,
// then 7); -1 when there is none.
constexpr int SonameNumber(std::string_view file, int index) {
  std::size_t at = file.find(".so.");
  if (at == std::string_view::npos) return -1;
  at += 4;
  for (; index > 0; --index) {
    at = file.find('.', at);
    if (at == std::string_view::npos) return -1;
    ++at;
  }
  int number = -1;
  for (; at < file.size() && file[at] >= '0' && file[at] <= '9'; ++at) {
    number = (number < 0 ? 0 : number * 10) + (file[at] - '0');
  }
  return number;
}

static_assert(SonameNumber(kHeifFile, 0) == LIBHEIF_NUMERIC_VERSION >> 24,
              "libheif's headers and library differ in their major version");
static_assert(SonameNumber(kTiffFile, 0) == (TIFFLIB_VERSION >= 20221213 ? 6 : 5),
              "libtiff's headers and library differ");
static_assert(SonameNumber(kJxlFile, 0) == JPEGXL_MAJOR_VERSION &&
                  SonameNumber(kJxlFile, 1) == JPEGXL_MINOR_VERSION &&
                  SonameNumber(kJxlThreadsFile, 1) == JPEGXL_MINOR_VERSION,
              "libjxl's headers and library differ in their version");

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
