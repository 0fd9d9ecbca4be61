#include "picture/picture.h"

#include "picture/formats.h"
#include "platform/cp932.h"

namespace peloria {

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::LoadFromFile(const std::string& path) {
  // Paths are the file system's bytes; the extension rules read CP932 text
  // (lead bytes), so the name is compared in its CP932 form.
  const std::string extension = PathExtension(Cp932(path));
  const TGraphicClass* kind = FileFormats().Find(extension);
  if (kind == nullptr || kind->create == nullptr) {
    throw EInvalidGraphic(FillMessage(kMsgUnknownExtension, {extension}));
  }
  std::unique_ptr<TGraphic> graphic = kind->create();
  graphic->LoadFromFile(path);
  SetGraphic(std::move(graphic));
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  if (graphic_) graphic_->OnChange = [this] { Changed(); };
  Changed();
}

int TPicture::Width() const {
  return graphic_ ? graphic_->Width() : 0;
}
int TPicture::Height() const {
  return graphic_ ? graphic_->Height() : 0;
}

void TPicture::Changed() {
  if (OnChange) OnChange();
}

}  // namespace peloria
