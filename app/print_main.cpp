#include "app/print_main.h"

#include <iostream>
#include <optional>
#include <string>

#include "app/download_progress.h"
#include "app/exif_report.h"
#include "app/startup.h"
#include "app/terminal.h"
#include "exif/exif_info.h"
#include "http/idhttp.h"
#include "picture/picture.h"
#include "platform/cp932.h"
#include "platform/exception.h"

namespace peloria {

int PrintSummary(const std::string& argument, std::ostream& out, std::ostream& err, bool json) {
  // The address is shown and compared as CP932 text; files are named by the
  // argument's own bytes.
  const std::string address = LocaleToCp932(argument);
  TPicture picture;
  TIdHTTP http;
  TExifInfo exif;
  std::optional<std::string> cause;
  try {
    TStartup startup;
    if (!startup.Load(address, argument, picture, http, DownloadWithTerminalProgress,
                      [&cause](const std::exception& failure) { cause = failure.what(); })) {
      PrintError(err, Utf8(address), Utf8(FailureReportText(Cp932(kFailureText), *cause)));
      return kExitFailure;
    }
    const std::string summary = SummaryText(exif, startup.LocalPath());
    out << (json ? SummaryJson(summary, exif) : TerminalSummary(summary, exif));
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
