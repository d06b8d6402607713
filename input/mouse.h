// The mouse in virtual-screen pixels. Buttons are read from the window
// library at each call (its state is the one of the last OsUpdate); the
// position is taken once per frame, at the first query after OsUpdate, so
// that MouseX and MouseY agree and neither moves until the next OsUpdate.
#pragma once

// One axis of the translation from a window position to a virtual pixel:
// (position - offset) / pixelScale, cut toward zero, clamped to 0..size-1.
// Without a usable scale or screen (no display open) the answer is 0.
int MouseToVirtual(double windowPosition, int offset, int pixelScale, int displaySize);

// A new frame (or window): the next position query reads the pointer afresh.
void MouseForgetFrame();

int MouseX();     // 0 without a window
int MouseY();     // 0 without a window
bool MouseLMB();  // left button held
bool MouseRMB();  // right button held
void MouseOn();   // shows the pointer
void MouseOff();  // hides the pointer, only in fullscreen
