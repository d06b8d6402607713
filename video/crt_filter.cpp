// The CRT filter's textures and passes. Under the fixed state of the display
// (textures modulated by the colour, premultiplied blending) pass 1 replaces
// the picture with the frame tinted orange, pass 2 darkens it through the
// scanline mask, and pass 3 adds the frame tinted blue, shifted left, on top.
#include "video/crt_filter.h"

#include <GL/gl.h>

#include <cstdlib>

#include "video/display.h"
#include "video/display_state.h"

namespace {

CrtFilter filter = {0, 0, 0, 0, 0.0f, 0.0f};
// True when every texel pass 1 samples has alpha 1, so that blending would
// only copy it: the window has no alpha bits (the copied frame reads alpha
// 1, as does the rest of the texture) and the frame is sampled nearest, so
// the clamp's transparent border is never reached.
bool frameOpaque = false;

// One full-picture quad: texture coordinate (0, 0) at the bottom-left corner
// of the virtual screen, so texture row 0 (the bottom row of the copied
// frame) lands at the bottom and the picture is upright.
void FrameQuad(int w, int h, float maxU, float maxV) {
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2i(0, h);
  glTexCoord2f(maxU, 0.0f);
  glVertex2i(w, h);
  glTexCoord2f(maxU, maxV);
  glVertex2i(w, 0);
  glTexCoord2f(0.0f, maxV);
  glVertex2i(0, 0);
  glEnd();
}

void TextureParameters(GLint filterMode, GLint wrap) {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filterMode);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filterMode);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
}

// The frame texture's filter for a display of this scale.
GLint FrameFilter(int pixelScale) {
  // At one window pixel per virtual pixel every picture pixel's centre
  // falls on a texel centre (the picture and the frame have the same size
  // and whole-pixel offsets, and the blue pass is not shifted), where linear
  // filtering weighs that one texel alone and never reaches the clamp's
  // border. Nearest gives the very same pixels there, and the software
  // renderer samples it far faster than the clamped linear filter, which
  // it cannot run on its fixed-point path. Any larger scale blends texels.
  return pixelScale == 1 ? GL_NEAREST : GL_LINEAR;
}

// PELTO_CRT_BLEND=1 (read once, for the tests that compare both ways)
// keeps pass 1 blended over a black ground.
int alwaysBlend = -1;

// The colour the window was just cleared to has no red, green or blue.
bool ClearedToBlack() {
  if (alwaysBlend < 0) {
    const char* v = std::getenv("PELTO_CRT_BLEND");
    alwaysBlend = v != nullptr && v[0] == '1' && v[1] == '\0' ? 1 : 0;
  }
  if (alwaysBlend == 1) return false;
  GLfloat clear[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  return clear[0] <= 0.0f && clear[1] <= 0.0f && clear[2] <= 0.0f;
}

}  // namespace

const unsigned char kScanlineMaskAlpha[16] = {
    0,   0,   0,   32,   // clear half of a pixel row, one faint dot
    255, 255, 255, 255,  // dark half
    0,   32,  0,   0,    // clear half, the dot one column over
    255, 255, 255, 255,  // dark half
};

const CrtFilter& Crt() { return filter; }

bool CrtReady() { return filter.frameTexture != 0 && filter.maskTexture != 0; }

int PowerOfTwoAtLeast(int size) {
  int side = 1;
  while (side < size) {
    if (side > (1 << 29)) return 0;  // doubling again would overflow
    side *= 2;
  }
  return side;
}

CrtFilter CrtPlan(int displayWidth, int displayHeight) {
  CrtFilter plan = {0, 0, PowerOfTwoAtLeast(displayWidth), PowerOfTwoAtLeast(displayHeight), 0.0f, 0.0f};
  if (plan.frameTextureWidth > 0) plan.frameMaxU = static_cast<float>(displayWidth) / plan.frameTextureWidth;
  if (plan.frameTextureHeight > 0) plan.frameMaxV = static_cast<float>(displayHeight) / plan.frameTextureHeight;
  return plan;
}

