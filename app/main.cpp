// The peloria command: the window on the address given as the first
// argument, or one of the terminal modes.
#include <QApplication>
#include <QScreen>
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "app/terminal.h"
#include "app/unit1.h"
#include "picture/jpeg.h"
#include "platform/cp932.h"

namespace {

// Qt gets the program name only, so that no argument is taken for one of
// Qt's own options: the first argument is always the address.
int qtArgc = 1;

std::unique_ptr<QApplication> StartApplication(char* program) {
  static char* qtArgv[] = {program, nullptr};
  auto application = std::make_unique<QApplication>(qtArgc, qtArgv);
  peloria::IdentifyApplication();
  peloria::Application().Title = "Peloria";
  peloria::SetScreenBitsPerPixel(QGuiApplication::primaryScreen()->depth());
  return application;
}

int UsageError(const std::string& message) {
  std::cerr << "peloria: " << message << '\n';
  peloria::PrintUsage(std::cerr);
  return peloria::kExitError;
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
      if (args.size() < 2) return UsageError(first + " needs an argument");
      const std::string operand = peloria::LocaleToCp932(args[1]);
      if (first == "--exif") return peloria::PrintExif(operand, std::cout, std::cerr);
      // No display is needed: the window is made but never shown, and the
      // offscreen platform still measures the label with the real fonts.
      qputenv("QT_QPA_PLATFORM", "offscreen");
      // Standard error carries only Peloria's own messages here.
      qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtFatalMsg) std::cerr << text.toStdString() << '\n';
      });
      auto application = StartApplication(argv[0]);
      return peloria::PrintSummary(operand, std::cout, std::cerr);
    }
    return UsageError("unknown option '" + first + "'");
  }

  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    peloria::PrintError(std::cerr, first.empty() ? "(no address)" : first,
                        "no display to open the window on (neither DISPLAY nor "
                        "WAYLAND_DISPLAY is set); peloria --print ADDRESS prints the "
                        "summary without a window");
    return peloria::kExitError;
  }
  auto application = StartApplication(argv[0]);
  std::vector<std::string> params;
  for (const std::string& arg : args) params.push_back(peloria::LocaleToCp932(arg));
  peloria::Application().SetParams(std::move(params));
  peloria::TForm1 form;
  form.Show();
  return QApplication::exec();
}
