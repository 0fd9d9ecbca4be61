// Makes the window on an address on the offscreen platform, at the scale
// factor that QT_SCALE_FACTOR gives, and prints its layout in logical pixels:
// first after the start-up, then after a click on the thumbnail has drawn
// the brightness histogram. The screen is 800 x 600 logical pixels at every
// scale, so that the window's position can be compared too.
//
//   layout_probe ADDRESS [GRAB_FOLDER]
//
// With GRAB_FOLDER it also saves what the thumbnail and the histogram widgets
// show, as thumbnail.png and histogram.png, in device pixels.
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/toolkit.h"
#include "app/unit1.h"
#include "platform/cp932.h"

namespace {

void PrintControl(const char* name, const peloria::TControl& control) {
  const QRect g = control.Widget()->geometry();
  std::cout << name << ' ' << g.x() << ' ' << g.y() << ' ' << g.width() << ' ' << g.height()
            << (control.Widget()->isVisibleTo(control.Widget()->parentWidget()) ? " shown"
                                                                                : " hidden")
            << '\n';
}

void PrintLayout(const peloria::TForm1& form) {
  std::cout << "form " << form.Left() << ' ' << form.Top() << ' ' << form.ClientWidth() << ' '
            << form.ClientHeight() << " client " << form.Widget()->width() << ' '
            << form.Widget()->height() << '\n';
  PrintControl("Label1", form.Label1);
  PrintControl("Image1", form.Image1);
  PrintControl("Image2", form.Image2);
  PrintControl("Button1", form.Button1);
  PrintControl("Red", form.Red);
  PrintControl("Green", form.Green);
  PrintControl("Blue", form.Blue);
  PrintControl("All_c", form.All_c);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: layout_probe ADDRESS [GRAB_FOLDER]\n";
    return 2;
  }
  const char* scaleText = std::getenv("QT_SCALE_FACTOR");
  const double scale = scaleText && *scaleText ? std::atof(scaleText) : 1.0;
  const std::string config = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                             "/peloria-probe-screen-" + std::to_string(::getpid()) + ".json";
  {
    QFile file(QString::fromStdString(config));
    if (!file.open(QIODevice::WriteOnly)) return 2;
    file.write(QStringLiteral(R"({"screens":[{"name":"probe","x":0,"y":0,"width":%1,)"
                              R"("height":%2,"logicalDpi":96}]})")
                   .arg(static_cast<int>(800 * scale))
                   .arg(static_cast<int>(600 * scale))
                   .toUtf8());
  }
  ::setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);

  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  std::remove(config.c_str());
  peloria::IdentifyApplication();
  peloria::Application().SetParams({peloria::Cp932(argv[1])});
  peloria::TForm1 form;
  form.Show();
  std::cout << "ratio " << form.Widget()->devicePixelRatioF() << '\n';
  PrintLayout(form);
  if (form.Failed()) return 1;

  form.Image1Click();
  PrintLayout(form);
  const QImage& surface = form.Image2.Canvas().Image();
  std::cout << "surface " << surface.width() << ' ' << surface.height() << '\n';

  if (argc > 2) {
    const QString folder = QString::fromLocal8Bit(argv[2]);
    if (!form.Image1.Widget()->grab().save(folder + "/thumbnail.png") ||
        !form.Image2.Widget()->grab().save(folder + "/histogram.png")) {
      return 2;
    }
  }
  return 0;
}
