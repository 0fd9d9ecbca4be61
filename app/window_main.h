// The window part of the peloria command: the window itself, everything that
// needs the GUI toolkit. It is built as the shared library
// libpeloria-window.so, which the command (app/main.cpp) loads only for the
// window.
#pragma once

namespace peloria {

// The library's file name, found through the command's run path (the
// command's own folder, see app/CMakeLists.txt), and its entry.
inline constexpr char kWindowLibrary[] = "libpeloria-window.so";
inline constexpr char kWindowMain[] = "PeloriaWindowMain";

}  // namespace peloria

// Runs the window (`argv[1]` the address, or none); returns the exit code.
// The command has checked that a display is there.
extern "C" [[gnu::visibility("default")]] int PeloriaWindowMain(int argc, char** argv);
