// The download step's progress: the window that appears after half a
// second, its キャンセル button, and the INI's time limit setting. Its own
// program: the QApplication lives on main's stack and ends before exit, as
// in the program (a shown window's input devices outlive a QApplication that
// static destruction ends).
#include "app/progress.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <limits>

#include "app/unit1.h"
#include "http/idhttp.h"
#include "platform/stream.h"
#include "tests/support/peers.h"

namespace peloria {
namespace {

using testing::PeerScript;
using testing::ScriptedPeer;

QWidget* ProgressWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == "peloriaProgress" && widget->isVisible()) return widget;
  }
  return nullptr;
}

TEST(ProgressTest, WindowAppearsLateAndCancelEndsTheDownload) {
  ScriptedPeer peer(
      PeerScript()
          .ReadRequest()
          .Send("HTTP/1.1 200 OK\r\nContent-Length: 4096\r\n\r\n" + std::string(1024, 'x'))
          .WaitRelease());
  TIdHTTP http;
  const std::string url = "http://127.0.0.1:" + std::to_string(peer.Port()) + "/a.jpg";
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration shownAfter{};
  std::string amount;
  bool clicked = false;
  // Watches for the window; clicks キャンセル once it shows the bytes.
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    QWidget* window = ProgressWindow();
    if (window == nullptr) return;
    if (shownAfter == std::chrono::steady_clock::duration{}) {
      shownAfter = std::chrono::steady_clock::now() - start;
    }
    amount = window->findChild<QLabel*>("amount")->text().toStdString();
    if (amount.find("1 KiB of 4 KiB") != std::string::npos && !clicked) {
      clicked = true;
      window->findChild<QPushButton*>("cancel")->animateClick();
    }
  });
  watch.start(20);
  TMemoryStream target;
  std::string error;
  try {
    DownloadWithProgress(http, url, target);
  } catch (const Exception& e) {
    error = e.ClassName() + ": " + e.Message();
  }
  watch.stop();
  EXPECT_EQ(error, "EIdAborted: cancelled");
  EXPECT_GE(shownAfter, kProgressDelay);
  EXPECT_EQ(amount, "1 KiB of 4 KiB (25%)");
  EXPECT_EQ(target.Size(), 1024);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QApplication::processEvents();
  EXPECT_EQ(ProgressWindow(), nullptr) << "the window closes with the download";
  peer.Release();
}

TEST(ProgressTest, ShortDownloadShowsNothing) {
  ScriptedPeer peer(
      PeerScript().ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  TIdHTTP http;
  bool shown = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] { shown = shown || ProgressWindow() != nullptr; });
  watch.start(10);
  TMemoryStream target;
  DownloadWithProgress(http, "http://127.0.0.1:" + std::to_string(peer.Port()) + "/a.jpg", target);
  EXPECT_EQ(target.Text(), "ok");
  EXPECT_FALSE(shown);
}

TEST(ProgressTest, TextsAndTimeoutSetting) {
  EXPECT_EQ(ProgressText(12, -1), "12 bytes");
  EXPECT_EQ(ProgressText(1536 * 1024, 4 << 20), "1.5 MiB of 4.0 MiB (37%)");
  EXPECT_EQ(ProgressText(0, 0), "0 bytes of 0 bytes (100%)");
  const struct {
    const char* setting;
    int ms;
  } rows[] = {
      {"", kHttpDefaultTimeoutMs},    {"5", 5000},
      {"0", kIdTimeoutInfinite},      {"-3", kHttpDefaultTimeoutMs},
      {"abc", kHttpDefaultTimeoutMs}, {"99999999", std::numeric_limits<int>::max()},
  };
  for (const auto& row : rows) EXPECT_EQ(DownloadTimeoutMs(row.setting), row.ms) << row.setting;
}

}  // namespace
}  // namespace peloria

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  return RUN_ALL_TESTS();
}
