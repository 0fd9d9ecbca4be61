#include "app/unit1.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <future>
#include <limits>
#include <optional>

#include "app/address.h"
#include "app/histogram_count.h"
#include "app/progress.h"
#include "app/startup.h"
#include "cache/browser_cache.h"
#include "picture/errors.h"
#include "picture/exif_block.h"
#include "picture/graphic.h"
#include "picture/jpeg.h"
#include "picture/orientation.h"
#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "text/format.h"

namespace peloria {

namespace {

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

// The offset that centres `inner` in `outer`.
int Centred(int outer, int inner) {
  return Round(static_cast<long double>(outer - inner) / 2);
}

}  // namespace

TForm1::TForm1(std::optional<TBrowserHandover> handover)
    : Label1(Widget()),
      Image1(Widget()),
      Image2(Widget()),
      Button1(Widget()),
      Red(Widget()),
      Green(Widget()),
      Blue(Widget()),
      All_c(Widget()),
      handover_(std::move(handover)) {
  // The window as designed.
  SetLeft(394);
  SetTop(166);
  Image1.OnPress = [this] { prepare(3); };
  Image1.OnClick = [this] { Image1Click(); };
  Image2.SetStretch(true);
  Button1.OnClick = [this] { Button1Click(); };
  Red.OnClick = [this] { RedClick(); };
  Green.OnClick = [this] { GreenClick(); };
  Blue.OnClick = [this] { BlueClick(); };
  All_c.OnClick = [this] { All_cClick(); };
  Red.OnPress = [this] { prepare(0); };
  Green.OnPress = [this] { prepare(1); };
  Blue.OnPress = [this] { prepare(2); };
  All_c.OnPress = [this] { prepare(3); };
  design();

  // Tab order: Close, then R, G, B, ALL.
  QWidget::setTabOrder(Button1.Widget(), Red.Widget());
  QWidget::setTabOrder(Red.Widget(), Green.Widget());
  QWidget::setTabOrder(Green.Widget(), Blue.Widget());
  QWidget::setTabOrder(Blue.Widget(), All_c.Widget());
  Button1.Widget()->setFocus();
  attachContextMenu();
  attachStepping();
  attachDrops();

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

// The widgets where the design puts them, with their design texts; a photo's
// layout or failure display starts from here.
void TForm1::design() {
  SetClientWidth(158);
  SetClientHeight(55);
  SetCaption(Cp932("Peloria　 画像クリックでヒストグラム表示"));

  Label1.SetBounds(8, 8, 84, 12);
  Label1.SetCaption("System Error!!");
  Label1.SetHint("");

  Image1.SetBounds(192, 0, 160, 120);
  Image1.SetStretch(false);
  Image1.SetAutoSize(false);
  Image1.SetOrientation(1);

  Image2.SetBounds(192, 128, 255, 120);
  Image2.Show();

  Button1.SetBounds(48, 24, 75, 25);
  Button1.SetCaption("Close(&C)");

  struct RadioDesign {
    TRadioButton& button;
    int left;
    int width;
    const char* caption;
    bool visible;
  };
  for (const RadioDesign& radio : {
           RadioDesign{Red, 200, 33, "R", false},
           RadioDesign{Green, 240, 33, "G", true},
           RadioDesign{Blue, 272, 33, "B", true},
           RadioDesign{All_c, 312, 41, "ALL", false},
       }) {
    radio.button.SetBounds(radio.left, 152, radio.width, 17);
    radio.button.SetCaption(radio.caption);
    radio.button.SetVisible(radio.visible);
  }
}

// ------------------------------------------------------------------- start-up

namespace {

// The first photo begun before the window (TForm1::PrepareFirstPhoto).
struct FirstPhoto {
  std::string addressBytes;
  std::future<TPhoto> photo;
};
std::optional<FirstPhoto>& PreparedFirstPhoto() {
  static std::optional<FirstPhoto> first;
  return first;
}

}  // namespace

void TForm1::PrepareFirstPhoto(const std::string& address, const std::string& addressBytes) {
  if (!LocalPathOf(addressBytes)) return;
  PreparedFirstPhoto() = FirstPhoto{
      addressBytes, std::async(std::launch::async, [address, addressBytes] {
        TIdHTTP http;  // a local file needs none
        return TStartup().Open(address, addressBytes, http, {}, nullptr, TStartup::kThumbnailFirst);
      })};
}

void TForm1::FormCreate() {
  // 1. Configuration, read once for every photo the window shows.
  startup_ = std::make_unique<TStartup>();
  // 2. to 9. The address (the first argument, empty without one) turned into
  // a local file, loaded, copied into the bitmap and summed up; then the
  // summary and the layout, or the failure display. A photo begun before the
  // window is waited for here, and shown when it is of this address and was
  // decoded for this screen (a JPEG's pixel format follows the screen's
  // depth, which was not known before the toolkit started).
  std::optional<FirstPhoto> first = std::move(PreparedFirstPhoto());
  PreparedFirstPhoto().reset();
  if (first && first->addressBytes == Application().ParamBytes(1) && ScreenBitsPerPixel() > 8) {
    // The window's own first-use work is done while the decode finishes;
    // a photo already decoded is shown at once (showing does that work).
    if (first->photo.wait_for(std::chrono::seconds(0)) != std::future_status::ready) Prepare();
    ShowPhoto(first->photo.get());
    return;
  }
  Open(Application().ParamStr(1), Application().ParamBytes(1), handover_ ? &*handover_ : nullptr);
}

void TForm1::Open(const std::string& address, const std::string& addressBytes,
                  const TBrowserHandover* handover) {
  if (!startup_) startup_ = std::make_unique<TStartup>();
  ShowPhoto(startup_->Open(address, addressBytes, IdHTTP1, DownloadWithProgress, handover));
  readAroundLater();
}

std::optional<TPhoto> TForm1::ShowPhoto(TPhoto photo) {
  std::optional<TPhoto> before = present(std::move(photo));
  if (shown_->Error()) std::rethrow_exception(shown_->Error());
  return before;
}

std::optional<TPhoto> TForm1::present(TPhoto photo) {
  std::optional<TPhoto> before = std::move(shown_);
  dropPrepared();
  if (before) before->GiveBack(Image1.Picture().TakeGraphic(), std::move(bmp));
  shown_ = std::move(photo);
  TPhoto& shown = *shown_;

  design();
  address_ = shown.Address();
  failed_ = false;
  cause_.clear();
  Image1.Picture().SetGraphic(shown.TakeGraphic());
  // A copy still being made beside the photo is taken at the first need.
  brightness_.reset();
  if (!shown.BitmapPending()) takeBitmap();
  ExifInfo1.Assign(shown.Exif());
  if (shown.Failed()) {
    failure(shown.Cause());
  } else if (shown.Summary()) {
    Label1.SetCaption(*shown.Summary());
    layout();
    showThumbnail(shown);
    if (histType_) hist(*histType_);
  }
  return before;
}

// The reduced decode of the photo in the thumbnail, taken from the photo:
// the widget lets it go once drawn and decodes anew at the reduction its
// device pixels need when it must draw again (on a screen of more device
// pixels than it was made for, at once).
void TForm1::showThumbnail(TPhoto& photo) {
  std::shared_ptr<const TBitmap> pixels = photo.TakeThumbnail();
  const auto* jpeg = dynamic_cast<const TJPEGImage*>(Image1.Picture().Graphic());
  if (!pixels || !jpeg) return;
  const int w = jpeg->Width();
  const int h = jpeg->Height();
  const double ratio = Image1.Widget()->devicePixelRatioF();
  if (ThumbnailDecodeScale(w, h, ratio) != ThumbnailDecodeScale(w, h)) pixels = nullptr;
  Image1.SetShownPixels(std::move(pixels), [jpeg, w, h](double r) {
    return std::shared_ptr<const TBitmap>(jpeg->DecodeAt(ThumbnailDecodeScale(w, h, r)));
  });
}

// The photo's bitmap copy, with the counts made beside it.
void TForm1::takeBitmap() {
  bmp = shown_->TakeBitmap();
  brightness_ = shown_->TakeBrightness();
}

// The bitmap copy for the histogram: one still being made beside the photo
// is waited for here. When making it failed, the window turns to the failure
// display, as when the picture failed to load, and answers false.
bool TForm1::haveBitmap() {
  if (bmp || !shown_ || !shown_->BitmapPending()) return true;
  takeBitmap();
  if (!shown_->Failed()) return true;
  design();
  Image1.Picture().SetGraphic(nullptr);
  failure(shown_->Cause());
  return false;
}

// The failure display: the label, the Close button below it, the window
// narrowed to them and centred. The other widgets keep their design places,
// outside the client area. The label's tooltip names the cause and the
// address.
void TForm1::failure(const std::string& cause) {
  failed_ = true;
  cause_ = cause;
  Label1.SetHint(cause_ + "\n" + address_);
  Label1.SetCaption(Cp932(kFailureText));
  SetCaption("Peloria error");
  Button1.SetTop(Label1.Top() + Label1.Height() + 5);
  SetClientWidth(Label1.Left() + Label1.Width() + 2);
  SetClientHeight(Button1.Top() + Button1.Height() + 3);
  centre();
}

std::string TForm1::FailureReport() const {
  return FailureReportText(Label1.Caption(), cause_);
}

std::string TForm1::specialfolder(int csidl) {
  return SpecialFolderPath(csidl);
}

void TForm1::findfile(const std::string& name, std::string folder, std::string& result) {
  FindFile(name, std::move(folder), result);
}

std::string TForm1::reverse(const std::string& text) {
  return {text.rbegin(), text.rend()};
}

int TForm1::lastpos(const std::string& sub, const std::string& text) {
  return LastPos(sub, text);
}

std::string TForm1::cachename(const std::string& address) {
  return CacheName(address);
}

// --------------------------------------------------------------------- layout

void TForm1::layout() {
  // The thumbnail shows the picture upright: its Exif orientation is
  // applied, unless its decoder turned it already (HEIF). The box follows the
  // turned width and height.
  const TGraphic* graphic = Image1.Picture().Graphic();
  const int orientation =
      graphic != nullptr && graphic->Upright() ? 1 : ExifOrientationCode(ExifInfo1.Orientation);
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

void TForm1::prepare(int type) {
  if (!haveBitmap() || !bmp || (prepared_.valid() && preparedType_ == type)) return;
  if (type == 3 && brightness_) return;  // counted with the copy
  dropPrepared();                        // one count at a time
  preparedType_ = type;
  prepared_ = std::async(std::launch::async, [&bitmap = *bmp, type] {
    THistogramCounts counts{};
    CountHistogram(bitmap, type, counts);
    return counts;
  });
}

void TForm1::dropPrepared() {
  if (prepared_.valid()) prepared_.wait();
  prepared_ = {};
}

THistogramCounts TForm1::counts(int type) {
  if (type == 3 && brightness_) return *brightness_;
  if (prepared_.valid()) {
    THistogramCounts counts = prepared_.get();
    if (preparedType_ == type) return counts;
  }
  THistogramCounts counts{};
  if (bmp) CountHistogram(*bmp, type, counts);
  return counts;
}

void TForm1::hist(int type) {
  if (!haveBitmap()) return;
  histType_ = type;
  wait();
  Image2.SetHeight(kSurfaceHeight);
  Image2.SetWidth(kSurfaceWidth);
  TCanvas& canvas = Image2.Canvas();
  canvas.FillRect(0, 0, kSurfaceWidth, kSurfaceHeight);
  canvas.PenColor = kPenColors.at(static_cast<std::size_t>(type));

  const THistogramCounts counts = this->counts(type);
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
  // Client height, then width, given to the window at once.
  SetClientSize(Image2.Left() + Image2.Width() + 3, Bottom(Button1) + 5);
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
