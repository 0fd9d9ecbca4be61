// Times what the window program does with a large photo — load the JPEG file
// into a picture holder, copy it into a bitmap, read every row of the copy
// through ScanLine — against `djpeg -dct float -outfile /dev/null` on the
// same file, in one run, alternating, and reports the median of each and
// their ratio. Then measures the peak resident memory of the same work in a
// fresh process and compares it with: file size + two 24-bit bitmaps (the
// decoded one and the copy that the first row access makes its own) + 16 MiB.
//
//   picture_bench [--width W] [--height H] [--noise N] [--runs N] [--keep COPY.jpg]
//
// The picture is the test pattern with +-20 levels of pseudo-random noise by
// default, which gives a file of about 8 MiB, the size a camera makes of a
// 24-megapixel photo at high quality. Smoother pictures (--noise 0 is the bare
// pattern, 0.5 MiB) decode faster, so the fixed cost of the two bitmaps weighs
// more in the ratio.
//
// Exit status 1 when the ratio exceeds 1.25 or the memory exceeds its bound.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/jpeg_fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;
using peloria::bench::LoadCopyScan;

constexpr double kMaxRatio = 1.25;
constexpr std::int64_t kMemorySlack = 16 << 20;

std::int64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  }
  return -1;
}

// Runs a program and waits; answers its wall time in seconds and its peak
// resident memory (bytes) through `maxRss`.
double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double SelfCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return CpuSeconds(usage);
}

double RunProgram(const std::vector<std::string>& argv, std::int64_t* maxRss, double* cpu) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
    std::exit(2);
  }
  *maxRss = std::int64_t{usage.ru_maxrss} * 1024;
  *cpu = CpuSeconds(usage);
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double MiB(std::int64_t bytes) {
  return static_cast<double>(bytes) / (1 << 20);
}

}  // namespace

int main(int argc, char** argv) {
  // Child mode: one load + copy + scan in a fresh process, then its peak.
  if (argc == 3 && std::strcmp(argv[1], "--child") == 0) {
    LoadCopyScan(argv[2]);
    std::printf("%lld\n", static_cast<long long>(PeakResidentBytes()));
    return 0;
  }
  int width = 6000;
  int height = 4000;
  int runs = 5;
  int noise = 20;
  std::string keep;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (option == "--width")
      width = value;
    else if (option == "--height")
      height = value;
    else if (option == "--noise")
      noise = value;
    else if (option == "--keep")
      keep = argv[i + 1];
    else if (option == "--runs")
      runs = std::max(1, value);
  }

  char folderTemplate[] = "/tmp/peloria-bench-XXXXXX";
  const std::filesystem::path folder = mkdtemp(folderTemplate);
  const std::filesystem::path file = folder / "big.jpg";
  peloria::testing::JpegRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.quality = 90;
  recipe.noise = noise;
  const std::int64_t fileBytes =
      static_cast<std::int64_t>(peloria::testing::WriteJpegFile(file, recipe).size());
  std::printf("picture: %d x %d colour JPEG, noise %d, %.1f MiB, %d runs each\n", width, height,
              noise, MiB(fileBytes), runs);

  std::vector<double> ours;
  std::vector<double> djpeg;
  std::vector<double> oursCpu;
  std::vector<double> djpegCpu;
  std::int64_t djpegRss = 0;
  LoadCopyScan(file.string());  // warm the file cache
  for (int i = 0; i < runs; ++i) {
    const double cpuStart = SelfCpuSeconds();
    const auto start = Clock::now();
    LoadCopyScan(file.string());
    ours.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    oursCpu.push_back(SelfCpuSeconds() - cpuStart);
    double cpu = 0;
    djpeg.push_back(RunProgram({"djpeg", "-dct", "float", "-outfile", "/dev/null", file.string()},
                               &djpegRss, &cpu));
    djpegCpu.push_back(cpu);
  }
  const double ratio = Median(ours) / Median(djpeg);
  const double cpuRatio = Median(oursCpu) / Median(djpegCpu);
  std::printf("                        wall (median)  CPU (median)\n");
  std::printf("load + copy + row scan: %8.1f ms    %8.1f ms\n", Median(ours) * 1000,
              Median(oursCpu) * 1000);
  std::printf("djpeg -dct float:       %8.1f ms    %8.1f ms\n", Median(djpeg) * 1000,
              Median(djpegCpu) * 1000);
  std::printf("ratio:                  %8.3f       %8.3f    (limit %.2f on wall time)\n", ratio,
              cpuRatio, kMaxRatio);

  // Peak memory of the same work in a fresh process.
  std::string command;
  command.append("\"").append(argv[0]).append("\" --child \"").append(file.string()).append("\"");
  std::int64_t peak = -1;
  if (FILE* child = popen(command.c_str(), "r")) {
    long long value = -1;
    if (std::fscanf(child, "%lld", &value) == 1) peak = value;
    pclose(child);
  }
  const std::int64_t bitmapBytes = std::int64_t{(width * 24 + 31) / 32 * 4} * height;
  const std::int64_t bound = fileBytes + 2 * bitmapBytes + kMemorySlack;
  std::printf(
      "peak memory:            %8.1f MiB (bound %.1f MiB = file + 2 bitmaps of %.1f MiB + 16 "
      "MiB)\n",
      MiB(peak), MiB(bound), MiB(bitmapBytes));
  std::printf("djpeg peak memory:      %8.1f MiB\n", MiB(djpegRss));

  if (!keep.empty())
    std::filesystem::copy_file(file, keep, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::remove_all(folder);
  const bool ok = ratio <= kMaxRatio && peak > 0 && peak <= bound;
  std::printf("%s\n", ok ? "within limits" : "OVER LIMITS");
  return ok ? 0 : 1;
}
