// The window probe and the background game of the display tests (see the header).
#include "tests/e2e/window_probe.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

// Last: the X headers define short macros (None, Status) that clash with others.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// The few X library entry points the probe uses, loaded once.
struct XLib {
  bool loaded = false;
  Display* (*openDisplay)(const char*);
  int (*closeDisplay)(Display*);
  Window (*defaultRootWindow)(Display*);
  Status (*queryTree)(Display*, Window, Window*, Window*, Window**, unsigned int*);
  Status (*fetchName)(Display*, Window, char**);
  int (*free)(void*);
  Status (*getWindowAttributes)(Display*, Window, XWindowAttributes*);
  XImage* (*getImage)(Display*, Drawable, int, int, unsigned int, unsigned int, unsigned long, int);
  Atom (*internAtom)(Display*, const char*, Bool);
  Status (*sendEvent)(Display*, Window, Bool, long, XEvent*);
  int (*sync)(Display*, Bool);
  XErrorHandler (*setErrorHandler)(XErrorHandler);
  // From the composite extension's library, when it is there.
  void (*redirectSubwindows)(Display*, Window, int);
};

template <typename T>
bool Load(void* library, const char* name, T* slot) {
  *slot = reinterpret_cast<T>(dlsym(library, name));
  return *slot != nullptr;
}

const XLib& X() {
  static XLib x = [] {
    XLib lib{};
    void* core = dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
    if (!core) return lib;
    lib.loaded = Load(core, "XOpenDisplay", &lib.openDisplay) && Load(core, "XCloseDisplay", &lib.closeDisplay) &&
                 Load(core, "XDefaultRootWindow", &lib.defaultRootWindow) && Load(core, "XQueryTree", &lib.queryTree) &&
                 Load(core, "XFetchName", &lib.fetchName) && Load(core, "XFree", &lib.free) &&
                 Load(core, "XGetWindowAttributes", &lib.getWindowAttributes) && Load(core, "XGetImage", &lib.getImage) &&
                 Load(core, "XInternAtom", &lib.internAtom) && Load(core, "XSendEvent", &lib.sendEvent) &&
                 Load(core, "XSync", &lib.sync) && Load(core, "XSetErrorHandler", &lib.setErrorHandler);
    lib.redirectSubwindows = nullptr;
    if (void* composite = dlopen("libXcomposite.so.1", RTLD_NOW)) {
      Load(composite, "XCompositeRedirectSubwindows", &lib.redirectSubwindows);
    }
    return lib;
  }();
  return x;
}

// A window that vanishes between two requests must fail the request, not
// end the test program (the library's default handler exits).
std::atomic<int> lastXError{0};
int KeepGoing(Display*, XErrorEvent* event) {
  lastXError = event->error_code;
  return 0;
}

const int kCompositeRedirectAutomatic = 0;

}  // namespace

WindowProbe::WindowProbe() {
  const XLib& x = X();
  if (!x.loaded) return;
  // A busy server may refuse a connection for a moment (its listen queue is
  // full while many tests start clients at once): try a few times.
  Display* display = nullptr;
  for (int attempt = 0; attempt < 10 && !display; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100 * attempt));
    display = x.openDisplay(nullptr);
  }
  if (!display) {
    std::fprintf(stderr, "window probe: cannot connect to the X server\n");
    return;
  }
  x.setErrorHandler(KeepGoing);
  // The server then keeps every top-level window's pixels apart.
  if (x.redirectSubwindows) x.redirectSubwindows(display, x.defaultRootWindow(display), kCompositeRedirectAutomatic);
  x.sync(display, False);
  display_ = display;
}

WindowProbe::~WindowProbe() {
  if (display_) X().closeDisplay(static_cast<Display*>(display_));
}

unsigned long WindowProbe::Find(const std::string& title) {
  if (!display_) return 0;
  const XLib& x = X();
  Display* display = static_cast<Display*>(display_);
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!x.queryTree(display, x.defaultRootWindow(display), &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && !found; ++i) {
    char* name = nullptr;
    if (x.fetchName(display, children[i], &name) && name) {
      if (title == name) found = children[i];
      x.free(name);
    }
  }
  if (children) x.free(children);
  return found;
}

bool WindowProbe::ScreenSize(int* width, int* height) {
  return display_ && Size(X().defaultRootWindow(static_cast<Display*>(display_)), width, height);
}

bool WindowProbe::Size(unsigned long window, int* width, int* height) {
  if (!display_) return false;
  XWindowAttributes attributes;
  lastXError = 0;
  if (!X().getWindowAttributes(static_cast<Display*>(display_), window, &attributes) || lastXError) return false;
  *width = attributes.width;
  *height = attributes.height;
  return true;
}

bool WindowProbe::Grab(unsigned long window, WindowImage* image) {
  int width = 0, height = 0;
  if (!Size(window, &width, &height)) return false;
  lastXError = 0;
  XImage* grabbed = X().getImage(static_cast<Display*>(display_), window, 0, 0, width, height, AllPlanes, ZPixmap);
  if (!grabbed) return false;
  image->width = width;
  image->height = height;
  image->pixels.assign(static_cast<size_t>(width) * height, 0);
  // Channel masks say where red, green and blue sit in a pixel value.
  auto channel = [](unsigned long value, unsigned long mask) {
    if (!mask) return 0u;
    int shift = 0;
    while (!(mask & 1)) mask >>= 1, ++shift;
    return static_cast<unsigned>((value >> shift) & mask) * 255u / static_cast<unsigned>(mask);
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned long v = XGetPixel(grabbed, x, y);
      image->pixels[static_cast<size_t>(y) * width + x] = channel(v, grabbed->red_mask) << 16 |
                                                          channel(v, grabbed->green_mask) << 8 |
                                                          channel(v, grabbed->blue_mask);
    }
  }
  XDestroyImage(grabbed);
  return true;
}

