// Fuzzes the Exif reader: the input is written to a file that HasExif and
// SetImageFileName then read, with the default search range and with the
// range raised over the whole file; the same bytes, and the bytes after a
// JPEG's Exif identifier, are walked as a TIFF block held in memory. The same bytes also go through the user
// comment decoding (as the hex text a walk would hand it, in both byte
// orders) and the JIS conversion, and as raw text through HexToText.
//
// Acceptable outcomes: results in the fields, the read-error event, or a
// failure of the stream family (EFOpenError, EReadError) out of the walk.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "exif/exif_info.h"
#include "exif/exif_text.h"
#include "platform/exception.h"

namespace {

// The file the reader opens, in a folder of its own made once per process.
const std::string& InputPath() {
  static const std::string path = [] {
    std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                      "/peloria-exif-fuzz-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    static std::string folder = dir;
    std::atexit([] {
      unlink((folder + "/input.jpg").c_str());
      rmdir(folder.c_str());
    });
    return dir + "/input.jpg";
  }();
  return path;
}

void WriteInput(const std::uint8_t* data, std::size_t size) {
  const int fd = open(InputPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) std::abort();
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

void ReadExif(std::int32_t searchRange) {
  peloria::TExifInfo info;
  info.SearchRange = searchRange;
  int readErrors = 0;
  info.OnReadError = [&readErrors](peloria::TExifInfo&) { ++readErrors; };
  const bool has = info.HasExif(InputPath());
  try {
    info.SetImageFileName(InputPath());
  } catch (const peloria::EStreamError&) {
    // The byte-order mark could not be read: a described failure.
    return;
  }
  // HasExif and the header search of the assignment must agree.
  if (has != (readErrors == 0)) {
    std::fprintf(stderr, "HasExif answered %d but the assignment %s the read-error event\n", has,
                 readErrors ? "called" : "did not call");
    std::abort();
  }
}

std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

}  // namespace

// The memory entrance: never raises, whatever the block holds.
void WalkBlock(const std::uint8_t* data, std::size_t size) {
  peloria::TExifInfo info;
  info.SetTiffBlock(data, size);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteInput(data, size);
  ReadExif(32);
  ReadExif(static_cast<std::int32_t>(size) + 4);
  WalkBlock(data, size);
  // A JPEG seed's TIFF block starts 12 bytes in (SOI, APP1 marker and length,
  // "Exif\0\0"), so the corpus of JPEG files reaches the walk this way too.
  if (size > 12) WalkBlock(data + 12, size - 12);

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // A user comment value as the walk hands it on: its bytes as hex pairs.
  const std::string hex = Hex(bytes);
  (void)peloria::DecodeUserComment(hex, false);
  (void)peloria::DecodeUserComment(hex, true);
  (void)peloria::JisToShiftJis(bytes);
  (void)peloria::HexToText(bytes);
  return 0;
}
