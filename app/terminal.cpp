#include "app/terminal.h"

#include <ostream>

#include "app/address.h"
#include "app/exif_report.h"
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
  // Both parts may hold a server's or a file's bytes (a reason phrase with
  // ESC and BEL): the terminal gets them escaped, as the Exif texts are.
  err << "peloria: " << EscapeControls(input) << ": " << EscapeControls(message) << '\n';
}

int PrintExif(const std::string& argument, std::ostream& out, std::ostream& err, bool json) {
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

  // Without an Exif header there are no fields to list.
  if (noHeader) {
    PrintError(err, shown, Utf8(Cp932("Exif情報はありません。")));
    return kExitFailure;
  }
  out << (json ? ExifJson(exif) : ExifLines(exif));
  return kExitOk;
}

void PrintUsage(std::ostream& out) {
  out << "Usage: peloria [ADDRESS]\n"
         "       peloria --print ADDRESS [--json]\n"
         "       peloria --exif FILE [--json]\n"
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
         "  --exif FILE      print the Exif fields that FILE (a path or a file:///\n"
         "                   address) has, GPS and lens included\n"
         "                   (exit 1 when it has no Exif data, 2 when it cannot be read)\n"
         "  --json           with --print or --exif: write one JSON object instead\n"
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
