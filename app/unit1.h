// The main window: it shows one photo at a time (app/photo.h), the first made
// from the command-line address at start (configuration, browser-cache
// search, download, loading, the Exif summary), with its layout, and the
// histogram drawn on a click.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "app/folder.h"
#include "app/histogram_count.h"
#include "app/photo.h"
#include "app/read_ahead.h"
#include "app/startup.h"
#include "app/toolkit.h"
#include "exif/exif_info.h"
#include "http/idhttp.h"
#include "picture/bitmap.h"
#include "platform/stream.h"

class QMenu;
class QMimeData;

namespace peloria {

class TForm1 final : public TForm {
 public:
  // Builds the window as designed, then runs FormCreate. A failure that
  // FormCreate does not handle goes to the application's general error
  // display; the window stays as far as it was set up.
  // `handover`: the first address came from a web browser's extension.
  explicit TForm1(std::optional<TBrowserHandover> handover = std::nullopt);

  // Widgets and components.
  TLabel Label1;
  TImage Image1;
  TImage Image2;
  TButton Button1;
  TRadioButton Red;
  TRadioButton Green;
  TRadioButton Blue;
  TRadioButton All_c;
  TExifInfo ExifInfo1;
  TIdHTTP IdHTTP1;

  // The bitmap copy of the loaded picture; none when loading failed before
  // it was made.
  std::unique_ptr<TBitmap> bmp;

  // True while the window shows the failure display.
  bool Failed() const { return failed_; }
  // The failure display's text with its cause, the caught failure's message:
  // "データの取得に失敗しました (cause)" on one line (CP932).
  std::string FailureReport() const;

  // Makes a photo of `address` (CP932; `addressBytes` as given, naming
  // files) with the settings read at start and shows it; a download shows
  // its progress. A failure outside the guarded steps leaves by its
  // exception once the window is set up as far as the photo got.
  // `handover`: what a web browser handed over with the address.
  void Open(const std::string& address, const std::string& addressBytes,
            const TBrowserHandover* handover = nullptr);
  // Shows `photo` in place of the one shown: the window goes back to its
  // design, then shows the failure display, or the summary with the layout
  // after start-up (resized and centred again); a histogram once shown is
  // drawn again for the new picture with the same channel. Answers the photo
  // shown before, with its picture and bitmap copy back, none at the first.
  // A failure outside the guarded steps (photo.Error()) leaves by its
  // exception once the window is set up as far as the photo got.
  std::optional<TPhoto> ShowPhoto(TPhoto photo);
  // Shows the picture of the shown one's folder that `step` reaches (→ ←
  // PageDown PageUp Home End, the wheel over the thumbnail): only for a
  // local picture, none past either end. The folder is listed again at each
  // step; the new picture's neighbours are read ahead.
  void Step(TStep step);
  // Opens what a drop or the clipboard hands over: the first address of a
  // uri-list, a text/x-moz-url or a text/html picture, an address as plain
  // text, else picture bytes (image/*) written into temp.jpg. False when
  // `data` holds none of these.
  bool OpenTransfer(const QMimeData& data);
  // True when OpenTransfer would open something of `data`.
  static bool Openable(const QMimeData* data);
  // Ctrl+V and 貼り付け: OpenTransfer of the clipboard.
  void Paste();
  // Shows the photo of picture bytes had without an address, written into
  // temp.jpg as a download would be.
  void OpenPictureData(const std::string& bytes);

  // The photo shown (its picture and bitmap copy lent to Image1 and bmp);
  // none before the first.
  const TPhoto* Photo() const { return shown_ ? &*shown_ : nullptr; }
  // The photos read ahead; none before the first step or read-ahead.
  const TReadAhead* ReadAhead() const { return readAhead_.get(); }
  // The settings read at start; none before FormCreate.
  const TStartup* Startup() const { return startup_.get(); }

