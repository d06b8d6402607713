// Textured quads, gathered. Drawing each sprite with its own enable, bind,
// glBegin/glEnd and disable costs far more than the quad itself, so quads of
// one texture are collected into a vertex array and drawn with one
// glDrawArrays(GL_QUADS): the same vertices, in the same order, with the same
// colour on every vertex of a quad, hence the same pixels. The texture stays
// enabled and bound between quads and is switched off only by FlushQuads,
// which everything else that touches OpenGL calls first.
#include "video/quad_batch.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cstring>

#include "video/render_stats.h"
#include "video/magnifier.h"
#include "video/window.h"

namespace {

struct QuadVertex {
  GLfloat s, t;
  GLubyte colour[4];
  GLint x, y;
};

// 64 quads per draw. Fewer quads would mean more draws; more would slow the
// software renderer down: once a single vertex of a draw lies outside the
// screen (a sprite across an edge) the whole draw takes its clipping path,
// which walks all the draw's vertices again each time its small output
// buffer fills, a cost growing with the square of the draw's size. With
// 1024 quads a draw that walk took about a sixth of the frame at 5,000
// sprites.
const int kBatchQuads = 64;
QuadVertex batch[kBatchQuads * 4];
int batchQuads = 0;
uint32_t batchTexture = 0;

// What this file has done to OpenGL since the last flush.
bool textureOn = false;
uint32_t boundTexture = 0;

// -1 until the first quad: then PELTO_NO_BATCH=1 (read once, used by the
// tests that compare both ways) switches batching off.
int batching = -1;

bool BatchingOn() {
  if (batching < 0) {
    const char* off = std::getenv("PELTO_NO_BATCH");
    batching = (off != nullptr && std::strcmp(off, "1") == 0) ? 0 : 1;
  }
  return batching == 1;
}

void DrawGathered() {
  if (batchQuads == 0) return;
  FrameRenderStats().drawCalls += 1;
  FrameRenderStats().quads += static_cast<uint32_t>(batchQuads);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(2, GL_INT, sizeof(QuadVertex), &batch[0].x);
  glTexCoordPointer(2, GL_FLOAT, sizeof(QuadVertex), &batch[0].s);
  glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(QuadVertex), batch[0].colour);
  glDrawArrays(GL_QUADS, 0, batchQuads * 4);
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  // The current colour is undefined after a colour array; leave the last
  // quad's, as drawing it alone would have.
  glColor4ubv(batch[batchQuads * 4 - 1].colour);
  batchQuads = 0;
}

// The unbatched way: one quad with its own state changes.
void DrawAlone(uint32_t texture, float s0, float t0, float s1, float t1, int xa, int ya, int xb, int yb,
               uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  FrameRenderStats().drawCalls += 1;
  FrameRenderStats().quads += 1;
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glBegin(GL_QUADS);
  glColor4ub(r, g, b, a);
  glTexCoord2f(s0, t0);
  glVertex2i(xa, ya);
  glTexCoord2f(s1, t0);
  glVertex2i(xb, ya);
  glTexCoord2f(s1, t1);
  glVertex2i(xb, yb);
  glTexCoord2f(s0, t1);
  glVertex2i(xa, yb);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

}  // namespace

RenderStats& FrameRenderStats() {
  static RenderStats stats = {0, 0};
  return stats;
}

void DrawTexturedQuad(uint32_t texture, float s0, float t0, float s1, float t1, int xa, int ya, int xb, int yb,
                      uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  // Without a game window there is nothing to draw into.
  if (!WindowIsOpen()) return;
  MagnifierBeforeQuad(texture);
  if (!BatchingOn()) {
    DrawAlone(texture, s0, t0, s1, t1, xa, ya, xb, yb, r, g, b, a);
    return;
  }
  if (batchQuads > 0 && (texture != batchTexture || batchQuads == kBatchQuads)) DrawGathered();
  if (!textureOn) {
    glEnable(GL_TEXTURE_2D);
    textureOn = true;
    glBindTexture(GL_TEXTURE_2D, texture);
    boundTexture = texture;
  } else if (boundTexture != texture) {
    glBindTexture(GL_TEXTURE_2D, texture);
    boundTexture = texture;
  }
  batchTexture = texture;
  QuadVertex* v = batch + batchQuads * 4;
  v[0] = {s0, t0, {r, g, b, a}, xa, ya};
  v[1] = {s1, t0, {r, g, b, a}, xb, ya};
  v[2] = {s1, t1, {r, g, b, a}, xb, yb};
  v[3] = {s0, t1, {r, g, b, a}, xa, yb};
  ++batchQuads;
}

void FlushQuads() {
  DrawGathered();
  if (textureOn) {
    glDisable(GL_TEXTURE_2D);
    textureOn = false;
  }
}

void SetQuadBatching(bool enabled) {
  FlushQuads();
  batching = enabled ? 1 : 0;
}
