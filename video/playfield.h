// Playfields: eight pairings of a tile map with a tileset, drawn as the part
// of the map a screen-sized window at a scroll position sees. The placement
// of every cell is plain arithmetic (PlanPlayfield, CellQuadFor) so it can be
// checked without OpenGL; DrawPlayfield hands the quads to the batcher.
#pragma once

#include <cstdint>
#include <vector>

struct Tileset;
struct TileMap;

constexpr int kPlayfieldSlots = 8;

struct PlayfieldSlot {
  int16_t map;      // map slot 0-9, or -1: none
  int16_t tileset;  // tileset slot 0-63, or -1: none
};

// Start-up: every playfield names no map and no tileset.
void ClearPlayfields();
// The record, or nullptr for a number outside 0-7.
const PlayfieldSlot* PlayfieldAt(int32_t playfield);

// Store a slot number in the playfield; a number outside its table is stored
// as -1, so it can never wrap onto a real slot. A playfield outside 0-7 is ignored.
void PlayfieldAssignMap(int32_t playfield, int32_t map);
void PlayfieldAssignTileset(int32_t playfield, int32_t tileset);

// Where the tiles of one draw go. 64-bit because map size times tile size
// exceeds 32 bits for the largest maps and tiles.
struct PlayfieldPlan {
  int64_t scrollX, scrollY;         // after clamping into the map
  int64_t firstColumn, firstRow;    // the map cell drawn at the corner
  int64_t left, top;                // screen position of that cell's top-left
  int64_t areaWidth, areaHeight;    // pixels covered from (left, top)
};

// The scroll clamped so a screenWidth x screenHeight window stays in the map
// (a map smaller than the screen shows from its left or top edge), then the
// first cell, the fine offset and the area: one tile more than the screen,
// never more than the whole map. Tile sizes must not be 0.
PlayfieldPlan PlanPlayfield(int32_t x, int32_t y, int32_t scrollX, int32_t scrollY, int screenWidth,
                            int screenHeight, int tileWidth, int tileHeight, int mapWidth, int mapHeight);

// One textured quad in the corner order of DrawTexturedQuad:
// (s0,t0)@(xa,ya) (s1,t0)@(xb,ya) (s1,t1)@(xb,yb) (s0,t1)@(xa,yb).
struct CellQuad {
  float s0, t0, s1, t1;
  int xa, ya, xb, yb;
};

// The quad of one cell whose top-left lies at (left, top); the flip bits
// swap the corners so the tile is mirrored in place. False for an empty cell
// or a tileset that cannot cut tiles (no tiles per row, a tile size of 0).
bool CellQuadFor(const Tileset& tileset, uint16_t cell, int left, int top, CellQuad* quad);

// Every quad a playfield draw produces, in drawing order (rows top to
// bottom, cells left to right), with cells wholly outside the
// screenWidth x screenHeight screen left out: they would light no pixel.
// Cells outside the map are never read.
void PlayfieldQuads(const TileMap& map, const Tileset& tileset, int32_t x, int32_t y, int32_t scrollX,
                    int32_t scrollY, int screenWidth, int screenHeight, std::vector<CellQuad>* quads);

// Draws the playfield onto the virtual screen with the tint; a playfield
// outside 0-7, or one whose map or tileset is unnamed or not in use, draws
// nothing.
void DrawPlayfield(int32_t playfield, int32_t x, int32_t y, int32_t scrollX, int32_t scrollY, uint8_t r,
                   uint8_t g, uint8_t b, uint8_t a);
