// The Exif reader's bounds, in one place. Each keeps a hostile file from
// making the reader read, allocate or loop more than a real file ever needs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace peloria {

// Directories walked per file: IFD0 and 12 more reached by next-IFD links and
// the Exif, GPS and Interoperability pointers. A real file has at most five;
// a further request is dropped, so link loops end too.
constexpr std::size_t kMaxIfds = 13;

// Text and UNDEFINED bytes read by one walk, all entries together. An Exif
// block in a JPEG file fits one APP1 segment (at most 64 KiB, Exif 2.3,
// 4.5.4), so real files stay far below; a hostile file whose thousands of
// entries each claim the whole file does not make the walk read gigabytes.
constexpr std::int64_t kMaxValueBytesPerWalk = 16 << 20;

// Values taken from one RATIONAL or SRATIONAL entry: the longest tags read as
// lists hold 4 (LensSpecification; GPS coordinates and time hold 3). A count
// near 2^32 reads no more.
constexpr std::uint32_t kMaxRationalValues = 4;

}  // namespace peloria
