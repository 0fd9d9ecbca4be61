#include "app/toolkit.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextDocument>
#include <QtMath>
#include <algorithm>
#include <cstdlib>

#include "picture/bitmap.h"
#include "picture/orientation.h"
#include "platform/cp932.h"
#include "platform/exception.h"

namespace peloria {

namespace {

constexpr int kFontPixels = 12;

QRgb ToRgb(TColor color) {
  return qRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

// The pixels of a picture's graphic, or none for graphics that are not drawn
// (metafiles) and for a JPEG that cannot be decoded.
const TBitmap* PixelsOf(const TGraphic* graphic) {
  if (graphic == nullptr) return nullptr;
  try {
    return graphic->Pixels();
  } catch (const std::exception&) {
    return nullptr;
  }
}

// Renders `source` for a widget of `target` size: stretched to it, or at the
// picture's own size cut to it. A large picture is first sampled down to at
// most four pixels per target pixel, reading only the rows it needs, then
// smoothed to the target size.
QImage Render(const TBitmap& source, QSize target, bool stretch) {
  const int w = source.Width();
  const int h = source.Height();
  if (w <= 0 || h <= 0 || target.isEmpty()) return {};
  std::vector<std::uint32_t> row(static_cast<std::size_t>(w));
  if (!stretch) {
    const int cw = std::min(w, target.width());
    const int ch = std::min(h, target.height());
    QImage out(cw, ch, QImage::Format_RGB32);
    for (int y = 0; y < ch; ++y) {
      source.RowToArgb(y, row.data());
      std::copy_n(row.data(), cw, reinterpret_cast<std::uint32_t*>(out.scanLine(y)));
    }
    return out;
  }
  const int sw = std::min(w, 4 * target.width());
  const int sh = std::min(h, 4 * target.height());
  QImage sampled(sw, sh, QImage::Format_RGB32);
  for (int y = 0; y < sh; ++y) {
    const int sy = static_cast<int>(static_cast<std::int64_t>(y) * h / sh);
    source.RowToArgb(sy, row.data());
    auto* out = reinterpret_cast<std::uint32_t*>(sampled.scanLine(y));
    for (int x = 0; x < sw; ++x) {
      out[x] = row[static_cast<std::size_t>(static_cast<std::int64_t>(x) * w / sw)];
    }
  }
  if (sampled.size() == target) return sampled;
  return sampled.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The stored picture `image` turned and mirrored as the Exif orientation
// says.
QImage Orient(const QImage& image, int orientation) {
  if (image.isNull() || orientation < 2 || orientation > 8) return image;
  const int w = image.width();
  const int h = image.height();
  QImage out =
      SwapsSides(orientation) ? QImage(h, w, image.format()) : QImage(w, h, image.format());
  for (int y = 0; y < out.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const OrientedPoint from = StoredPixel(orientation, x, y, w, h);
      row[x] = reinterpret_cast<const QRgb*>(image.constScanLine(from.y))[from.x];
    }
  }
  return out;
}

// One line of label text after accelerator processing: the characters to
// draw and the indexes of those to underline.
struct LabelLine {
  QString text;
  std::vector<int> underlined;
};

std::vector<LabelLine> LabelLines(const QString& caption) {
  std::vector<LabelLine> lines(1);
  for (int i = 0; i < caption.size(); ++i) {
    const QChar c = caption[i];
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < caption.size() && caption[i + 1] == u'\n') ++i;
      lines.emplace_back();
      continue;
    }
    if (c == u'&') {
      if (i + 1 < caption.size() && caption[i + 1] == u'&') {
        lines.back().text += u'&';
        ++i;
      } else if (i + 1 < caption.size() && caption[i + 1] != u'\r' && caption[i + 1] != u'\n') {
        lines.back().underlined.push_back(static_cast<int>(lines.back().text.size()));
      }
      continue;
    }
    lines.back().text += c;
  }
  // A final line break ends the last line; it does not open another one.
  if (lines.size() > 1 && lines.back().text.isEmpty() &&
      (caption.endsWith(u'\n') || caption.endsWith(u'\r'))) {
    lines.pop_back();
  }
  return lines;
}

}  // namespace

