#include "app/progress.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <thread>

#include "platform/cp932.h"

namespace peloria {

namespace {

// The small window: address, amount, bar, キャンセル.
class ProgressWindow {
 public:
  ProgressWindow(const std::string& address, const std::function<void()>& cancel) {
    window_.setObjectName("peloriaProgress");
    window_.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window_.setWindowTitle("Peloria");
    auto* layout = new QVBoxLayout(&window_);  // owned by the window
    auto* where = new QLabel(&window_);
    const QString text = QString::fromStdString(Utf8(address));
    // The address is shown as it is, never read as markup.
    where->setTextFormat(Qt::PlainText);
    where->setText(where->fontMetrics().elidedText(text, Qt::ElideMiddle, 360));
    where->setToolTip(Qt::convertFromPlainText(text));
    amount_ = new QLabel(&window_);
    amount_->setTextFormat(Qt::PlainText);
    amount_->setObjectName("amount");
    bar_ = new QProgressBar(&window_);
    bar_->setMinimumWidth(360);
    auto* button = new QPushButton(QString::fromUtf8("キャンセル"), &window_);
    button->setObjectName("cancel");
    QObject::connect(button, &QPushButton::clicked, [cancel, button] {
      button->setEnabled(false);
      cancel();
    });
    layout->addWidget(where);
    layout->addWidget(amount_);
    layout->addWidget(bar_);
    layout->addWidget(button, 0, Qt::AlignRight);
  }

  void Show() { window_.show(); }
  void Update(std::int64_t received, std::int64_t total) {
    amount_->setText(QString::fromStdString(ProgressText(received, total)));
    if (total > 0) {
      // The bar counts in KiB so that every size fits its int range.
      bar_->setRange(0, static_cast<int>(std::max<std::int64_t>(total / 1024, 1)));
      bar_->setValue(static_cast<int>(std::min(received, total) / 1024));
    } else {
      bar_->setRange(0, 0);  // unknown total: a busy bar
    }
  }

 private:
  QWidget window_;
  QLabel* amount_;
  QProgressBar* bar_;
};

void RunLoop(TIdHTTP& http, const std::string& address, const TProgressCounts& counts,
             const std::atomic<bool>& done, QEventLoop& loop) {
  std::unique_ptr<ProgressWindow> window;
  const auto started = std::chrono::steady_clock::now();
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (done) return;
    if (!window) {
      if (std::chrono::steady_clock::now() - started < kProgressDelay) return;
      window = std::make_unique<ProgressWindow>(address, [&http] { http.Abort(); });
      window->Show();
    }
    window->Update(counts.received, counts.total);
  });
  tick.start(kProgressRefresh);
  loop.exec();
}

}  // namespace

void DownloadWithProgress(TIdHTTP& http, const std::string& address, TStream& target) {
  if (QCoreApplication::instance() == nullptr) {
    http.Download(address, target);
    return;
  }
  TProgressCounts counts;
  CountProgress(http, counts);

  QEventLoop loop;
  std::atomic<bool> done = false;
  std::exception_ptr failure;
  std::thread worker = StartDownload(http, address, target, failure, [&] {
    done = true;
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  RunLoop(http, address, counts, done, loop);
  worker.join();
  StopCounting(http);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace peloria
