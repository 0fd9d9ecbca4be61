#include "app/unit1.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <optional>

#include "app/address.h"
#include "app/histogram_count.h"
#include "app/progress.h"
#include "http/browser_cache.h"
#include "picture/errors.h"
#include "picture/exif_block.h"
#include "picture/orientation.h"
#include "picture/raster.h"
#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "text/format.h"

namespace peloria {

namespace {

constexpr char kDownloadName[] = "temp.jpg";
// How long a download waits for another one to be done with temp.jpg.
constexpr std::chrono::seconds kDownloadLockWait{60};

// The thumbnail box and the histogram surface.
constexpr int kThumbWidth = 160;
constexpr int kThumbHeight = 120;
constexpr int kSurfaceWidth = 255;
constexpr int kSurfaceHeight = 120;
constexpr int kHistogramHeight = 60;

// Pen colours by histogram type: red, green at half intensity, blue, grey.
constexpr std::array<TColor, 4> kPenColors = {clRed, clGreen, clBlue, clGray};

// A widget's bottom edge.
int Bottom(const TControl& control) {
  return control.Top() + control.Height();
}

int Round(long double x) {
  return static_cast<int>(Nearest(x));
}

// The Exif orientation code (1 to 8) of the reader's orientation field,
// whose members 3 and 4 stand for the codes 4 and 3; 1 when unknown.
int ExifOrientationCode(TImageOrientation orientation) {
  switch (orientation) {
    case ioBottomLeft:
      return 4;
    case ioBottomRight:
      return 3;
    case ioUnknown:
      return 1;
    default:
      return static_cast<int>(orientation);
  }
}

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

// The offset that centres `inner` in `outer`.
int Centred(int outer, int inner) {
  return Round(static_cast<long double>(outer - inner) / 2);
}

// Copies the body of the newest complete response that a web browser keeps
// on disk for `address` into `target`; false when none serves.
bool CopyFromBrowserCache(const std::string& address, const std::string& cacheFolder,
                          TStream& target) {
  const char* home = std::getenv("HOME");
  const auto hit = FindInBrowserCache(
      address, BrowserCacheFolders(cacheFolder, home != nullptr ? home : ""), kMaxBitmapBytes);
  if (!hit) return false;
  target.WriteBuffer(hit->body.data(), static_cast<std::int64_t>(hit->body.size()));
  return true;
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

TForm1::TForm1()
    : Label1(Widget()),
      Image1(Widget()),
      Image2(Widget()),
      Button1(Widget()),
      Red(Widget()),
      Green(Widget()),
      Blue(Widget()),
      All_c(Widget()) {
  // The window as designed.
  SetLeft(394);
  SetTop(166);
  SetClientWidth(158);
  SetClientHeight(55);
  SetCaption(Cp932("Peloria　 画像クリックでヒストグラム表示"));

  Label1.SetBounds(8, 8, 84, 12);
  Label1.SetCaption("System Error!!");

  Image1.SetBounds(192, 0, 160, 120);
  Image1.OnClick = [this] { Image1Click(); };

  Image2.SetBounds(192, 128, 255, 120);
  Image2.SetStretch(true);

  Button1.SetBounds(48, 24, 75, 25);
  Button1.SetCaption("Close(&C)");
  Button1.OnClick = [this] { Button1Click(); };

  struct RadioDesign {
    TRadioButton& button;
    int left;
    int width;
    const char* caption;
    bool visible;
    void (TForm1::*handler)();
  };
  for (const RadioDesign& design : {
           RadioDesign{Red, 200, 33, "R", false, &TForm1::RedClick},
           RadioDesign{Green, 240, 33, "G", true, &TForm1::GreenClick},
           RadioDesign{Blue, 272, 33, "B", true, &TForm1::BlueClick},
           RadioDesign{All_c, 312, 41, "ALL", false, &TForm1::All_cClick},
       }) {
    design.button.SetBounds(design.left, 152, design.width, 17);
    design.button.SetCaption(design.caption);
    design.button.SetVisible(design.visible);
    design.button.OnClick = [this, handler = design.handler] { (this->*handler)(); };
  }

  // Tab order: Close, then R, G, B, ALL.
  QWidget::setTabOrder(Button1.Widget(), Red.Widget());
  QWidget::setTabOrder(Red.Widget(), Green.Widget());
  QWidget::setTabOrder(Green.Widget(), Blue.Widget());
  QWidget::setTabOrder(Blue.Widget(), All_c.Widget());
  Button1.Widget()->setFocus();
  attachContextMenu();

  // Esc, Ctrl+W and Ctrl+Q close the window as the Close button does.
  for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W),
                                   QKeySequence(Qt::CTRL | Qt::Key_Q)}) {
    auto* shortcut = new QShortcut(keys, Widget());  // owned by the window
    QObject::connect(shortcut, &QShortcut::activated, shortcut, [this] { Button1Click(); });
  }

