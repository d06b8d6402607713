// The window layer over GLFW 3: one hidden window keeps an OpenGL context
// alive for the whole run; the game window shares it. Only this layer and
// the joystick adapter include GLFW.
#pragma once

struct WindowRequest {
  int width, height;                // window pixels
  int redBits, greenBits, blueBits;
  bool fullscreen;
  const char* title;
};

// Creates the hidden context holder; called once after the window library starts.
bool WindowLayerInit();
// Opens the game window and makes its context current; false when refused.
bool WindowOpen(const WindowRequest& request);
void WindowClose();
bool WindowIsOpen();
void WindowSize(int* width, int* height);
void WindowSetSwapInterval(int interval);
void WindowSwapBuffers();
void WindowPollEvents();
double WindowTime();  // seconds since the window library started

// Mouse, in window pixels with the origin at the top-left; false/0 without a window.
bool WindowCursorPos(double* x, double* y);
bool WindowMouseButtonDown(int button);  // 0 left, 1 right
void WindowSetCursorVisible(bool visible);
