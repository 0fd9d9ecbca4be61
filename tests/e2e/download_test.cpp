// Web addresses from start to summary: `peloria --print ADDRESS` against a
// real nginx (plain and https), directly and through a real tinyproxy, with
// the browser cache, redirects, failing and silent servers and a program
// folder that cannot take temp.jpg.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/e2e/installation.h"
#include "tests/e2e/servers.h"
#include "tests/http/test_certificates.h"
#include "tests/support/peers.h"

namespace peloria::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A real camera file and the summary Peloria gives for it.
constexpr const char* kCameraFile = "Canon_40D.jpg";
constexpr const char* kCameraSummary =
    "F値               :7.1\n"
    "シャッター速度    :1/160秒\n"
    "露出補正          :0\n"
    "ISO感度           :100\n"
    "焦点距離          :135mm\n"
    "ホワイトバランス  :自動\n"
    "露光モード        :マニュアル\n"
    "サイズ            :100 * 68\n"
    "撮影日時          :2008:05:30 15:56:01\n"
    "機種名            :Canon EOS 40D\n";
constexpr const char* kOtherCameraFile = "Fujifilm_FinePix_E500.jpg";

std::string Quote(const Outcome& o) {
  return "exit " + std::to_string(o.exitCode) + (o.timedOut ? " (timed out)" : "") +
         "\nstdout: " + o.out + "\nstderr: " + o.err;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PELORIA_SKIP_WITHOUT_NGINX();
    www_ = app_.scratch() / "www";
    fs::create_directories(www_ / "photos");
    server_ = std::make_unique<NginxServer>(www_);
  }

  // The real camera file `sample`; without the sample folder the build's own
  // sample photo stands in, so that every test that needs some photo runs.
  static fs::path Source(const std::string& sample) {
    const fs::path camera = fs::path(PELORIA_SAMPLES_DIR) / sample;
    return fs::exists(camera) ? camera : fs::path(PELORIA_SAMPLE_PHOTO);
  }

  // Copies the photo for `sample` into the web folder under `urlPath`.
  std::optional<std::string> Publish(const std::string& sample, const std::string& urlPath) {
    auto bytes = ReadFile(Source(sample));
    if (!bytes) return std::nullopt;
    std::ofstream(www_ / urlPath.substr(1), std::ios::binary) << *bytes;
    return bytes;
  }

  void PublishText(const std::string& urlPath, const std::string& text) {
    std::ofstream(www_ / urlPath.substr(1), std::ios::binary) << text;
  }

  // The summary that the same program gives for the local file.
  std::string LocalSummary(const std::string& sample) {
    Outcome local = app_.Print("file://" + Source(sample).string());
    EXPECT_EQ(local.exitCode, 0) << Quote(local);
    return local.out;
  }

  // The summary expected for `sample`: the camera file's known text, or, for
  // the stand-in photo, what the program gives for it as a local file.
  std::string ExpectedSummary(const std::string& sample) {
    if (sample == kCameraFile && Source(sample) != fs::path(PELORIA_SAMPLE_PHOTO)) {
      return kCameraSummary;
    }
    return LocalSummary(sample);
  }

  Installation app_;
  fs::path www_;
  std::unique_ptr<NginxServer> server_;
};

#define REQUIRE_SAMPLE(bytes) \
  if (!(bytes)) GTEST_SKIP() << "no photo to publish (" << PELORIA_SAMPLE_PHOTO << ")"

TEST_F(DownloadTest, PictureFromTheServerGivesItsSummary) {
  auto photo = Publish(kCameraFile, "/photos/IMG_0001.JPG");
  REQUIRE_SAMPLE(photo);
  const std::string url = UrlOf(*server_, "/photos/IMG_0001.JPG");

  Outcome o = app_.Print(url);

  ASSERT_EQ(o.exitCode, 0) << Quote(o);
  EXPECT_EQ(o.out, ExpectedSummary(kCameraFile));
  EXPECT_THAT(o.err, IsEmpty());
  EXPECT_EQ(app_.TempJpg(), photo) << "temp.jpg must hold the downloaded picture";
  auto requests = Requests(*server_, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, "GET /photos/IMG_0001.JPG HTTP/1.1");
  EXPECT_EQ(requests[0].status, 200);
  EXPECT_EQ(requests[0].userAgent, "Peloria");
  EXPECT_EQ(requests[0].referer, url);
}

