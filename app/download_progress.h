// What the download step shows of its progress, with or without a window:
// the counts a download reports, their text, and the terminal's progress
// line (--print). The window's progress is app/progress.h.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <thread>

#include "http/idhttp.h"
#include "platform/stream.h"

namespace peloria {

// The delay before any progress is shown: short downloads show nothing.
constexpr std::chrono::milliseconds kProgressDelay{500};
// How often a shown progress is brought up to date.
constexpr std::chrono::milliseconds kProgressRefresh{100};

// The counts the downloading thread writes and the showing thread reads.
struct TProgressCounts {
  std::atomic<std::int64_t> received = 0;
  std::atomic<std::int64_t> total = -1;  // < 0: unknown
};

// Makes `http` report its reading into `counts` (per body: the declared
// length of the reply being read, the bytes of that body so far; a redirect's
// body starts over) until StopCounting.
void CountProgress(TIdHTTP& http, TProgressCounts& counts);
void StopCounting(TIdHTTP& http);

// Starts http.Download(address, target) on a thread of its own, which keeps
// the download's failure in `failure` and calls `ended` when it is over.
std::thread StartDownload(TIdHTTP& http, const std::string& address, TStream& target,
                          std::exception_ptr& failure, std::function<void()> ended);

// "1.5 MiB of 4.0 MiB (37%)", "812 KiB", "12 bytes": the progress text
// (`total` < 0: unknown).
std::string ProgressText(std::int64_t received, std::int64_t total);

// Runs http.Download(address, target); when standard error is a terminal
// and the download takes longer than kProgressDelay, one line on it shows
// the progress, erased at the end. Its failure leaves unchanged.
void DownloadWithTerminalProgress(TIdHTTP& http, const std::string& address, TStream& target);

}  // namespace peloria
