#include "app/window_main.h"

#include <QApplication>
#include <QScreen>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/app_limits.h"
#include "app/terminal.h"
#include "app/unit1.h"
#include "picture/jpeg.h"
#include "platform/cp932.h"
#include "platform/numbers.h"
#include "platform/process.h"

namespace peloria {

namespace {

// Qt gets the program name only, so that no argument is taken for one of
// Qt's own options: the first argument is always the address.
int qtArgc = 1;

std::unique_ptr<QApplication> StartApplication(char* program) {
  static char* qtArgv[] = {program, nullptr};
  auto application = std::make_unique<QApplication>(qtArgc, qtArgv);
  IdentifyApplication();
  Application().Title = "Peloria";
  SetScreenBitsPerPixel(QGuiApplication::primaryScreen()->depth());
  return application;
}

// The options with which the browser extension's host (peloria-host) starts
// the window: peloria --from-browser [--page=PAGE] [--picture-fd=N] ADDRESS.
constexpr std::string_view kFromBrowser = "--from-browser";
constexpr std::string_view kPage = "--page=";
constexpr std::string_view kPictureFd = "--picture-fd=";

// Takes the browser's options out of `args`, leaving the address; fails with
// EProcessError when the handed picture cannot be read.
TBrowserHandover TakeBrowserHandover(std::vector<std::string>& args) {
  TBrowserHandover handover;
  args.erase(args.begin());
  while (args.size() > 1) {
    const std::string& option = args.front();
    if (option.starts_with(kPage)) {
      handover.page = LocaleToCp932(option.substr(kPage.size()));
    } else if (option.starts_with(kPictureFd)) {
      const auto fd = TryStrToInt(option.substr(kPictureFd.size()));
      if (!fd || *fd < 0) throw EProcessError("bad " + option);
      handover.picture = ReadDescriptor(*fd, kMaxHandedPictureBytes);
    } else {
      break;
    }
    args.erase(args.begin());
  }
  return handover;
}

}  // namespace

}  // namespace peloria

int PeloriaWindowMain(int argc, char** argv) {
  using namespace peloria;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::optional<TBrowserHandover> handover;
  if (!args.empty() && args.front() == kFromBrowser) {
    try {
      handover = TakeBrowserHandover(args);
    } catch (const Exception& failure) {
      PrintError(std::cerr, args.empty() ? "(no address)" : args.back(), failure.Message());
      return kExitError;
    }
  }
  auto application = StartApplication(argv[0]);
  std::vector<std::string> params;
  for (const std::string& arg : args) params.push_back(LocaleToCp932(arg));
  Application().SetParams(std::move(params), args);
  TForm1 form(std::move(handover));
  if (form.Failed()) {
    // The window says only that it failed; the terminal learns why.
    PrintError(std::cerr, Utf8(Application().ParamStr(1)), Utf8(form.FailureReport()));
  }
  form.Show();
  return QApplication::exec();
}