QFont WindowFont() {
  QFont font;
  font.setFamilies({"MS PGothic", "IPAPGothic", "Noto Sans CJK JP"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kFontPixels);
  return font;
}

QFont FixedPitchFont() {
  QFont font;
  font.setFamilies({"MS Gothic", "IPAGothic", "Noto Sans Mono CJK JP", "monospace"});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(kFontPixels);
  return font;
}

QString DisplayText(const std::string& cp932) {
  return QString::fromStdString(Utf8(cp932));
}

// ---------------------------------------------------------------- application

std::string TApplication::ParamStr(int index) const {
  if (index < 1 || index > ParamCount()) return {};
  return params_[static_cast<std::size_t>(index - 1)];
}

std::string TApplication::ParamBytes(int index) const {
  if (index >= 1 && static_cast<std::size_t>(index) <= asGiven_.size()) {
    return asGiven_[static_cast<std::size_t>(index - 1)];
  }
  return Utf8(ParamStr(index));
}

void TApplication::HandleException(const std::exception& failure) {
  const auto* own = dynamic_cast<const Exception*>(&failure);
  const std::string message = own ? own->Message() : std::string(failure.what());
  if (OnException) {
    OnException(message);
    return;
  }
  QMessageBox box(QMessageBox::Critical, DisplayText(Title), DisplayText(message), QMessageBox::Ok);
  // A message may carry a server's or a file's text: never markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void IdentifyApplication() {
  QGuiApplication::setApplicationName("Peloria");
  QGuiApplication::setDesktopFileName("peloria");
  QGuiApplication::setWindowIcon(QIcon(":/peloria/peloria.svg"));
}

TApplication& Application() {
  static TApplication application;
  return application;
}

int TScreen::Width() {
  return QGuiApplication::primaryScreen()->geometry().width();
}
int TScreen::Height() {
  return QGuiApplication::primaryScreen()->geometry().height();
}

// ------------------------------------------------------------------- controls

int TControl::Left() const {
  return widget_->x();
}
int TControl::Top() const {
  return widget_->y();
}
int TControl::Width() const {
  return widget_->width();
}
int TControl::Height() const {
  return widget_->height();
}
void TControl::SetLeft(int left) {
  widget_->move(left, widget_->y());
}
void TControl::SetTop(int top) {
  widget_->move(widget_->x(), top);
}
void TControl::SetWidth(int width) {
  widget_->resize(std::max(width, 0), widget_->height());
}
void TControl::SetHeight(int height) {
  widget_->resize(widget_->width(), std::max(height, 0));
}
void TControl::SetBounds(int left, int top, int width, int height) {
  widget_->setGeometry(left, top, std::max(width, 0), std::max(height, 0));
}
bool TControl::Visible() const {
  return !widget_->isHidden();
}
void TControl::SetVisible(bool visible) {
  widget_->setVisible(visible);
}
bool TControl::Enabled() const {
  return widget_->isEnabled();
}
void TControl::SetEnabled(bool enabled) {
  widget_->setEnabled(enabled);
}
void TControl::SetHint(const std::string& cp932) {
  hint_ = cp932;
  // Tooltips take markup when the text looks like it; a hint may carry a
  // server's text, so it goes as escaped plain text, line ends kept.
  widget_->setToolTip(Qt::convertFromPlainText(DisplayText(cp932)));
}

// ---------------------------------------------------------------------- label

class LabelWidget final : public QWidget {
 public:
  explicit LabelWidget(QWidget* parent) : QWidget(parent) { setFont(FixedPitchFont()); }

  const std::string& caption() const { return caption_; }

  void setCaption(const std::string& cp932) {
    caption_ = cp932;
    lines_ = LabelLines(DisplayText(cp932));
    const QFontMetricsF metrics(font());
    qreal width = 0;
    for (const LabelLine& line : lines_) {
      // An empty caption is measured as one blank.
      width = std::max(width, metrics.horizontalAdvance(
                                  line.text.isEmpty() && lines_.size() == 1 ? " " : line.text));
    }
    resize(qCeil(width), LineHeight() * static_cast<int>(lines_.size()));
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetricsF metrics(font());
    // The baseline divides the line as the font's ascent and descent do.
    const qreal baseline = LineHeight() * metrics.ascent() / (metrics.ascent() + metrics.descent());
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const LabelLine& line = lines_[i];
      const qreal y = static_cast<qreal>(i) * LineHeight() + baseline;
      painter.drawText(QPointF(0, y), line.text);
      for (int index : line.underlined) {
        if (index >= line.text.size()) continue;
        const qreal x0 = metrics.horizontalAdvance(line.text.left(index));
        const qreal x1 = x0 + metrics.horizontalAdvance(line.text.mid(index, 1));
        painter.drawLine(QPointF(x0, y + 1), QPointF(x1 - 1, y + 1));
      }
    }
  }

 private:
  int LineHeight() const { return font().pixelSize(); }

  std::string caption_;
  std::vector<LabelLine> lines_;
};

TLabel::TLabel(QWidget* parent) : TLabel(new LabelWidget(parent)) {}
TLabel::TLabel(LabelWidget* widget) : TControl(widget), label_(widget) {}
const std::string& TLabel::Caption() const {
  return label_->caption();
}
void TLabel::SetCaption(const std::string& cp932) {
  label_->setCaption(cp932);
}

// --------------------------------------------------------------------- canvas

