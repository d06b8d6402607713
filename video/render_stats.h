// What the game drew since the last Flip, counted for the development
// overlay. Two increments per draw, so they are counted in every run.
#pragma once

#include <cstdint>

struct RenderStats {
  uint32_t drawCalls;  // glBegin/glEnd groups and vertex-array draws
  uint32_t quads;      // textured quads (sprites, playfield cells) and filled rectangles
};

RenderStats& FrameRenderStats();
