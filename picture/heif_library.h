// libheif, loaded at the first HEIF or AVIF file rather than linked with the
// program: with the HEVC and AV1 codecs it brings it is by far the largest
// library Peloria uses, and loading it costs several milliseconds that every
// start (a JPEG, --version, --exif) would pay otherwise.
//
// Not for use outside picture/.
#pragma once

#include <libheif/heif.h>

namespace peloria {

// Every libheif function Peloria calls: adding a call means adding its name
// here once.
#define PELORIA_HEIF_FUNCTIONS(X)                     \
  X(heif_init)                                        \
  X(heif_context_alloc)                               \
  X(heif_context_free)                                \
  X(heif_context_read_from_memory_without_copy)       \
  X(heif_context_get_primary_image_handle)            \
  X(heif_image_handle_release)                        \
  X(heif_image_handle_get_width)                      \
  X(heif_image_handle_get_height)                     \
  X(heif_image_handle_has_alpha_channel)              \
  X(heif_image_handle_is_premultiplied_alpha)         \
  X(heif_image_handle_get_luma_bits_per_pixel)        \
  X(heif_image_handle_get_chroma_bits_per_pixel)      \
  X(heif_image_handle_get_list_of_metadata_block_IDs) \
  X(heif_image_handle_get_metadata_size)              \
  X(heif_image_handle_get_metadata)                   \
  X(heif_decoding_options_alloc)                      \
  X(heif_decoding_options_free)                       \
  X(heif_decode_image)                                \
  X(heif_image_release)                               \
  X(heif_image_get_width)                             \
  X(heif_image_get_height)                            \
  X(heif_image_get_plane_readonly)

// The functions of the loaded library, each member named as the function.
struct THeifLibrary {
#define PELORIA_HEIF_MEMBER(name) decltype(&::name) name;
  PELORIA_HEIF_FUNCTIONS(PELORIA_HEIF_MEMBER)
#undef PELORIA_HEIF_MEMBER
};

// The library, loaded and initialised (its decoder plug-ins registered) at
// the first call. Fails with EInvalidGraphic kMsgInvalidImage for "HEIF" and
// the loader's message when it cannot be loaded; a later call tries again.
const THeifLibrary& HeifLibrary();

}  // namespace peloria