bool CrtBuildTextures(const DisplayState& d) {
  CrtReleaseTextures();
  CrtFilter plan = CrtPlan(d.displayWidth, d.displayHeight);
  const int texW = plan.frameTextureWidth, texH = plan.frameTextureHeight;
  // A virtual screen larger than any texture the renderer can hold is
  // refused here, before a zero buffer of that size is made.
  GLint maxSide = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
  if (texW == 0 || texH == 0 || texW > maxSide || texH > maxSide) return false;
  unsigned char* zeros = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(texW) * texH, 3));
  if (!zeros) return false;

  filter = plan;

  // The frame starts black with alpha 1 (the data has no alpha); only its
  // lower-left displayWidth x displayHeight part is ever copied into.
  glGenTextures(1, &filter.frameTexture);
  glBindTexture(GL_TEXTURE_2D, filter.frameTexture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, texW, texH, 0, GL_RGB, GL_UNSIGNED_BYTE, zeros);
  std::free(zeros);
  TextureParameters(FrameFilter(d.pixelScale), GL_CLAMP);

  unsigned char mask[16 * 4] = {};
  for (int i = 0; i < 16; ++i) mask[i * 4 + 3] = kScanlineMaskAlpha[i];
  glGenTextures(1, &filter.maskTexture);
  glBindTexture(GL_TEXTURE_2D, filter.maskTexture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 4, 4, 0, GL_RGBA, GL_UNSIGNED_BYTE, mask);
  TextureParameters(GL_LINEAR, GL_REPEAT);

  GLint alphaBits = 0;
  glGetIntegerv(GL_ALPHA_BITS, &alphaBits);
  frameOpaque = alphaBits == 0 && FrameFilter(d.pixelScale) == GL_NEAREST;

  bool failed = false;
  while (glGetError() != GL_NO_ERROR) failed = true;
  if (failed) CrtReleaseTextures();
  return !failed;
}

void CrtReleaseTextures() {
  if (filter.frameTexture != 0) glDeleteTextures(1, &filter.frameTexture);
  if (filter.maskTexture != 0) glDeleteTextures(1, &filter.maskTexture);
  filter = {0, 0, 0, 0, 0.0f, 0.0f};
  frameOpaque = false;
}

void CrtRunPasses(const DisplayState& d, const ViewportRect& picture) {
  if (!CrtReady()) return;
  const int w = d.displayWidth, h = d.displayHeight, s = d.pixelScale;

  // The scene lies 1:1 in the lower-left corner of the back buffer.
  glBindTexture(GL_TEXTURE_2D, filter.frameTexture);
  glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, w, h);
  glViewport(picture.x, picture.y, picture.width, picture.height);
  // The whole window, borders included, in the colour of the last Cls. When
  // pass 1 replaces every picture pixel without blending, clearing the
  // picture first would be undone: only the borders are cleared.
  const bool replace = frameOpaque || ClearedToBlack();
  if (replace) {
    ClearOutsidePicture(picture, d.windowWidth, d.windowHeight);
  } else {
    glClear(GL_COLOR_BUFFER_BIT);
  }
  glEnable(GL_TEXTURE_2D);

  // Pass 1: alpha 1 replaces the picture with the frame, green and blue
  // weakened. Where the frame is known to be opaque, or the picture was just
  // cleared to black, the blend would give the source unchanged (only the
  // filtered edges are translucent, and they fall on black), and the
  // renderer writes it faster without reading the picture back.
  glColor4ub(255, 152, 53, 255);
  if (replace) glDisable(GL_BLEND);
  FrameQuad(w, h, filter.frameMaxU, filter.frameMaxV);
  if (replace) glEnable(GL_BLEND);

  // Pass 2: black through the mask; one repeat of 4x4 texels covers 2x2
  // virtual pixels, darkening the upper half of every pixel row.
  glBindTexture(GL_TEXTURE_2D, filter.maskTexture);
  glColor4ub(255, 255, 255, 42);
  FrameQuad(w, h, static_cast<float>(w / 2), static_cast<float>(h / 2));

  // Pass 3: alpha 0 adds the frame, red and green weakened, half a virtual
  // pixel further left: the blue fringe left of bright areas.
  glViewport(picture.x - s / 2, picture.y, picture.width, picture.height);
  glBindTexture(GL_TEXTURE_2D, filter.frameTexture);
  glColor4ub(49, 152, 255, 0);
  FrameQuad(w, h, filter.frameMaxU, filter.frameMaxV);

  glDisable(GL_TEXTURE_2D);
}