TEST_F(DownloadTest, PictureThroughTheProxy) {
  auto photo = Publish(kCameraFile, "/photos/IMG_0001.JPG");
  REQUIRE_SAMPLE(photo);
  PELORIA_SKIP_WITHOUT_TINYPROXY();
  TinyproxyServer proxy;
  app_.WriteIni("[internet]\nproxy_server=127.0.0.1\nproxy_port=" + std::to_string(proxy.Port()) +
                "\n");
  const std::string url = UrlOf(*server_, "/photos/IMG_0001.JPG");

  Outcome o = app_.Print(url);

  ASSERT_EQ(o.exitCode, 0) << Quote(o) << "\nproxy: " << proxy.Log();
  EXPECT_EQ(o.out, ExpectedSummary(kCameraFile));
  EXPECT_EQ(app_.TempJpg(), photo);
  auto requests = Requests(*server_, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].status, 200);
  // Through a proxy the request line holds the whole address, port included.
  EXPECT_THAT(proxy.Log(), HasSubstr("GET " + url + " HTTP/1.1"));
  EXPECT_EQ(requests[0].requestLine, "GET /photos/IMG_0001.JPG HTTP/1.1");
  EXPECT_EQ(requests[0].userAgent, "Peloria");
  EXPECT_EQ(requests[0].referer, url);
}

TEST_F(DownloadTest, BrowserCacheCopyIsUsedWithoutAnyRequest) {
  auto photo = Publish(kCameraFile, "/photos/img_0001.JPG");
  REQUIRE_SAMPLE(photo);
  fs::create_directories(app_.cache() / "browser" / "Cache2" / "X3F");
  std::ofstream(app_.cache() / "browser" / "Cache2" / "X3F" / "IMG_0001[1].jpg", std::ios::binary)
      << *photo;
  const std::string before = "the picture of an earlier download";
  std::ofstream(app_.tempJpg(), std::ios::binary) << before;
  const std::string url = UrlOf(*server_, "/photos/img_0001.JPG");

  app_.WriteIni("[Setting]\nlocal_file=1\n");
  Outcome cached = app_.Print(url);

  ASSERT_EQ(cached.exitCode, 0) << Quote(cached);
  EXPECT_EQ(cached.out, ExpectedSummary(kCameraFile));
  EXPECT_EQ(app_.TempJpg(), before) << "a cache hit must leave temp.jpg untouched";
  EXPECT_THAT(Requests(*server_), IsEmpty()) << "a cache hit must not reach the server";

  // The same start with the switch off downloads after all.
  app_.WriteIni("[Setting]\nlocal_file=0\n");
  Outcome downloaded = app_.Print(url);
  ASSERT_EQ(downloaded.exitCode, 0) << Quote(downloaded);
  EXPECT_EQ(downloaded.out, cached.out);
  EXPECT_EQ(app_.TempJpg(), photo);
  EXPECT_EQ(Requests(*server_, 1).size(), 1u);
}

TEST_F(DownloadTest, NotFoundShowsTheFailureAndKeepsTheErrorBody) {
  Outcome o = app_.Print(UrlOf(*server_, "/photos/missing.jpg"));

  EXPECT_EQ(o.exitCode, 1) << Quote(o);
  EXPECT_THAT(o.out, IsEmpty());
  EXPECT_THAT(o.err, HasSubstr(kFetchFailed));
  auto body = app_.TempJpg();
  ASSERT_TRUE(body) << "temp.jpg was not created";
  EXPECT_THAT(*body, HasSubstr("404 Not Found")) << "temp.jpg holds the error page";
  auto requests = Requests(*server_, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].status, 404);
}

TEST_F(DownloadTest, HtmlPageInsteadOfAPictureShowsTheFailure) {
  const std::string page = "<!DOCTYPE html>\n<html><body><p>Not a picture</p></body></html>\n";
  PublishText("/photos/index.html", page);

  Outcome o = app_.Print(UrlOf(*server_, "/photos/index.html"));

  EXPECT_EQ(o.exitCode, 1) << Quote(o);
  EXPECT_THAT(o.err, HasSubstr(kFetchFailed));
  EXPECT_EQ(app_.TempJpg(), page) << "the page is saved as it came";
}

