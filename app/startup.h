// The start of Peloria without its window: the settings, the way from the
// command-line address to a loaded picture (a local file, a web browser's
// cached copy, or a download into temp.jpg), the summary of its Exif data and
// the failure report, made into one photo (app/photo.h) per address. The
// window (app/unit1.h) shows the photos; --print prints one, so that it never
// loads the GUI toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/photo.h"
#include "exif/exif_info.h"
#include "http/idhttp.h"
#include "picture/jpeg.h"
#include "platform/files.h"
#include "platform/stream.h"

namespace peloria {

// The idle time limit of downloads from the INI's [internet] timeout= (whole
// seconds; 0: none, kIdTimeoutInfinite; absent or invalid: 30 s).
int DownloadTimeoutMs(const std::string& setting);

// Runs a prepared download of `address` into `target`: the window shows its
// progress, --print a line on a terminal.
using TDownloadRunner =
    std::function<void(TIdHTTP& http, const std::string& address, TStream& target)>;

// What a web browser's extension handed over with the picture's address
// (peloria --from-browser, started by the native messaging host). The user
// has just seen the picture, so the browsers' caches are looked in whatever
// Peloria.ini says, and a download goes out with the page as its Referer.
struct TBrowserHandover {
  std::string page;  // the page's address (CP932); empty: the address itself
  // The picture's bytes as the page held them (data: and blob: pictures):
  // written into temp.jpg as a download would be and shown from there.
  std::optional<std::string> picture;
};

// The start's steps: made with the program's settings (Peloria.ini beside
// the program or in the user's configuration folder, read once; a missing
// file, section or key gives the default), it turns any number of addresses
// into photos, one at a time on each thread.
class TStartup {
 public:
  // With the program's own files.
  TStartup();
  // With `files`: its Peloria.ini, and its download folder for temp.jpg.
  explicit TStartup(ProgramFiles files);
  ~TStartup();

  // Turns `address` (CP932, as shown and compared; `addressBytes` is the
  // address's own bytes, which name files) into a local file, loads it, copies
  // it into the photo's bitmap and writes the summary of its Exif data. A
  // failure of the download or of loading or copying makes the photo Failed();
  // any other failure, such as temp.jpg that cannot be made, is kept as its
  // Error(). A download into temp.jpg keeps the file locked until the photo
  // is made, so that a second Peloria waits before it replaces it. `http`
  // and `run` serve a download only; a local file never touches them.
  //
  // With `handover`, the address came from a web browser (see
  // TBrowserHandover).
  //
  // kThumbnailFirst, for a window that is to show the photo as soon as it
  // can: a JPEG's header is checked for all that its full decode refuses,
  // then the thumbnail is decoded at the reduction its box allows
  // (TPhoto::Thumbnail), and the bitmap copy is made on a worker thread
  // beside the photo (TPhoto::BitmapPending).
  enum TSteps { kWhole, kThumbnailFirst };
  TPhoto Open(const std::string& address, const std::string& addressBytes, TIdHTTP& http,
              const TDownloadRunner& run, const TBrowserHandover* handover = nullptr,
              TSteps steps = kWhole) const;
  // The same for picture bytes had without an address (dropped or pasted):
  // they are written into temp.jpg as a download's body would be, and read
  // from there. The photo's address is that of temp.jpg; it is no local
  // picture (Local() is false).
  TPhoto OpenData(const std::string& data) const;

 private:
  using TDownload = std::unique_ptr<TFileStream>;
  // The steps that follow the file's arrival (`fetch`, false on the failure
  // display): loading, the copy and the summary; a failure outside the
  // guarded steps kept.
  TPhoto Make(TPhoto photo, const std::function<bool(TPhoto&, TDownload&)>& fetch,
              TSteps steps = kWhole) const;
  // The way from the address to a local file: the file itself, a cache copy
  // or a download into `download`.
  bool Fetch(TPhoto& photo, TIdHTTP& http, const TDownloadRunner& run, TDownload& download,
             const TBrowserHandover* handover) const;
  // Picture bytes written into temp.jpg, as a download's body would be.
  bool Store(TPhoto& photo, const std::string& data, TDownload& download) const;
  // temp.jpg, created (emptied) and locked, as the photo's local path.
  TDownload CreateDownload(TPhoto& photo) const;
  // 8. The picture at the photo's local path and its bitmap copy (with
  // kThumbnailFirst, a JPEG's reduced thumbnail and the copy under way on a
  // worker); false on the failure display.
  static bool LoadPicture(TPhoto& photo, TSteps steps);
  // Its work, raising what loading or copying raises.
  static void MakePicture(TPhoto& photo, TSteps steps);
  // The failure display for `photo`; answers false.
  static bool Failed(TPhoto& photo, const std::exception& cause);
  // Proxy, Referer, user agent and time limits of a download.
  void PrepareDownload(TIdHTTP& http, const std::string& referer) const;

  ProgramFiles files_;
  std::string proxyServer_;
  std::int32_t proxyPort_ = 0;
  std::int32_t localFile_ = 0;
  int timeoutMs_ = 0;
};

// The thumbnail box (160 x 120 at most, the picture fitted into it).
inline constexpr int kThumbnailBoxWidth = 160;
inline constexpr int kThumbnailBoxHeight = 120;

// The reduction at which a width x height JPEG is decoded for its thumbnail:
// the largest that keeps the detail of the thumbnail fitted into the box,
// both as the picture is stored and turned by a quarter (its Exif orientation
// is read after it), for `ratio` device pixels per pixel.
TJPEGScale ThumbnailDecodeScale(int width, int height, double ratio = 1);

// The summary of the Exif data of the picture file `localPath` (CP932, ten
// lines at most), read into `exif`: a JPEG file's Exif segment, else the Exif
// block of another container (picture/exif_block.h);
// 「Exif情報はありません。」 when it has none.
std::string SummaryText(TExifInfo& exif, const std::string& localPath);

// The failure display's text (UTF-8 here; shown in CP932).
inline constexpr char kFailureText[] = "データの取得に失敗しました";

// The failure display's report on one line: `caption` and, in parentheses,
// `cause` with every run of line breaks made one blank (socket errors carry
// "\r\n" between their number and their text).
std::string FailureReportText(const std::string& caption, const std::string& cause);

// The web browser's name for its cached copy of `address`: the last path
// segment's base + "[1]." + its extension.
std::string CacheName(const std::string& address);
// 1-based position of the last occurrence of `sub` in `text`; 0 when none.
int LastPos(const std::string& sub, const std::string& text);
// Depth-first search of `folder` for a file named `name` (A-Z folded);
// `result` is the first match, or empty.
void FindFile(const std::string& name, std::string folder, std::string& result);

}  // namespace peloria
