# A 256 MiB download from nginx on loopback into a file: TIdHTTP against
# `curl -s -o FILE` on the same URL. Run by hand in a Release build:
# build/bench/http_bench
peloria_add_bench(http_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_bench.cpp
  LIBS peloria_http test_support)
