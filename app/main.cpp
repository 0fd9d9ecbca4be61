// The peloria command: the window on the address given as the first
// argument, or one of the terminal modes. This entry uses no GUI toolkit:
// --help, --version and --exif run here on their own, and the window part
// (app/window_main.h) is loaded only for a window or --print.
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/terminal.h"
#include "app/window_main.h"
#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/module.h"

namespace {

int UsageError(const std::string& message) {
  std::cerr << "peloria: " << message << '\n';
  peloria::PrintUsage(std::cerr);
  return peloria::kExitError;
}

bool Unset(const char* variable) {
  const char* value = std::getenv(variable);
  return value == nullptr || *value == '\0';
}

// The window part by its full path: beside the command (a build or a portable
// folder), else in ../lib/peloria (the package). A full path does not depend
// on the run path being read for dlopen, which a sanitizer's interception of
// dlopen loses.
std::string WindowLibraryPath() {
  const std::string folder = peloria::ProgramFolder();
  for (const std::string& candidate :
       {folder + peloria::kWindowLibrary, folder + "../lib/peloria/" + peloria::kWindowLibrary}) {
    if (peloria::FileExists(candidate)) return candidate;
  }
  return peloria::kWindowLibrary;
}

int RunWindowPart(int argc, char** argv) {
  peloria::TModuleMain windowMain;
  try {
    windowMain = peloria::LoadModuleMain(WindowLibraryPath(), peloria::kWindowMain);
  } catch (const peloria::Exception& failure) {
    peloria::PrintError(std::cerr, peloria::kWindowLibrary, failure.Message());
    return peloria::kExitError;
  }
  return windowMain(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string first = args.empty() ? "" : args[0];

  if (first.starts_with("--")) {
    if (first == "--help") {
      peloria::PrintHelp(std::cout);
      return peloria::kExitOk;
    }
    if (first == "--version") {
      peloria::PrintVersion(std::cout);
      return peloria::kExitOk;
    }
    if (first == "--print" || first == "--exif") {
      // "--json" may stand before or after the operand.
      std::vector<std::string> operands;
      bool json = false;
      for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--json" && !json)
          json = true;
        else
          operands.push_back(args[i]);
      }
      if (operands.empty()) return UsageError(first + " needs an argument");
      if (first == "--exif") {
        // The argument as given: files are opened by its own bytes.
        return peloria::PrintExif(operands[0], std::cout, std::cerr, json);
      }
      return RunWindowPart(argc, argv);
    }
    return UsageError("unknown option '" + first + "'");
  }

  if (Unset("DISPLAY") && Unset("WAYLAND_DISPLAY") && Unset("QT_QPA_PLATFORM")) {
    peloria::PrintError(std::cerr, first.empty() ? "(no address)" : first,
                        "no display to open the window on (neither DISPLAY nor "
                        "WAYLAND_DISPLAY is set); peloria --print ADDRESS prints the "
                        "summary without a window");
    return peloria::kExitError;
  }
  return RunWindowPart(argc, argv);
}
