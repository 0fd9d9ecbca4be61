// Fuzzes the TIFF road: decoding and the Exif block (see raster_fuzz.h).
#include "fuzz/raster_fuzz.h"

PELORIA_RASTER_HARNESS(DecodeTiff)
