# JPEG load + bitmap copy + row scan against djpeg on a 6000 x 4000 picture.
# Run by hand in a Release build: build/bench/picture_bench
peloria_add_bench(picture_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/picture_bench.cpp
  LIBS peloria_picture test_support)
