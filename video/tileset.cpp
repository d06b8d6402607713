// The tileset table: decoding an archive image into one texture, and
// drawing its tiles as sprites through the quad batcher.
#include "video/tileset.h"

#include <GL/gl.h>

#include "archive/asset.h"
#include "host/host.h"
#include "video/decoded_image.h"
#include "video/magnifier.h"
#include "video/pcx.h"
#include "video/png.h"
#include "video/quad_batch.h"
#include "video/tga.h"
#include "video/window.h"

#ifndef GL_CLAMP
#define GL_CLAMP 0x2900
#endif

namespace {

Tileset tilesets[kTilesetSlots];

int FreeSlot() {
  for (int i = 0; i < kTilesetSlots; ++i)
    if (!tilesets[i].inUse) return i;
  return -1;
}

// The image as one texture at its own size; FatalError 4 on any OpenGL error.
uint32_t CreateTexture(const DecodedImage& image, bool smooth) {
  // Textures live in the context kept for the whole run; before OpenDisplay
  // the hidden window's is made current.
  if (!WindowEnsureContext()) FatalError(FATAL_OPENGL);
  // Gathered quads are drawn with the texture bound now, and errors
  // recorded by earlier calls must not be blamed on this one.
  FlushQuads();
  while (glGetError() != GL_NO_ERROR) {
  }
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width, image.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels);
  GLint filter = smooth ? GL_LINEAR : GL_NEAREST;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  if (glGetError() != GL_NO_ERROR) FatalError(FATAL_OPENGL);
  MagnifierNoteTexture(name, smooth);
  return name;
}

// A tile size below 1 means the image's; sizes above 65535 do not fit the
// 16-bit fields and are clamped to 65535 (wider than any image, so such a
// tileset has no whole tile per row and draws nothing).
uint16_t TileSize(int32_t wanted, uint16_t imageSize) {
  if (wanted < 1) return imageSize;
  return static_cast<uint16_t>(wanted > 65535 ? 65535 : wanted);
}

// 32-bit wrap-around instead of overflow for screen corners far off-screen.
int32_t Add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

Tileset* TilesetSlot(int slot) {
  if (slot < 0 || slot >= kTilesetSlots) return nullptr;
  return &tilesets[slot];
}

void ClearTilesets() {
  for (Tileset& t : tilesets) t = Tileset{};
}

int32_t LoadTileset(const char* name, int32_t tileWidth, int32_t tileHeight, bool smooth) {
  // The entry is fetched before the slot search: a missing one is fatal
  // even when every slot is taken.
  AssetBuffer asset{};
  AssetLoad(&asset, name ? name : "");
  int slot = FreeSlot();
  if (slot >= 0) {
    DecodedImage image{};
    size_t size = asset.size > 0 ? static_cast<size_t>(asset.size) : 0;
    // PNG comes last, so every image PCX or TGA accepted decodes as before
    // and only entries they refuse get a second chance.
    if (!DecodePcx(&image, asset.data, size) && !DecodeTga(&image, asset.data, size) &&
        !DecodePng(&image, asset.data, size)) {
      AssetFree(&asset);
      FatalError(FATAL_DATA);
    }
    Tileset& t = tilesets[slot];
    t.texture = CreateTexture(image, smooth);
    t.tileWidth = TileSize(tileWidth, image.width);
    t.tileHeight = TileSize(tileHeight, image.height);
    t.texelWidth = 1.0f / static_cast<float>(image.width);
    t.texelHeight = 1.0f / static_cast<float>(image.height);
    t.tilesPerRow = static_cast<uint16_t>(image.width / t.tileWidth);
    t.inUse = 1;
    FreeDecodedImage(&image);
  }
  AssetFree(&asset);
  return slot;
}

void DeleteTileset(int32_t slot) {
  Tileset* t = TilesetSlot(slot);
  if (t == nullptr || !t->inUse) return;
  // Quads still gathered from this texture are drawn before it goes.
  FlushQuads();
  if (WindowEnsureContext()) glDeleteTextures(1, &t->texture);
  t->inUse = 0;
}

void DrawSprite(int32_t slot, int32_t x, int32_t y, int32_t tile, bool flip, int32_t r, int32_t g, int32_t b,
                int32_t a) {
  const Tileset* t = TilesetSlot(slot);
  if (t == nullptr || !t->inUse || t->tilesPerRow == 0) return;
  // Signed, truncating: a negative tile number gives a negative column and
  // row, whose coordinates OpenGL clamps to the image's edge. 64-bit
  // products keep huge tile numbers from overflowing.
  int64_t column = tile % t->tilesPerRow, row = tile / t->tilesPerRow;
  int64_t left = column * t->tileWidth, top = row * t->tileHeight;
  float s0 = static_cast<float>(left) * t->texelWidth;
  float s1 = static_cast<float>(left + t->tileWidth) * t->texelWidth;
  float t0 = static_cast<float>(top) * t->texelHeight;
  float t1 = static_cast<float>(top + t->tileHeight) * t->texelHeight;
  // Flipping swaps the left and right corners: mirrored in place.
  int32_t xa = x, xb = Add(x, t->tileWidth);
  if (flip) {
    xa = xb;
    xb = x;
  }
  DrawTexturedQuad(t->texture, s0, t0, s1, t1, xa, y, xb, Add(y, t->tileHeight), static_cast<uint8_t>(r),
                   static_cast<uint8_t>(g), static_cast<uint8_t>(b), static_cast<uint8_t>(a));
}

int32_t TilesetTileWidth(int32_t slot) {
  const Tileset* t = TilesetSlot(slot);
  return t ? t->tileWidth : 0;
}

int32_t TilesetTileHeight(int32_t slot) {
  const Tileset* t = TilesetSlot(slot);
  return t ? t->tileHeight : 0;
}
