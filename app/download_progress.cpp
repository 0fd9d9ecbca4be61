#include "app/download_progress.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

namespace peloria {

namespace {

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

}  // namespace

void CountProgress(TIdHTTP& http, TProgressCounts& counts) {
  http.OnWorkBegin = [&counts, &http](TIdComponent&, TWorkMode mode, std::int64_t) {
    if (mode != TWorkMode::wmRead) return;
    if (http.Reply.DeclaredLength != counts.total) counts.received = 0;
    counts.total = http.Reply.DeclaredLength;
  };
  http.OnWork = [&counts](TIdComponent&, TWorkMode mode, std::int64_t n) {
    if (mode == TWorkMode::wmRead) counts.received += n;
  };
}

void StopCounting(TIdHTTP& http) {
  http.OnWorkBegin = nullptr;
  http.OnWork = nullptr;
}

std::thread StartDownload(TIdHTTP& http, const std::string& address, TStream& target,
                          std::exception_ptr& failure, std::function<void()> ended) {
  return std::thread([&http, &address, &target, &failure, ended = std::move(ended)] {
    try {
      http.Download(address, target);
    } catch (...) {
      failure = std::current_exception();
    }
    ended();
  });
}

std::string ProgressText(std::int64_t received, std::int64_t total) {
  if (total < 0) return Amount(received);
  const std::int64_t percent =
      total == 0 ? 100 : std::min<std::int64_t>(received * 100 / total, 100);
  return Amount(received) + " of " + Amount(total) + " (" + std::to_string(percent) + "%)";
}

void DownloadWithTerminalProgress(TIdHTTP& http, const std::string& address, TStream& target) {
  if (::isatty(STDERR_FILENO) != 1) {
    http.Download(address, target);
    return;
  }
  TProgressCounts counts;
  CountProgress(http, counts);
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::exception_ptr failure;
  std::thread worker = StartDownload(http, address, target, failure, [&] {
    const std::lock_guard lock(mutex);
    done = true;
    ended.notify_one();
  });

  bool shown = false;
  {
    std::unique_lock lock(mutex);
    if (!ended.wait_for(lock, kProgressDelay, [&] { return done; })) {
      shown = true;
      do {
        std::fprintf(stderr, "\rpeloria: %s\033[K",
                     ProgressText(counts.received, counts.total).c_str());
        std::fflush(stderr);
      } while (!ended.wait_for(lock, kProgressRefresh, [&] { return done; }));
    }
  }
  worker.join();
  StopCounting(http);
  if (shown) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace peloria
