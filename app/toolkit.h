// The window toolkit as Peloria's window logic sees it: a thin layer over Qt
// Widgets with the operations the logic needs (bounds, client and outer size,
// screen size, texts, visibility, enabling, check marks, pictures shown at
// their own size or stretched, a drawing surface, clicks). Texts cross this
// layer as CP932 byte strings; they become QStrings only for display.
//
// Widgets are placed at absolute positions; there are no layout managers.
// The outer size of the window is its client size plus fixed dialog-frame
// metrics (below), because the real frame is unknown until a window manager
// has mapped the window, and the layout runs before that. The window is
// positioned by the top-left corner of its frame.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "picture/picture.h"

class QPushButton;
class QRadioButton;

namespace peloria {

// A colour as a 24-bit value: red in the low byte, green in the middle byte,
// blue in the high byte.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clGray = 0x808080;

// Dialog-frame metrics used for every outer size: 3 pixels left, right and
// bottom, 22 pixels for the title bar and the top edge.
struct FrameMetrics {
  static constexpr int kLeft = 3;
  static constexpr int kRight = 3;
  static constexpr int kTop = 22;
  static constexpr int kBottom = 3;
};

// Font family lists, 12 pixels high: the window's proportional font and the
// fixed-pitch font of the summary (a double-byte character is twice as wide
// as a single-byte one in it).
QFont WindowFont();
QFont FixedPitchFont();

// CP932 text for display.
QString DisplayText(const std::string& cp932);

// Names the application to the desktop: its name, the desktop entry it
// belongs to ("peloria.desktop", by which Wayland compositors and task bars
// give the window the entry's name and icon) and its window icon. Call it
// once the QApplication exists and before a window is shown.
void IdentifyApplication();

// The application: its title, its command-line arguments and the general
// error display.
class TApplication {
 public:
  std::string Title;

  // The arguments after the program name, as CP932 texts, and as the command
  // line gave them (the file system's bytes, for opening files by name).
  void SetParams(std::vector<std::string> params, std::vector<std::string> asGiven = {}) {
    params_ = std::move(params);
    asGiven_ = std::move(asGiven);
  }
  // The argument at `index` (1-based); empty when there is none.
  std::string ParamStr(int index) const;
  // The argument at `index` as given; the UTF-8 form of ParamStr(index) when
  // the arguments were set as CP932 texts only.
  std::string ParamBytes(int index) const;
  int ParamCount() const { return static_cast<int>(params_.size()); }

  // Receives the message (CP932) of a failure that the window logic did not
  // handle. Unset, the general error display is a modal message box titled
  // with the application title.
  std::function<void(const std::string& message)> OnException;

  // The general error display for `failure`.
  void HandleException(const std::exception& failure);

 private:
  std::vector<std::string> params_;
  std::vector<std::string> asGiven_;
};

TApplication& Application();

// The primary screen.
struct TScreen {
  static int Width();
  static int Height();
};

// A widget at an absolute position in its window's client area.
class TControl {
 public:
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;
  virtual ~TControl() = default;

  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  void SetLeft(int left);
  void SetTop(int top);
  void SetWidth(int width);
  void SetHeight(int height);
  void SetBounds(int left, int top, int width, int height);

  // Whether the widget is shown when its window is.
  bool Visible() const;
  void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }

  bool Enabled() const;
  void SetEnabled(bool enabled);

  // The tooltip shown while the pointer rests on the widget (CP932); empty
  // text shows none.
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& cp932);

  QWidget* Widget() const { return widget_; }

 protected:
  explicit TControl(QWidget* widget) : widget_(widget) {}

 private:
  QWidget* widget_;  // owned by its parent widget
  std::string hint_;
};

class LabelWidget;

// A text label that sizes itself to its text: a new line at each line break,
// no word wrap, the width of the widest line, each line as high as the font's
// pixel size. "&" marks the next character as the accelerator (not drawn, the
// character underlined); "&&" draws one "&".
class TLabel final : public TControl {
 public:
  explicit TLabel(QWidget* parent);
  const std::string& Caption() const;
  void SetCaption(const std::string& cp932);

 private:
  // Wraps the widget that the public constructor makes.
  explicit TLabel(LabelWidget* widget);
  LabelWidget* label_;
};

// A drawing surface: Peloria's own bitmap with a pen, a brush and line
// drawing from a current point.
class TCanvas {
 public:
  TCanvas(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }

  TColor PenColor = clBlack;
  TColor BrushColor = clWhite;

  // Fills the rectangle with the brush; right and bottom edges excluded,
  // clipped to the surface.
  void FillRect(int left, int top, int right, int bottom);
  void MoveTo(int x, int y);
  // A line from the current point to (x, y) in the pen colour; the end point
  // is not painted and becomes the current point. Points outside the surface
  // are clipped.
  void LineTo(int x, int y);

