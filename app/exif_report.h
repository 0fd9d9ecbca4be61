// The Exif reader's fields as the terminal modes write them: "Name: value"
// lines, or one JSON object. Both walk the reader's tag table, so they list
// exactly the fields the file has, in the table's order. No GUI toolkit here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "exif/exif_info.h"

namespace peloria {

// Every control byte of UTF-8 text (below 0x20, and 0x7F) as a visible
// escape "\xHH" (lower-case hex), so that a file's texts cannot move the
// cursor, clear the screen or set the window title when printed. A backslash
// stays as it is.
std::string EscapeControls(std::string_view utf8);

// UTF-8 text as a JSON string with its quotes (RFC 8259): quote, backslash
// and control bytes escaped, everything else as it is.
std::string JsonString(std::string_view utf8);

// A number as JSON: the shortest text that reads back the same double, in
// C-locale notation; null for infinities and NaNs, which JSON cannot hold.
std::string JsonNumber(double value);

// "ByteOrder: Intel" and one "Name: value" line per field the last walk
// filled (UserComment: one line per comment), UTF-8, control bytes escaped.
std::string ExifLines(const TExifInfo& exif);

// One JSON object: "ByteOrder", then each field the last walk filled. Texts
// are strings; integers numbers; rationals {"rational": [n, d], "value": v}
// (v null when d is 0); coded values {"code": n, "text": name}; lists of
// rationals {"rational": [[n, d], ...], "value": [...]}; UserComment an
// array of strings; the GPS position {"lat": ..., "lon": ..., "alt": ...}.
std::string ExifJson(const TExifInfo& exif);

// The window's summary text (CP932, as the label holds it) for the
// terminal, in UTF-8: control bytes escaped, except the line feed that ends
// each line. The summary's free texts (the date and the camera model, which
// end it) may hold line feeds of their own; those are escaped too.
std::string TerminalSummary(const std::string& summary, const TExifInfo& exif);

// The same summary as one JSON object: {"summary": [lines], "exif": {...}},
// "exif" being ExifJson's object, left out when the file had no Exif data.
std::string SummaryJson(const std::string& summary, const TExifInfo& exif);

// The address of the photo's GPS position on the OpenStreetMap site, for
// the desktop's browser; none when the file has no position, or one off the
// globe (a latitude beyond 90 or a longitude beyond 180 degrees).
std::optional<std::string> MapAddress(const TExifInfo& exif);

}  // namespace peloria
