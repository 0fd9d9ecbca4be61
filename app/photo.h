// One photo as Peloria shows it, apart from any window: what the start's
// steps (TStartup::Open, app/startup.h) made of one address. Either the
// picture was had, and the photo holds the loaded graphic, its bitmap copy,
// the parsed Exif fields and the summary; or it was not (a download or a load
// that failed), and the photo holds the failure display's cause. A failure
// outside those guarded steps (temp.jpg that cannot be made, a summary that
// cannot be computed) is kept as Error(), beside whatever was made before it.
//
// A photo is made on any thread and then handed, by moving it, to whoever
// shows it: the window (app/unit1.h) lends its graphic to the thumbnail and
// its bitmap copy to the histogram, and hands them back when it shows the
// next photo; --print writes its summary.
#pragma once

#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/histogram_count.h"
#include "exif/exif_info.h"
#include "picture/bitmap.h"
#include "picture/graphic.h"

namespace peloria {

class TPhoto {
 public:
  TPhoto(std::string address, std::string addressBytes);
  ~TPhoto();
  TPhoto(TPhoto&&) noexcept;
  TPhoto& operator=(TPhoto&&) noexcept;

  // The address as shown and compared (CP932), and as given (the bytes that
  // name files).
  const std::string& Address() const { return address_; }
  const std::string& AddressBytes() const { return addressBytes_; }
  // The file that was loaded (file-system bytes); empty until one was known.
  const std::string& LocalPath() const { return localPath_; }
  // True when the address itself named a local file (a file:/// address or a
  // path), not a download or a browser-cache copy: its folder is stepped
  // through.
  bool Local() const { return local_; }

  // True when the picture could not be had: the failure display, with the
  // caught failure's message (CP932).
  bool Failed() const { return failed_; }
  const std::string& Cause() const { return cause_; }
  // "データの取得に失敗しました (cause)" on one line (CP932).
  std::string FailureReport() const;

  // A failure outside the guarded steps (for the general error display), or
  // none.
  std::exception_ptr Error() const { return error_; }
  // Its message (CP932), empty without one.
  std::string ErrorMessage() const;

  // The loaded picture and its bitmap copy while the photo holds them; none
  // when loading failed before they were made, or while they are lent out.
  const TGraphic* Graphic() const { return graphic_.get(); }
  const TBitmap* Bitmap() const { return bitmap_.get(); }
  std::unique_ptr<TGraphic> TakeGraphic() { return std::move(graphic_); }
  // Waits for a copy still being made (BitmapPending); when making it fails,
  // the photo becomes Failed() with its cause and gives none.
  std::unique_ptr<TBitmap> TakeBitmap();

  // The thumbnail's pixels when the start put the thumbnail first
  // (TStartup::kThumbnailFirst) and the picture is a JPEG: the picture
  // decoded at the reduction its thumbnail box allows. None: the thumbnail
  // is drawn from the graphic's own pixels.
  const std::shared_ptr<const TBitmap>& Thumbnail() const { return thumbnail_; }
  std::shared_ptr<const TBitmap> TakeThumbnail() { return std::move(thumbnail_); }
  // True while the bitmap copy is being made on a worker thread beside the
  // photo (a thumbnail-first start), until TakeBitmap takes it.
  bool BitmapPending() const { return pending_.valid(); }
  // The brightness histogram (type 3, the thumbnail click's) of the bitmap
  // copy, when it was counted on the worker that made the copy; none
  // otherwise, and once taken. Valid after TakeBitmap.
  std::optional<THistogramCounts> TakeBrightness() { return std::exchange(brightness_, {}); }
  // Takes back what was taken.
  void GiveBack(std::unique_ptr<TGraphic> graphic, std::unique_ptr<TBitmap> bitmap);

  // The Exif fields that the summary was made of.
  const TExifInfo& Exif() const { return *exif_; }
  // The summary (CP932), once it was made.
  const std::optional<std::string>& Summary() const { return summary_; }

 private:
  friend class TStartup;

  std::string address_;
  std::string addressBytes_;
  std::string localPath_;
  bool local_ = false;
  bool failed_ = false;
  std::string cause_;
  std::exception_ptr error_;
  std::unique_ptr<TGraphic> graphic_;
  std::unique_ptr<TBitmap> bitmap_;
  std::shared_ptr<const TBitmap> thumbnail_;
  std::optional<THistogramCounts> brightness_;
  // The copy made beside the photo, with its brightness counts.
  struct TCopy {
    std::unique_ptr<TBitmap> bitmap;
    THistogramCounts brightness{};
  };
  std::future<TCopy> pending_;
  std::unique_ptr<TExifInfo> exif_;
  std::optional<std::string> summary_;
};

}  // namespace peloria
