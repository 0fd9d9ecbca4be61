#include "picture/picture.h"

#include <array>

#include "picture/formats.h"
#include "platform/cp932.h"
#include "platform/stream.h"

namespace peloria {

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::LoadFromFile(const std::string& path) {
  // Paths are the file system's bytes; the extension rules read CP932 text
  // (lead bytes), so the name is compared in its CP932 form.
  const std::string extension = PathExtension(Cp932(path));
  const TGraphicClass* byName = FileFormats().Find(extension);
  const auto unknown = [&] {
    return EInvalidGraphic(FillMessage(kMsgUnknownExtension, {extension}));
  };

  // The file is opened once: its first bytes may name another kind than the
  // extension does, and then they decide. A file that cannot be opened fails
  // as before: for an unregistered extension with the extension's message.
  std::unique_ptr<TFileStream> stream;
  try {
    stream = std::make_unique<TFileStream>(path, TFileStream::Mode::kOpenReadDenyWrite);
  } catch (const EFOpenError&) {
    if (byName == nullptr) throw unknown();
    throw;
  }
  std::array<std::uint8_t, kSignatureBytes> head{};
  const auto got = stream->Read(head.data(), static_cast<std::int64_t>(head.size()));
  stream->Seek(0);
  const TGraphicClass* bySignature =
      KindBySignature(std::span<const std::uint8_t>(head.data(), static_cast<std::size_t>(got)));
  const TGraphicClass* kind = bySignature != nullptr ? bySignature : byName;
  if (kind == nullptr || kind->create == nullptr) throw unknown();

  std::unique_ptr<TGraphic> graphic = kind->create();
  graphic->LoadFromStream(*stream);
  stream.reset();
  SetGraphic(std::move(graphic));
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  if (graphic_) graphic_->OnChange = [this] { Changed(); };
  Changed();
}

std::unique_ptr<TGraphic> TPicture::TakeGraphic() {
  std::unique_ptr<TGraphic> graphic = std::move(graphic_);
  if (graphic) graphic->OnChange = nullptr;
  Changed();
  return graphic;
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
