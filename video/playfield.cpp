// Playfields: the eight-slot table, the scroll and cell arithmetic, and the
// draw through the quad batcher (one texture per playfield, so every cell
// of a draw lands in the same batch).
#include "video/playfield.h"

#include "video/display_state.h"
#include "video/quad_batch.h"
#include "video/tilemap.h"
#include "video/tileset.h"

namespace {

PlayfieldSlot gPlayfields[kPlayfieldSlots];  // process-wide; main thread only

int16_t SlotOrNone(int32_t slot, int tableSize) {
  return slot >= 0 && slot < tableSize ? static_cast<int16_t>(slot) : int16_t{-1};
}

}  // namespace

void ClearPlayfields() {
  for (PlayfieldSlot& slot : gPlayfields) slot = PlayfieldSlot{-1, -1};
}

const PlayfieldSlot* PlayfieldAt(int32_t playfield) {
  if (playfield < 0 || playfield >= kPlayfieldSlots) return nullptr;
  return &gPlayfields[playfield];
}

void PlayfieldAssignMap(int32_t playfield, int32_t map) {
  if (playfield < 0 || playfield >= kPlayfieldSlots) return;
  gPlayfields[playfield].map = SlotOrNone(map, kMapSlots);
}

void PlayfieldAssignTileset(int32_t playfield, int32_t tileset) {
  if (playfield < 0 || playfield >= kPlayfieldSlots) return;
  gPlayfields[playfield].tileset = SlotOrNone(tileset, kTilesetSlots);
}

PlayfieldPlan PlanPlayfield(int32_t x, int32_t y, int32_t scrollX, int32_t scrollY, int screenWidth,
                            int screenHeight, int tileWidth, int tileHeight, int mapWidth, int mapHeight) {
  const int64_t tw = tileWidth, th = tileHeight;
  const int64_t mapPixelsX = mapWidth * tw, mapPixelsY = mapHeight * th;
  PlayfieldPlan plan;
  // First keep the window inside the map's far edges, then inside its near
  // ones: a map smaller than the screen ends at scroll 0.
  plan.scrollX = scrollX;
  plan.scrollY = scrollY;
  if (plan.scrollX > mapPixelsX - screenWidth) plan.scrollX = mapPixelsX - screenWidth;
  if (plan.scrollY > mapPixelsY - screenHeight) plan.scrollY = mapPixelsY - screenHeight;
  if (plan.scrollX < 0) plan.scrollX = 0;
  if (plan.scrollY < 0) plan.scrollY = 0;
  plan.firstColumn = plan.scrollX / tw;
  plan.firstRow = plan.scrollY / th;
  plan.left = x - plan.scrollX % tw;
  plan.top = y - plan.scrollY % th;
  // One tile more than the screen covers a partly scrolled-in column and row.
  plan.areaWidth = screenWidth + tw < mapPixelsX ? screenWidth + tw : mapPixelsX;
  plan.areaHeight = screenHeight + th < mapPixelsY ? screenHeight + th : mapPixelsY;
  return plan;
}

bool CellQuadFor(const Tileset& tileset, uint16_t cell, int left, int top, CellQuad* quad) {
  const int tile = cell & kCellTileMask;
  const int tw = tileset.tileWidth, th = tileset.tileHeight;
  if (tile == 0 || tileset.tilesPerRow == 0 || tw == 0 || th == 0) return false;
  const int64_t column = tile % tileset.tilesPerRow, row = tile / tileset.tilesPerRow;
  // Whole-number products first, then one multiplication by the texel size.
  quad->s0 = static_cast<float>(column * tw) * tileset.texelWidth;
  quad->s1 = static_cast<float>(column * tw + tw) * tileset.texelWidth;
  quad->t0 = static_cast<float>(row * th) * tileset.texelHeight;
  quad->t1 = static_cast<float>(row * th + th) * tileset.texelHeight;
  // A flip swaps the corners the texture rectangle is laid on: left with
  // right for bit 15, top with bottom for bit 14; both turn the tile by 180.
  const bool flipX = cell & kCellFlipHorizontal, flipY = cell & kCellFlipVertical;
  quad->xa = flipX ? left + tw : left;
  quad->xb = flipX ? left : left + tw;
  quad->ya = flipY ? top + th : top;
  quad->yb = flipY ? top : top + th;
  return true;
}

void PlayfieldQuads(const TileMap& map, const Tileset& tileset, int32_t x, int32_t y, int32_t scrollX,
                    int32_t scrollY, int screenWidth, int screenHeight, std::vector<CellQuad>* quads) {
  quads->clear();
  const int tw = tileset.tileWidth, th = tileset.tileHeight;
  if (!map.inUse || !map.cells || tw == 0 || th == 0 || tileset.tilesPerRow == 0) return;
  const PlayfieldPlan plan =
      PlanPlayfield(x, y, scrollX, scrollY, screenWidth, screenHeight, tw, th, map.width, map.height);
  const int64_t right = plan.left + plan.areaWidth, bottom = plan.top + plan.areaHeight;
  int64_t row = plan.firstRow;
  for (int64_t top = plan.top; top < bottom && row < map.height; top += th, ++row) {
    // Rows above or below the screen light nothing; skipping them also keeps
    // every coordinate handed on within 32 bits.
    if (top + th <= 0 || top >= screenHeight) continue;
    const uint16_t* cells = map.cells + row * map.width;
    int64_t column = plan.firstColumn;
    for (int64_t left = plan.left; left < right && column < map.width; left += tw, ++column) {
      if (left + tw <= 0 || left >= screenWidth) continue;
      CellQuad quad;
      if (CellQuadFor(tileset, cells[column], static_cast<int>(left), static_cast<int>(top), &quad)) {
        quads->push_back(quad);
      }
    }
  }
}

void DrawPlayfield(int32_t playfield, int32_t x, int32_t y, int32_t scrollX, int32_t scrollY, uint8_t r,
                   uint8_t g, uint8_t b, uint8_t a) {
  const PlayfieldSlot* slot = PlayfieldAt(playfield);
  if (!slot) return;
  // The map and tileset are looked up at every draw, so edits show at once
  // and a deleted one simply stops the drawing.
  const TileMap* map = MapAt(slot->map);
  const Tileset* tileset = TilesetSlot(slot->tileset);
  if (!map || !map->inUse || !tileset || !tileset->inUse) return;
  static std::vector<CellQuad> quads;  // kept between draws to spare the allocations
  PlayfieldQuads(*map, *tileset, x, y, scrollX, scrollY, Display().displayWidth, Display().displayHeight, &quads);
  for (const CellQuad& q : quads) {
    DrawTexturedQuad(tileset->texture, q.s0, q.t0, q.s1, q.t1, q.xa, q.ya, q.xb, q.yb, r, g, b, a);
  }
}
