// The terminal modes of the peloria command, run as a user runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "tests/app/app_support.h"

namespace peloria::testing {
namespace {

namespace fs = std::filesystem;

RunResult Peloria(const std::vector<std::string>& args) {
  return Run(PELORIA_EXE, args);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(TerminalTest, PrintTheSampleAndFailures) {
  const RunResult sample = Peloria({"--print", FileUrl(PELORIA_SAMPLE)});
  EXPECT_EQ(sample.exitCode, 0) << sample.err;
  EXPECT_EQ(sample.err, "");
  EXPECT_EQ(Lines(sample.out).size(), 10u);
  EXPECT_EQ(Lines(sample.out)[9], "機種名            :Peloria PX-1");

  TempDir dir;
  WriteJpegFile(dir.path() / "plain.jpg", JpegRecipe{});
  const RunResult plain = Peloria({"--print", FileUrl(dir.path() / "plain.jpg")});
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_EQ(plain.out, "Exif情報はありません。");

  const RunResult missing = Peloria({"--print", FileUrl(dir.path() / "missing.jpg")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "peloria: " + FileUrl(dir.path() / "missing.jpg") +
                             ": データの取得に失敗しました (ファイル " +
                             (dir.path() / "missing.jpg").string() + " は開けません)\n");

  WriteFile(dir.path() / "zero.jpg", ExifJpeg([](TiffWriter& t) {
              t.Rational(t.ExifIfd(), 0x829A, {{0, 1}});
            }));
  const RunResult unhandled = Peloria({"--print", FileUrl(dir.path() / "zero.jpg")});
  EXPECT_EQ(unhandled.exitCode, 2);
  EXPECT_EQ(unhandled.out, "");
  EXPECT_FALSE(unhandled.err.empty());
}

TEST(TerminalTest, Exif) {
  const RunResult sample = Peloria({"--exif", PELORIA_SAMPLE});
  EXPECT_EQ(sample.exitCode, 0) << sample.err;
  const std::vector<std::string> lines = Lines(sample.out);
  // The byte order and the 26 fields the sample has (one comment line among
  // them), nothing for the others.
  ASSERT_EQ(lines.size(), 1u + 26u) << sample.out;
  EXPECT_EQ(lines[0], "ByteOrder: Intel");
  for (const char* expected : {
           "ExposureTime: 1/250 | 0.004",
           "ExposureBiasValue: -1/3 | -0.333333333333333",
           "ExposureProgram: 2 | プログラム",
           "FocalLengthIn35mmFilm:  | 35",
           "ISOSpeedRatings: 200",
           "WhiteBalance: 0 | 自動",
           "PixelXDimension: 640",
           "Orientation: ioTopLeft",
           "UserComment: Sample photo made by the Peloria build",
       }) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
  }

  TempDir dir;
  WriteJpegFile(dir.path() / "plain.jpg", JpegRecipe{});
  const RunResult plain = Peloria({"--exif", (dir.path() / "plain.jpg").string()});
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_EQ(plain.out, "");

  const RunResult missing = Peloria({"--exif", (dir.path() / "missing.jpg").string()});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("missing.jpg"), std::string::npos) << missing.err;
}

TEST(TerminalTest, RealCameraFiles) {
  const fs::path samples = PELORIA_SAMPLES_DIR;
  if (!fs::is_directory(samples)) GTEST_SKIP() << "no sample photos";
  int seen = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(samples)) {
    if (e.path().extension() != ".jpg") continue;
    SCOPED_TRACE(e.path().string());
    ++seen;
    const RunResult exif = Peloria({"--exif", e.path().string()});
    EXPECT_EQ(exif.exitCode, 0) << exif.err;
    const RunResult print = Peloria({"--print", FileUrl(e.path())});
    if (print.exitCode == 0) {
      EXPECT_TRUE(print.out.starts_with("F値               :")) << print.out;
      EXPECT_TRUE(print.out.ends_with("\n"));
    } else {
      // A summary failure (an exposure time that cannot be a fraction).
      EXPECT_EQ(print.exitCode, 2) << print.err;
    }
  }
  EXPECT_GT(seen, 0);
}

TEST(TerminalTest, Options) {
  const RunResult help = Peloria({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: peloria [ADDRESS]\n"));
  const RunResult version = Peloria({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(version.out.starts_with("peloria "));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--bogus"}, {"--print"}, {"--exif"}, {"--"}}) {
    const RunResult bad = Peloria(args);
    EXPECT_EQ(bad.exitCode, 2) << args[0];
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("Usage: peloria"), std::string::npos);
  }
  // The window without a display: an error, not a crash.
  const RunResult headless =
      peloria::testing::Run(PELORIA_EXE, {FileUrl(PELORIA_SAMPLE)},
                            {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}});
  EXPECT_EQ(headless.exitCode, 2);
  EXPECT_NE(headless.err.find("--print"), std::string::npos);
}

TEST(TerminalTest, OnlyTheWindowLoadsTheToolkitAndOnlyHttpsTheTlsLibrary) {
  // The dynamic loader names every library it initialises on standard error.
  const auto loaded = [](const std::vector<std::string>& args) {
    return peloria::testing::Run(PELORIA_EXE, args, {{"LD_DEBUG", "libs"}}).err;
  };
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"--version"}, {"--exif", PELORIA_SAMPLE}}) {
    const std::string log = loaded(args);
    EXPECT_NE(log.find("calling init"), std::string::npos) << "no loader log";
    for (const char* library : {"libQt6", "libpeloria-", "libssl", "libcrypto"}) {
      EXPECT_EQ(log.find(library), std::string::npos) << args[0] << " loads " << library;
    }
  }
  const std::string print = loaded({"--print", FileUrl(PELORIA_SAMPLE)});
  EXPECT_NE(print.find("libpeloria-print"), std::string::npos);
  for (const char* library : {"libQt6", "libssl", "libcrypto"}) {
    EXPECT_EQ(print.find(library), std::string::npos) << "--print of a file loads " << library;
  }

  // A program whose parts are missing says which; its other modes work.
  TempDir dir;
  const fs::path lonely = dir.path() / "peloria";
  fs::copy_file(PELORIA_EXE, lonely);
  const RunResult lonelyPrint = peloria::testing::Run(lonely, {"--print", FileUrl(PELORIA_SAMPLE)});
  EXPECT_EQ(lonelyPrint.exitCode, 2);
  EXPECT_EQ(lonelyPrint.out, "");
  EXPECT_TRUE(lonelyPrint.err.starts_with("peloria: libpeloria-print.so: ")) << lonelyPrint.err;
  const RunResult window =
      peloria::testing::Run(lonely, {FileUrl(PELORIA_SAMPLE)}, {{"QT_QPA_PLATFORM", "offscreen"}});
  EXPECT_EQ(window.exitCode, 2);
  EXPECT_TRUE(window.err.starts_with("peloria: libpeloria-window.so: ")) << window.err;
  EXPECT_EQ(peloria::testing::Run(lonely, {"--version"}).exitCode, 0);
}

