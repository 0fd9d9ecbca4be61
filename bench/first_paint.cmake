# Start to first frame showing the photo, Peloria against other viewers, and
# the click to the histogram on the screen, on a private X display.
# Run by hand: bench/first_paint.sh (it starts Xvfb and makes the photos).
find_package(X11 REQUIRED)
add_executable(first_paint_bench ${CMAKE_CURRENT_LIST_DIR}/first_paint_bench.cpp)
target_link_libraries(first_paint_bench PRIVATE X11::X11 X11::Xext ${CMAKE_DL_LIBS})
