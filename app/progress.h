// The download step's progress: the download runs on a worker thread while
// the user-interface thread shows, once it has taken longer than half a
// second, a small window with the address, the bytes received (of the total
// when the reply declares it), a progress bar and a キャンセル button that
// ends the download as a failure. In the terminal mode the same progress is
// one line on standard error, and only when standard error is a terminal.
#pragma once

#include <chrono>
#include <string>

#include "http/idhttp.h"
#include "platform/stream.h"

namespace peloria {

enum class ProgressStyle {
  kWindow,    // the progress window (the window mode)
  kTerminal,  // a line on standard error when it is a terminal (--print)
};

// How DownloadWithProgress reports; kWindow until set.
void SetProgressStyle(ProgressStyle style);

// The delay before any progress is shown: short downloads show nothing.
constexpr std::chrono::milliseconds kProgressDelay{500};

// Runs http.Download(address, target) and shows its progress as the style
// says. Returns when the download has ended; its failure (EIdAborted
// "cancelled" after キャンセル) leaves unchanged. Needs a QApplication.
void DownloadWithProgress(TIdHTTP& http, const std::string& address, TStream& target);

// "1.5 MiB of 4.0 MiB (37%)", "812 KiB", "12 bytes": the progress text
// (`total` < 0: unknown).
std::string ProgressText(std::int64_t received, std::int64_t total);

}  // namespace peloria
