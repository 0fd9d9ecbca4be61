#include "app/print_main.h"

#include <iostream>
#include <string>

#include "app/download_progress.h"
#include "app/exif_report.h"
#include "app/startup.h"
#include "app/terminal.h"
#include "http/idhttp.h"
#include "platform/cp932.h"
#include "platform/exception.h"

namespace peloria {

int PrintSummary(const std::string& argument, std::ostream& out, std::ostream& err, bool json) {
  // The address is shown and compared as CP932 text; files are named by the
  // argument's own bytes.
  const std::string address = LocaleToCp932(argument);
  try {
    TIdHTTP http;
    const TPhoto photo = TStartup().Open(address, argument, http, DownloadWithTerminalProgress);
    if (photo.Failed()) {
      PrintError(err, Utf8(address), Utf8(photo.FailureReport()));
      return kExitFailure;
    }
    if (photo.Error()) std::rethrow_exception(photo.Error());
    out << (json ? SummaryJson(*photo.Summary(), photo.Exif())
                 : TerminalSummary(*photo.Summary(), photo.Exif()));
  } catch (const std::exception& failure) {
    const auto* own = dynamic_cast<const Exception*>(&failure);
    PrintError(err, Utf8(address), Utf8(own != nullptr ? own->Message() : failure.what()));
    return kExitError;
  }
  return kExitOk;
}

}  // namespace peloria

int PeloriaPrintMain(int argc, char** argv) {
  const bool json = argc > 2 && std::string(argv[2]) == "--json";
  return peloria::PrintSummary(argc > 1 ? argv[1] : "", std::cout, std::cerr, json);
}