  try {
    FormCreate();
  } catch (const std::exception& failure) {
    Application().HandleException(failure);
  }
}

// ------------------------------------------------------------------- start-up

void TForm1::FormCreate() {
  // 1. Configuration; a missing file, section or key gives the default.
  const ProgramFiles files = ProgramFilesFor(ProgramFolder());
  const std::string& ini = files.iniPath;
  const std::string proxyServer = GetPrivateProfileString("internet", "proxy_server", "", ini);
  const std::int32_t proxyPort =
      StrToIntDef(GetPrivateProfileString("internet", "proxy_port", "", ini), 0);
  const std::int32_t localFile =
      StrToIntDef(GetPrivateProfileString("Setting", "local_file", "", ini), 0);
  const int timeoutMs = DownloadTimeoutMs(GetPrivateProfileString("internet", "timeout", "", ini));

  // 2. The browser cache folder, asked for on every start.
  const std::string cacheFolder = specialfolder(kCsidlInternetCache);

  // 3. The address: the first argument, empty without one. It is shown and
  // compared as CP932 text; files are named by the argument's own bytes.
  const std::string address = Application().ParamStr(1);
  address_ = address;

  // 4. The name the browser gives its cached copy.
  const std::string cacheName = cachename(address);

  // 5. and 6. The local path: a file address or an existing file, else a
  // browser-cache copy or a download.
  std::string localPath = LocalPathOf(Application().ParamBytes(1)).value_or("");
  // While the picture read from temp.jpg is loaded and summarised, a second
  // Peloria waits before it replaces the file.
  std::unique_ptr<TFileStream> target;
  if (localPath.empty()) {
    if (localFile == 1) findfile(cacheName, cacheFolder, localPath);
    if (localPath.empty()) {
      // 7. Download into temp.jpg. Creating the file is not guarded: its
      // failure (also after waiting for another download to end) goes to the
      // general error display.
      MakeFolders(files.downloadFolder);
      localPath = files.downloadFolder + kDownloadName;
      target = std::make_unique<TFileStream>(localPath, TFileStream::Mode::kCreateExclusive,
                                             kDownloadLockWait);
      try {
        // With local_file=1, a copy in a web browser's disk cache stands in
        // for the download.
        if (localFile != 1 || !CopyFromBrowserCache(address, cacheFolder, *target)) {
          download(address, proxyServer, proxyPort, timeoutMs, *target);
        }
      } catch (const std::exception& cause) {
        // Any failure of the request or the transfer; the file keeps what
        // was written.
        failure(cause);
        return;
      }
      target->ShareLock();
    }
  }

  // 8. Load the picture and make the bitmap copy.
  try {
    Image1.Picture().LoadFromFile(localPath);
    bmp = std::make_unique<TBitmap>();
    bmp->Assign(Image1.Picture().Graphic());
  } catch (const std::exception& cause) {
    failure(cause);
    return;
  }

  // 9. Summary and layout.
  summary(localPath);
  layout();
}

void TForm1::download(const std::string& address, const std::string& proxyServer,
                      std::int32_t proxyPort, int timeoutMs, TStream& target) {
  IdHTTP1.Request.ProxyServer = proxyServer;
  IdHTTP1.Request.ProxyPort = proxyPort;
  IdHTTP1.Request.Referer = address;
  IdHTTP1.Request.UserAgent = "Peloria";
  // Redirects are followed (http and https only); without a proxy in the
  // INI file the environment's proxy variables apply; the idle time limit
  // covers connecting, the TLS handshake and every wait for reply bytes.
  IdHTTP1.HandleRedirects = true;
  IdHTTP1.UseEnvironmentProxy = true;
  IdHTTP1.ConnectTimeout = timeoutMs;
  IdHTTP1.ReadTimeout = timeoutMs;
  DownloadWithProgress(IdHTTP1, address, target);
}

