#include "app/picture_decodes.h"

#include <algorithm>
#include <utility>

#include "picture/jpeg.h"
#include "picture/picture.h"
#include "platform/numbers.h"

namespace peloria {

namespace {

// The side of a w x h picture fitted into the thumbnail box as the layout
// fits it: 160 wide when wider than high, else 120 high.
std::pair<int, int> Fitted(int w, int h) {
  if (h < w) {
    return {TPictureDecodes::kBoxWidth, static_cast<int>(Nearest(static_cast<long double>(h) / w *
                                                                 TPictureDecodes::kBoxWidth))};
  }
  return {static_cast<int>(Nearest(static_cast<long double>(w) / h * TPictureDecodes::kBoxHeight)),
          TPictureDecodes::kBoxHeight};
}

// The reduction that keeps the thumbnail's detail as the picture is stored
// and as it is turned by a quarter (the Exif orientation is read later).
TJPEGScale ScaleForEitherWay(int w, int h) {
  const auto [asStoredW, asStoredH] = Fitted(w, h);
  const auto [turnedW, turnedH] = Fitted(h, w);
  return std::min(ThumbnailScale(w, h, 1, asStoredW, asStoredH),
                  ThumbnailScale(w, h, 6, turnedW, turnedH));
}

}  // namespace

TPictureDecodes::TPictureDecodes(std::string path)
    : path_(std::move(path)),
      graphic_(graphicPromise_.get_future()),
      thumbnail_(thumbnailPromise_.get_future().share()),
      bitmap_(bitmapPromise_.get_future()),
      worker_([this] { Run(); }) {}

TPictureDecodes::~TPictureDecodes() {
  worker_.join();
}

void TPictureDecodes::Run() {
  // Each step's failure ends the worker and goes to every result not yet
  // given, so whoever waits for one learns it.
  int stage = 0;
  try {
    TPicture picture;
    picture.LoadFromFile(path_);
    std::unique_ptr<TGraphic> graphic = picture.TakeGraphic();
    auto* jpeg = dynamic_cast<TJPEGImage*>(graphic.get());
    if (jpeg == nullptr) {
      // Decoded at load: the copy shares its pixels, the thumbnail is drawn
      // from them.
      auto bitmap = std::make_unique<TBitmap>();
      bitmap->Assign(graphic.get());
      graphicPromise_.set_value(std::move(graphic));
      thumbnailPromise_.set_value(nullptr);
      bitmapPromise_.set_value(std::move(bitmap));
      return;
    }
    // Both decodes read copies that share the compressed data; the graphic
    // handed to the window is not touched again here.
    jpeg->CheckDecodable();
    TJPEGImage source;
    source.Assign(*jpeg);
    graphicPromise_.set_value(std::move(graphic));
    stage = 1;
    const TJPEGScale scale = ScaleForEitherWay(source.Width(), source.Height());
    thumbnailPromise_.set_value(source.DecodeAt(scale));
    stage = 2;
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Assign(&source);
    bitmapPromise_.set_value(std::move(bitmap));
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    if (stage < 1) graphicPromise_.set_exception(failure);
    if (stage < 2) thumbnailPromise_.set_exception(failure);
    bitmapPromise_.set_exception(failure);
  }
}

std::unique_ptr<TGraphic> TPictureDecodes::TakeGraphic() {
  return graphic_.get();
}

std::shared_ptr<const TBitmap> TPictureDecodes::Thumbnail() {
  return thumbnail_.get();
}

std::unique_ptr<TBitmap> TPictureDecodes::TakeBitmap() {
  return bitmap_.get();
}

bool TPictureDecodes::BitmapReady() const {
  return !bitmap_.valid() || bitmap_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace peloria
