// Pictures dropped on the window or pasted into it: the address a file
// manager or a web browser hands over, or the picture's bytes alone.
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMimeData>
#include <QShortcut>
#include <QTimer>

#include "app/transfer.h"
#include "app/unit1.h"
#include "platform/cp932.h"

namespace peloria {

namespace {

// What a drop or the clipboard hands over: an address (UTF-8), else a
// picture's bytes.
struct Transfer {
  std::optional<std::string> address;
  std::string bytes;
};

std::string Utf8Of(const QString& text) {
  return text.toUtf8().toStdString();
}

// The address wins over the pixels: a browser's copy of a picture carries
// both, and its re-encoded pixels have lost the Exif data.
std::optional<Transfer> TransferOf(const QMimeData& data) {
  if (data.hasFormat("text/uri-list")) {
    if (auto address = UriListAddress(data.data("text/uri-list").toStdString())) {
      return Transfer{std::move(address), {}};
    }
  }
  if (data.hasFormat("text/x-moz-url")) {
    // UTF-16 in the machine's byte order: the address, a line feed, the title.
    const QByteArray raw = data.data("text/x-moz-url");
    const QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), raw.size() / 2);
    if (auto address = UriListAddress(Utf8Of(text))) return Transfer{std::move(address), {}};
  }
  if (data.hasHtml()) {
    if (auto address = HtmlImageAddress(Utf8Of(data.html()))) {
      return Transfer{std::move(address), {}};
    }
  }
  if (data.hasText()) {
    if (auto address = TextAddress(Utf8Of(data.text()))) return Transfer{std::move(address), {}};
  }
  for (const QString& format : data.formats()) {
    if (!format.startsWith("image/")) continue;
    QByteArray bytes = data.data(format);
    if (!bytes.isEmpty()) return Transfer{std::nullopt, bytes.toStdString()};
  }
  return std::nullopt;
}

// Takes drags over the window: accepted when they carry something to open;
// a drop runs `open` once the drop itself has ended, so that a download does
// not keep the dragging program waiting.
class DropTarget final : public QObject {
 public:
  DropTarget(QWidget* window, std::function<void(Transfer)> open)
      : QObject(window), open_(std::move(open)) {
    window->setAcceptDrops(true);
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (TForm1::Openable(drag->mimeData())) {
          drag->acceptProposedAction();
        } else {
          drag->ignore();
        }
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        std::optional<Transfer> transfer = TransferOf(*drop->mimeData());
        if (!transfer) {
          drop->ignore();
          return true;
        }
        drop->acceptProposedAction();
        QTimer::singleShot(0, this, [this, transfer = std::move(*transfer)] { open_(transfer); });
        return true;
      }
      default:
        return QObject::eventFilter(watched, event);
    }
  }

 private:
  std::function<void(Transfer)> open_;
};

}  // namespace

void TForm1::attachDrops() {
  new DropTarget(Widget(), [this](const Transfer& transfer) {  // owned by the window
    guarded([&] {
      if (transfer.address) {
        Open(Cp932(*transfer.address), *transfer.address);
      } else {
        OpenPictureData(transfer.bytes);
      }
    });
  });
  auto* paste = new QShortcut(QKeySequence::Paste, Widget());  // owned by the window
  QObject::connect(paste, &QShortcut::activated, paste, [this] { guarded([this] { Paste(); }); });
}

bool TForm1::Openable(const QMimeData* data) {
  return data != nullptr && TransferOf(*data).has_value();
}

bool TForm1::OpenTransfer(const QMimeData& data) {
  const std::optional<Transfer> transfer = TransferOf(data);
  if (!transfer) return false;
  if (transfer->address) {
    Open(Cp932(*transfer->address), *transfer->address);
  } else {
    OpenPictureData(transfer->bytes);
  }
  return true;
}

void TForm1::Paste() {
  if (const QMimeData* data = QGuiApplication::clipboard()->mimeData()) OpenTransfer(*data);
}

void TForm1::OpenPictureData(const std::string& bytes) {
  if (!startup_) startup_ = std::make_unique<TStartup>();
  ShowPhoto(startup_->OpenData(bytes));
  readAroundLater();
}

}  // namespace peloria
