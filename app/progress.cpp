#include "app/progress.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
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

ProgressStyle style = ProgressStyle::kWindow;

constexpr std::chrono::milliseconds kRefresh{100};

// The counts the worker thread writes and the user-interface thread reads.
struct Counts {
  std::atomic<std::int64_t> received = 0;
  std::atomic<std::int64_t> total = -1;
};

std::string Amount(std::int64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
  } else if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%lld KiB", static_cast<long long>(bytes / 1024));
  } else {
    std::snprintf(text, sizeof text, "%lld.%lld MiB", static_cast<long long>(bytes >> 20),
                  static_cast<long long>(((bytes & 0xFFFFF) * 10) >> 20));
  }
  return text;
}

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
    where->setText(where->fontMetrics().elidedText(text, Qt::ElideMiddle, 360));
    where->setToolTip(text);
    amount_ = new QLabel(&window_);
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

void RunLoop(TIdHTTP& http, const std::string& address, const Counts& counts,
             const std::atomic<bool>& done, QEventLoop& loop) {
  std::unique_ptr<ProgressWindow> window;
  const bool terminal = style == ProgressStyle::kTerminal;
  const bool toTerminal = terminal && ::isatty(STDERR_FILENO) == 1;
  bool shown = false;
  const auto started = std::chrono::steady_clock::now();
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (done) return;
    if (!shown && std::chrono::steady_clock::now() - started < kProgressDelay) return;
    if (!shown) {
      shown = true;
      if (!terminal) {
        window = std::make_unique<ProgressWindow>(address, [&http] { http.Abort(); });
        window->Show();
      }
    }
    if (window) window->Update(counts.received, counts.total);
    if (toTerminal) {
      std::fprintf(stderr, "\rpeloria: %s\033[K",
                   ProgressText(counts.received, counts.total).c_str());
      std::fflush(stderr);
    }
  });
  tick.start(kRefresh);
  loop.exec();
  if (shown && toTerminal) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
}

}  // namespace

void SetProgressStyle(ProgressStyle newStyle) {
  style = newStyle;
}

std::string ProgressText(std::int64_t received, std::int64_t total) {
  if (total < 0) return Amount(received);
  const std::int64_t percent =
      total == 0 ? 100 : std::min<std::int64_t>(received * 100 / total, 100);
  return Amount(received) + " of " + Amount(total) + " (" + std::to_string(percent) + "%)";
}

void DownloadWithProgress(TIdHTTP& http, const std::string& address, TStream& target) {
  if (QCoreApplication::instance() == nullptr) {
    http.Download(address, target);
    return;
  }
  Counts counts;
  // Work is reported per body: the declared length of the reply being read,
  // the bytes of this body so far (a redirect's body starts over).
  http.OnWorkBegin = [&counts, &http](TIdComponent&, TWorkMode mode, std::int64_t) {
    if (mode != TWorkMode::wmRead) return;
    if (http.Reply.DeclaredLength != counts.total) counts.received = 0;
    counts.total = http.Reply.DeclaredLength;
  };
  http.OnWork = [&counts](TIdComponent&, TWorkMode mode, std::int64_t n) {
    if (mode == TWorkMode::wmRead) counts.received += n;
  };

  QEventLoop loop;
  std::atomic<bool> done = false;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      http.Download(address, target);
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  RunLoop(http, address, counts, done, loop);
  worker.join();
  http.OnWorkBegin = nullptr;
  http.OnWork = nullptr;
  if (failure) std::rethrow_exception(failure);
}

}  // namespace peloria
