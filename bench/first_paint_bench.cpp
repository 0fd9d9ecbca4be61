// Time from a viewer's start to the first frame on the screen that shows the
// photo, for Peloria beside other viewers, and Peloria's click on the
// thumbnail to the histogram on the screen; run by hand on a private X
// display (bench/first_paint.sh starts one):
//
//   first_paint_bench [--runs N] [--click] [--damage] [--settle MS] [--hold MS] PELORIA PHOTO.jpg
//   [VIEWER...]
//
// Frames are read back from the screen as the end-to-end tests do (the root
// window's pixels), here through shared memory and every 2 milliseconds. With
// --damage a frame is read only when the screen has changed (the X server's
// DAMAGE extension reports it): reading 8 MB every 2 ms keeps the X server
// and the bench busy on cores the viewers share, which slows a viewer that
// works on two threads more than one that works on one. A
// frame shows the photo when enough of its pixels are colourful: the screen
// is black, Peloria's window grey and black, and the photo (a coloured
// fractal) is the only colour on it. The runs are interleaved, one of each
// program in turn, and the medians are printed with the ratios.
//
// With --click, each Peloria run then waits --settle milliseconds (default
// 1000, the window's work beside the first paint done, as a user's first
// click comes later), clicks the middle of the thumbnail (pressed for --hold
// milliseconds, default 0) and times the release to the first frame whose
// histogram area below the thumbnail shows the grey histogram lines. djpeg's decode of the same
// file (-dct float, output thrown away) is timed in the same rounds as the measure of both.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Frames of the whole screen through MIT-SHM.
class Frames {
 public:
  Frames() {
    display_ = XOpenDisplay(nullptr);
    if (!display_) throw std::runtime_error("no X display");
    const int screen = DefaultScreen(display_);
    root_ = RootWindow(display_, screen);
    width_ = DisplayWidth(display_, screen);
    height_ = DisplayHeight(display_, screen);
    image_ =
        XShmCreateImage(display_, DefaultVisual(display_, screen),
                        static_cast<unsigned>(DefaultDepth(display_, screen)), ZPixmap, nullptr,
                        &shm_, static_cast<unsigned>(width_), static_cast<unsigned>(height_));
    if (!image_ || image_->bits_per_pixel != 32) throw std::runtime_error("needs a 32-bit screen");
    shm_.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image_->bytes_per_line) * height_,
                        IPC_CREAT | 0600);
    shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
    shm_.readOnly = False;
    XShmAttach(display_, &shm_);
    XSync(display_, False);
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    // Clicks go through the XTest extension, loaded as the client library
    // the display's tools (xdotool) use.
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
    if (xtst) {
      fakeButton_ = reinterpret_cast<FakeButton>(dlsym(xtst, "XTestFakeButtonEvent"));
      fakeMotion_ = reinterpret_cast<FakeMotion>(dlsym(xtst, "XTestFakeMotionEvent"));
    }
  }

  void Grab() { XShmGetImage(display_, root_, image_, 0, 0, AllPlanes); }

  // Reports of changes on the screen from now on (libXdamage, loaded as
  // libXtst is); false without the extension.
  bool WatchDamage() {
    void* library = dlopen("libXdamage.so.1", RTLD_NOW);
    if (!library) return false;
    using Query = Bool (*)(Display*, int*, int*);
    using Create = unsigned long (*)(Display*, Drawable, int);
    auto query = reinterpret_cast<Query>(dlsym(library, "XDamageQueryExtension"));
    auto create = reinterpret_cast<Create>(dlsym(library, "XDamageCreate"));
    subtract_ = reinterpret_cast<Subtract>(dlsym(library, "XDamageSubtract"));
    int errorBase = 0;
    if (!query || !create || !subtract_ || !query(display_, &damageEvent_, &errorBase)) {
      return false;
    }
    constexpr int kReportNonEmpty = 3;  // XDamageReportNonEmpty
    damage_ = create(display_, root_, kReportNonEmpty);
    XSync(display_, False);
    return true;
  }
  bool Watching() const { return damage_ != 0; }

  // Waits up to `ms` for a change on the screen; true when one came. The
  // damage is cleared before the caller reads the frame, so that a change
  // after that read is reported again.
  bool WaitForDamage(int ms) {
    bool changed = false;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == damageEvent_) changed = true;  // XDamageNotify
      }
      if (changed) {
        subtract_(display_, damage_, 0, 0);
        XSync(display_, False);
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (left.count() <= 0) return false;
      pollfd connection{ConnectionNumber(display_), POLLIN, 0};
      poll(&connection, 1, static_cast<int>(left.count()));
    }
  }
  std::uint32_t At(int x, int y) const {
    return reinterpret_cast<const std::uint32_t*>(image_->data + static_cast<std::ptrdiff_t>(y) *
                                                                     image_->bytes_per_line)[x];
  }
  int Width() const { return width_; }
  int Height() const { return height_; }

  void Move(int x, int y) {
    fakeMotion_(display_, -1, x, y, 0);
    XFlush(display_);
  }
  void Button(bool press) {
    if (!fakeButton_) throw std::runtime_error("no XTest library (libXtst.so.6)");
    fakeButton_(display_, 1, press ? True : False, 0);
    XFlush(display_);
  }

 private:
  using FakeButton = int (*)(Display*, unsigned, Bool, unsigned long);
  using FakeMotion = int (*)(Display*, int, int, int, unsigned long);
  using Subtract = void (*)(Display*, unsigned long, unsigned long, unsigned long);
  Subtract subtract_ = nullptr;
  unsigned long damage_ = 0;
  int damageEvent_ = 0;
  Display* display_ = nullptr;
  Window root_ = 0;
  int width_ = 0;
  int height_ = 0;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
  FakeButton fakeButton_ = nullptr;
  FakeMotion fakeMotion_ = nullptr;
};

