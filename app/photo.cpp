#include "app/photo.h"

#include "app/startup.h"
#include "platform/cp932.h"
#include "platform/exception.h"

namespace peloria {

TPhoto::TPhoto(std::string address, std::string addressBytes)
    : address_(std::move(address)),
      addressBytes_(std::move(addressBytes)),
      exif_(std::make_unique<TExifInfo>()) {}

TPhoto::~TPhoto() = default;
TPhoto::TPhoto(TPhoto&&) noexcept = default;
TPhoto& TPhoto::operator=(TPhoto&&) noexcept = default;

std::string TPhoto::FailureReport() const {
  return FailureReportText(Cp932(kFailureText), cause_);
}

std::string TPhoto::ErrorMessage() const {
  if (!error_) return {};
  try {
    std::rethrow_exception(error_);
  } catch (const Exception& failure) {
    return failure.Message();
  } catch (const std::exception& failure) {
    return failure.what();
  } catch (...) {
    return "unknown failure";
  }
}

std::unique_ptr<TBitmap> TPhoto::TakeBitmap() {
  if (pending_.valid()) {
    try {
      TCopy copy = pending_.get();
      bitmap_ = std::move(copy.bitmap);
      brightness_ = copy.brightness;
    } catch (const std::exception& cause) {
      // As a copy that fails with the picture: the failure display.
      failed_ = true;
      cause_ = cause.what();
    }
  }
  return std::move(bitmap_);
}

void TPhoto::GiveBack(std::unique_ptr<TGraphic> graphic, std::unique_ptr<TBitmap> bitmap) {
  graphic_ = std::move(graphic);
  bitmap_ = std::move(bitmap);
}

}  // namespace peloria