TEST_F(DownloadTest, RedirectIsFollowedAndTempJpgHoldsOnlyThePicture) {
  auto photo = Publish(kCameraFile, "/photos/IMG_0001.JPG");
  REQUIRE_SAMPLE(photo);
  // A redirect page longer than nothing, and a relative Location.
  NginxServer moving(www_,
                     "absolute_redirect off;\n"
                     "location = /moved.jpg { return 302 photos/IMG_0001.JPG; }");

  Outcome o = app_.Print(UrlOf(moving, "/moved.jpg"));

  ASSERT_EQ(o.exitCode, 0) << Quote(o);
  EXPECT_EQ(o.out, ExpectedSummary(kCameraFile));
  EXPECT_EQ(app_.TempJpg(), photo) << "only the final body";
  auto requests = Requests(moving, 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].status, 302);
  EXPECT_EQ(requests[1].requestLine, "GET /photos/IMG_0001.JPG HTTP/1.1");
  EXPECT_EQ(requests[1].status, 200);
}

TEST_F(DownloadTest, HttpsWithTheTestsOwnAuthority) {
  PELORIA_SKIP_WITHOUT_OPENSSL();
  auto photo = Publish(kCameraFile, "/photos/IMG_0001.JPG");
  REQUIRE_SAMPLE(photo);
  testing::TestCertificates certificates;
  NginxServer https(www_, {}, certificates.Server("localhost"));
  const std::string url =
      "https://localhost:" + std::to_string(https.Port()) + "/photos/IMG_0001.JPG";
  {
    testing::CaFileOverride ca(certificates.Ca());
    Outcome o = app_.Print(url);
    ASSERT_EQ(o.exitCode, 0) << Quote(o);
    EXPECT_EQ(o.out, ExpectedSummary(kCameraFile));
    EXPECT_EQ(app_.TempJpg(), photo);
  }
  // An authority the program does not know: the failure display.
  testing::CaFileOverride other(certificates.OtherCa());
  Outcome o = app_.Print(url);
  EXPECT_EQ(o.exitCode, 1) << Quote(o);
  EXPECT_THAT(o.err, HasSubstr(kFetchFailed));
}

TEST_F(DownloadTest, SilentServerFailsAfterTheIniTimeout) {
  testing::ScriptedPeer silent(testing::PeerScript().ReadRequest().WaitRelease());
  app_.WriteIni("[internet]\ntimeout=1\n");
  const auto start = std::chrono::steady_clock::now();

  Outcome o = app_.Print("http://127.0.0.1:" + std::to_string(silent.Port()) + "/a.jpg");

  EXPECT_EQ(o.exitCode, 1) << Quote(o);
  EXPECT_THAT(o.err, HasSubstr(kFetchFailed));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  silent.Release();
}

TEST_F(DownloadTest, NoAddressShowsTheFailureAndLeavesAnEmptyTempJpg) {
  std::ofstream(app_.tempJpg(), std::ios::binary) << "an earlier download";

  Outcome o = app_.Print("");

  EXPECT_EQ(o.exitCode, 1) << Quote(o);
  EXPECT_THAT(o.err, HasSubstr(kFetchFailed));
  EXPECT_EQ(app_.TempJpg(), "") << "temp.jpg is emptied before the download fails";
  EXPECT_THAT(Requests(*server_), IsEmpty());
}

TEST_F(DownloadTest, ProxyWithoutPortShowsTheFailure) {
  auto photo = Publish(kCameraFile, "/photos/IMG_0001.JPG");
  REQUIRE_SAMPLE(photo);
  // proxy_port absent: the proxy is asked at port 0, which never answers.
  app_.WriteIni("[internet]\nproxy_server=127.0.0.1\n");

  Outcome o = app_.Print(UrlOf(*server_, "/photos/IMG_0001.JPG"));

  EXPECT_EQ(o.exitCode, 1) << Quote(o);
  EXPECT_THAT(o.err, HasSubstr(kFetchFailed));
  EXPECT_EQ(app_.TempJpg(), "");
  EXPECT_THAT(Requests(*server_), IsEmpty()) << "the server was asked directly";
}

