// Looking at the engine's window from outside, as any other X client would:
// find it by its title, read its size and pixels, and ask it to close through
// the window-manager protocol. Also runs a game in the background while the
// test looks.
#pragma once

#include <cstdint>
#include <future>
#include <string>
#include <vector>

#include "tests/e2e/engine_runner.h"

// A grabbed window: 0xRRGGBB per pixel, rows top to bottom.
struct WindowImage {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

struct Rgb {
  int r, g, b;
};
inline Rgb Channels(uint32_t pixel) {
  return {static_cast<int>(pixel >> 16 & 255), static_cast<int>(pixel >> 8 & 255), static_cast<int>(pixel & 255)};
}

// One connection to the X server of $DISPLAY. The X library is loaded at run
// time, so the tests need no link-time dependency on it. Windows are kept
// off-screen by the server (automatic compositing), so overlapping windows
// of tests running side by side do not spoil each other's pixels.
class WindowProbe {
 public:
  WindowProbe();
  ~WindowProbe();
  WindowProbe(const WindowProbe&) = delete;
  WindowProbe& operator=(const WindowProbe&) = delete;

  bool Connected() const { return display_ != nullptr; }
  // The top-level window with exactly this title, or 0.
  unsigned long Find(const std::string& title);
  bool Size(unsigned long window, int* width, int* height);
  bool Grab(unsigned long window, WindowImage* image);
  // Sends WM_PROTOCOLS / WM_DELETE_WINDOW, as a window manager's close box does.
  bool RequestClose(unsigned long window);

 private:
  void* display_ = nullptr;
};

// A game running in the background. Its script calls the Lua function
// `Ready()` (from kShowPrologue) once its scene is on screen, which leaves a
// file the test waits for.
class BackgroundGame {
 public:
  BackgroundGame(const std::string& bootSource, const std::vector<std::string>& args);
  ~BackgroundGame();
  // Waits until the script called Ready() or ended; false on time-out or end.
  bool WaitReady(int timeoutMs = 20000);
  // Waits for the window with this title; 0 when it does not come.
  unsigned long WaitWindow(WindowProbe& probe, const std::string& title, int timeoutMs = 20000);
  // Waits for the engine to end and returns what it did.
  RunResult Finish();

 private:
  ScratchDir dir_;
  std::future<RunResult> run_;
  bool finished_ = false;
  RunResult result_;
};

// Lua prelude for scripts that keep a scene on screen: Ready(), and
// Show(draw), which runs the frame loop (OsUpdate, draw(), Flip) until a
// close request arrives, calling Ready() after the third frame, then closes
// the display. A script left alone ends after 30 seconds.
extern const char kShowPrologue[];

// A title that no other test running at the same time uses.
std::string UniqueTitle(const std::string& stem);

// Grabs the window with this title once the game is ready, then asks it to
// close; the image is empty when any step fails (with a test failure).
WindowImage GrabAndClose(BackgroundGame& game, const std::string& title, RunResult* result);
