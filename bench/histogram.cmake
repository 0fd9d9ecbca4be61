# One histogram drawing against the decode of the same 6000 x 4000 picture.
# Run by hand in a Release build: build/bench/histogram_bench
find_package(JPEG REQUIRED)
peloria_add_bench(histogram_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/histogram_bench.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/jpeg_fixtures.cpp
  LIBS peloria_app JPEG::JPEG)
target_include_directories(histogram_bench PRIVATE ${PROJECT_SOURCE_DIR})
