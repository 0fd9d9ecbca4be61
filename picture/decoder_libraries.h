// The decoder libraries loaded at their first use rather than linked with the
// program: libheif (with the HEVC and AV1 codecs it brings, by far the largest
// library Peloria uses), libtiff (with its compression libraries) and libjxl
// (with its thread pool and Brotli). Loading
// them costs several milliseconds that every start would pay otherwise: a
// JPEG, --version, --exif.
//
// Each library's functions are listed once below, each member of its struct
// named as the function; adding a call means adding its name to the list.
// Not for use outside picture/.
#pragma once

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <libheif/heif.h>
#include <tiffio.h>

namespace peloria {

#define PELORIA_HEIF_FUNCTIONS(X)                     \
  X(heif_init)                                        \
  X(heif_context_alloc)                               \
  X(heif_context_free)                                \
  X(heif_context_set_maximum_image_size_limit)        \
  X(heif_context_read_from_memory_without_copy)       \
  X(heif_context_get_primary_image_handle)            \
  X(heif_image_handle_release)                        \
  X(heif_image_handle_get_width)                      \
  X(heif_image_handle_get_height)                     \
  X(heif_image_handle_get_ispe_width)                 \
  X(heif_image_handle_get_ispe_height)                \
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

#define PELORIA_TIFF_FUNCTIONS(X)         \
  X(TIFFClientOpenExt)                    \
  X(TIFFClose)                            \
  X(TIFFComputeStrip)                     \
  X(TIFFComputeTile)                      \
  X(TIFFGetField)                         \
  X(TIFFGetFieldDefaulted)                \
  X(TIFFGetStrileByteCount)               \
  X(TIFFGetStrileOffset)                  \
  X(TIFFIsTiled)                          \
  X(TIFFNumberOfStrips)                   \
  X(TIFFNumberOfTiles)                    \
  X(TIFFOpenOptionsAlloc)                 \
  X(TIFFOpenOptionsFree)                  \
  X(TIFFOpenOptionsSetErrorHandlerExtR)   \
  X(TIFFOpenOptionsSetMaxSingleMemAlloc)  \
  X(TIFFOpenOptionsSetWarningHandlerExtR) \
  X(TIFFRGBAImageBegin)                   \
  X(TIFFRGBAImageEnd)                     \
  X(TIFFRGBAImageGet)                     \
  X(TIFFRGBAImageOK)                      \
  X(TIFFReadEncodedStrip)                 \
  X(TIFFReadEncodedTile)                  \
  X(TIFFScanlineSize64)                   \
  X(TIFFTileRowSize64)

#define PELORIA_JXL_FUNCTIONS(X)   \
  X(JxlDecoderCreate)              \
  X(JxlDecoderDestroy)             \
  X(JxlDecoderSubscribeEvents)     \
  X(JxlDecoderSetParallelRunner)   \
  X(JxlDecoderSetInput)            \
  X(JxlDecoderCloseInput)          \
  X(JxlDecoderProcessInput)        \
  X(JxlDecoderGetBasicInfo)        \
  X(JxlDecoderSetImageOutCallback) \
  X(JxlDecoderSetDecompressBoxes)  \
  X(JxlDecoderGetBoxType)          \
  X(JxlDecoderGetBoxSizeRaw)       \
  X(JxlDecoderSetBoxBuffer)        \
  X(JxlDecoderReleaseBoxBuffer)

// libjxl's thread pool, a library of its own.
#define PELORIA_JXL_THREADS_FUNCTIONS(X) \
  X(JxlThreadParallelRunner)             \
  X(JxlThreadParallelRunnerCreate)       \
  X(JxlThreadParallelRunnerDestroy)      \
  X(JxlThreadParallelRunnerDefaultNumWorkerThreads)

#define PELORIA_LIBRARY_MEMBER(name) decltype(&::name) name;
struct THeifLibrary {
  PELORIA_HEIF_FUNCTIONS(PELORIA_LIBRARY_MEMBER)
};
struct TTiffLibrary {
  PELORIA_TIFF_FUNCTIONS(PELORIA_LIBRARY_MEMBER)
};
struct TJxlLibrary {
  PELORIA_JXL_FUNCTIONS(PELORIA_LIBRARY_MEMBER)
  PELORIA_JXL_THREADS_FUNCTIONS(PELORIA_LIBRARY_MEMBER)
};
#undef PELORIA_LIBRARY_MEMBER

// The library, loaded (libheif also initialised: its decoder plug-ins
// registered) at the first call. Fails with EInvalidGraphic kMsgInvalidImage
// for "HEIF", "TIFF" or "JXL" and the loader's message when it cannot be
// loaded; a later call tries again.
const THeifLibrary& HeifLibrary();
const TTiffLibrary& TiffLibrary();
const TJxlLibrary& JxlLibrary();

}  // namespace peloria
