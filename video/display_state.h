// The process-wide display record: written by start-up options, OpenDisplay,
// CloseDisplay, OsVSync and OsCRTFilter; read by video, the mouse and the
// operating-system services. Main thread only.
#pragma once

struct DisplayState {
  int displayWidth, displayHeight;  // virtual screen, virtual pixels; kept after CloseDisplay
  int windowWidth, windowHeight;    // window pixels
  int pixelScale;                   // window pixels per virtual pixel; 0 = derive at next OpenDisplay
  int offsetX, offsetY;             // lower-left corner of the picture, viewport coordinates
  int fullscreen;                   // 0/1: fullscreen wanted or open
  int forceWindowed;                // 0/1: never fullscreen
  int vsyncEnabled;                 // 0/1: swap interval 1
  int crtEnabled;                   // 0/1: CRT filter built and run
  int redBits, greenBits, blueBits; // colour depth asked of the window
};

// The one record; starts as {0..., vsync 1, crt 1, 8/8/8 bits}.
DisplayState& Display();
