# Looking one address up in browser caches of 20,000 entries (10,000 of each
# kind). Run by hand in a Release build: build/bench/browser_cache_bench
find_package(ZLIB REQUIRED)
peloria_add_bench(browser_cache_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/browser_cache_bench.cpp
  LIBS peloria_cache ZLIB::ZLIB)
target_include_directories(browser_cache_bench PRIVATE ${PROJECT_SOURCE_DIR})