// The failure display: the label, the Close button below it, the window
// narrowed to them and centred. The other widgets keep their design places,
// outside the client area. The label's tooltip names the cause and the
// address.
void TForm1::failure(const std::exception& cause) {
  failed_ = true;
  cause_ = cause.what();
  Label1.SetHint(cause_ + "\n" + address_);
  Label1.SetCaption(Cp932("データの取得に失敗しました"));
  SetCaption("Peloria error");
  Button1.SetTop(Label1.Top() + Label1.Height() + 5);
  SetClientWidth(Label1.Left() + Label1.Width() + 2);
  SetClientHeight(Button1.Top() + Button1.Height() + 3);
  centre();
}

std::string TForm1::FailureReport() const {
  // The report is one line: every run of line breaks in the cause (socket
  // errors carry "\r\n" between their number and their text) becomes one blank.
  std::string cause;
  for (std::size_t i = 0; i < cause_.size(); ++i) {
    const char c = cause_[i];
    if (c != '\r' && c != '\n') {
      cause += c;
    } else if (i == 0 || (cause_[i - 1] != '\r' && cause_[i - 1] != '\n')) {
      cause += ' ';
    }
  }
  return Label1.Caption() + " (" + cause + ")";
}

std::string TForm1::specialfolder(int csidl) {
  return SpecialFolderPath(csidl);
}

void TForm1::findfile(const std::string& name, std::string folder, std::string& result) {
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
      findfile(name, folder + entry.name, result);
    } else if (LowerAscii(ShownName(entry.name)) == wanted) {
      result = folder + entry.name;
    }
  }
}

std::string TForm1::reverse(const std::string& text) {
  return {text.rbegin(), text.rend()};
}

int TForm1::lastpos(const std::string& sub, const std::string& text) {
  if (sub.empty()) return 0;
  const std::size_t found = reverse(text).find(reverse(sub));
  if (found == std::string::npos) return 0;
  const int p = static_cast<int>(found) + 1;
  return static_cast<int>(text.size()) - p - static_cast<int>(sub.size()) + 2;
}

std::string TForm1::cachename(const std::string& address) {
  const std::string segment = address.substr(static_cast<std::size_t>(lastpos("/", address)));
  const int d = lastpos(".", segment);
  const std::string base = d > 1 ? segment.substr(0, static_cast<std::size_t>(d - 1)) : "";
  const std::string extension = segment.substr(static_cast<std::size_t>(d));
  return base + "[1]." + extension;
}

// -------------------------------------------------------------------- summary

void TForm1::summary(const std::string& localPath) {
  // A JPEG file's Exif segment, else the Exif block of another container
  // (PNG, WebP, HEIF, TIFF): the same reader walks both.
  if (ExifInfo1.HasExif(localPath)) {
    ExifInfo1.SetImageFileName(localPath);
  } else if (const auto block = ReadExifBlock(localPath)) {
    ExifInfo1.SetTiffBlock(block->data(), block->size());
  } else {
    Label1.SetCaption(Cp932("Exif情報はありません。"));
    return;
  }
  const TExifInfo& exif = ExifInfo1;

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
  Label1.SetCaption(text);
}

// --------------------------------------------------------------------- layout

void TForm1::layout() {
  // The thumbnail shows the picture upright: its Exif orientation is
  // applied, unless its decoder turned it already (HEIF). The box follows the
  // turned width and height.
  const auto* raster = dynamic_cast<const TRasterImage*>(Image1.Picture().Graphic());
  const int orientation =
      raster != nullptr && raster->Upright() ? 1 : ExifOrientationCode(ExifInfo1.Orientation);
  int w = Image1.Picture().Width();
  int h = Image1.Picture().Height();
  if (SwapsSides(orientation)) std::swap(w, h);
  Image1.SetOrientation(orientation);
  Image1.SetAutoSize(false);
  Image1.SetStretch(true);
  if (w <= 0 && h <= 0) {
    // A picture without pixels has no aspect ratio: it keeps the whole
    // thumbnail box.
    Image1.SetWidth(kThumbWidth);
    Image1.SetHeight(kThumbHeight);
  } else if (h < w) {
    Image1.SetWidth(kThumbWidth);
    Image1.SetHeight(Round(static_cast<long double>(h) / w * kThumbWidth));
  } else {
    Image1.SetHeight(kThumbHeight);
    Image1.SetWidth(Round(static_cast<long double>(w) / h * kThumbHeight));
  }
  Image1.SetLeft(Label1.Width() + 20);
  placehist();
  Button1.SetTop(std::max(Bottom(Label1), Bottom(Image1)) + 5);
  Image2.Hide();
  SetClientHeight(Bottom(Button1) + 5);
  SetClientWidth(Image1.Left() + Image1.Width() + 3);
  centre();
  Red.Hide();
  Green.Hide();
  Blue.Hide();
  All_c.Hide();
}

