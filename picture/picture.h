// The picture holder: owns at most one graphic, loads a file by choosing the
// graphic kind from the file's extension or, when its first bytes are the
// signature of another kind, from those (see formats.h), and signals every
// change to whoever shows it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "picture/graphic.h"

namespace peloria {

class TPicture {
 public:
  TPicture();
  ~TPicture();
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // Chooses the kind registered for the path's extension and lets a new
  // graphic of that kind read the file; when the file starts with the
  // signature of another kind (a PNG named .jpg, a file without extension),
  // that kind reads it instead. Fails with EInvalidGraphic
  // "拡張子 .%s の画像形式は処理できません" (the extension as written) when
  // none is registered, EFOpenError when the file cannot be opened, or the
  // graphic's own failure; the held graphic stays as it was on any failure.
  // On success the new graphic replaces the old one and OnChange fires.
  void LoadFromFile(const std::string& path);

  // The held graphic, or nullptr.
  TGraphic* Graphic() const { return graphic_.get(); }
  // Takes over `graphic` (nullptr: holds none) and signals a change.
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  // Hands the held graphic over (nullptr when none) and holds none; signals a
  // change.
  std::unique_ptr<TGraphic> TakeGraphic();

  // Those of the held graphic; 0 when there is none.
  int Width() const;
  int Height() const;

  // Fires after a load, and whenever the held graphic signals a change.
  std::function<void()> OnChange;

 private:
  void Changed();
  std::unique_ptr<TGraphic> graphic_;
};

}  // namespace peloria
