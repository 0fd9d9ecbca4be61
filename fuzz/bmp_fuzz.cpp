// Fuzzes the BMP reader: the input is loaded as a BMP file into a TBitmap,
// copied into a second one (sharing its pixels until the first row access)
// and every row of the copy is read.
//
// Acceptable outcomes: a bitmap, EInvalidGraphic for a malformed file
// (EOutOfResources, derived from it, for a picture beyond the bitmap bound).
#include <cstdint>
#include <vector>

#include "fuzz/row_scan.h"
#include "picture/bitmap.h"
#include "picture/errors.h"
#include "platform/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace peloria;
  TBitmap bitmap;
  TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  try {
    bitmap.LoadFromStream(stream);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  TBitmap copy;
  copy.Assign(&bitmap);
  fuzz::ScanRows(copy);
  fuzz::ScanRows(bitmap);
  return 0;
}
