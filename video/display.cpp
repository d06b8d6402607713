// The display: opens the game window through the window layer, sets up the
// fixed OpenGL state in which every drawing call works in virtual pixels
// (origin top-left, y downwards), and presents frames, through the CRT
// filter when it is on.
#include "video/display.h"

#include <GL/gl.h>

#include <algorithm>

#include "audio/audio_stream.h"
#include "host/host.h"
#include "input/input_events.h"
#include "video/crt_filter.h"
#include "video/display_state.h"
#include "video/magnifier.h"
#include "video/quad_batch.h"
#include "video/window.h"

namespace {

const char kCreateFailed[] = "Could not create OpenGL display.";

bool windowParked = false;  // development mode: the open window awaits the next run's OpenDisplay
void (*flipBeforeFilter)() = nullptr;
void (*flipBeforeSwap)() = nullptr;
const char kSetupFailed[] = "OpenGL setup failed.";

// glGetError hands out one recorded error per call; all of them are
// drained so a stale one cannot fail a later check.
bool GlErrorPending() {
  bool any = false;
  while (glGetError() != GL_NO_ERROR) any = true;
  return any;
}

// The state every drawing call relies on: no depth, flat shading, blending
// of premultiplied colours, textures tinted by the current colour, and a
// projection in virtual pixels with y growing downwards.
void FixedState(const DisplayState& d) {
  glDisable(GL_DEPTH_TEST);
  glDepthMask(GL_FALSE);
  glShadeModel(GL_FLAT);
  glDisable(GL_CULL_FACE);
  glDisable(GL_LIGHTING);
  glDisable(GL_DITHER);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_FOG);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, d.displayWidth, d.displayHeight, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // Without the filter the scene is drawn magnified, so points and lines are
  // as thick as a magnified virtual pixel. With it they are drawn 1:1; 1 is
  // also what a fresh context starts with, and what a filter switched on
  // later needs.
  float width = d.crtEnabled ? 1.0f : static_cast<float>(d.pixelScale);
  glPointSize(width);
  glLineWidth(width);
}

// The scene set-up that depends on the filter switch: filter textures,
// viewport and the fixed state. False when OpenGL refused part of it; the
// box has been shown.
bool SetUpScene(const DisplayState& d) {
  GlErrorPending();
  CrtReleaseTextures();
  if (d.crtEnabled && !CrtBuildTextures(d)) {
    ShowErrorBox(kSetupFailed);
    return false;
  }
  ViewportRect view = SceneViewport(d);
  glViewport(view.x, view.y, view.width, view.height);
  FixedState(d);
  if (GlErrorPending()) {
    ShowErrorBox(kSetupFailed);
    return false;
  }
  MagnifierSetUp(d);
  return true;
}

}  // namespace

// ---- size, scale and centring ----

WindowPlan PlanWindow(int width, int height, int pixelScale, int windowWidth, int windowHeight) {
  WindowPlan refused = {-1, -1, 0};
  if (width < 1 || height < 1) return refused;
  long long w = windowWidth, h = windowHeight;
  int scale = pixelScale;
  if (pixelScale > 0) {
    w = static_cast<long long>(width) * pixelScale;
    h = static_cast<long long>(height) * pixelScale;
  } else {
    // A window smaller than the virtual screen gives scale 0: the window
    // opens, but nothing can be magnified into it.
    scale = std::min(windowWidth / width, windowHeight / height);
  }
  if (w < 1 || h < 1 || w > kMaxWindowSide || h > kMaxWindowSide) return refused;
  return {static_cast<int>(w), static_cast<int>(h), scale};
}

bool PlanAcceptable(const WindowPlan& plan) { return plan.windowWidth > 0 && plan.windowHeight > 0; }

bool ChooseFullscreen(DisplayState* display, bool fullscreenArgument) {
  if ((fullscreenArgument || display->fullscreen) && !display->forceWindowed) {
    display->fullscreen = 1;
    return true;
  }
  // "--fullscreen" with "--windowed" keeps the flag: the mouse still reads it.
  return false;
}

void CentrePicture(DisplayState* display) {
  display->offsetX = (display->windowWidth - display->displayWidth * display->pixelScale) / 2;
  display->offsetY = (display->windowHeight - display->displayHeight * display->pixelScale) / 2;
}

ViewportRect SceneViewport(const DisplayState& d) {
  if (d.crtEnabled) return {0, 0, d.displayWidth, d.displayHeight};
  return PictureViewport(d);
}

ViewportRect PictureViewport(const DisplayState& d) {
  return {d.offsetX, d.offsetY, d.displayWidth * d.pixelScale, d.displayHeight * d.pixelScale};
}

