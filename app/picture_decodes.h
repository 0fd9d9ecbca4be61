// A local picture loaded and decoded on a worker thread, so that the work
// runs on a second core while the window and its toolkit start: first the
// file is read, then (for a JPEG) the thumbnail is decoded at the size it is
// shown, then the full 24-bit copy for the histogram. The window takes each
// result when it needs it and waits only then.
//
// A JPEG's header is checked for everything its full decode refuses before
// any pixel is decoded, so a file that cannot become the full copy fails
// before its thumbnail exists. Other kinds are decoded when they load; their
// thumbnail is drawn from their own pixels, as before.
#pragma once

#include <exception>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "picture/bitmap.h"
#include "picture/graphic.h"

namespace peloria {

class TPictureDecodes {
 public:
  // The thumbnail box: the decode is reduced as far as a thumbnail fitted
  // into it (160 x 120, at most, as the layout fits it) keeps its detail,
  // whichever way the Exif orientation turns the picture.
  static constexpr int kBoxWidth = 160;
  static constexpr int kBoxHeight = 120;

  // Starts loading `path` (the file system's bytes) on a worker thread.
  explicit TPictureDecodes(std::string path);
  // Waits for the worker.
  ~TPictureDecodes();
  TPictureDecodes(const TPictureDecodes&) = delete;
  TPictureDecodes& operator=(const TPictureDecodes&) = delete;

  const std::string& Path() const { return path_; }

  // The loaded graphic, handed over once (the picture holder takes it);
  // waits for the load, and throws its failure (a missing file, a file that
  // is no picture, a JPEG whose header the full decode would refuse).
  std::unique_ptr<TGraphic> TakeGraphic();
  // The thumbnail's pixels, a reduced decode of a JPEG; none when the
  // graphic's own pixels are to be shown. Waits for the decode and throws
  // its failure.
  std::shared_ptr<const TBitmap> Thumbnail();
  // The full copy (a 24-bit one for a colour JPEG), handed over once; waits
  // for it and throws its failure.
  std::unique_ptr<TBitmap> TakeBitmap();
  // True once the full copy is made or has failed (and after it was taken).
  bool BitmapReady() const;

 private:
  void Run();

  std::string path_;
  std::promise<std::unique_ptr<TGraphic>> graphicPromise_;
  std::promise<std::shared_ptr<const TBitmap>> thumbnailPromise_;
  std::promise<std::unique_ptr<TBitmap>> bitmapPromise_;
  std::future<std::unique_ptr<TGraphic>> graphic_;
  std::shared_future<std::shared_ptr<const TBitmap>> thumbnail_;
  std::future<std::unique_ptr<TBitmap>> bitmap_;
  std::thread worker_;  // last: started when the rest exists
};

}  // namespace peloria
