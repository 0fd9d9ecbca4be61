#include "http/tls_library.h"

#include <openssl/opensslv.h>

#include "http/id_exceptions.h"
#include "platform/module.h"

namespace peloria {

// The TLS library keeps its file name (and interface) through a major
// release: libssl.so.3 for every 3.x. The functions of libcrypto are found
// through libssl, which depends on it.
static_assert(OPENSSL_VERSION_MAJOR == 3, "the TLS library's file name is that of release 3");
constexpr const char* kTlsFile = "libssl.so.3";

const TTlsLibrary& TlsLibrary() {
  static const TTlsLibrary library = [] {
    TTlsLibrary functions{};
    try {
      const TSharedLibrary file(kTlsFile);
#define PELORIA_TLS_BIND(name) \
  functions.name = reinterpret_cast<decltype(&::name)>(file.Symbol(#name));
      PELORIA_TLS_FUNCTIONS(PELORIA_TLS_BIND)
#undef PELORIA_TLS_BIND
    } catch (const EModuleError& failure) {
      throw EIdTLSError("the TLS library could not be loaded: " + failure.Message());
    }
    return functions;
  }();
  return library;
}

}  // namespace peloria
