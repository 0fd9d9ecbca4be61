// Times the window's step to the next photo of a folder of 24-megapixel
// JPEG files (6000 x 4000, with noise: about 8 MiB each, as a camera makes
// them), on the offscreen platform:
//  - warm: → once the read-ahead holds the next photo, until the window is
//    laid out and painted again (Step plus a repaint of the window);
//  - cold: End, to a photo nobody read ahead;
// each the median of --runs; then the resident memory (VmRSS) and its peak
// (VmHWM) while stepping through all --count photos, waiting for the
// read-ahead at each, so that the figures show whether anything grows after
// the third photo.
//
//   step_bench [--count N] [--runs N] [--folder DIR]
//
// The photos are made once in DIR (a temporary folder by default): three
// distinct pictures, copied to fill the folder.
#include <QApplication>
#include <QInputDevice>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/unit1.h"
#include "platform/cp932.h"
#include "tests/support/jpeg_fixtures.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::int64_t StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::strlen(field)));
  }
  return -1;
}

std::string Name(int i) {
  return "IMG_" + std::to_string(i + 1) + ".JPG";
}

void MakeFolder(const fs::path& folder, int count) {
  fs::create_directories(folder);
  for (int i = 0; i < count; ++i) {
    const fs::path path = folder / Name(i);
    if (fs::exists(path)) continue;
    if (i < 3) {
      peloria::testing::JpegRecipe recipe;
      recipe.width = 6000;
      recipe.height = 4000;
      recipe.noise = 20 + i;
      peloria::testing::WriteJpegFile(path, recipe);
    } else {
      fs::copy_file(folder / Name(i % 3), path);
    }
  }
}

// Waits until the read-ahead holds both neighbours it was asked for (or
// nothing is left to make).
void WaitForReadAhead(const peloria::TForm1& form, std::size_t neighbours) {
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (Clock::now() < deadline) {
    QCoreApplication::processEvents();
    if (form.ReadAhead() != nullptr && form.ReadAhead()->Ready() >= neighbours) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

double StepMs(peloria::TForm1& form, peloria::TStep step) {
  const auto start = Clock::now();
  form.Step(step);
  form.Widget()->repaint();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int count = 50;
  int runs = 5;
  fs::path folder = fs::temp_directory_path() / "peloria-step-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--count") == 0) count = std::max(4, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--folder") == 0) folder = argv[i + 1];
  }
  MakeFolder(folder, count);

  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  (void)QInputDevice::devices();
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  const std::string first = "file://" + (folder / Name(0)).string();
  peloria::Application().SetParams({peloria::Cp932(first)}, {first});
  std::printf("photos: %d in %s (%.1f MiB each)\n", count, folder.c_str(),
              static_cast<double>(fs::file_size(folder / Name(0))) / (1 << 20));
  std::printf("start:  VmRSS %lld KiB\n", static_cast<long long>(StatusKiB("VmRSS:")));

  std::vector<double> warm, cold;
  {
    peloria::TForm1 form;
    form.Show();
    form.Image1Click();  // the histogram shown: each step draws it again
    for (int run = 0; run < runs; ++run) {
      form.Step(peloria::TStep::kFirst);
      WaitForReadAhead(form, 1);
      warm.push_back(StepMs(form, peloria::TStep::kNext));
      WaitForReadAhead(form, 2);
      cold.push_back(StepMs(form, peloria::TStep::kLast));
      WaitForReadAhead(form, 1);
    }
  }
  std::printf("step, read ahead: median %.1f ms (of %d)\n", Median(warm), runs);
  std::printf("step, cold:       median %.1f ms (of %d)\n", Median(cold), runs);

  {
    peloria::TForm1 form;
    form.Show();
    form.Image1Click();
    WaitForReadAhead(form, 1);
    std::printf("photo %2d: VmRSS %lld KiB, VmHWM %lld KiB\n", 1,
                static_cast<long long>(StatusKiB("VmRSS:")),
                static_cast<long long>(StatusKiB("VmHWM:")));
    for (int i = 1; i < count; ++i) {
      form.Step(peloria::TStep::kNext);
      WaitForReadAhead(form, i + 1 < count ? 2 : 1);
      std::printf("photo %2d: VmRSS %lld KiB, VmHWM %lld KiB\n", i + 1,
                  static_cast<long long>(StatusKiB("VmRSS:")),
                  static_cast<long long>(StatusKiB("VmHWM:")));
    }
  }
  return 0;
}
