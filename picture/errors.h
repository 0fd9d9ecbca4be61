// Failures of the picture classes. Their messages are CP932 texts; the
// templates below are the exact texts, "%s" and "%d" filled in by the thrower.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "picture/picture_limits.h"
#include "platform/exception.h"
#include "platform/message.h"

namespace peloria {

// A file type that is not registered, or a file whose contents the graphic
// kind cannot read.
PELORIA_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
// An operation a graphic cannot carry out (row index out of range).
PELORIA_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
// A fatal error of the JPEG decoder.
PELORIA_DECLARE_EXCEPTION(EJPEG, Exception);
// A picture whose pixel image (or whose file) would exceed kMaxBitmapBytes,
// or for which the system has no memory. Derived from EInvalidGraphic so
// that callers handling unreadable pictures handle it too. Message
// kMsgBitmapTooLarge with the width and height, kMsgPictureFileTooLarge with
// the file's size, or kMsgNoPixelMemory with the bytes asked for.
PELORIA_DECLARE_EXCEPTION(EOutOfResources, EInvalidGraphic);

// Message templates (UTF-8 here, converted to CP932 and filled by
// FillMessage when thrown).
inline constexpr std::string_view kMsgUnknownExtension = "拡張子 .%s の画像形式は処理できません";
inline constexpr std::string_view kMsgInvalidBitmap = "ビットマップイメージが不正です";
inline constexpr std::string_view kMsgScanLineRange =
    "スキャンライン のインデックスが範囲を越えました";
inline constexpr std::string_view kMsgJpegError = "JPEG エラー #%d";
inline constexpr std::string_view kMsgCannotAssign = "%s を %s に代入することはできません";
inline constexpr std::string_view kMsgBitmapTooLarge = "ビットマップが大きすぎます (%s × %s)";
inline constexpr std::string_view kMsgPictureFileTooLarge =
    "画像ファイルが大きすぎます (%s バイト)";
inline constexpr std::string_view kMsgNoPixelMemory =
    "ビットマップのメモリを確保できません (%s バイト)";

// A file of another kind that its decoder cannot read: the kind's name and
// the decoder's own account of the fault.
inline constexpr std::string_view kMsgInvalidImage = "%s イメージが不正です: %s";

// Bytes of one row of `width` pixels of `bitsPerPixel` bits padded to 4
// bytes, and of the whole image; both computed in 64 bits. Throws
// EOutOfResources when the image exceeds kMaxBitmapBytes, and EInvalidGraphic
// when the width or height is negative.
std::int64_t BitmapRowBytes(std::int64_t width, int bitsPerPixel);
std::int64_t CheckedImageBytes(std::int64_t width, std::int64_t height, int bitsPerPixel);

}  // namespace peloria