void ClearOutsidePicture(const ViewportRect& picture, int windowWidth, int windowHeight) {
  const int right = picture.x + picture.width, top = picture.y + picture.height;
  const ViewportRect strips[4] = {
      {0, 0, picture.x, windowHeight},                   // left
      {right, 0, windowWidth - right, windowHeight},     // right
      {picture.x, 0, picture.width, picture.y},          // below
      {picture.x, top, picture.width, windowHeight - top}  // above
  };
  glEnable(GL_SCISSOR_TEST);
  for (const ViewportRect& r : strips) {
    if (r.width <= 0 || r.height <= 0) continue;
    glScissor(r.x, r.y, r.width, r.height);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  glDisable(GL_SCISSOR_TEST);
}

void ClearForNewFrame() {
  const DisplayState& d = Display();
  // With the CRT filter, or magnifying in one pass, the scene goes 1:1 into
  // the lower-left corner and Flip covers the whole picture from it. The
  // rest of the picture would be cleared only to be drawn over, which at
  // x3 is eight times the scene's pixels: only the corner is cleared, and
  // the borders where Flip does not clear them itself.
  const bool filtered = d.crtEnabled && CrtReady();
  const bool magnifying = !d.crtEnabled && MagnifierDrawsInCorner();
  if (!filtered && !magnifying) {
    glClear(GL_COLOR_BUFFER_BIT);
    return;
  }
  const ViewportRect picture = PictureViewport(d);
  const ViewportRect corner = filtered ? ViewportRect{0, 0, d.displayWidth, d.displayHeight}
                                       : ViewportRect{picture.x, picture.y, d.displayWidth, d.displayHeight};
  glEnable(GL_SCISSOR_TEST);
  glScissor(corner.x, corner.y, corner.width, corner.height);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  if (magnifying) ClearOutsidePicture(picture, d.windowWidth, d.windowHeight);
}

// ---- the engine API's operations ----

void OpenDisplay(const char* title, int32_t width, int32_t height, bool fullscreen, int32_t windowWidth,
                 int32_t windowHeight) {
  DisplayState& d = Display();
  // Re-opening closes the open window first, and closing resets the scale:
  // the new window is planned as after CloseDisplay. A refused size changes
  // nothing at all, not even the open window.
  bool reopening = WindowIsOpen() && !windowParked;
  WindowPlan plan = PlanWindow(width, height, reopening ? 0 : d.pixelScale, windowWidth, windowHeight);
  if (!PlanAcceptable(plan)) {
    ShowErrorBox(kCreateFailed);
    return;
  }
  if (reopening) CloseDisplay();
  bool adopting = windowParked;
  windowParked = false;

  d.displayWidth = width;
  d.displayHeight = height;
  d.windowWidth = plan.windowWidth;
  d.windowHeight = plan.windowHeight;
  d.pixelScale = plan.pixelScale;
  WindowRequest request = {d.windowWidth, d.windowHeight, d.redBits, d.greenBits, d.blueBits,
                           ChooseFullscreen(&d, fullscreen), title ? title : ""};
  // A parked window (development mode) is taken over when it can be;
  // else it closes and a new one opens as usual.
  bool adopted = adopting && WindowAdopt(request);
  if (adopting && !adopted) WindowClose();  // parking already stopped its audio and filter
  if (!adopted && !WindowOpen(request)) {
    ShowErrorBox(kCreateFailed);
    return;
  }
  WindowSetSwapInterval(d.vsyncEnabled ? 1 : 0);
  // Every opening starts with key repeat off; then the one poll of the
  // opening delivers what the new window has already queued.
  InputWindowOpened();
  WindowPollEvents();
  // Fullscreen grants a video mode that may differ from the request.
  WindowSize(&d.windowWidth, &d.windowHeight);
  CentrePicture(&d);
  if (!SetUpScene(d)) return;
  // Sound is heard only while a display is open; a stream that cannot open
  // has shown its boxes, and the display stays.
  OpenAudioStream();
}

void CloseDisplay() {
  windowParked = false;
  if (!WindowIsOpen()) return;
  FlushQuads();
  CloseAudioStream();
  // The filter textures go while the window's context is still current, so
  // they are released even when no hidden context could be made.
  CrtReleaseTextures();
  MagnifierRelease();
  WindowClose();
  DisplayState& d = Display();
  d.pixelScale = 0;
  d.fullscreen = 0;
}

void Flip() {
  if (!WindowIsOpen()) return;
  // Gathered quads belong to this frame, before the filter copies it.
  FlushQuads();
  const DisplayState& d = Display();
  // The one-pass magnification lands before anything reads the frame back
  // (development captures) or draws over it (the overlay).
  MagnifierPresent();
  if (flipBeforeFilter) flipBeforeFilter();
  if (d.crtEnabled) CrtRunPasses(d, PictureViewport(d));
  if (flipBeforeSwap) flipBeforeSwap();
  WindowSwapBuffers();
  // Waiting for OpenGL to finish paces the script's loop with the swap.
  glFinish();
  if (d.crtEnabled) glViewport(0, 0, d.displayWidth, d.displayHeight);
}

void ParkDisplayWindow() {
  if (!WindowIsOpen()) return;
  FlushQuads();
  CloseAudioStream();
  CrtReleaseTextures();
  windowParked = true;
}

void SetFlipHooks(void (*beforeFilter)(), void (*beforeSwap)()) {
  flipBeforeFilter = beforeFilter;
  flipBeforeSwap = beforeSwap;
}

void SetCrtFilter(bool on) {
  DisplayState& d = Display();
  int wanted = on ? 1 : 0;
  if (d.crtEnabled == wanted) return;
  d.crtEnabled = wanted;
  // A player toggling the filter in an options menu expects to see it now,
  // so the set-up of the open window follows the switch at once.
  if (WindowIsOpen()) {
    FlushQuads();
    MagnifierResolve();
    SetUpScene(d);
  }
}
