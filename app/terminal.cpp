#include "app/terminal.h"

#include <array>
#include <concepts>
#include <ostream>

#include "app/address.h"
#include "exif/exif_info.h"
#include "picture/exif_block.h"
#include "platform/cp932.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "text/format.h"

#ifndef PELORIA_VERSION
#define PELORIA_VERSION "unknown"
#endif

namespace peloria {

void PrintError(std::ostream& err, const std::string& input, const std::string& message) {
  err << "peloria: " << input << ": " << message << '\n';
}

namespace {

std::string Show(const std::string& text) {
  return Utf8(text);
}

std::string Show(const TExifRational& rational) {
  return Utf8(rational.Text) + " | " + Utf8(FormatGeneral(rational.Value, 15));
}

std::string Show(const TExifStringValue& coded) {
  return std::to_string(coded.Value) + " | " + Utf8(coded.Text);
}

std::string Show(TImageOrientation orientation) {
  static constexpr std::array<const char*, 9> kNames = {
      "ioUnknown", "ioTopLeft",  "ioTopRight",    "ioBottomLeft", "ioBottomRight",
      "ioLeftTop", "ioRightTop", "ioRightBottom", "ioLeftBottom"};
  const auto index = static_cast<std::size_t>(orientation);
  return index < kNames.size() ? kNames[index] : std::to_string(index);
}

template <std::integral Integer>
std::string Show(Integer value) {
  return std::to_string(value);
}

}  // namespace

int PrintExif(const std::string& argument, std::ostream& out, std::ostream& err) {
  // The same local forms as the window takes: a file address or a path. The
  // reader answers a missing file like one without Exif data; here it is an
  // error.
  const std::string shown = Utf8(LocaleToCp932(argument));
  const std::string file = LocalPathOf(argument).value_or("");
  if (!FileExists(file)) {
    PrintError(err, shown, "no such file");
    return kExitError;
  }
  TExifInfo exif;
  bool noHeader = false;
  exif.OnReadError = [&noHeader](TExifInfo&) { noHeader = true; };
  try {
    // A JPEG file's Exif segment, else the Exif block of another container.
    const auto block = exif.HasExif(file) ? std::nullopt : ReadExifBlock(file);
    if (block) {
      exif.SetTiffBlock(block->data(), block->size());
    } else {
      exif.SetImageFileName(file);
    }
  } catch (const Exception& failure) {
    PrintError(err, shown, Utf8(failure.Message()));
    return kExitError;
  } catch (const std::exception& failure) {
    PrintError(err, shown, failure.what());
    return kExitError;
  }

  out << "ByteOrder: " << (exif.MotorolaOrder() ? "Motorola" : "Intel") << '\n';
#define PELORIA_FIELD(name) out << #name ": " << Show(exif.name) << '\n'
  PELORIA_FIELD(ApertureValue);
  PELORIA_FIELD(BrightnessValue);
  PELORIA_FIELD(ColorSpace);
  PELORIA_FIELD(Compression);
  PELORIA_FIELD(CompressedBitsPerPixel);
  PELORIA_FIELD(Copyright);
  PELORIA_FIELD(DateTime);
  PELORIA_FIELD(DateTimeDigitized);
  PELORIA_FIELD(DateTimeOriginal);
  PELORIA_FIELD(ExifVersion);
  PELORIA_FIELD(ExposureBiasValue);
  PELORIA_FIELD(ExposureProgram);
  PELORIA_FIELD(ExposureTime);
  PELORIA_FIELD(Flash);
  PELORIA_FIELD(FlashpixVersion);
  PELORIA_FIELD(FNumber);
  PELORIA_FIELD(FocalLength);
  PELORIA_FIELD(FocalLengthIn35mmFilm);
  PELORIA_FIELD(FocalPlaneResolutionUnit);
  PELORIA_FIELD(FocalPlaneXResolution);
  PELORIA_FIELD(FocalPlaneYResolution);
  PELORIA_FIELD(ImageDescription);
  PELORIA_FIELD(PixelYDimension);
  PELORIA_FIELD(PixelXDimension);
  PELORIA_FIELD(ISOSpeedRatings);
  PELORIA_FIELD(JPEGInterchangeFormat);
  PELORIA_FIELD(JPEGInterchangeFormatLength);
  PELORIA_FIELD(LightSource);
  PELORIA_FIELD(WhiteBalance);
  PELORIA_FIELD(Make);
  PELORIA_FIELD(MakerNoteLength);
  PELORIA_FIELD(MakerNoteOffset);
  PELORIA_FIELD(MaxApertureValue);
  PELORIA_FIELD(MeteringMode);
  PELORIA_FIELD(Model);
  PELORIA_FIELD(Orientation);
  PELORIA_FIELD(PhotometricInterpretation);
  PELORIA_FIELD(PlanarConfiguration);
  PELORIA_FIELD(RelatedSoundFile);
  PELORIA_FIELD(ResolutionUnit);
  PELORIA_FIELD(SamplesPerPixel);
  PELORIA_FIELD(SensingMethod);
  PELORIA_FIELD(ShutterSpeedValue);
  PELORIA_FIELD(Software);
  PELORIA_FIELD(SubjectDistance);
  PELORIA_FIELD(SubSecTime);
  PELORIA_FIELD(SubSecTimeDigitized);
  PELORIA_FIELD(SubSecTimeOriginal);
  PELORIA_FIELD(ImageLength);
  PELORIA_FIELD(ImageWidth);
  PELORIA_FIELD(ThumbnailOrientation);
  PELORIA_FIELD(ThumbnailResolutionUnit);
  PELORIA_FIELD(ThumbnailXResolution);
  PELORIA_FIELD(ThumbnailYResolution);
  for (const std::string& line : exif.UserComment) out << "UserComment: " << Utf8(line) << '\n';
  PELORIA_FIELD(XResolution);
  PELORIA_FIELD(YResolution);
#undef PELORIA_FIELD

  if (noHeader) {
    PrintError(err, shown, Utf8(Cp932("Exif情報はありません。")));
    return kExitFailure;
  }
  return kExitOk;
}

void PrintUsage(std::ostream& out) {
  out << "Usage: peloria [ADDRESS]\n"
         "       peloria --print ADDRESS\n"
         "       peloria --exif FILE\n"
         "       peloria --help | --version\n";
}

void PrintHelp(std::ostream& out) {
  PrintUsage(out);
  out << "\n"
         "Shows the picture at ADDRESS with a summary of its shooting data. ADDRESS is\n"
         "a path (relative or absolute) or a file:/// address of a local file, or a\n"
         "web address; a web address is looked for in the cache folder (local_file=1\n"
         "in Peloria.ini) or downloaded into temp.jpg: beside the program when its\n"
         "folder is writable, else in ~/.cache/peloria. Click the picture to draw its\n"
         "histogram; Esc, Ctrl+W or Ctrl+Q close the window. Errors are written as\n"
         "\"peloria: ADDRESS: message (cause)\".\n"
         "\n"
         "  --print ADDRESS  do the same without a window and print the summary\n"
         "                   (exit 1 when the picture cannot be obtained, 2 on an error)\n"
         "  --exif FILE      print every Exif field that FILE (a path or a file:///\n"
         "                   address) holds\n"
         "                   (exit 1 when it has no Exif data, 2 when it cannot be read)\n"
         "  --help           show this help and exit\n"
         "  --version        show the version and exit\n"
         "\n"
         "Settings: Peloria.ini beside the program (else ~/.config/peloria/Peloria.ini\n"
         "when the program's folder is not writable), [internet] proxy_server and\n"
         "proxy_port, [Setting] local_file.\n";
}

void PrintVersion(std::ostream& out) {
  out << "peloria " PELORIA_VERSION "\n";
}

}  // namespace peloria
