# Stepping through a folder of 24-megapixel photos in the window (offscreen):
# the step to a photo read ahead, a cold step, and the peak memory over 50.
# Run by hand in a Release build: build/bench/step_bench
peloria_add_bench(step_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/step_bench.cpp
  LIBS peloria_app test_support)
