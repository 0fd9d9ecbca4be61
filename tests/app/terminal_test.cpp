// The terminal modes of the peloria command, run as a user runs them.
#include <gtest/gtest.h>

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
  ASSERT_EQ(lines.size(), 1u + 56u + 1u);  // byte order, fields, one comment line
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
  EXPECT_EQ(Lines(plain.out)[0], "ByteOrder: Intel");

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

TEST(TerminalTest, OnlyTheWindowAndPrintLoadTheToolkit) {
  // The dynamic loader names every library it initialises on standard error.
  const auto loaded = [](const std::vector<std::string>& args) {
    return peloria::testing::Run(PELORIA_EXE, args, {{"LD_DEBUG", "libs"}}).err;
  };
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"--version"}, {"--exif", PELORIA_SAMPLE}}) {
    const std::string log = loaded(args);
    EXPECT_NE(log.find("calling init"), std::string::npos) << "no loader log";
    EXPECT_EQ(log.find("libQt6"), std::string::npos) << args[0];
    EXPECT_EQ(log.find("libpeloria-window"), std::string::npos) << args[0];
  }
  EXPECT_NE(loaded({"--print", FileUrl(PELORIA_SAMPLE)}).find("libQt6Widgets"), std::string::npos);

  // A program whose window part is missing says so; its other modes work.
  TempDir dir;
  const fs::path lonely = dir.path() / "peloria";
  fs::copy_file(PELORIA_EXE, lonely);
  const RunResult print = peloria::testing::Run(lonely, {"--print", FileUrl(PELORIA_SAMPLE)});
  EXPECT_EQ(print.exitCode, 2);
  EXPECT_EQ(print.out, "");
  EXPECT_TRUE(print.err.starts_with("peloria: libpeloria-window.so: ")) << print.err;
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

}  // namespace
}  // namespace peloria::testing
