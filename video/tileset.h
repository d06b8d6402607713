// Tilesets: images held as one OpenGL texture each, cut into equal tiles;
// the 64-slot table serves sprites and playfields alike.
#pragma once

#include <cstdint>

constexpr int kTilesetSlots = 64;

struct Tileset {
  uint32_t texture;    // OpenGL texture name of the whole image
  int inUse;           // 0/1: the slot holds a tileset
  float texelWidth;    // 1 / image width, in texture coordinates
  float texelHeight;   // 1 / image height
  uint16_t tileWidth;  // pixels
  uint16_t tileHeight; // pixels
  uint16_t tilesPerRow;// image width / tileWidth, truncated; 0 draws nothing
};

// The slot, or nullptr for a number outside 0-63 (free slots are returned:
// callers check inUse).
Tileset* TilesetSlot(int slot);
// Start-up: every slot free.
void ClearTilesets();

// ---- the operations behind the engine API ----

// Loads archive entry `name` (PCX first, then TGA, then PNG) into the lowest free slot
// and returns the slot, or -1 when all are in use. A missing entry or an
// image no decoder accepts ends the program (FatalError 3); an OpenGL
// error while creating the texture too (FatalError 4). Works with or
// without an open display: one OpenGL context lives for the whole run.
int32_t LoadTileset(const char* name, int32_t tileWidth, int32_t tileHeight, bool smooth);
// Frees the slot and its texture; a free slot or a number outside 0-63 is left alone.
void DeleteTileset(int32_t slot);
// Draws one tile with its top-left pixel at (x, y), mirrored left-right in
// place if `flip`, tinted (each channel's low 8 bits). A free slot, a number
// outside 0-63 or a tileset without a whole tile per row draws nothing.
void DrawSprite(int32_t slot, int32_t x, int32_t y, int32_t tile, bool flip, int32_t r, int32_t g, int32_t b,
                int32_t a);
// The tile size of the slot; 0 outside 0-63. A deleted slot keeps its sizes.
int32_t TilesetTileWidth(int32_t slot);
int32_t TilesetTileHeight(int32_t slot);
