// The graphic kinds that a picture holder can hold, and their class records:
// the file-type registry refers to kinds through these records, and a kind
// knows the kind it derives from, so that removing a kind from the registry
// also removes the kinds derived from it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "picture/errors.h"
#include "picture/kind.h"
#include "picture/pixel_memory.h"
#include "platform/stream.h"

namespace peloria {

class TBitmap;
class TGraphic;

// The record of one graphic class: its name, the class it derives from (none
// for TGraphic itself) and how to make an empty object of it (none for
// abstract kinds).
struct TGraphicClass {
  const char* name;
  const TGraphicClass* parent;
  std::unique_ptr<TGraphic> (*create)();

  // True when this class is `other` or derives from it.
  bool InheritsFrom(const TGraphicClass& other) const;
};

class TGraphic {
 public:
  TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;
  virtual ~TGraphic();

  static const TGraphicClass& StaticClass();
  virtual const TGraphicClass& Class() const = 0;
  virtual const char* ClassName() const = 0;

  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // True when the graphic holds no image.
  virtual bool Empty() const = 0;

  // The graphic's pixels as a bitmap, had the way its kind has them (a JPEG
  // is decoded now if it was not yet, and fails as its decoding does); none
  // for a graphic that has no pixels to give (a metafile).
  virtual const TBitmap* Pixels() const { return nullptr; }
  // True when the pixels are already turned and mirrored as the file says
  // the picture is to be seen, so that an Exif orientation must not be
  // applied to them again.
  virtual bool Upright() const { return false; }

  // Reads the graphic from the stream, starting at its current position.
  virtual void LoadFromStream(TStream& stream) = 0;
  // Opens the file (others may read it, writers are refused; EFOpenError
  // "ファイル %s は開けません" when it cannot be opened) and reads it.
  void LoadFromFile(const std::string& path);

  // Signalled after the graphic changed (loaded, decoded, assigned, a row
  // handed out for writing).
  std::function<void()> OnChange;

 protected:
  void Changed();
};

// Reads every byte from the stream's position to its end into one block. A
// picture file larger than the largest pixel image is refused with
// EOutOfResources before the block is allocated.
std::vector<std::uint8_t> ReadRestOfStream(TStream& stream);
// The same into pixel memory, which maps a large block in huge pages at once
// (a heap block of a large file is faulted in one small page at a time while
// it is read, which costs as much as decoding it); its size is
// get_deleter().bytes.
PixelMemory ReadRestIntoPixelMemory(TStream& stream);

// A graphic kept as the bytes of its file, not decoded: metafiles, which the
// program recognises but never shows or copies.
class TUndecodedGraphic : public TGraphic {
 public:
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  bool Empty() const override { return data_.empty(); }
  const std::vector<std::uint8_t>& Data() const { return data_; }

 protected:
  // Keeps the file's bytes and the size read from its header, then signals
  // the change.
  void Keep(std::vector<std::uint8_t> data, int width, int height);

 private:
  std::vector<std::uint8_t> data_;
  int width_ = 0;
  int height_ = 0;
};

// Windows metafiles (.wmf, placeable or not) and enhanced metafiles (.emf):
// the width and height are taken from the placeable header or the enhanced
// header's frame at 96 pixels per inch, 0 when the file has neither. A
// metafile cannot be copied into a bitmap.
class TMetafile final : public TUndecodedGraphic {
 public:
  static const TGraphicClass& StaticClass();
  static const TPictureKind kKind;
  const TGraphicClass& Class() const override { return StaticClass(); }
  const char* ClassName() const override { return "TMetafile"; }
  void LoadFromStream(TStream& stream) override;
};

}  // namespace peloria