TCanvas::TCanvas(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      image_(width_, height_, QImage::Format_RGB32) {
  image_.fill(ToRgb(clWhite));
}

void TCanvas::Plot(int x, int y, QRgb rgb) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = rgb;
}

void TCanvas::FillRect(int left, int top, int right, int bottom) {
  const QRgb rgb = ToRgb(BrushColor);
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, width_);
  bottom = std::min(bottom, height_);
  for (int y = top; y < bottom; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
    std::fill(row + left, row + std::max(left, right), rgb);
  }
  if (OnChange) OnChange();
}

void TCanvas::MoveTo(int x, int y) {
  penX_ = x;
  penY_ = y;
}

// Bresenham's line from the current point towards (x, y), stopping before
// the end point.
void TCanvas::LineTo(int x, int y) {
  const QRgb rgb = ToRgb(PenColor);
  int x0 = penX_;
  int y0 = penY_;
  const int dx = std::abs(x - x0);
  const int dy = -std::abs(y - y0);
  const int sx = x0 < x ? 1 : -1;
  const int sy = y0 < y ? 1 : -1;
  int error = dx + dy;
  while (x0 != x || y0 != y) {
    Plot(x0, y0, rgb);
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x0 += sx;
    }
    if (twice <= dx) {
      error += dx;
      y0 += sy;
    }
  }
  penX_ = x;
  penY_ = y;
  if (OnChange) OnChange();
}

TColor TCanvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return clBlack;
  const QRgb rgb = image_.pixel(x, y);
  return static_cast<TColor>(qRed(rgb)) | static_cast<TColor>(qGreen(rgb)) << 8 |
         static_cast<TColor>(qBlue(rgb)) << 16;
}

// ---------------------------------------------------------------------- image

class ImageWidget final : public QWidget {
 public:
  explicit ImageWidget(QWidget* parent) : QWidget(parent) {
    picture_.OnChange = [this] {
      // Pixels shown in its place belong to the picture held before.
      shown_.reset();
      remake_ = nullptr;
      cache_ = QImage();
      if (autoSize_ && picture_.Graphic()) resize(picture_.Width(), picture_.Height());
      update();
    };
  }

  TPicture& picture() { return picture_; }
  bool stretch() const { return stretch_; }
  void setStretch(bool stretch) {
    stretch_ = stretch;
    cache_ = QImage();
    update();
  }
  int orientation() const { return orientation_; }
  void setOrientation(int orientation) {
    orientation_ = orientation;
    cache_ = QImage();
    update();
  }
  void setShownPixels(std::shared_ptr<const TBitmap> pixels, TImage::TPixelsMaker remake) {
    shown_ = std::move(pixels);
    remake_ = std::move(remake);
    cache_ = QImage();
    update();
  }
  const TBitmap* shownPixels() const { return shown_.get(); }
  bool autoSize() const { return autoSize_; }
  void setAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    if (autoSize_ && picture_.Graphic()) resize(picture_.Width(), picture_.Height());
  }

  TCanvas& canvas() {
    if (!canvas_) {
      canvas_ = std::make_unique<TCanvas>(width(), height());
      canvas_->OnChange = [this] { update(); };
      update();
    }
    return *canvas_;
  }
  bool hasCanvas() const { return canvas_ != nullptr; }

  std::function<void()>* onPress = nullptr;
  std::function<void()>* onClick = nullptr;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (canvas_) {
      // Shown like a bitmap stretched by the system: nearest pixels, no
      // smoothing.
      const QRect target = stretch_ ? rect() : QRect(0, 0, canvas_->Width(), canvas_->Height());
      painter.drawImage(target, canvas_->Image());
      return;
    }
    // A stretched picture is rendered for the device pixels, so that a
    // high-density screen shows the picture's own detail rather than a
    // low-resolution rendering enlarged. At its own size a picture pixel
    // stays one logical pixel.
    const qreal ratio = devicePixelRatioF();
    if (cache_.isNull() || cacheSize_ != size() || cacheRatio_ != ratio) {
      cacheSize_ = size();
      cacheRatio_ = ratio;
      if (!shown_ && remake_) shown_ = remake_(ratio);
      const TBitmap* pixels = shown_    ? shown_.get()
                              : remake_ ? nullptr
                                        : PixelsOf(picture_.Graphic());
      if (!pixels) {
        cache_ = QImage();
      } else if (stretch_) {
        // Rendered at the stored picture's shape, then turned into the box.
        QSize target = (QSizeF(size()) * ratio).toSize();
        if (SwapsSides(orientation_)) target.transpose();
        cache_ = Orient(Render(*pixels, target, true), orientation_);
        cache_.setDevicePixelRatio(ratio);
      } else {
        cache_ = Orient(Render(*pixels, size(), false), orientation_);
      }
      if (remake_) shown_.reset();
    }
    if (!cache_.isNull()) painter.drawImage(QPoint(0, 0), cache_);
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && onPress && *onPress) (*onPress)();
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        onClick && *onClick) {
      (*onClick)();
    }
  }

  void resizeEvent(QResizeEvent*) override { update(); }

 private:
  TPicture picture_;
  std::shared_ptr<const TBitmap> shown_;
  TImage::TPixelsMaker remake_;
  std::unique_ptr<TCanvas> canvas_;
  bool stretch_ = false;
  bool autoSize_ = false;
  int orientation_ = 1;
  QImage cache_;
  QSize cacheSize_;
  qreal cacheRatio_ = 1;
};

