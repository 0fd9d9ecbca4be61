// Fuzzes the BMP reader: the input is loaded as a BMP file into a TBitmap,
// copied into a second one (sharing its pixels until the first write) and
// every row of both is read. Every byte of the copy is then changed through
// ScanLine, which must leave the original as it was (copy on write).
//
// Acceptable outcomes: a bitmap, EInvalidGraphic for a malformed file
// (EOutOfResources, derived from it, for a picture beyond the bitmap bound).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/row_scan.h"
#include "picture/bitmap.h"
#include "picture/errors.h"
#include "platform/stream.h"

namespace {

std::vector<std::uint8_t> Rows(const peloria::TBitmap& bitmap) {
  std::vector<std::uint8_t> rows;
  for (int row = 0; row < bitmap.Height(); ++row) {
    const std::uint8_t* bytes = bitmap.RowData(row);
    rows.insert(rows.end(), bytes, bytes + bitmap.RowBytes());
  }
  return rows;
}

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "copy on write: %s\n", what);
  std::abort();
}

}  // namespace

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

  const std::vector<std::uint8_t> before = Rows(bitmap);
  TBitmap writer;
  writer.Assign(&bitmap);
  Check(writer.SharesImageWith(bitmap), "a fresh copy does not share the pixels");
  for (int row = 0; row < writer.Height(); ++row) {
    std::uint8_t* bytes = writer.ScanLine(row);
    for (int i = 0; i < writer.RowBytes(); ++i) bytes[i] ^= 0xFF;
  }
  Check(Rows(bitmap) == before, "writing the copy changed the original");
  std::vector<std::uint8_t> after = Rows(writer);
  Check(after.size() == before.size(), "the copy changed its size");
  for (std::size_t i = 0; i < after.size(); ++i) after[i] ^= 0xFF;
  Check(after == before, "the copy lost bytes of the original");
  return 0;
}
