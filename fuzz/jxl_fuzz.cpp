// Fuzzes the JPEG XL road: decoding and the Exif box, plain or compressed
// (see raster_fuzz.h).
#include "fuzz/raster_fuzz.h"

PELORIA_RASTER_HARNESS(DecodeJxl)
