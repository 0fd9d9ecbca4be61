# A 256 MiB download from nginx on loopback into a file: TIdHTTP against
# `curl -s -o FILE` on the same URL. Run by hand in a Release build:
# build/bench/http_bench
if(TARGET test_support_peers)
  find_package(GTest REQUIRED)
  peloria_add_bench(http_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_bench.cpp
    LIBS peloria_http test_support_peers GTest::gtest)
  target_include_directories(http_bench PRIVATE ${PROJECT_SOURCE_DIR})
endif()
