// Drawing primitives. Points, lines and outlines sit at a pixel's position
// plus 0.375, which puts them safely inside the pixel whatever the
// rasteriser's rounding; filled rectangles use whole vertices on pixel edges.
#include "video/primitives.h"

#include <GL/gl.h>

#include "video/display.h"
#include "video/magnifier.h"
#include "video/quad_batch.h"
#include "video/render_stats.h"
#include "video/window.h"

namespace {

const float kInside = 0.375f;

// A line widened to the scale is not the magnified 1:1 line, not even along
// a row or a column: its ends lie 0.375 of a virtual pixel further on, which
// lights part of a magnified pixel at each end, and a diagonal one is a
// slanted band. Every line is therefore drawn magnified directly.
const bool kLinesSameWhenMagnified = false;

// The low 8 bits of each channel, as OpenGL's unsigned byte colours take them.
void SetColour(const Rgba& c) {
  glColor4ub(static_cast<GLubyte>(c.r), static_cast<GLubyte>(c.g), static_cast<GLubyte>(c.b),
             static_cast<GLubyte>(c.a));
}

void InsideVertex(int32_t x, int32_t y) { glVertex2f(static_cast<float>(x) + kInside, static_cast<float>(y) + kInside); }

// The edge just past an inclusive corner; wraps like the 32-bit arithmetic
// scripts have always had instead of overflowing.
int32_t PastEdge(int32_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v) + 1u); }

}  // namespace

void Cls(const Rgba& c) {
  if (!WindowIsOpen()) return;
  FlushQuads();  // gathered sprites lie below whatever comes now
  const float k = 255.0f;
  glClearColor(static_cast<float>(c.r) / k, static_cast<float>(c.g) / k, static_cast<float>(c.b) / k,
               static_cast<float>(c.a) / k);
  MagnifierCleared();
  ClearForNewFrame();
}

void Plot(int32_t x, int32_t y, const Rgba& colour) {
  if (!WindowIsOpen()) return;
  FlushQuads();  // gathered sprites lie below whatever comes now
  MagnifierBeforePoint();
  SetColour(colour);
  FrameRenderStats().drawCalls += 1;
  glBegin(GL_POINTS);
  InsideVertex(x, y);
  glEnd();
}

void Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, const Rgba& colour) {
  if (!WindowIsOpen()) return;
  FlushQuads();  // gathered sprites lie below whatever comes now
  MagnifierBeforeDraw(kLinesSameWhenMagnified);
  SetColour(colour);
  FrameRenderStats().drawCalls += 1;
  glBegin(GL_LINES);
  InsideVertex(x1, y1);
  InsideVertex(x2, y2);
  glEnd();
}

void Box(int32_t x1, int32_t y1, int32_t x2, int32_t y2, const Rgba& colour) {
  if (!WindowIsOpen()) return;
  FlushQuads();  // gathered sprites lie below whatever comes now
  MagnifierBeforeDraw(kLinesSameWhenMagnified);
  SetColour(colour);
  FrameRenderStats().drawCalls += 1;
  glBegin(GL_LINE_LOOP);
  InsideVertex(x1, y1);
  InsideVertex(x2, y1);
  InsideVertex(x2, y2);
  InsideVertex(x1, y2);
  glEnd();
}

// With x2 < x1 the quad spans x2 + 1 to x1, as the corners say; likewise y.
void FillRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, const Rgba& colour) {
  if (!WindowIsOpen()) return;
  FlushQuads();  // gathered sprites lie below whatever comes now
  MagnifierBeforeDraw(true);
  SetColour(colour);
  FrameRenderStats().drawCalls += 1;
  FrameRenderStats().quads += 1;
  glBegin(GL_QUADS);
  glVertex2i(x1, y1);
  glVertex2i(PastEdge(x2), y1);
  glVertex2i(PastEdge(x2), PastEdge(y2));
  glVertex2i(x1, PastEdge(y2));
  glEnd();
}
