// The system's TLS library, loaded at the first https connection rather than
// linked with the program: libssl and the libcrypto it brings are among the
// largest libraries the window would load, and a window on a local file, a
// plain http download or the summary print never needs them.
//
// Each function is listed once below, each member of the struct named as the
// function; adding a call means adding its name to the list. The library's
// macros over its control calls (SSL_set_tlsext_host_name, BIO_get_fd ...)
// expand to functions that would be linked, so the TLS code spells out their
// control calls through this table. Not for use outside http/.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace peloria {

#define PELORIA_TLS_FUNCTIONS(X)      \
  X(TLS_client_method)                \
  X(SSL_CTX_new)                      \
  X(SSL_CTX_free)                     \
  X(SSL_CTX_ctrl)                     \
  X(SSL_CTX_set_verify)               \
  X(SSL_CTX_set_default_verify_paths) \
  X(SSL_new)                          \
  X(SSL_free)                         \
  X(SSL_ctrl)                         \
  X(SSL_get0_param)                   \
  X(SSL_set1_host)                    \
  X(SSL_set_bio)                      \
  X(SSL_connect)                      \
  X(SSL_read)                         \
  X(SSL_write)                        \
  X(SSL_pending)                      \
  X(SSL_shutdown)                     \
  X(SSL_get_error)                    \
  X(SSL_get_verify_result)            \
  X(SSL_get_version)                  \
  X(X509_VERIFY_PARAM_set1_ip_asc)    \
  X(X509_VERIFY_PARAM_set_hostflags)  \
  X(X509_verify_cert_error_string)    \
  X(ERR_clear_error)                  \
  X(ERR_peek_last_error)              \
  X(ERR_reason_error_string)          \
  X(BIO_new)                          \
  X(BIO_ctrl)                         \
  X(BIO_set_flags)                    \
  X(BIO_clear_flags)                  \
  X(BIO_set_data)                     \
  X(BIO_get_data)                     \
  X(BIO_set_init)                     \
  X(BIO_get_new_index)                \
  X(BIO_meth_new)                     \
  X(BIO_meth_set_write)               \
  X(BIO_meth_set_read)                \
  X(BIO_meth_set_ctrl)

#define PELORIA_TLS_MEMBER(name) decltype(&::name) name;

struct TTlsLibrary {
  PELORIA_TLS_FUNCTIONS(PELORIA_TLS_MEMBER)
};

#undef PELORIA_TLS_MEMBER

// The library, loaded at the first call; fails with EIdTLSError naming what
// the loader missed, and the next call tries again.
const TTlsLibrary& TlsLibrary();

}  // namespace peloria
