// A reader for the X Window Dump format that `xwd` writes, enough for
// screenshots of a TrueColor screen.
#pragma once

#include <QImage>
#include <string_view>

namespace peloria::e2e {

// Decodes an XWD file (ZPixmap, TrueColor or DirectColor, 24 or 32 bits per
// pixel, either pixel byte order) into an RGB32 image. Throws
// std::runtime_error on anything else or on truncated data.
QImage ReadXwd(std::string_view bytes);

}  // namespace peloria::e2e
