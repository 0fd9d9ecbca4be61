# Decode + 24-bit copy of a 24-megapixel PNG, WebP, HEIC, AVIF, TIFF, GIF and
# JPEG XL file against each library's own command-line tool on the same file.
# Run by hand in a Release build: build/bench/raster_bench
find_package(TIFF REQUIRED)
find_package(GIF REQUIRED)
peloria_add_bench(raster_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_bench.cpp
  LIBS peloria_picture test_support TIFF::TIFF GIF::GIF)
