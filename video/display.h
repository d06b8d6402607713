// The display: the one game window, the virtual screen inside it, magnified
// by a whole-number factor and centred, and the frame flip.
#pragma once

#include <cstdint>

struct DisplayState;

// ---- size, scale and centring: plain arithmetic on the display record ----

// Largest window side the engine asks for: beyond it no OpenGL renderer
// can hold the viewport, and the size arithmetic stays far from overflow.
constexpr int kMaxWindowSide = 16384;

// The window size OpenDisplay would ask for with this scale (0: derive the
// scale from the window size arguments), or -1 x -1 when the virtual size
// is below 1, or the window size below 1 or above kMaxWindowSide.
struct WindowPlan {
  int windowWidth, windowHeight;
  int pixelScale;
};
WindowPlan PlanWindow(int width, int height, int pixelScale, int windowWidth, int windowHeight);
bool PlanAcceptable(const WindowPlan& plan);

// Fullscreen when asked by the script or by "--fullscreen", unless
// "--windowed"; an asked fullscreen is remembered in the record.
bool ChooseFullscreen(DisplayState* display, bool fullscreenArgument);

// offsetX/offsetY from the window and picture sizes; an odd spare pixel
// goes right and up (the offsets count from the lower-left corner).
void CentrePicture(DisplayState* display);

// The viewport the scene is drawn into: 1:1 in the lower-left corner with
// the CRT filter, magnified and centred without it.
struct ViewportRect {
  int x, y, width, height;
};
ViewportRect SceneViewport(const DisplayState& display);
// Where the magnified picture lies in the window.
ViewportRect PictureViewport(const DisplayState& display);

// Clears the window outside the picture, one strip per side, in the
// current clear colour.
void ClearOutsidePicture(const ViewportRect& picture, int windowWidth, int windowHeight);
// Cls's clear of the back buffer (the clear colour already set).
void ClearForNewFrame();

// ---- the engine API's operations ----

// Opens the window and sets OpenGL up; failures show their box and return.
void OpenDisplay(const char* title, int32_t width, int32_t height, bool fullscreen, int32_t windowWidth,
                 int32_t windowHeight);
void CloseDisplay();
void Flip();
// Development mode, between two runs of the game: the window stays open
// but its audio stream and filter textures go, and the next OpenDisplay
// takes this window over instead of opening a new one.
void ParkDisplayWindow();

// Development mode's frame hooks: the first runs in Flip before the CRT
// filter (the frame as drawn), the second after it, just before the swap.
// Null (the default) for none.
void SetFlipHooks(void (*beforeFilter)(), void (*beforeSwap)());

// OsCRTFilter: with a window open, the viewport, filter textures and
// point and line widths are rebuilt at once.
void SetCrtFilter(bool on);
