// One histogram drawing over the bitmap copy of a 6000 x 4000 picture,
// measured beside the decode of that picture; a drawing should cost at most
// 15 % of the decode. The first drawing also makes the copy's pixels its own
// (copy on write); it is measured apart from the later ones.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "app/unit1.h"
#include "picture/jpeg.h"
#include "platform/stream.h"
#include "tests/support/jpeg_fixtures.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// The test pattern at 6000 x 4000, quality 90, with up to +-noise levels of
// fine noise: noise 20 gives a file of about 8 MiB, the size a camera makes of
// a 24-megapixel photo, and the decoding work of one.
std::string MakePicture(int noise) {
  peloria::testing::JpegRecipe recipe;
  recipe.width = kWidth;
  recipe.height = kHeight;
  recipe.noise = noise;
  return peloria::testing::MakeJpeg(recipe);
}

// Picture 0: the smooth test pattern; 1: the textured picture.
const std::string& Jpeg(int picture) {
  static const std::string smooth = MakePicture(0);
  static const std::string textured = MakePicture(20);
  return picture == 0 ? smooth : textured;
}

std::unique_ptr<peloria::TJPEGImage> Load(int picture) {
  const std::string& bytes = Jpeg(picture);
  peloria::TMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  auto jpeg = std::make_unique<peloria::TJPEGImage>();
  jpeg->LoadFromStream(stream);
  return jpeg;
}

// The window (started on "file:///", which loads nothing and writes
// nothing); the benchmarks replace its `bmp` by a copy of the large picture.
peloria::TForm1& Form() {
  static peloria::TForm1* form = [] {
    peloria::Application().SetParams({"file:///"});
    return new peloria::TForm1;  // lives as long as the QApplication
  }();
  return *form;
}

void BM_Decode(benchmark::State& state) {
  for (auto _ : state) {
    auto jpeg = Load(static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(jpeg->Bitmap().Width());
  }
}

// The resident memory of this process in MiB.
double ResidentMiB() {
  long pages = 0;
  long resident = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<double>(resident) * 4096 / (1 << 20);
}

// Also counts the memory the drawing adds (a copy of the picture would add
// its whole size).
void BM_FirstDrawing(benchmark::State& state) {
  double added = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto jpeg = Load(static_cast<int>(state.range(0)));
    Form().bmp = std::make_unique<peloria::TBitmap>();
    Form().bmp->Assign(jpeg.get());
    const double before = ResidentMiB();
    state.ResumeTiming();
    Form().hist(3);
    state.PauseTiming();
    added = std::max(added, ResidentMiB() - before);
    state.ResumeTiming();
  }
  state.counters["added_MiB"] = added;
}

void BM_Drawing(benchmark::State& state) {
  const int type = static_cast<int>(state.range(1));
  auto jpeg = Load(static_cast<int>(state.range(0)));
  Form().bmp = std::make_unique<peloria::TBitmap>();
  Form().bmp->Assign(jpeg.get());
  Form().hist(type);
  for (auto _ : state) Form().hist(type);
}

// Arguments: picture (0 smooth, 1 textured), histogram type.
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->Iterations(5)->Arg(0)->Arg(1);
BENCHMARK(BM_FirstDrawing)->Unit(benchmark::kMillisecond)->Iterations(5)->Arg(0)->Arg(1);
BENCHMARK(BM_Drawing)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->Args({0, 0})
    ->Args({0, 3})
    ->Args({1, 0})
    ->Args({1, 3});

// Keeps each run's wall time per iteration in milliseconds. Wall time, not
// CPU time: the counting spreads over several threads, and the user waits
// for the whole drawing.
class Recorder : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ms;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) ms[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  benchmark::Initialize(&argc, argv);
  // Both pictures are made before any timing.
  std::printf("pictures: %zu and %zu bytes\n", Jpeg(0).size(), Jpeg(1).size());
  Recorder recorder;
  benchmark::RunSpecifiedBenchmarks(&recorder);
  std::printf("\nWall time per drawing against the decode of the same picture (limit 15 %%):\n");
  for (const auto& [name, ms] : recorder.ms) {
    if (name.starts_with("BM_Decode")) continue;
    // The picture is the first argument after the benchmark's name.
    const std::string picture = name.substr(name.find('/') + 1, 1);
    const double decode = recorder.ms["BM_Decode/" + picture + "/iterations:5"];
    if (decode > 0) {
      std::printf("  %-32s %6.1f ms = %5.1f %% of %6.1f ms\n", name.c_str(), ms, 100 * ms / decode,
                  decode);
    }
  }
  benchmark::Shutdown();
  return 0;
}
