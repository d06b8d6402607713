// The CRT filter: the scene, drawn 1:1 into the lower-left corner of the
// back buffer, is copied into a texture at Flip and drawn magnified into the
// centred picture in three passes: the frame in orange, a scanline mask, and
// the frame in blue half a virtual pixel further left.
#pragma once

struct DisplayState;
struct ViewportRect;

struct CrtFilter {
  unsigned int frameTexture;  // OpenGL name; 0 = none
  unsigned int maskTexture;   // OpenGL name; 0 = none
  int frameTextureWidth;      // power of two >= displayWidth
  int frameTextureHeight;     // power of two >= displayHeight
  float frameMaxU;            // displayWidth / frameTextureWidth: right edge of the frame
  float frameMaxV;            // displayHeight / frameTextureHeight: top edge of the frame
};

// The filter's one record; all 0 while no textures exist.
const CrtFilter& Crt();
// Both textures exist, so the passes run at Flip.
bool CrtReady();

// 1 doubled while it is below `size`; 1 for sizes up to 1. Sizes beyond
// 2^30 have no such int and give 0.
int PowerOfTwoAtLeast(int size);

// The frame texture's size and the frame's edges in texture coordinates for
// a virtual screen; the texture names are left 0.
CrtFilter CrtPlan(int displayWidth, int displayHeight);

// Alpha of the 4x4 scanline mask, row 0 first (row 0 lies at the bottom of
// each repeat); red, green and blue are 0 everywhere.
extern const unsigned char kScanlineMaskAlpha[16];

// Builds both textures for the display's virtual size; false (nothing left
// behind) when OpenGL reports an error or the frame is too large for it.
bool CrtBuildTextures(const DisplayState& display);
// Releases the textures that exist and zeroes the record.
void CrtReleaseTextures();
// The three passes, drawn into `picture`; nothing when no textures exist.
void CrtRunPasses(const DisplayState& display, const ViewportRect& picture);
