#include "app/window_main.h"

#include <QApplication>
#include <QScreen>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

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

}  // namespace

}  // namespace peloria

int PeloriaWindowMain(int argc, char** argv) {
  using namespace peloria;
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<std::string> params;
  for (const std::string& arg : args) params.push_back(LocaleToCp932(arg));
  // A local picture is loaded and decoded on a second core while the toolkit
  // starts and the window is made.
  if (!args.empty()) TForm1::PrepareFirstPhoto(params[0], args[0]);
  auto application = StartApplication(argv[0]);
  Application().SetParams(std::move(params), args);
  TForm1 form;
  if (form.Failed()) {
    // The window says only that it failed; the terminal learns why.
    PrintError(std::cerr, Utf8(Application().ParamStr(1)), Utf8(form.FailureReport()));
  }
  form.Show();
  return QApplication::exec();
}