// The Close button centred in the window, the window centred on the screen.
void TForm1::centre() {
  Button1.SetLeft(Centred(Width(), Button1.Width()));
  SetTop(Centred(TScreen::Height(), Height()));
  SetLeft(Centred(TScreen::Width(), Width()));
}

// The histogram's place: below the thumbnail at its left edge, the drawing
// surface shown stretched to the thumbnail box's width and half its height.
void TForm1::placehist() {
  Image2.SetTop(Bottom(Image1) + 3);
  Image2.SetLeft(Image1.Left());
  Image2.SetHeight(kHistogramHeight);
  Image2.SetWidth(kThumbWidth);
}

// ------------------------------------------------------------------ histogram

void TForm1::Button1Click() {
  Close();
}
void TForm1::Image1Click() {
  hist(3);
}
void TForm1::RedClick() {
  hist(0);
}
void TForm1::GreenClick() {
  hist(1);
}
void TForm1::BlueClick() {
  hist(2);
}
void TForm1::All_cClick() {
  hist(3);
}

void TForm1::wait() {
  Red.SetEnabled(false);
  Green.SetEnabled(false);
  Blue.SetEnabled(false);
  All_c.SetEnabled(false);
}

void TForm1::rewait() {
  Red.SetEnabled(true);
  Green.SetEnabled(true);
  Blue.SetEnabled(true);
  All_c.SetEnabled(true);
}

void TForm1::hist(int type) {
  wait();
  Image2.SetHeight(kSurfaceHeight);
  Image2.SetWidth(kSurfaceWidth);
  TCanvas& canvas = Image2.Canvas();
  canvas.FillRect(0, 0, kSurfaceWidth, kSurfaceHeight);
  canvas.PenColor = kPenColors.at(static_cast<std::size_t>(type));

  THistogramCounts counts{};
  if (bmp) CountHistogram(*bmp, type, counts);
  const std::int64_t max = *std::max_element(counts.begin(), counts.end());

  // One vertical line per counter from the bottom edge upwards; the start
  // point lies just below the surface and the end point is not painted.
  // Without any pixel the surface stays white.
  if (max > 0) {
    for (int i = 0; i <= 256; ++i) {
      canvas.MoveTo(i, kSurfaceHeight);
      canvas.LineTo(
          i, kSurfaceHeight - Round(static_cast<long double>(counts[static_cast<std::size_t>(i)]) /
                                    max * kSurfaceHeight));
    }
  }

  placehist();
  Button1.SetTop(std::max(Bottom(Label1), Bottom(Image2)) + 25);
  SetClientHeight(Bottom(Button1) + 5);
  SetClientWidth(Image2.Left() + Image2.Width() + 3);
  Button1.SetLeft(Centred(Width(), Button1.Width()));
  Image2.Show();

  Red.SetTop(Bottom(Image2) + 2);
  Green.SetTop(Red.Top());
  Blue.SetTop(Red.Top());
  All_c.SetTop(Red.Top());
  Red.SetLeft(Image2.Left());
  Green.SetLeft(Red.Left() + Red.Width() + 3);
  Blue.SetLeft(Green.Left() + Red.Width() + 3);
  All_c.SetLeft(Blue.Left() + Red.Width() + 3);

  const std::array<TRadioButton*, 4> checked = {&Red, &Green, &Blue, &All_c};
  checked.at(static_cast<std::size_t>(type))->SetChecked(true);

  Red.Show();
  Green.Show();
  Blue.Show();
  All_c.Show();
  rewait();
}

}  // namespace peloria