  // Begins the photo of a local `address` (CP932; `addressBytes` as given)
  // on a worker thread, its thumbnail first and its bitmap copy beside it,
  // before the window and the toolkit start; the next window's FormCreate
  // shows it when it opens the same address. Other addresses wait for the
  // window (a download shows its progress there).
  static void PrepareFirstPhoto(const std::string& address, const std::string& addressBytes);

  // Handlers.
  void FormCreate();
  void Button1Click();
  void Image1Click();
  void RedClick();
  void GreenClick();
  void BlueClick();
  void All_cClick();

  // The histogram of type 0 (red), 1 (green), 2 (blue) or 3 (brightness).
  void hist(int type);
  // Starts counting the histogram of `type` on a worker thread, when the
  // button goes down on the thumbnail or a radio button: the click that
  // follows on release draws from that count instead of counting anew.
  void prepare(int type);
  // Disable and enable the four radio buttons.
  void wait();
  void rewait();

  // The path of a shell special folder; 32 is the web browser's cache.
  std::string specialfolder(int csidl);
  // Depth-first search of `folder` for a file named `name` (A-Z folded);
  // `result` is the first match, or empty.
  void findfile(const std::string& name, std::string folder, std::string& result);

  static std::string reverse(const std::string& text);
  // 1-based position of the last occurrence of `sub` in `text`; 0 when none.
  static int lastpos(const std::string& sub, const std::string& text);
  // base + "[1]." + extension of the address's last path segment.
  static std::string cachename(const std::string& address);

  // The menu of a right-click on the summary or the picture: コピー,
  // 貼り付け (enabled when the clipboard holds something to open), and
  // 地図で表示 when the photo has a GPS position on the globe.
  std::unique_ptr<QMenu> ContextMenu();
  // コピー: the summary as UTF-8 text to the clipboard.
  void CopySummary();
  // Opens an address in the desktop's browser (xdg-open); tests replace it.
  std::function<void(const std::string&)> OpenAddress;

 private:
  void attachContextMenu();
  void attachStepping();
  void attachDrops();
  // Shows `photo` and answers the one shown before (ShowPhoto without
  // raising the photo's error).
  std::optional<TPhoto> present(TPhoto photo);
  // Reads the neighbours of `name` in `pictures` (of the shown photo's
  // folder) ahead, the one in `direction` first; `before` is held when it is
  // one of them.
  void readAround(const std::vector<std::string>& pictures, const std::string& name,
                  TStep direction, std::optional<TPhoto> before);
  // After a photo was opened: its neighbours read ahead, once the window is
  // idle.
  void readAroundLater();
  // Runs `action`, handing a failure to the general error display.
  void guarded(const std::function<void()>& action);
  // The widgets' design places, texts and visibility.
  void design();
  // The window's part of a photo's steps (the rest is app/startup.h).
  void failure(const std::string& cause);
  void layout();
  void centre();
  void placehist();
  void showThumbnail(TPhoto& photo);
  bool haveBitmap();
  void takeBitmap();

  // The counts of `bmp` for one type, as hist needs them: the prepared
  // count when it is of that type, else counted now.
  THistogramCounts counts(int type);
  // Waits for a prepared count and drops it (before `bmp` changes).
  void dropPrepared();

  std::unique_ptr<TStartup> startup_;
  std::optional<TBrowserHandover> handover_;
  // Made at the first step or read-ahead; it reads with startup_'s settings.
  std::unique_ptr<TReadAhead> readAhead_;
  std::optional<TPhoto> shown_;
  // The histogram's type once it was shown.
  std::optional<int> histType_;
  bool failed_ = false;
  std::string address_;  // CP932
  std::string cause_;    // CP932
  // The count begun by prepare; declared after `bmp`, which it reads, so
  // that it ends first.
  int preparedType_ = -1;
  std::future<THistogramCounts> prepared_;
  // The brightness counts of `bmp` made with it, when they were.
  std::optional<THistogramCounts> brightness_;
};

}  // namespace peloria
