// Textured quads gathered into one glBegin/glEnd per run of the same texture
// and smoothing, with the texture state changed only when it changes. The
// pixels are the same as drawing each quad on its own: the same vertices in
// the same order with the same colours. Anything else that draws (primitives,
// Cls, the CRT passes) and Flip must call FlushQuads first.
#pragma once

#include <cstdint>

// One quad: texture rectangle (s0,t0)-(s1,t1) onto screen corners (xa,ya)-(xb,yb),
// corners in the order (s0,t0)@(xa,ya) (s1,t0)@(xb,ya) (s1,t1)@(xb,yb) (s0,t1)@(xa,yb).
void DrawTexturedQuad(uint32_t texture, float s0, float t0, float s1, float t1,
                      int xa, int ya, int xb, int yb, uint8_t r, uint8_t g, uint8_t b, uint8_t a);
// Draws what is gathered and leaves GL_TEXTURE_2D disabled.
void FlushQuads();
// Test builds can switch batching off to compare the two ways (default on).
void SetQuadBatching(bool enabled);