bool Colourful(std::uint32_t p) {
  const int r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
  return std::max({r, g, b}) - std::min({r, g, b}) >= 40;
}
bool HistogramGrey(std::uint32_t p) {
  const int r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
  return std::abs(r - 128) <= 3 && std::abs(g - 128) <= 3 && std::abs(b - 128) <= 3;
}

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  int count = 0;
};

// The colourful pixels of the frame, every second pixel of every second row.
Box ColourfulPixels(const Frames& s) {
  Box box;
  for (int y = 0; y < s.Height(); y += 2) {
    for (int x = 0; x < s.Width(); x += 2) {
      if (!Colourful(s.At(x, y))) continue;
      ++box.count;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

// Enough of a thumbnail of 160 x 107 (a quarter of its pixels sampled).
constexpr int kShownPixels = 1500;

pid_t Start(const std::vector<std::string>& command) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
}

void Pause(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Polls frames until `shown` holds or `limitMs` passed; the time of the
// first frame for which it held.
template <class Shown>
std::optional<double> Until(Frames& s, Clock::time_point start, int limitMs, Shown shown) {
  while (Ms(Clock::now() - start) < limitMs) {
    s.Grab();
    const Clock::time_point at = Clock::now();
    if (shown()) return Ms(at - start);
    if (s.Watching()) {
      s.WaitForDamage(std::max(1, limitMs - static_cast<int>(Ms(Clock::now() - start))));
    } else {
      Pause(2);
    }
  }
  return std::nullopt;
}

// The screen back to black before the next run.
void WaitClear(Frames& s) {
  Until(s, Clock::now(), 5000, [&] { return ColourfulPixels(s).count < 50; });
}

struct PaintRun {
  std::optional<double> paint;
  std::optional<double> click;
};

PaintRun MeasureRun(Frames& s, const std::vector<std::string>& command, bool click, int holdMs,
                    int settleMs = 0) {
  PaintRun run;
  Box thumb;
  const Clock::time_point start = Clock::now();
  const pid_t pid = Start(command);
  run.paint = Until(s, start, 20000, [&] {
    thumb = ColourfulPixels(s);
    return thumb.count >= kShownPixels;
  });
  if (run.paint && click) {
    // The histogram area: below the thumbnail, as wide as it.
    const int x = (thumb.left + thumb.right) / 2;
    const int y = (thumb.top + thumb.bottom) / 2;
    s.Move(x, y);
    Pause(settleMs);
    s.Button(true);
    if (holdMs > 0) Pause(holdMs);
    const Clock::time_point release = Clock::now();
    s.Button(false);
    run.click = Until(s, release, 5000, [&] {
      int grey = 0;
      for (int yy = thumb.bottom + 3; yy < std::min(s.Height(), thumb.bottom + 66); ++yy) {
        for (int xx = thumb.left; xx <= thumb.right; ++xx) grey += HistogramGrey(s.At(xx, yy));
      }
      return grey >= 300;
    });
  }
  Stop(pid);
  WaitClear(s);
  return run;
}

double RunMs(const std::vector<std::string>& command) {
  const Clock::time_point start = Clock::now();
  const pid_t pid = Start(command);
  int status = 0;
  waitpid(pid, &status, 0);
  return Ms(Clock::now() - start);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string List(const std::vector<double>& v) {
  std::string out;
  for (double x : v) {
    char b[32];
    std::snprintf(b, sizeof b, "%s%.0f", out.empty() ? "" : " ", x);
    out += b;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  bool click = false;
  int holdMs = 0;
  int settleMs = 1000;
  bool damage = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (a == "--click") {
      click = true;
    } else if (a == "--damage") {
      damage = true;
    } else if (a == "--settle" && i + 1 < argc) {
      settleMs = std::atoi(argv[++i]);
    } else if (a == "--hold" && i + 1 < argc) {
      holdMs = std::atoi(argv[++i]);
    } else {
      args.push_back(a);
    }
  }
  if (args.size() < 2) {
    std::fprintf(stderr,
                 "usage: %s [--runs N] [--click] [--damage] [--settle MS] [--hold MS] PELORIA "
                 "PHOTO [VIEWER...]\n",
                 argv[0]);
    return 2;
  }
  const std::string peloria = args[0];
  const std::string photo = args[1];
  const std::vector<std::string> viewers(args.begin() + 2, args.end());
  try {
    Frames screen;
    if (damage && !screen.WatchDamage()) throw std::runtime_error("no DAMAGE extension");
    WaitClear(screen);
    std::map<std::string, std::vector<double>> paint;
    std::vector<double> clicks;
    std::vector<double> djpeg;
    const std::vector<std::string> ours = {peloria, "file://" + photo};
    // One round unmeasured: the page cache and the libraries' first loads.
    MeasureRun(screen, ours, false, 0);
    for (const std::string& v : viewers) MeasureRun(screen, {v, photo}, false, 0);
    for (int round = 0; round < runs; ++round) {
      const PaintRun run = MeasureRun(screen, ours, click, holdMs, settleMs);
      if (run.paint) paint["peloria"].push_back(*run.paint);
      if (run.click) clicks.push_back(*run.click);
      for (const std::string& v : viewers) {
        const PaintRun other = MeasureRun(screen, {v, photo}, false, 0);
        if (other.paint) paint[v].push_back(*other.paint);
      }
      djpeg.push_back(RunMs({"djpeg", "-dct", "float", "-outfile", "/dev/null", photo}));
    }
    const double ourPaint = Median(paint["peloria"]);
    std::printf("%s\n", photo.c_str());
    std::printf("  first paint  peloria %7.1f ms   [%s]\n", ourPaint,
                List(paint["peloria"]).c_str());
    for (const std::string& v : viewers) {
      const double m = Median(paint[v]);
      std::printf("  first paint  %-7s %7.1f ms   [%s]   peloria / %s = %.2f\n", v.c_str(), m,
                  List(paint[v]).c_str(), v.c_str(), m > 0 ? ourPaint / m : 0);
    }
    const double decode = Median(djpeg);
    std::printf("  djpeg decode         %7.1f ms   [%s]\n", decode, List(djpeg).c_str());
    if (click) {
      const double c = Median(clicks);
      std::printf(
          "  click -> histogram   %7.1f ms   [%s]   (after %d ms, held %d ms)   / djpeg = %.2f\n",
          c, List(clicks).c_str(), settleMs, holdMs, decode > 0 ? c / decode : 0);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "first_paint_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