bool WindowProbe::RequestClose(unsigned long window) {
  if (!display_) return false;
  const XLib& x = X();
  Display* display = static_cast<Display*>(display_);
  XEvent event;
  std::memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = x.internAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(x.internAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  lastXError = 0;
  x.sendEvent(display, window, False, NoEventMask, &event);
  x.sync(display, False);
  return lastXError == 0;
}

// ---- a game in the background ----

BackgroundGame::BackgroundGame(const std::string& bootSource, const std::vector<std::string>& args)
    : BackgroundGame(bootSource, std::map<std::string, std::string>{}, args) {}

BackgroundGame::BackgroundGame(const std::string& bootSource, const std::map<std::string, std::string>& files,
                               const std::vector<std::string>& args) {
  std::map<std::string, std::string> all = files;
  all["boot.lua"] = bootSource;
  BuildGame(dir_, all);
  run_ = std::async(std::launch::async, [this, args] { return RunGame(dir_, args); });
}

BackgroundGame::BackgroundGame(Built, const std::map<std::string, std::string>& files,
                               const std::vector<std::string>& args) {
  RunResult build = BuildGameFolder(dir_, files);
  EXPECT_EQ(build.exitCode, 0) << build.err;
  run_ = std::async(std::launch::async, [this, args] { return RunGame(dir_, args); });
}

BackgroundGame::~BackgroundGame() {
  if (!finished_ && run_.valid()) run_.wait();
}

bool BackgroundGame::WaitReady(int step, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string marker = dir_ / ("ready-" + std::to_string(step));
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::filesystem::exists(marker)) return true;
    if (run_.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready) return false;
  }
  return false;
}

void BackgroundGame::Proceed(int step) { dir_.Write("next-" + std::to_string(step), "go"); }

unsigned long BackgroundGame::WaitWindow(WindowProbe& probe, const std::string& title, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (unsigned long window = probe.Find(title)) return window;
    if (run_.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready) return 0;
  }
  return 0;
}

RunResult BackgroundGame::Finish() {
  if (!finished_) {
    result_ = run_.get();
    finished_ = true;
  }
  return result_;
}

const char kShowPrologue[] = R"(
function Ready(step)
  local bank = CreateBank(1)
  BSave(bank, "ready-" .. (step or 1))
  DeleteBank(bank)
end
function Told(step)
  local bank = BLoad("next-" .. step)
  if bank < 0 then return false end
  DeleteBank(bank)
  return true
end
function Show(draw, step)
  step = step or 1
  local frames, start = 0, OsTicks()
  while not OsQuit() and OsTicks() - start < 30000 do
    OsUpdate()
    draw()
    Flip()
    frames = frames + 1
    if frames == 3 then Ready(step) end
    if frames > 3 and Told(step) then break end
  end
end
)";

std::string UniqueTitle(const std::string& stem) {
  static int counter = 0;
  return stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

WindowImage GrabAndClose(BackgroundGame& game, const std::string& title, RunResult* result) {
  WindowImage image;
  WindowProbe probe;
  EXPECT_TRUE(probe.Connected()) << "no X display to look at";
  bool ready = game.WaitReady();
  EXPECT_TRUE(ready) << "the script never showed its scene";
  unsigned long window = ready ? game.WaitWindow(probe, title) : 0;
  EXPECT_NE(window, 0u) << "no window titled " << title;
  if (window) {
    EXPECT_TRUE(probe.Grab(window, &image));
    EXPECT_TRUE(probe.RequestClose(window));
  }
  *result = game.Finish();
  return image;
}

WindowImage MagnifiedScene(const std::vector<uint32_t>& scene, int w, int h, int scale, int windowWidth,
                           int windowHeight, uint32_t border) {
  WindowImage image;
  image.width = windowWidth;
  image.height = windowHeight;
  image.pixels.assign(static_cast<size_t>(windowWidth) * windowHeight, border);
  int left = (windowWidth - w * scale) / 2;
  int bottom = (windowHeight - h * scale) / 2;
  int top = windowHeight - bottom - h * scale;
  for (int y = 0; y < h * scale; ++y) {
    for (int x = 0; x < w * scale; ++x) {
      image.pixels[static_cast<size_t>(top + y) * windowWidth + left + x] = scene[(y / scale) * w + x / scale];
    }
  }
  return image;
}

int CountMismatches(const WindowImage& got, const WindowImage& want, int tolerance, std::string* report) {
  if (got.width != want.width || got.height != want.height) {
    *report = "size " + std::to_string(got.width) + "x" + std::to_string(got.height) + ", wanted " +
              std::to_string(want.width) + "x" + std::to_string(want.height);
    return want.width * want.height;
  }
  int count = 0;
  char line[128];
  for (int y = 0; y < want.height; ++y) {
    for (int x = 0; x < want.width; ++x) {
      Rgb a = Channels(got.At(x, y)), b = Channels(want.At(x, y));
      if (std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance) {
        continue;
      }
      if (++count <= 8) {
        std::snprintf(line, sizeof line, "(%d,%d): %02x%02x%02x, wanted %02x%02x%02x\n", x, y, a.r, a.g, a.b, b.r, b.g,
                      b.b);
        *report += line;
      }
    }
  }
  return count;
}
