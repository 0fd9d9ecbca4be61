#include "app/startup.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <limits>
#include <optional>
#include <thread>

#include "app/address.h"
#include "app/app_limits.h"
#include "cache/browser_cache.h"
#include "picture/errors.h"
#include "picture/exif_block.h"
#include "picture/formats.h"
#include "picture/picture.h"
#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "text/format.h"

namespace peloria {

namespace {

constexpr char kDownloadName[] = "temp.jpg";
// How long a download waits for another one to be done with temp.jpg.
constexpr std::chrono::seconds kDownloadLockWait{60};

// The white-balance line's text: the light source when the file names one.
// Cameras write light source 0 ("unknown") when white balance is automatic, so
// 0 counts as none: the white-balance mode then speaks, and "unknown" only
// when that is empty too.
std::string WhiteBalanceText(const TExifInfo& exif) {
  if (!exif.LightSource.Text.empty() && exif.LightSource.Value != 0) return exif.LightSource.Text;
  if (!exif.WhiteBalance.Text.empty()) return exif.WhiteBalance.Text;
  return exif.LightSource.Text;  // "unknown" for a light source of 0; empty when absent
}

// A file name as the program compares it: CP932 text ("?" for what CP932
// cannot hold). Plain ASCII names, most of a cache, need no conversion.
std::string ShownName(const std::string& name) {
  const bool ascii = std::all_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? name : Cp932(name);
}

// Copies the body of the newest complete response that a web browser keeps
// on disk for `address` into `target`; false when none serves.
bool CopyFromBrowserCache(const std::string& address, const std::string& cacheFolder,
                          TStream& target) {
  const char* home = std::getenv("HOME");
  // Only a body that starts like a picture is copied (or inflated) further.
  const auto picture = [](ByteSpan start) { return PictureKindBySignature(start) != nullptr; };
  return FindInBrowserCache(address, BrowserCacheFolders(cacheFolder, home != nullptr ? home : ""),
                            kMaxBitmapBytes, target, picture)
      .has_value();
}

// A browser hands a picture over at once, and Chromium writes its cache entry
// a moment after the picture arrived: the caches are asked again for a short
// while (bounded well below a second) before the picture is downloaded.
bool WaitForBrowserCache(const std::string& address, const std::string& cacheFolder,
                         TStream& target) {
  const auto deadline = std::chrono::steady_clock::now() + kBrowserCacheWait;
  for (;;) {
    if (CopyFromBrowserCache(address, cacheFolder, target)) return true;
    if (std::chrono::steady_clock::now() + kBrowserCachePoll > deadline) return false;
    std::this_thread::sleep_for(kBrowserCachePoll);
  }
}

std::string Reversed(const std::string& text) {
  return {text.rbegin(), text.rend()};
}

}  // namespace

int DownloadTimeoutMs(const std::string& setting) {
  // Whole seconds; 0 is no limit; anything else (absent, negative, no
  // number) the default.
  const std::optional<std::int32_t> seconds = TryStrToInt(setting);
  if (!seconds || *seconds < 0) return kHttpDefaultTimeoutMs;
  if (*seconds == 0) return kIdTimeoutInfinite;
  return *seconds > std::numeric_limits<int>::max() / 1000 ? std::numeric_limits<int>::max()
                                                           : *seconds * 1000;
}

// ------------------------------------------------------------------ the start

TStartup::TStartup() : TStartup(ProgramFilesFor(ProgramFolder())) {}

TStartup::TStartup(ProgramFiles files) : files_(std::move(files)) {
  // 1. Configuration; a missing file, section or key gives the default.
  const std::string& ini = files_.iniPath;
  proxyServer_ = GetPrivateProfileString("internet", "proxy_server", "", ini);
  proxyPort_ = StrToIntDef(GetPrivateProfileString("internet", "proxy_port", "", ini), 0);
  localFile_ = StrToIntDef(GetPrivateProfileString("Setting", "local_file", "", ini), 0);
  timeoutMs_ = DownloadTimeoutMs(GetPrivateProfileString("internet", "timeout", "", ini));
}

TStartup::~TStartup() = default;

TPhoto TStartup::Open(const std::string& address, const std::string& addressBytes, TIdHTTP& http,
                      const TDownloadRunner& run, const TBrowserHandover* handover,
                      TSteps steps) const {
  return Make(
      TPhoto(address, addressBytes),
      [&](TPhoto& photo, TDownload& download) {
        return Fetch(photo, http, run, download, handover);
      },
      steps);
}

TPhoto TStartup::OpenData(const std::string& data) const {
  const std::string path = files_.downloadFolder + kDownloadName;
  return Make(TPhoto(LocaleToCp932("file://" + path), "file://" + path),
              [&](TPhoto& photo, TDownload& download) { return Store(photo, data, download); });
}

TPhoto TStartup::Make(TPhoto photo, const std::function<bool(TPhoto&, TDownload&)>& fetch,
                      TSteps steps) const {
  // A download's temp.jpg stays locked until the photo is made.
  TDownload download;
  try {
    if (fetch(photo, download) && LoadPicture(photo, steps)) {
      // 9. The summary; its failures are not the failure display.
      photo.summary_ = SummaryText(*photo.exif_, photo.localPath_);
    }
  } catch (...) {
    photo.error_ = std::current_exception();
  }
  return photo;
}

bool TStartup::Failed(TPhoto& photo, const std::exception& cause) {
  photo.failed_ = true;
  photo.cause_ = cause.what();
  return false;
}

TStartup::TDownload TStartup::CreateDownload(TPhoto& photo) const {
  // Creating the file is not guarded: its failure (also after waiting for
  // another download to end) leaves by its exception.
  MakeFolders(files_.downloadFolder);
  photo.localPath_ = files_.downloadFolder + kDownloadName;
  return std::make_unique<TFileStream>(photo.localPath_, TFileStream::Mode::kCreateExclusive,
                                       kDownloadLockWait);
}

bool TStartup::Store(TPhoto& photo, const std::string& data, TDownload& download) const {
  download = CreateDownload(photo);
  try {
    download->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  } catch (const std::exception& cause) {
    return Failed(photo, cause);
  }
  download->ShareLock();
  return true;
}

bool TStartup::Fetch(TPhoto& photo, TIdHTTP& http, const TDownloadRunner& run, TDownload& download,
                     const TBrowserHandover* handover) const {
  const std::string& address = photo.address_;

  // A picture handed over by a browser is the browser's own copy; it lives
  // only in temp.jpg (its address, data: or blob:, names no file).
  if (handover != nullptr && handover->picture) return Store(photo, *handover->picture, download);

  // 2. The browser cache folder, asked for on every start.
  const std::string cacheFolder = SpecialFolderPath(kCsidlInternetCache);

  // 3. and 4. The address (shown and compared as CP932 text) and the name the
  // browser gives its cached copy.
  const std::string cacheName = CacheName(address);

  // 5. and 6. The local path: a file address or an existing file, else a
  // browser-cache copy or a download.
  const bool searchCaches = localFile_ == 1 || handover != nullptr;
  std::string& localPath = photo.localPath_;
  localPath = LocalPathOf(photo.addressBytes_).value_or("");
  photo.local_ = !localPath.empty();
  if (!localPath.empty()) return true;
  if (searchCaches) FindFile(cacheName, cacheFolder, localPath);
  if (!localPath.empty()) return true;

  // 7. Download into temp.jpg.
  download = CreateDownload(photo);
  try {
    // With local_file=1 (or from a browser), a copy in a web browser's disk
    // cache stands in for the download.
    if (!searchCaches ||
        !(handover != nullptr ? WaitForBrowserCache(address, cacheFolder, *download)
                              : CopyFromBrowserCache(address, cacheFolder, *download))) {
      PrepareDownload(http,
                      handover != nullptr && !handover->page.empty() ? handover->page : address);
      run(http, address, *download);
    }
  } catch (const std::exception& cause) {
    // Any failure of the request or the transfer; the file keeps what was
    // written.
    return Failed(photo, cause);
  }
  download->ShareLock();
  return true;
}

bool TStartup::LoadPicture(TPhoto& photo, TSteps steps) {
  // 8. Load the picture and make the bitmap copy (which stays, empty, when
  // copying fails).
  try {
    MakePicture(photo, steps);
  } catch (const std::exception& cause) {
    return Failed(photo, cause);
  }
  return true;
}

void TStartup::MakePicture(TPhoto& photo, TSteps steps) {
  TPicture picture;
  picture.LoadFromFile(photo.localPath_);
  photo.graphic_ = picture.TakeGraphic();
  const auto* jpeg =
      steps == kThumbnailFirst ? dynamic_cast<const TJPEGImage*>(photo.graphic_.get()) : nullptr;
  if (jpeg != nullptr && jpeg->ProgressiveEncoding() &&
      std::int64_t{jpeg->Width()} * jpeg->Height() > kMaxTwiceDecodedPixels) {
    jpeg = nullptr;  // decoded once (kMaxTwiceDecodedPixels)
  }
  if (jpeg != nullptr) {
    // A file the full decode refuses is refused before either decode.
    // Both decode a copy that shares the compressed data, the full one
    // on its own thread; the photo's graphic is not touched by them.
    jpeg->CheckDecodable();
    auto source = std::make_shared<TJPEGImage>();
    source->Assign(*jpeg);
    photo.thumbnail_ = source->DecodeAt(ThumbnailDecodeScale(source->Width(), source->Height()));
    // The copy's brightness histogram is counted on the same worker, so
    // that a click on the thumbnail finds it ready.
    photo.pending_ = std::async(std::launch::async, [source] {
      TPhoto::TCopy copy{std::make_unique<TBitmap>()};
      copy.bitmap->Assign(source.get());
      CountHistogram(*copy.bitmap, 3, copy.brightness);
      return copy;
    });
  } else {
    photo.bitmap_ = std::make_unique<TBitmap>();
    photo.bitmap_->Assign(photo.graphic_.get());
  }
}

void TStartup::PrepareDownload(TIdHTTP& http, const std::string& referer) const {
  http.Request.ProxyServer = proxyServer_;
  http.Request.ProxyPort = proxyPort_;
  http.Request.Referer = referer;
  http.Request.UserAgent = "Peloria";
  // Redirects are followed (http and https only); without a proxy in the
  // INI file the environment's proxy variables apply; the idle time limit
  // covers connecting, the TLS handshake and every wait for reply bytes.
  http.HandleRedirects = true;
  http.UseEnvironmentProxy = true;
  http.ConnectTimeout = timeoutMs_;
  http.ReadTimeout = timeoutMs_;
}

TJPEGScale ThumbnailDecodeScale(int width, int height, double ratio) {
  const auto fitted = [ratio](int w, int h) {
    const long double box = h < w ? kThumbnailBoxWidth : kThumbnailBoxHeight;
    const long double other =
        h < w ? static_cast<long double>(h) / w * box : static_cast<long double>(w) / h * box;
    const int longSide = static_cast<int>(std::ceil(box * ratio));
    const int shortSide =
        static_cast<int>(std::ceil(static_cast<long double>(Nearest(other)) * ratio));
    return h < w ? std::pair{longSide, shortSide} : std::pair{shortSide, longSide};
  };
  const auto [storedW, storedH] = fitted(width, height);
  const auto [turnedW, turnedH] = fitted(height, width);
  return std::min(ThumbnailScale(width, height, 1, storedW, storedH),
                  ThumbnailScale(width, height, 6, turnedW, turnedH));
}

// -------------------------------------------------------------------- summary

std::string SummaryText(TExifInfo& exif, const std::string& localPath) {
  // A JPEG file's Exif segment, else the Exif block of another container
  // (each kind's reader, picture/kind.h): the same reader walks both.
  if (exif.HasExif(localPath)) {
    exif.SetImageFileName(localPath);
  } else if (const auto block = ReadExifBlock(localPath)) {
    exif.SetTiffBlock(block->data(), block->size());
  } else {
    // A TIFF scan has no shooting data, but its own first directory may
    // still say how the picture is turned.
    if (const auto own = ReadTiffDirectory(localPath)) exif.SetTiffBlock(own->data(), own->size());
    return Cp932("Exif情報はありません。");
  }

  std::string text = Cp932("F値               :") + FormatFixed(exif.FNumber.Value, 11, 1) + "\n";

  if (exif.ExposureTime.Value > 1) {
    text += Cp932("シャッター速度    :") + FormatGeneral(exif.ExposureTime.Value, 15) +
            Cp932("秒") + "\n";
  } else {
    // The fraction as stored, 1/(denominator / numerator); no line when the
    // text has no numerator or no denominator.
    const std::string& fraction = exif.ExposureTime.Text;
    const std::size_t slash = fraction.find('/');
    const std::string numerator = slash == std::string::npos ? "" : fraction.substr(0, slash);
    const std::string denominator =
        slash == std::string::npos ? fraction : fraction.substr(slash + 1);
    if (!numerator.empty() && !denominator.empty()) {
      const std::int32_t d = StrToInt(denominator);
      const std::int32_t n = StrToInt(numerator);
      text += Cp932("シャッター速度    :1/") + FormatGeneral(Divide(d, n), 11) + Cp932("秒") + "\n";
    }
  }

  text += Cp932("露出補正          :") + FormatGeneral(exif.ExposureBiasValue.Value, 15) + "\n";
  text += Cp932("ISO感度           :") +
          FormatInteger(static_cast<std::int32_t>(exif.ISOSpeedRatings)) + "\n";
  if (exif.FocalLengthIn35mmFilm.Value != 0) {
    text +=
        Cp932("焦点距離(35mm換算):") + FormatGeneral(exif.FocalLengthIn35mmFilm.Value, 15) + "mm\n";
  } else {
    text += Cp932("焦点距離          :") + FormatGeneral(exif.FocalLength.Value, 15) + "mm\n";
  }
  text += Cp932("ホワイトバランス  :") + WhiteBalanceText(exif) + "\n";
  text += Cp932("露光モード        :") + exif.ExposureProgram.Text + "\n";
  text += Cp932("サイズ            :") + FormatInteger(exif.PixelXDimension) + " * " +
          FormatInteger(exif.PixelYDimension) + "\n";
  text += Cp932("撮影日時          :") + exif.DateTimeOriginal + "\n";
  text += Cp932("機種名            :") + exif.Model + "\n";
  return text;
}

std::string FailureReportText(const std::string& caption, const std::string& cause) {
  std::string line;
  for (std::size_t i = 0; i < cause.size(); ++i) {
    const char c = cause[i];
    if (c != '\r' && c != '\n') {
      line += c;
    } else if (i == 0 || (cause[i - 1] != '\r' && cause[i - 1] != '\n')) {
      line += ' ';
    }
  }
  return caption + " (" + line + ")";
}

// ------------------------------------------------------- cache names, search

int LastPos(const std::string& sub, const std::string& text) {
  if (sub.empty()) return 0;
  const std::size_t found = Reversed(text).find(Reversed(sub));
  if (found == std::string::npos) return 0;
  const int p = static_cast<int>(found) + 1;
  return static_cast<int>(text.size()) - p - static_cast<int>(sub.size()) + 2;
}

std::string CacheName(const std::string& address) {
  const std::string segment = address.substr(static_cast<std::size_t>(LastPos("/", address)));
  const int d = LastPos(".", segment);
  const std::string base = d > 1 ? segment.substr(0, static_cast<std::size_t>(d - 1)) : "";
  const std::string extension = segment.substr(static_cast<std::size_t>(d));
  return base + "[1]." + extension;
}

void FindFile(const std::string& name, std::string folder, std::string& result) {
  result.clear();
  // Without a cache folder there is nothing to search (and "/" must not be
  // searched in its place).
  if (folder.empty()) return;
  if (folder.back() != kPathDelimiter) folder += kPathDelimiter;
  const std::string wanted = LowerAscii(name);
  FolderEnumerator entries(folder);
  FolderEnumerator::Entry entry;
  while (result.empty() && entries.Next(entry)) {
    if (entry.isDirectory && entry.name != "." && entry.name != "..") {
      FindFile(name, folder + entry.name, result);
    } else if (LowerAscii(ShownName(entry.name)) == wanted && !IsSpecialFile(folder + entry.name)) {
      // A FIFO or device of the name holds no picture: the search goes on.
      result = folder + entry.name;
    }
  }
}

}  // namespace peloria
