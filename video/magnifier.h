// Magnification in one pass. Without the CRT filter at a scale above 1 the
// scene is drawn 1:1 into a corner of the picture and magnified once, with
// nearest sampling, at Flip: a sprite costs its own pixels instead of scale^2
// times as many. Only draws that give the very same window pixels either way
// are drawn 1:1 (whole-pixel quads of nearest-sampled textures, filled
// rectangles, points, axis-aligned lines); the first draw that would differ
// (a diagonal line, a smoothly sampled tileset) magnifies what the frame
// holds so far and the rest of the frame is drawn magnified directly, as the
// engine always drew it. A Cls makes the whole window one colour again, so
// the next frame can start 1:1.
#pragma once

#include <cstdint>

struct DisplayState;

// Chooses the way for a display just set up (after its viewport and fixed
// state): the one-pass way needs no filter, a scale above 1 and the picture
// inside the window. PELTO_DIRECT_MAGNIFY=1 keeps the direct way throughout,
// for the tests that compare both.
void MagnifierSetUp(const DisplayState& display);
void MagnifierRelease();

// True while draws go 1:1 into the corner: each must be announced first.
extern bool magnifierWatching;
// True while the corner still holds part of the last picture.
extern bool magnifierStale;
// The last texture found sampled nearest (0: none), so that a run of quads
// of one tileset is checked once.
extern uint32_t magnifierSharpTexture;
void MagnifierAnnounce(bool sameWhenMagnified);
void MagnifierAnnounceQuad(uint32_t texture);
// Call before every draw into the scene; false for a draw whose pixels
// drawn 1:1 and magnified would differ from drawing it magnified.
inline void MagnifierBeforeDraw(bool sameWhenMagnified) {
  if (magnifierWatching && (magnifierStale || !sameWhenMagnified)) MagnifierAnnounce(sameWhenMagnified);
}
// The same for a textured quad (whole-pixel corners, one texel per pixel).
inline void MagnifierBeforeQuad(uint32_t texture) {
  if (magnifierWatching && (magnifierStale || texture != magnifierSharpTexture)) MagnifierAnnounceQuad(texture);
}
// A point widened to the scale is centred 0.375 of a virtual pixel into
// its pixel, half its width either side: up to 3 window pixels wide that
// covers exactly the magnified pixel, from 4 on it reaches one window pixel
// up and left and leaves the last row and column dark.
bool MagnifierPointsSameWhenMagnified();
inline void MagnifierBeforePoint() {
  if (magnifierWatching) MagnifierAnnounce(MagnifierPointsSameWhenMagnified());
}
// Textures sampled with the linear filter blend texels when magnified.
void MagnifierNoteTexture(uint32_t texture, bool smooth);
bool MagnifierTextureIsSmooth(uint32_t texture);

// After Cls's clear of the whole window.
void MagnifierCleared();
// True while draws go 1:1 into the corner, to be magnified at Flip.
bool MagnifierDrawsInCorner();
// In Flip, after the last draw and before the swap: the picture gets the frame.
void MagnifierPresent();
// Leaves the picture holding the frame drawn so far and the rest of the
// frame to the direct way: for anything that reads the back buffer or
// changes the set-up mid-frame.
void MagnifierResolve();
