// The window layer over GLFW 3: one hidden window keeps an OpenGL context
// alive for the whole run; the game window shares it, so textures outlive
// CloseDisplay and a re-opened display. Only this layer and the joystick
// adapter include GLFW. The library itself is started and stopped through
// host/window_system.h, whose functions live here too.
#pragma once

struct WindowRequest {
  int width, height;                // window pixels, 1 or more
  int redBits, greenBits, blueBits;
  bool fullscreen;                  // on the primary monitor
  const char* title;                // never null
};

// Makes a context current for OpenGL work without a game window (textures
// loaded before OpenDisplay); the game window's own while one is open.
// False when no context can be had.
bool WindowEnsureContext();
// Opens the game window, installs the close, key and character callbacks,
// shows the cursor and makes its context current; false when refused.
bool WindowOpen(const WindowRequest& request);
// Development mode: takes the open game window over for a new run of the
// game instead of opening another, so its X window, position and context
// stay: sets the title and, if it differs, the size. False when there is no
// window or the fullscreen mode differs (the caller then reopens).
bool WindowAdopt(const WindowRequest& request);
// Puts text on the system clipboard (development mode's error screen).
void WindowSetClipboard(const char* text);
// Destroys the game window; the hidden context becomes current again.
void WindowClose();
bool WindowIsOpen();
// The game window's size in window pixels; 0 x 0 without one.
void WindowSize(int* width, int* height);
// Applies to the game window only; without one nothing happens.
void WindowSetSwapInterval(int interval);
void WindowSwapBuffers();
// Runs the callbacks of every queued event; nothing before start-up.
void WindowPollEvents();
double WindowTime();  // seconds since the window library started

// Mouse, in window pixels with the origin at the top-left; false/0 without a window.
bool WindowCursorPos(double* x, double* y);
bool WindowMouseButtonDown(int button);  // 0 left, 1 right
void WindowSetCursorVisible(bool visible);
