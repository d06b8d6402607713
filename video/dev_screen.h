// The OpenGL side of the development mode: reading the virtual screen back
// for captures, showing a TextCanvas in window pixels (the error screen and
// the overlay), and a window for the error screen when the game has none.
#pragma once

#include "video/png.h"

struct TextCanvas;

// The virtual screen as the game drew it, 1:1 and opaque, row 0 at the top;
// call before the CRT filter runs. With the filter the frame lies 1:1 in the
// window's lower-left corner and is read exactly; without it each virtual
// pixel is read at the centre of its magnified block. False without a
// window or with a scale of 0.
bool ReadVirtualScreen(RgbaImage* image);

// Draws the canvas with its top-left corner at window pixel (x, y), over
// whatever is there (premultiplied blending), leaving every OpenGL setting
// of the game as it was.
void DrawCanvasOverlay(const TextCanvas& canvas, int x, int y);

// The game window, opened at the last size the game used (640 x 480 if it
// never opened one) when none is open; false when none can be had.
bool EnsureDevWindow(int* width, int* height);
// Shows the back buffer (the error screen's own frames).
void PresentDevFrame();
