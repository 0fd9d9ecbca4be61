// The download step's progress in the window mode: the download runs on a
// worker thread while the user-interface thread shows, once it has taken
// longer than half a second, a small window with the address, the bytes
// received (of the total when the reply declares it), a progress bar and a
// キャンセル button that ends the download as a failure.
#pragma once

#include <string>

#include "app/download_progress.h"
#include "http/idhttp.h"
#include "platform/stream.h"

namespace peloria {

// Runs http.Download(address, target) and shows its progress. Returns when
// the download has ended; its failure (EIdAborted "cancelled" after
// キャンセル) leaves unchanged. Without a QApplication it only downloads.
void DownloadWithProgress(TIdHTTP& http, const std::string& address, TStream& target);

}  // namespace peloria
