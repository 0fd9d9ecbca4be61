#include "app/window_main.h"

#include <QApplication>
#include <QScreen>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/progress.h"
#include "app/exif_report.h"
#include "app/terminal.h"
#include "app/unit1.h"
#include "picture/jpeg.h"
#include "platform/cp932.h"

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

// Runs the start-up sequence on `argument` (the address as the command line
// gave it) without showing the window and writes the summary label's text to
// `out` in UTF-8, control bytes made visible, or with `json` as one JSON
// object with the Exif fields. The failure display writes its text and the
// failure's cause to `err` instead (kExitFailure); an unhandled failure
// writes its message there (kExitError); both name the address.
int PrintSummary(const std::string& argument, bool json, std::ostream& out, std::ostream& err) {
  const std::string address = LocaleToCp932(argument);
  SetProgressStyle(ProgressStyle::kTerminal);
  TApplication& application = Application();
  application.SetParams({address}, {argument});
  std::optional<std::string> unhandled;
  auto previous = std::move(application.OnException);
  application.OnException = [&unhandled](const std::string& message) { unhandled = message; };
  TForm1 form;
  application.OnException = std::move(previous);

  if (unhandled) {
    PrintError(err, Utf8(address), Utf8(*unhandled));
    return kExitError;
  }
  if (form.Failed()) {
    PrintError(err, Utf8(address), Utf8(form.FailureReport()));
    return kExitFailure;
  }
  const std::string& summary = form.Label1.Caption();
  out << (json ? SummaryJson(summary, form.ExifInfo1) : TerminalSummary(summary, form.ExifInfo1));
  return kExitOk;
}

}  // namespace

}  // namespace peloria

int PeloriaWindowMain(int argc, char** argv) {
  using namespace peloria;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--print") {
    // No display is needed: the window is made but never shown, and the
    // offscreen platform still measures the label with the real fonts.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Standard error carries only Peloria's own messages here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
      if (type == QtFatalMsg) std::cerr << text.toStdString() << '\n';
    });
    auto application = StartApplication(argv[0]);
    // The command has checked that an operand is there; "--json" may stand
    // before or after it.
    const bool json = args.at(1) == "--json" || (args.size() > 2 && args[2] == "--json");
    const std::string& operand = args.at(1) == "--json" ? args.at(2) : args.at(1);
    return PrintSummary(operand, json, std::cout, std::cerr);
  }
  auto application = StartApplication(argv[0]);
  std::vector<std::string> params;
  for (const std::string& arg : args) params.push_back(LocaleToCp932(arg));
  Application().SetParams(std::move(params), args);
  TForm1 form;
  if (form.Failed()) {
    // The window says only that it failed; the terminal learns why.
    PrintError(std::cerr, Utf8(Application().ParamStr(1)), Utf8(form.FailureReport()));
  }
  form.Show();
  return QApplication::exec();
}
