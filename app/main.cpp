// The peloria command: the window on the address given as the first
// argument, or one of the terminal modes. This entry uses neither the GUI
// toolkit nor the web client: --help, --version and --exif run here on their
// own; the summary print (app/print_main.h) and the window part
// (app/window_main.h) are libraries loaded only for their modes.
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/exif_report.h"
#include "app/print_main.h"
#include "app/terminal.h"
#include "app/window_main.h"
#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/module.h"

namespace {

int UsageError(const std::string& message) {
  std::cerr << "peloria: " << peloria::EscapeControls(message) << '\n';
  peloria::PrintUsage(std::cerr);
  return peloria::kExitError;
}

bool Unset(const char* variable) {
  const char* value = std::getenv(variable);
  return value == nullptr || *value == '\0';
}

// A part of the command by its full path: beside the command (a build or a
// portable folder), else in ../lib/peloria (the package). A full path does
// not depend on the run path being read for dlopen, which a sanitizer's
// interception of dlopen loses.
std::string ModulePath(const std::string& library) {
  const std::string folder = peloria::ProgramFolder();
  for (const std::string& candidate : {folder + library, folder + "../lib/peloria/" + library}) {
    if (peloria::FileExists(candidate)) return candidate;
  }
  return library;
}

// Loads the part `library` and runs its entry `entry` with these arguments.
int RunModule(const std::string& library, const std::string& entry, std::vector<char*> arguments) {
  peloria::TModuleMain moduleMain;
  try {
    moduleMain = peloria::LoadModuleMain(ModulePath(library), entry);
  } catch (const peloria::Exception& failure) {
    peloria::PrintError(std::cerr, library, failure.Message());
    return peloria::kExitError;
  }
  arguments.push_back(nullptr);
  return moduleMain(static_cast<int>(arguments.size()) - 1, arguments.data());
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
      std::vector<char*> operands;
      bool json = false;
      for (int i = 2; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--json" && !json)
          json = true;
        else
          operands.push_back(argv[i]);
      }
      if (operands.empty()) return UsageError(first + " needs an argument");
      // The argument as given: files are opened by its own bytes.
      if (first == "--exif") return peloria::PrintExif(operands[0], std::cout, std::cerr, json);
      static char jsonFlag[] = "--json";
      std::vector<char*> arguments = {argv[0], operands[0]};
      if (json) arguments.push_back(jsonFlag);
      return RunModule(peloria::kPrintLibrary, peloria::kPrintMain, std::move(arguments));
    }
    // The window on a picture a web browser's extension hands over, started
    // by the extension's native messaging host (peloria-host).
    if (first != "--from-browser") return UsageError("unknown option '" + first + "'");
  }

  if (Unset("DISPLAY") && Unset("WAYLAND_DISPLAY") && Unset("QT_QPA_PLATFORM")) {
    peloria::PrintError(std::cerr, first.empty() ? "(no address)" : first,
                        "no display to open the window on (neither DISPLAY nor "
                        "WAYLAND_DISPLAY is set); peloria --print ADDRESS prints the "
                        "summary without a window");
    return peloria::kExitError;
  }
  return RunModule(peloria::kWindowLibrary, peloria::kWindowMain,
                   std::vector<char*>(argv, argv + argc));
}
