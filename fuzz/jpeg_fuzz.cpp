// Fuzzes JPEG loading and the bitmap copy: the input is loaded as a JPEG
// file, copied into a TBitmap (which decodes it) and every row of the copy is
// read. The input's size modulo 4 picks the decoding settings: the program's
// own (24 bits), 8 bits with a palette, greyscale output, or best speed with
// pass-by-pass display at half scale.
//
// Acceptable outcomes: a copy of the picture's size, EJPEG for data the
// decoder refuses, EOutOfResources for a picture beyond the bitmap bound;
// each within the decode budget (decode_budget.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/decode_budget.h"
#include "fuzz/row_scan.h"
#include "picture/bitmap.h"
#include "picture/errors.h"
#include "picture/jpeg.h"
#include "platform/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace peloria;
  TJPEGImage jpeg;
  switch (size % 4) {
    case 1:
      jpeg.SetPixelFormat(TJPEGPixelFormat::jf8Bit);
      break;
    case 2:
      jpeg.SetGrayscale(true);
      break;
    case 3:
      jpeg.SetPerformance(TJPEGPerformance::jpBestSpeed);
      jpeg.SetProgressiveDisplay(true);
      jpeg.SetScale(TJPEGScale::jsHalf);
      break;
    default:
      break;
  }
  const fuzz::TDecodeBudget budget;
  TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  try {
    jpeg.LoadFromStream(stream);
  } catch (const EJPEG&) {
    return 0;
  } catch (const EOutOfResources&) {
    return 0;
  }

  TBitmap copy;
  try {
    copy.Assign(&jpeg);
  } catch (const EJPEG&) {
    budget.Check();
    return 0;
  } catch (const EOutOfResources&) {
    budget.Check();
    return 0;
  }
  budget.Check();
  if (copy.Width() != jpeg.Width() || copy.Height() != jpeg.Height()) {
    std::fprintf(stderr, "copy %d x %d of a picture of %d x %d\n", copy.Width(), copy.Height(),
                 jpeg.Width(), jpeg.Height());
    std::abort();
  }
  fuzz::ScanRows(copy);
  return 0;
}
