// Looking at the engine's window from outside, as any other X client would:
// find it by its title, read its size and pixels, and ask it to close through
// the window-manager protocol. Also runs a game in the background while the
// test looks.
#pragma once

#include <cstdint>
#include <future>
#include <map>
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
  // The size of the whole X screen (what a fullscreen window gets here).
  bool ScreenSize(int* width, int* height);
  // The top-level window with exactly this title, or 0.
  unsigned long Find(const std::string& title);
  bool Size(unsigned long window, int* width, int* height);
  bool Grab(unsigned long window, WindowImage* image);
  // Sends WM_PROTOCOLS / WM_DELETE_WINDOW, as a window manager's close box does.
  bool RequestClose(unsigned long window);

 private:
  void* display_ = nullptr;
};

// A game running in the background, talking with the test through files in
// its folder: the script's Ready(step) (from kShowPrologue) leaves
// "ready-<step>" once its scene is on screen; the test's Proceed(step)
// leaves "next-<step>", which ends the script's Show(draw, step).
class BackgroundGame {
 public:
  BackgroundGame(const std::string& bootSource, const std::vector<std::string>& args = {});
  // The same with more archive entries (name -> bytes) beside boot.lua.
  BackgroundGame(const std::string& bootSource, const std::map<std::string, std::string>& files,
                 const std::vector<std::string>& args = {});
  // A game folder (name -> bytes) built with `pelto-tool build`: modules,
  // standard modules and converted assets as a game maker's build has them.
  struct Built {};
  BackgroundGame(Built, const std::map<std::string, std::string>& files, const std::vector<std::string>& args = {});
  ~BackgroundGame();
  // Waits until the script reached the step or ended; false on time-out or end.
  bool WaitReady(int step = 1, int timeoutMs = 20000);
  void Proceed(int step);
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

// Lua prelude for scripts that keep a scene on screen: Ready(step), and
// Show(draw, step), which runs the frame loop (OsUpdate, draw(), Flip) until
// a close request arrives or the test lets the step proceed, calling
// Ready(step) after the third frame (step defaults to 1). A frame loop left
// alone ends after 30 seconds.
extern const char kShowPrologue[];

// A title that no other test running at the same time uses.
std::string UniqueTitle(const std::string& stem);

// Grabs the window with this title once the game is ready (step 1), then
// asks it to close and waits for the engine to end; the image is empty when
// any of this fails (with a test failure).
WindowImage GrabAndClose(BackgroundGame& game, const std::string& title, RunResult* result);

// The window of a display without the CRT filter: the virtual screen
// `scene` (w x h, 0xRRGGBB, rows top to bottom) magnified by `scale` and
// centred as the engine centres it (an odd spare pixel right and at the
// top), on the colour `border`.
WindowImage MagnifiedScene(const std::vector<uint32_t>& scene, int w, int h, int scale, int windowWidth,
                           int windowHeight, uint32_t border);

// Pixels of `got` that differ from `want` by more than `tolerance` in any
// channel; `report` receives the first few with their positions. A size
// mismatch counts every pixel.
int CountMismatches(const WindowImage& got, const WindowImage& want, int tolerance, std::string* report);
