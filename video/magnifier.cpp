// Magnification in one pass: the scene drawn 1:1 into the lower-left corner
// of the picture, copied into a texture and drawn magnified, nearest, over
// the whole picture. Blending is off for that quad, so the picture receives
// the texels unchanged, and a picture pixel's centre lies at least 1/8 of a
// texel from any texel edge at scales up to 4, far from where nearest
// sampling could round either way.
//
// Between frames the back buffer keeps the magnified picture, as it did when
// every draw was magnified; a frame that does not begin with Cls first puts
// the last frame back into the corner, 1:1, from the texture.
#include "video/magnifier.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "video/crt_filter.h"
#include "video/display.h"
#include "video/display_state.h"
#include "video/quad_batch.h"

bool magnifierWatching = false;
bool magnifierStale = false;
uint32_t magnifierSharpTexture = 0;

namespace {

struct Magnifier {
  bool enabled;        // the one-pass way is possible for this display
  bool corner;         // draws go 1:1 into the corner (else magnified directly)
  GLuint texture;      // the frame, 1:1; power-of-two sides
  float maxU, maxV;    // the frame's right and top edges in texture coordinates
  int width, height;   // virtual screen
  int scale;           // window pixels per virtual pixel
  ViewportRect picture;
};

Magnifier m = {};
// Per texture name: 1 when sampled linearly. Names are small numbers.
std::vector<uint8_t> smoothTextures;

bool ForcedDirect() {
  const char* v = std::getenv("PELTO_DIRECT_MAGNIFY");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

void SetWatching() { magnifierWatching = m.corner; }

// The frame quad of the display's projection: texture row 0 at the bottom.
void FrameQuad() {
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2i(0, m.height);
  glTexCoord2f(m.maxU, 0.0f);
  glVertex2i(m.width, m.height);
  glTexCoord2f(m.maxU, m.maxV);
  glVertex2i(m.width, 0);
  glTexCoord2f(0.0f, m.maxV);
  glVertex2i(0, 0);
  glEnd();
}

// Draws the texture over the current viewport, texels unchanged.
void DrawFrameTexture() {
  glBindTexture(GL_TEXTURE_2D, m.texture);
  glEnable(GL_TEXTURE_2D);
  glDisable(GL_BLEND);
  glColor4ub(255, 255, 255, 255);
  FrameQuad();
  glEnable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
}

void CornerViewport() { glViewport(m.picture.x, m.picture.y, m.width, m.height); }
void PictureViewport() { glViewport(m.picture.x, m.picture.y, m.picture.width, m.picture.height); }

// Copies the corner into the texture and draws it over the whole picture;
// the viewport is left on the picture.
void Magnify() {
  FlushQuads();
  glBindTexture(GL_TEXTURE_2D, m.texture);
  glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, m.picture.x, m.picture.y, m.width, m.height);
  PictureViewport();
  DrawFrameTexture();
}

void DrawDirectlyFromNowOn() {
  m.corner = false;
  magnifierStale = false;  // drawing magnified goes over the picture as it is
  SetWatching();
  PictureViewport();
  glPointSize(static_cast<float>(m.scale));
  glLineWidth(static_cast<float>(m.scale));
}

void DrawInCornerFromNowOn() {
  m.corner = true;
  magnifierStale = false;
  SetWatching();
  CornerViewport();
  glPointSize(1.0f);
  glLineWidth(1.0f);
}

}  // namespace

void MagnifierSetUp(const DisplayState& d) {
  MagnifierRelease();
  if (d.crtEnabled || d.pixelScale < 2 || ForcedDirect()) return;
  const int w = d.displayWidth, h = d.displayHeight;
  ViewportRect picture = PictureViewport(d);
  // The corner must lie inside the window to be copied back.
  if (picture.x < 0 || picture.y < 0 || picture.x + w > d.windowWidth || picture.y + h > d.windowHeight) return;
  CrtFilter plan = CrtPlan(w, h);
  GLint maxSide = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
  if (plan.frameTextureWidth == 0 || plan.frameTextureHeight == 0 || plan.frameTextureWidth > maxSide ||
      plan.frameTextureHeight > maxSide) {
    return;
  }
  while (glGetError() != GL_NO_ERROR) {
  }
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, plan.frameTextureWidth, plan.frameTextureHeight, 0, GL_RGBA,
               GL_UNSIGNED_BYTE, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  if (glGetError() != GL_NO_ERROR) {
    // Without the texture the direct way still draws every frame right.
    glDeleteTextures(1, &texture);
    return;
  }
  m.enabled = true;
  m.texture = texture;
  m.maxU = plan.frameMaxU;
  m.maxV = plan.frameMaxV;
  m.width = w;
  m.height = h;
  m.scale = d.pixelScale;
  m.picture = picture;
  // What the window holds now is unknown until the first Cls: draw
  // directly until then, as the set-up left it.
}

void MagnifierRelease() {
  if (m.texture != 0) glDeleteTextures(1, &m.texture);
  m = {};
  magnifierStale = false;
  SetWatching();
}

void MagnifierAnnounce(bool sameWhenMagnified) {
  if (magnifierStale) {
    // Drawing over the last frame: put it back into the corner, 1:1.
    FlushQuads();
    DrawFrameTexture();
    magnifierStale = false;
  }
  if (!sameWhenMagnified) {
    Magnify();
    DrawDirectlyFromNowOn();
  }
}

bool MagnifierPointsSameWhenMagnified() { return m.scale <= 3; }

void MagnifierAnnounceQuad(uint32_t texture) {
  bool smooth = MagnifierTextureIsSmooth(texture);
  MagnifierAnnounce(!smooth);
  if (!smooth) magnifierSharpTexture = texture;
}

void MagnifierNoteTexture(uint32_t texture, bool smooth) {
  magnifierSharpTexture = 0;  // the name may have been another texture's
  if (texture >= smoothTextures.size()) {
    if (!smooth) return;
    smoothTextures.resize(texture + 1, 0);
  }
  smoothTextures[texture] = smooth ? 1 : 0;
}

bool MagnifierTextureIsSmooth(uint32_t texture) {
  return texture < smoothTextures.size() && smoothTextures[texture] != 0;
}

void MagnifierCleared() {
  if (!m.enabled) return;
  if (m.corner) {
    magnifierStale = false;
    return;
  }
  DrawInCornerFromNowOn();
}

bool MagnifierDrawsInCorner() { return m.corner; }

void MagnifierPresent() {
  if (!m.corner || magnifierStale) return;  // a picture already in place
  Magnify();
  CornerViewport();
  magnifierStale = true;
}

void MagnifierResolve() {
  if (!m.corner) return;
  if (!magnifierStale) Magnify();
  DrawDirectlyFromNowOn();
}
