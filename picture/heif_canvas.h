// The canvas size of a HEIF file's derived primary picture (not for use
// outside picture/).
//
// A grid picture (the tiles a phone writes) or an overlay is composed on a
// canvas whose size its own small header gives. libheif allocates that
// canvas, and converts it, without holding it against the picture's
// declared size, so a file of a few hundred bytes could make it take
// gigabytes. The decoder reads the canvas size here first and bounds it
// like any other picture size. It also counts the items and tiles that
// libheif would read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace peloria {

struct THeifCanvas {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint64_t tiles = 0;  // a grid's rows times columns; 0 for an overlay
};

// The canvas of the primary picture when it is a grid ("grid") or an
// overlay ("iovl"); nothing for a coded picture or when the boxes naming the
// primary picture are missing or broken (libheif then refuses the file).
// A grid or overlay whose header cannot be found, is cut off or gives an
// empty canvas is refused with EInvalidGraphic.
std::optional<THeifCanvas> DerivedCanvas(std::span<const std::uint8_t> file);

// libheif builds and cross-references every item of a file before anything
// is decoded, and decodes every tile of a grid, at a cost that grows faster
// than the number of items: a file of less than a megabyte whose tiles all
// share one coded picture kept it busy for a minute. Refuses with
// EInvalidGraphic a file whose "iinf" or "iloc" box declares more than
// kMaxHeifItems items, or whose primary grid has more than kMaxHeifGridTiles
// tiles, before libheif reads it.
void CheckHeifItems(std::span<const std::uint8_t> file);

}  // namespace peloria
