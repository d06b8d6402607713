// The OpenGL side of the development mode (see the header).
#include "video/dev_screen.h"

#include <GL/gl.h>

#include "video/display.h"
#include "video/display_state.h"
#include "video/quad_batch.h"
#include "video/text_canvas.h"
#include "video/window.h"

bool ReadVirtualScreen(RgbaImage* image) {
  if (!WindowIsOpen()) return false;
  const DisplayState& d = Display();
  int w = d.displayWidth, h = d.displayHeight;
  int scale = d.crtEnabled ? 1 : d.pixelScale;
  if (w < 1 || h < 1 || scale < 1) return false;
  ViewportRect from = d.crtEnabled ? ViewportRect{0, 0, w, h} : PictureViewport(d);
  FlushQuads();
  std::vector<uint8_t> raw(static_cast<size_t>(from.width) * from.height * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadBuffer(GL_BACK);
  glReadPixels(from.x, from.y, from.width, from.height, GL_RGBA, GL_UNSIGNED_BYTE, raw.data());
  image->width = static_cast<uint32_t>(w);
  image->height = static_cast<uint32_t>(h);
  image->pixels.assign(static_cast<size_t>(w) * h * 4, 0);
  for (int y = 0; y < h; ++y) {
    // OpenGL's rows run from the bottom up.
    int sy = (h - 1 - y) * scale + scale / 2;
    for (int x = 0; x < w; ++x) {
      int sx = x * scale + scale / 2;
      const uint8_t* s = &raw[(static_cast<size_t>(sy) * from.width + sx) * 4];
      uint8_t* p = &image->pixels[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = s[0];
      p[1] = s[1];
      p[2] = s[2];
      p[3] = 255;  // the window has no alpha: what is seen is opaque
    }
  }
  return true;
}

void DrawCanvasOverlay(const TextCanvas& canvas, int x, int y) {
  if (!WindowIsOpen() || canvas.width < 1 || canvas.height < 1) return;
  FlushQuads();
  int ww = 0, wh = 0;
  WindowSize(&ww, &wh);
  // Rows bottom-up for glDrawPixels, clipped to the window.
  int left = x < 0 ? 0 : x;
  int top = y < 0 ? 0 : y;
  int w = canvas.width - (left - x), h = canvas.height - (top - y);
  if (left + w > ww) w = ww - left;
  if (top + h > wh) h = wh - top;
  if (w < 1 || h < 1) return;
  std::vector<uint8_t> rows(static_cast<size_t>(w) * h * 4);
  for (int r = 0; r < h; ++r) {
    const uint8_t* src = &canvas.pixels[(static_cast<size_t>(r + top - y) * canvas.width + (left - x)) * 4];
    std::copy(src, src + static_cast<size_t>(w) * 4, &rows[static_cast<size_t>(h - 1 - r) * w * 4]);
  }
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, ww, 0, wh, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glViewport(0, 0, ww, wh);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_SCISSOR_TEST);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelZoom(1.0f, 1.0f);
  glRasterPos2i(left, wh - top - h);
  glDrawPixels(w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopClientAttrib();
  glPopAttrib();
}

bool EnsureDevWindow(int* width, int* height) {
  if (!WindowIsOpen()) {
    DisplayState& d = Display();
    WindowRequest request = {d.windowWidth > 0 ? d.windowWidth : 640, d.windowHeight > 0 ? d.windowHeight : 480,
                             d.redBits, d.greenBits, d.blueBits, false, "pelto (development)"};
    if (!WindowOpen(request)) return false;
    WindowPollEvents();
  }
  WindowSize(width, height);
  return *width > 0 && *height > 0;
}

void PresentDevFrame() {
  WindowSwapBuffers();
  glFinish();
}