TEST(TerminalTest, NoDisplayVariablesAtAll) {
  // As from a cron job or a bare ssh session: no DISPLAY, WAYLAND_DISPLAY,
  // QT_QPA_PLATFORM, HOME or XDG_RUNTIME_DIR.
  auto bare = [](const std::vector<std::string>& args) {
    return RunInEnvironment(PELORIA_EXE, args, {});
  };
  const RunResult help = bare({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: peloria [ADDRESS]\n"));
  EXPECT_EQ(help.err, "");
  const RunResult version = bare({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(version.out.starts_with("peloria ") && version.out.ends_with("\n"));
  EXPECT_EQ(version.err, "");

  const RunResult print = bare({"--print", FileUrl(PELORIA_SAMPLE)});
  EXPECT_EQ(print.exitCode, 0) << print.err;
  EXPECT_EQ(Lines(print.out).size(), 10u);
  EXPECT_EQ(print.err, "");
  const RunResult exif = bare({"--exif", PELORIA_SAMPLE});
  EXPECT_EQ(exif.exitCode, 0) << exif.err;
  EXPECT_EQ(exif.err, "");

  // Every error names its input and ends with a line feed.
  TempDir dir;
  WriteJpegFile(dir.path() / "plain.jpg", JpegRecipe{});
  const std::string plain = (dir.path() / "plain.jpg").string();
  const std::string missing = (dir.path() / "missing.jpg").string();
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::string err;
  } rows[] = {
      {{"--print", FileUrl(missing)},
       1,
       "peloria: " + FileUrl(missing) + ": データの取得に失敗しました (ファイル " + missing +
           " は開けません)\n"},
      {{"--exif", missing}, 2, "peloria: " + missing + ": no such file\n"},
      {{"--exif", plain}, 1, "peloria: " + plain + ": Exif情報はありません。\n"},
  };
  for (const Row& row : rows) {
    const RunResult r = bare(row.args);
    EXPECT_EQ(r.exitCode, row.exitCode) << row.args[1];
    EXPECT_EQ(r.err, row.err);
  }
  const RunResult window = bare({FileUrl(PELORIA_SAMPLE)});
  EXPECT_EQ(window.exitCode, 2);
  EXPECT_TRUE(window.err.starts_with("peloria: " + FileUrl(PELORIA_SAMPLE) + ": no display"))
      << window.err;
  EXPECT_TRUE(window.err.ends_with("\n"));
}

// Runs `command` through the shell; its standard output.
std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The tokens of a text separated by blanks.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

TEST(TerminalTest, RealCameraFilesAgreeWithAnIndependentReader) {
  const fs::path samples = PELORIA_SAMPLES_DIR;
  if (!fs::is_directory(samples)) GTEST_SKIP() << "no sample photos";
  if (Shell("command -v exiv2").empty()) GTEST_SKIP() << "no exiv2";
  // Fields that another tag may overwrite in Peloria's walk.
  const std::map<std::string, std::string> fedBy = {{"ISOSpeedRatings", "ExposureIndex"},
                                                    {"PixelXDimension", "RelatedImageWidth"},
                                                    {"PixelYDimension", "RelatedImageLength"},
                                                    {"ImageWidth", "RelatedImageWidth"},
                                                    {"ImageLength", "RelatedImageLength"}};
  int compared = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(samples)) {
    if (e.path().extension() != ".jpg") continue;
    SCOPED_TRACE(e.path().filename().string());
    // Peloria's fields: name -> value text before " | ".
    std::map<std::string, std::string> ours;
    const RunResult exif = Peloria({"--exif", e.path().string()});
    for (const std::string& line : Lines(exif.out)) {
      const std::size_t colon = line.find(": ");
      if (colon == std::string::npos) continue;
      const std::string value = line.substr(colon + 2);
      // The stored text before " | ", or the value after it when a number
      // tag has no text (FocalLengthIn35mmFilm).
      const std::size_t bar = value.find(" | ");
      ours[line.substr(0, colon)] = bar == 0 ? value.substr(3) : value.substr(0, bar);
    }
    // exiv2's raw entries: tag, group, name, type, count, value.
    std::map<std::string, std::pair<std::string, std::string>> theirs;  // name -> type, value
    std::set<std::string> names;
    for (const std::string& line :
         Lines(Shell("exiv2 -pv '" + e.path().string() + "' 2>/dev/null"))) {
      std::istringstream in(line);
      std::string tag, group, name, type, count;
      if (!(in >> tag >> group >> name >> type >> count)) continue;
      std::string value;
      std::getline(in, value);
      value = value.empty() ? ""
                            : value.substr(value.find_first_not_of(' ') == std::string::npos
                                               ? value.size()
                                               : value.find_first_not_of(' '));
      if (group == "Thumbnail" && (name == "Orientation" || name == "XResolution" ||
                                   name == "YResolution" || name == "ResolutionUnit"))
        name = "Thumbnail" + name;
      else if (group != "Image" && group != "Photo" && group != "GPSInfo" && group != "Thumbnail")
        continue;
      names.insert(name);
      theirs[name] = {type, value};  // a later directory wins, as in the walk
    }
    for (const auto& [name, entry] : theirs) {
      const auto& [type, value] = entry;
      auto fed = fedBy.find(name);
      if (fed != fedBy.end() && names.count(fed->second)) continue;
      if (!ours.count(name) || name.find("Orientation") != std::string::npos) continue;
      SCOPED_TRACE(name);
      if (type == "Ascii") {
        EXPECT_EQ(TrimRight(ours[name]), TrimRight(value));
      } else if (type == "Short" || type == "Long" || type == "Byte" || type == "Rational" ||
                 type == "SRational") {
        // Peloria keeps one value of a number tag, up to four of a list.
        const std::vector<std::string> mine = Words(ours[name]);
        const std::vector<std::string> other = Words(value);
        ASSERT_FALSE(mine.empty());
        ASSERT_GE(other.size(), mine.size());
        for (std::size_t i = 0; i < mine.size(); ++i) EXPECT_EQ(mine[i], other[i]);
      } else {
        continue;
      }
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
}

TEST(TerminalTest, ExifJsonIsValidForRealParsers) {
  if (Shell("command -v python3").empty()) GTEST_SKIP() << "no python3";
  TempDir dir;
  WriteFile(dir.path() / "gps.jpg", ExifJpeg([](TiffWriter& t) {
              t.Ascii(t.Ifd0(), 0x0110, "Cam\x1b[2J\"q\"");
              t.Rational(t.ExifIfd(), 0x829D, {{28, 10}});
              int gps = t.AddIfd();
              t.AddPointer(t.Ifd0(), 0x8825, gps);
              t.Ascii(gps, 0x0001, "S");
              t.Rational(gps, 0x0002, {{33, 1}, {52, 1}, {0, 1}});
              t.Ascii(gps, 0x0003, "E");
              t.Rational(gps, 0x0004, {{151, 1}, {12, 1}, {0, 1}});
            }));
  const std::string file = (dir.path() / "gps.jpg").string();
  const RunResult exif = Peloria({"--exif", file, "--json"});
  ASSERT_EQ(exif.exitCode, 0) << exif.err;
  WriteFile(dir.path() / "exif.json", exif.out);
  EXPECT_EQ(Shell("python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
                  "print(d['Model'], d['FNumber']['value'], d['GPSPosition'])\" '" +
                  (dir.path() / "exif.json").string() + "'"),
            "Cam\x1b[2J\"q\" 2.8 {'lat': -33.86666666666667, 'lon': 151.2}\n");
  const RunResult print = Peloria({"--print", FileUrl(dir.path() / "gps.jpg"), "--json"});
  ASSERT_EQ(print.exitCode, 0) << print.err;
  WriteFile(dir.path() / "print.json", print.out);
  EXPECT_EQ(Shell("python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
                  "print(len(d['summary']), d['summary'][-1], d['exif']['GPSLatitudeRef'])\" '" +
                  (dir.path() / "print.json").string() + "'"),
            "9 機種名            :Cam\x1b[2J\"q\" S\n");  // no exposure time: 9 lines
  if (!Shell("command -v jq").empty()) {
    EXPECT_EQ(Shell("jq -c .GPSPosition '" + (dir.path() / "exif.json").string() + "'"),
              "{\"lat\":-33.86666666666667,\"lon\":151.2}\n");
  }
}

TEST(TerminalTest, ControlBytesReachTheTerminalVisible) {
  TempDir dir;
  WriteFile(dir.path() / "esc.jpg", ExifJpeg([](TiffWriter& t) {
              t.Ascii(t.Ifd0(), 0x0110, "Cam\x1b]0;owned\x07\rX\nY\x7f");
              t.Ascii(t.ExifIfd(), 0x9003, "2024:01:02\x1b[2J");
            }));
  const RunResult exif = Peloria({"--exif", (dir.path() / "esc.jpg").string()});
  EXPECT_EQ(exif.exitCode, 0) << exif.err;
  const RunResult print = Peloria({"--print", FileUrl(dir.path() / "esc.jpg")});
  EXPECT_EQ(print.exitCode, 0) << print.err;
  for (const std::string& out : {exif.out, print.out}) {
    for (char c : out) {
      EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
      EXPECT_NE(c, '\x7f');
    }
  }
  EXPECT_NE(exif.out.find("Model: Cam\\x1b]0;owned\\x07\\x0dX\\x0aY\\x7f\n"), std::string::npos)
      << exif.out;
  // Nine lines (no exposure time): the line feeds inside the texts are escaped.
  EXPECT_EQ(Lines(print.out).size(), 9u) << print.out;
  EXPECT_EQ(Lines(print.out)[7], "撮影日時          :2024:01:02\\x1b[2J");
  EXPECT_EQ(Lines(print.out)[8], "機種名            :Cam\\x1b]0;owned\\x07\\x0dX\\x0aY\\x7f");
}

}  // namespace
}  // namespace peloria::testing