  TColor Pixel(int x, int y) const;
  const QImage& Image() const { return image_; }

  // Called after every drawing operation.
  std::function<void()> OnChange;

 private:
  void Plot(int x, int y, QRgb rgb);

  int width_;
  int height_;
  QImage image_;
  int penX_ = 0;
  int penY_ = 0;
};

class ImageWidget;

// An image widget: shows its picture at the picture's own size (top-left
// aligned) or stretched to the widget, or shows its drawing surface stretched
// the same way once the surface exists.
class TImage final : public TControl {
 public:
  explicit TImage(QWidget* parent);

  TPicture& Picture();
  bool Stretch() const;
  void SetStretch(bool stretch);
  bool AutoSize() const;
  void SetAutoSize(bool autoSize);
  // How the picture is turned and mirrored when shown: an Exif orientation
  // code 1 to 8 (picture/orientation.h); 1, as stored, until set. With 5 to
  // 8 the widget's width shows the picture's height.
  int Orientation() const;
  void SetOrientation(int orientation);

  // Pixels to show in place of the picture's own (a reduced decode of it):
  // the picture keeps its size for the layout, and its own pixels are not
  // asked for while these are set. None shows the picture's own. With
  // `remake`, the pixels are let go once drawn (the drawing is kept) and
  // remade by it, for the device pixels per pixel it is given, when the
  // widget must be drawn anew at another size or none were given.
  using TPixelsMaker = std::function<std::shared_ptr<const TBitmap>(double ratio)>;
  void SetShownPixels(std::shared_ptr<const TBitmap> pixels, TPixelsMaker remake = {});
  const TBitmap* ShownPixels() const;

  // The drawing surface, made at the widget's present size on first use.
  TCanvas& Canvas();
  bool HasCanvas() const;

  // The left button pressed on the widget; OnClick follows when it is
  // released over the widget, so work the click needs may start here.
  std::function<void()> OnPress;
  std::function<void()> OnClick;

 private:
  // Wraps the widget that the public constructor makes.
  explicit TImage(ImageWidget* widget);
  ImageWidget* image_;
};

class TButton final : public TControl {
 public:
  explicit TButton(QWidget* parent);
  std::string Caption() const { return caption_; }
  void SetCaption(const std::string& cp932);
  // Clicks by the user (mouse, keyboard, accelerator) and Click().
  std::function<void()> OnClick;
  void Click();

 private:
  // Wraps the widget that the public constructor makes.
  explicit TButton(QPushButton* button);
  QPushButton* button_;
  std::string caption_;
};

// Radio buttons with the same parent form one group: checking one unchecks
// the others.
class TRadioButton final : public TControl {
 public:
  explicit TRadioButton(QWidget* parent);
  std::string Caption() const { return caption_; }
  void SetCaption(const std::string& cp932);
  bool Checked() const;
  void SetChecked(bool checked);
  // Clicks by the user and Click(); setting the check mark does not notify.
  std::function<void()> OnClick;
  void Click();
  // The button pressed by the user (mouse or keyboard); OnClick follows when
  // it is released over the button.
  std::function<void()> OnPress;

 private:
  // Wraps the widget that the public constructor makes.
  explicit TRadioButton(QRadioButton* radio);
  QRadioButton* radio_;
  std::string caption_;
};

class FormWidget;

// A fixed-size dialog window without title-bar buttons, in the button-face
// colour, with the window font.
class TForm {
 public:
  TForm();
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& cp932);

  // Position of the frame's top-left corner on the screen.
  int Left() const { return left_; }
  int Top() const { return top_; }
  void SetLeft(int left);
  void SetTop(int top);

  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }
  void SetClientWidth(int width);
  void SetClientHeight(int height);
  // Both at once: a shown window changes its size once, not twice.
  void SetClientSize(int width, int height);

  // Outer size: client size plus the frame metrics.
  int Width() const { return clientWidth_ + FrameMetrics::kLeft + FrameMetrics::kRight; }
  int Height() const { return clientHeight_ + FrameMetrics::kTop + FrameMetrics::kBottom; }

  void Show();
  void Close();
  // Makes the native window (not yet shown) and renders the widgets once
  // off the screen, so that the toolkit's first-use work (the window on the
  // display server, fonts, style) is done before Show, while the caller
  // waits for something else.
  void Prepare();

  // The window's client area, the parent of its widgets.
  QWidget* Widget() const;

 private:
  void ApplyGeometry();

  std::unique_ptr<FormWidget> widget_;
  std::string caption_;
  int left_ = 0;
  int top_ = 0;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
};

}  // namespace peloria