TImage::TImage(QWidget* parent) : TImage(new ImageWidget(parent)) {}
TImage::TImage(ImageWidget* widget) : TControl(widget), image_(widget) {
  image_->onPress = &OnPress;
  image_->onClick = &OnClick;
}
TPicture& TImage::Picture() {
  return image_->picture();
}
bool TImage::Stretch() const {
  return image_->stretch();
}
void TImage::SetStretch(bool stretch) {
  image_->setStretch(stretch);
}
bool TImage::AutoSize() const {
  return image_->autoSize();
}
void TImage::SetAutoSize(bool autoSize) {
  image_->setAutoSize(autoSize);
}
int TImage::Orientation() const {
  return image_->orientation();
}
void TImage::SetOrientation(int orientation) {
  image_->setOrientation(orientation);
}
void TImage::SetShownPixels(std::shared_ptr<const TBitmap> pixels, TPixelsMaker remake) {
  image_->setShownPixels(std::move(pixels), std::move(remake));
}
const TBitmap* TImage::ShownPixels() const {
  return image_->shownPixels();
}
TCanvas& TImage::Canvas() {
  return image_->canvas();
}
bool TImage::HasCanvas() const {
  return image_->hasCanvas();
}

// -------------------------------------------------------------------- buttons

TButton::TButton(QWidget* parent) : TButton(new QPushButton(parent)) {}
TButton::TButton(QPushButton* button) : TControl(button), button_(button) {
  QObject::connect(button_, &QPushButton::clicked, [this] { Click(); });
}
void TButton::SetCaption(const std::string& cp932) {
  caption_ = cp932;
  button_->setText(DisplayText(cp932));
}
void TButton::Click() {
  if (OnClick) OnClick();
}

TRadioButton::TRadioButton(QWidget* parent) : TRadioButton(new QRadioButton(parent)) {}
TRadioButton::TRadioButton(QRadioButton* radio) : TControl(radio), radio_(radio) {
  QObject::connect(radio_, &QRadioButton::clicked, [this] { Click(); });
  QObject::connect(radio_, &QRadioButton::pressed, [this] {
    if (OnPress) OnPress();
  });
}
void TRadioButton::SetCaption(const std::string& cp932) {
  caption_ = cp932;
  radio_->setText(DisplayText(cp932));
}
bool TRadioButton::Checked() const {
  return radio_->isChecked();
}
void TRadioButton::SetChecked(bool checked) {
  radio_->setChecked(checked);
}
void TRadioButton::Click() {
  radio_->setChecked(true);
  if (OnClick) OnClick();
}

// ----------------------------------------------------------------------- form

class FormWidget final : public QWidget {
 public:
  FormWidget() : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setAttribute(Qt::WA_QuitOnClose);
    setFont(WindowFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
  }
};

TForm::TForm() : widget_(std::make_unique<FormWidget>()) {}
TForm::~TForm() = default;

QWidget* TForm::Widget() const {
  return widget_.get();
}

void TForm::SetCaption(const std::string& cp932) {
  caption_ = cp932;
  widget_->setWindowTitle(DisplayText(cp932));
}

void TForm::SetLeft(int left) {
  left_ = left;
  ApplyGeometry();
}
void TForm::SetTop(int top) {
  top_ = top;
  ApplyGeometry();
}
void TForm::SetClientWidth(int width) {
  clientWidth_ = std::max(width, 0);
  ApplyGeometry();
}
void TForm::SetClientHeight(int height) {
  clientHeight_ = std::max(height, 0);
  ApplyGeometry();
}

void TForm::SetClientSize(int width, int height) {
  clientWidth_ = std::max(width, 0);
  clientHeight_ = std::max(height, 0);
  ApplyGeometry();
}

void TForm::ApplyGeometry() {
  widget_->setFixedSize(clientWidth_, clientHeight_);
  widget_->move(left_, top_);
}

void TForm::Show() {
  ApplyGeometry();
  widget_->show();
}

void TForm::Prepare() {
  widget_->winId();
  QImage scratch(widget_->size(), QImage::Format_ARGB32_Premultiplied);
  if (!scratch.isNull()) widget_->render(&scratch);
}

void TForm::Close() {
  widget_->close();
}

}  // namespace peloria
