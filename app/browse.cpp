// Stepping through the shown picture's folder: the keys, the wheel over the
// thumbnail, and the neighbours read ahead on a thread of their own.
#include <QKeySequence>
#include <QShortcut>
#include <QTimer>
#include <QWheelEvent>

#include "app/unit1.h"
#include "platform/cp932.h"

namespace peloria {

namespace {

// One wheel notch is 120 eighths of a degree; finer wheels and touchpads
// send parts of it, which add up to whole steps.
constexpr int kWheelNotch = 120;

// Turns the wheel over a widget into steps: towards the user the next
// picture, away from the user the previous one.
class WheelSteps final : public QObject {
 public:
  WheelSteps(QObject* parent, std::function<void(TStep)> step)
      : QObject(parent), step_(std::move(step)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Wheel) return QObject::eventFilter(watched, event);
    rest_ += static_cast<QWheelEvent*>(event)->angleDelta().y();
    for (; rest_ <= -kWheelNotch; rest_ += kWheelNotch) step_(TStep::kNext);
    for (; rest_ >= kWheelNotch; rest_ -= kWheelNotch) step_(TStep::kPrevious);
    return true;
  }

 private:
  std::function<void(TStep)> step_;
  int rest_ = 0;
};

}  // namespace

void TForm1::attachStepping() {
  const struct {
    Qt::Key key;
    TStep step;
  } keys[] = {
      {Qt::Key_Right, TStep::kNext},    {Qt::Key_Left, TStep::kPrevious},
      {Qt::Key_PageDown, TStep::kNext}, {Qt::Key_PageUp, TStep::kPrevious},
      {Qt::Key_Home, TStep::kFirst},    {Qt::Key_End, TStep::kLast},
  };
  for (const auto& [key, step] : keys) {
    auto* shortcut = new QShortcut(QKeySequence(key), Widget());  // owned by the window
    shortcut->setAutoRepeat(true);
    QObject::connect(shortcut, &QShortcut::activated, shortcut,
                     [this, step = step] { guarded([this, step] { Step(step); }); });
  }
  Image1.Widget()->installEventFilter(new WheelSteps(
      Image1.Widget(), [this](TStep step) { guarded([this, step] { Step(step); }); }));
}

void TForm1::guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& failure) {
    Application().HandleException(failure);
  }
}

void TForm1::Step(TStep step) {
  if (!shown_ || !shown_->Local() || !startup_) return;
  const TFolderPlace place = PlaceOf(shown_->LocalPath());
  const std::vector<std::string> pictures = FolderPictures(place.folder);
  const std::optional<std::string> to = Stepped(pictures, place.name, step);
  if (!to) return;
  const std::string address = FolderAddress(place.folder, *to);
  if (!readAhead_) readAhead_ = std::make_unique<TReadAhead>(*startup_);
  // Read ahead, or made now; a picture the read-ahead is still making is
  // waited for, one it was to make next is made here instead.
  std::optional<TPhoto> photo = readAhead_->Take(address);
  if (!photo) photo = startup_->Open(LocaleToCp932(address), address, IdHTTP1, nullptr);
  std::optional<TPhoto> before = present(std::move(*photo));
  readAround(pictures, *to, step, std::move(before));
  if (shown_->Error()) std::rethrow_exception(shown_->Error());
}

void TForm1::readAround(const std::vector<std::string>& pictures, const std::string& name,
                        TStep direction, std::optional<TPhoto> before) {
  if (!readAhead_) readAhead_ = std::make_unique<TReadAhead>(*startup_);
  const TFolderPlace place = PlaceOf(shown_->LocalPath());
  std::vector<std::string> wanted;
  const TStep behind =
      direction == TStep::kPrevious || direction == TStep::kLast ? TStep::kNext : TStep::kPrevious;
  const TStep ahead = behind == TStep::kNext ? TStep::kPrevious : TStep::kNext;
  for (const TStep side : {ahead, behind}) {
    if (const auto neighbour = Stepped(pictures, name, side)) {
      wanted.push_back(FolderAddress(place.folder, *neighbour));
    }
  }
  std::vector<TPhoto> have;
  if (before) have.push_back(std::move(*before));
  readAhead_->Want(std::move(wanted), std::move(have));
}

void TForm1::readAroundLater() {
  QTimer::singleShot(0, Widget(), [this] {
    if (!shown_ || !startup_) return;
    if (!shown_->Local()) {
      // Nothing to step to: nothing is held.
      if (readAhead_) readAhead_->Want({});
      return;
    }
    const TFolderPlace place = PlaceOf(shown_->LocalPath());
    readAround(FolderPictures(place.folder), place.name, TStep::kNext, std::nullopt);
  });
}

}  // namespace peloria
