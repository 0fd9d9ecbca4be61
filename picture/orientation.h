// The Exif orientation (tag 0x0112): how the stored picture is to be turned
// and mirrored to be seen as meant. Codes 1 to 8 say where the stored
// picture's first row and first column belong:
//   1 top, left (as stored)      5 left, top   (mirrored along the diagonal)
//   2 top, right (mirrored)      6 right, top  (turned 90° clockwise)
//   3 bottom, right (turned 180°) 7 right, bottom (mirrored along the other diagonal)
//   4 bottom, left (flipped)     8 left, bottom (turned 90° anticlockwise)
// Any other value is taken as 1.
#pragma once

namespace peloria {

struct OrientedPoint {
  int x;
  int y;
};

// True for the codes 5 to 8, whose picture as seen has width and height of
// the stored one swapped.
constexpr bool SwapsSides(int orientation) {
  return orientation >= 5 && orientation <= 8;
}

// The pixel of the stored picture (width x height as stored) that is seen
// at (x, y) of the turned picture.
constexpr OrientedPoint StoredPixel(int orientation, int x, int y, int width, int height) {
  switch (orientation) {
    case 2:
      return {width - 1 - x, y};
    case 3:
      return {width - 1 - x, height - 1 - y};
    case 4:
      return {x, height - 1 - y};
    case 5:
      return {y, x};
    case 6:
      return {y, height - 1 - x};
    case 7:
      return {width - 1 - y, height - 1 - x};
    case 8:
      return {width - 1 - y, x};
    default:
      return {x, y};
  }
}

}  // namespace peloria
