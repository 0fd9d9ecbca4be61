// Times a download of a large file from nginx on 127.0.0.1 into a file with
// TIdHTTP (a fresh client per run, as the program makes one request per
// start) against `curl -s -o FILE` on the same URL, in one run, alternating,
// and reports the median throughput of each and their ratio, over plain http
// and over https (a certificate authority made for the run: the client
// trusts it through SSL_CERT_FILE, curl through --cacert). Both outputs are
// checked for their size.
//
//   http_bench [--mib N] [--runs N]
//
// Exit status 1 when TIdHTTP reaches less than 90 % of curl's throughput in
// either.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "http/idhttp.h"
#include "platform/cp932.h"
#include "platform/stream.h"
#include "tests/http/test_certificates.h"
#include "tests/support/peers.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMinRatio = 0.90;
constexpr std::int64_t kMiB = 1024 * 1024;

// A file of `size` bytes of a non-repeating pattern, written in blocks.
void WritePatternFile(const std::filesystem::path& path, std::int64_t size) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> block(kMiB);
  std::uint32_t state = 12345;
  for (std::int64_t done = 0; done < size; done += kMiB) {
    for (char& b : block) {
      state = state * 1664525u + 1013904223u;
      b = static_cast<char>(state >> 24);
    }
    out.write(block.data(),
              static_cast<std::streamsize>(std::min<std::int64_t>(kMiB, size - done)));
  }
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double DownloadWithIdHttp(const std::string& url, const std::string& path) {
  Clock::time_point start = Clock::now();
  peloria::TFileStream file(peloria::Cp932(path), peloria::TFileStream::Mode::kCreateExclusive);
  peloria::TIdHTTP http;
  http.Request.Referer = url;
  http.Request.UserAgent = "Peloria";
  http.Download(url, file);
  return Seconds(start);
}

double DownloadWithCurl(const std::string& curl, const std::string& url, const std::string& path,
                        const std::string& ca) {
  std::vector<std::string> args = {curl, "-s", "-o", path, url};
  if (!ca.empty()) args.insert(args.begin() + 1, {"--cacert", ca});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Clock::time_point start = Clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, curl.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + curl);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  double seconds = Seconds(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("curl failed");
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void CheckSize(const std::string& path, std::int64_t size) {
  if (static_cast<std::int64_t>(std::filesystem::file_size(path)) != size) {
    throw std::runtime_error(path + " has the wrong size");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t mib = 256;
  int runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mib") == 0) mib = std::atoll(argv[i + 1]);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
  }
  const std::string curl = peloria::testing::FindProgram("curl");
  if (!peloria::testing::NginxServer::Available() || curl.empty()) {
    std::printf("http_bench: needs nginx and curl\n");
    return 1;
  }
  try {
    peloria::testing::TempDir root;
    peloria::testing::TempDir out;
    const std::int64_t size = mib * kMiB;
    WritePatternFile(root.path() / "big.bin", size);
    peloria::testing::TestCertificates certificates;
    ::setenv("SSL_CERT_FILE", certificates.Ca().c_str(), 1);
    bool fastEnough = true;
    for (const bool https : {false, true}) {
      std::optional<peloria::testing::NginxTls> tls;
      if (https) tls = certificates.Server("localhost");
      peloria::testing::NginxServer nginx(root.path(), {}, tls);
      const std::string url = std::string(https ? "https" : "http") +
                              "://localhost:" + std::to_string(nginx.Port()) + "/big.bin";
      const std::string ca = https ? certificates.Ca().string() : std::string();
      const std::string ours = (out.path() / "peloria.bin").string();
      const std::string theirs = (out.path() / "curl.bin").string();

      // One warm-up each (page cache, nginx worker), then alternating runs.
      DownloadWithIdHttp(url, ours);
      DownloadWithCurl(curl, url, theirs, ca);
      std::vector<double> idhttp, curlTimes;
      for (int i = 0; i < runs; ++i) {
        idhttp.push_back(DownloadWithIdHttp(url, ours));
        CheckSize(ours, size);
        curlTimes.push_back(DownloadWithCurl(curl, url, theirs, ca));
        CheckSize(theirs, size);
      }
      const double oursMiBs = static_cast<double>(mib) / Median(idhttp);
      const double curlMiBs = static_cast<double>(mib) / Median(curlTimes);
      const double ratio = oursMiBs / curlMiBs;
      std::printf("%s download of %lld MiB from nginx on 127.0.0.1 into a file, median of %d\n",
                  https ? "https" : "http", static_cast<long long>(mib), runs);
      std::printf("  TIdHTTP      %8.1f MiB/s\n", oursMiBs);
      std::printf("  curl -s -o   %8.1f MiB/s\n", curlMiBs);
      std::printf("  ratio        %8.3f (at least %.2f wanted)\n", ratio, kMinRatio);
      benchmark::DoNotOptimize(ratio);
      fastEnough = fastEnough && ratio >= kMinRatio;
    }
    return fastEnough ? 0 : 1;
  } catch (const std::exception& e) {
    std::printf("http_bench: %s\n", e.what());
    return 1;
  }
}
