# One histogram drawing against the decode of the same 6000 x 4000 picture.
# Run by hand in a Release build: build/bench/histogram_bench
peloria_add_bench(histogram_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/histogram_bench.cpp
  LIBS peloria_app test_support)