TEST_F(DownloadTest, SecondStartReplacesTempJpg) {
  if (Source(kCameraFile) == Source(kOtherCameraFile)) {
    GTEST_SKIP() << "needs two different camera files from " << PELORIA_SAMPLES_DIR;
  }
  auto first = Publish(kCameraFile, "/photos/first.jpg");
  auto second = Publish(kOtherCameraFile, "/photos/second.jpg");
  REQUIRE_SAMPLE(first && second);
  ASSERT_LT(second->size(), first->size()) << "the second file must be the shorter one";

  Outcome one = app_.Print(UrlOf(*server_, "/photos/first.jpg"));
  ASSERT_EQ(one.exitCode, 0) << Quote(one);
  EXPECT_EQ(app_.TempJpg(), first);

  Outcome two = app_.Print(UrlOf(*server_, "/photos/second.jpg"));
  ASSERT_EQ(two.exitCode, 0) << Quote(two);
  EXPECT_EQ(app_.TempJpg(), second) << "temp.jpg must be replaced, not overwritten in place";
  EXPECT_EQ(two.out, LocalSummary(kOtherCameraFile));
  EXPECT_NE(two.out, one.out);
}

// The message of the general error display for a temp.jpg that cannot be
// made; the program exits with 2 and makes no request.
void ExpectCannotCreate(const Outcome& o, const Installation& app, const NginxServer& server) {
  EXPECT_EQ(o.exitCode, 2) << Quote(o);
  EXPECT_THAT(o.out, IsEmpty());
  EXPECT_THAT(o.err, HasSubstr("ファイル " + app.tempJpg().string() + " を作成できません"));
  EXPECT_THAT(o.err, ::testing::Not(HasSubstr(kFetchFailed)));
  EXPECT_THAT(Requests(server), IsEmpty()) << "temp.jpg is made before any network activity";
}

// An installed program: a folder the user may not write to. The tests run as
// root in CI, and root ignores file modes: there the program runs as "nobody"
// in a folder owned by root (mode 755); otherwise the folder is made
// read-only. temp.jpg then goes to the user's cache folder, and the settings
// come from the user's configuration folder unless the program has its own.
TEST_F(DownloadTest, InstalledProgramUsesTheUsersFolders) {
  auto photo = Publish(kCameraFile, "/photos/IMG_0001.JPG");
  REQUIRE_SAMPLE(photo);
  const std::string url = UrlOf(*server_, "/photos/IMG_0001.JPG");
  const std::string expected = ExpectedSummary(kCameraFile);
  const fs::path config = app_.home() / ".config" / "peloria";
  fs::create_directories(config);
  const bool asNobody = RunningAsRoot();
  if (asNobody) {
    ASSERT_EQ(::chown(app_.cache().c_str(), NobodyUid(), NobodyGid()), 0);
  } else {
    fs::permissions(app_.folder(), fs::perms::owner_write, fs::perm_options::remove);
  }

  Outcome o = app_.Print(url, asNobody);
  EXPECT_EQ(o.exitCode, 0) << Quote(o);
  EXPECT_EQ(o.out, expected);
  EXPECT_EQ(ReadFile(app_.cache() / "peloria" / "temp.jpg"), photo);

  // A proxy that refuses, set in the user's Peloria.ini, is used...
  std::ofstream(config / "Peloria.ini") << "[internet]\nproxy_server=127.0.0.1\nproxy_port=1\n";
  Outcome viaProxy = app_.Print(url, asNobody);
  EXPECT_EQ(viaProxy.exitCode, 1) << Quote(viaProxy);
  // ...unless one beside the program says otherwise.
  if (!asNobody) fs::permissions(app_.folder(), fs::perms::owner_write, fs::perm_options::add);
  app_.WriteIni("[internet]\n");
  if (!asNobody) fs::permissions(app_.folder(), fs::perms::owner_write, fs::perm_options::remove);
  Outcome direct = app_.Print(url, asNobody);
  EXPECT_EQ(direct.exitCode, 0) << Quote(direct);

  if (!asNobody) fs::permissions(app_.folder(), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_FALSE(fs::exists(app_.tempJpg()));
}

TEST_F(DownloadTest, TempJpgThatIsAFolderShowsTheGeneralError) {
  auto photo = Publish(kCameraFile, "/photos/IMG_0001.JPG");
  REQUIRE_SAMPLE(photo);
  fs::create_directory(app_.tempJpg());

  Outcome o = app_.Print(UrlOf(*server_, "/photos/IMG_0001.JPG"));

  ExpectCannotCreate(o, app_, *server_);
  EXPECT_TRUE(fs::is_directory(app_.tempJpg()));
}

}  // namespace
}  // namespace peloria::e2e
