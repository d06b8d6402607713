-- What lies behind the ship: the ground, a Tiled map (maps/ground.tmx) that
-- the build converts into a tileset, a map entry and a description this
-- module requires; and a slowly drifting star field, three layers deep.
local screen = require("game.screen")
local ground = require("maps.ground")

local sky = {}

local GROUND = 0  -- the playfield
local groundTiles
local STAR_TILE = 16
local stars = {}

function sky.load()
  groundTiles = LoadTileset(ground.tileset, ground.tileWidth, ground.tileHeight)
  AssignTileset(GROUND, groundTiles)
  AssignMap(GROUND, LoadMap(ground.layers[1].entry))
  for i = 1, 60 do
    stars[i] = {x = Rnd(screen.width), y = Rnd(screen.height), speed = 1 + i % 3}
  end
end

-- The view drifts to and fro over the whole map; the playfield keeps it
-- inside the map by itself. Cells of tile 0 are open sky where the stars
-- show through.
local function drawGround(t)
  local spanX = ground.width * ground.tileWidth - screen.width
  local spanY = ground.height * ground.tileHeight - screen.height
  local scrollX = spanX * (0.5 + 0.5 * math.sin(t * 0.25))
  local scrollY = spanY * (0.5 + 0.5 * math.sin(t * 0.17))
  Playfield(GROUND, 0, 0, scrollX, scrollY, 150, 150, 170, 255)  -- dimmed so the sprites stand out
end

local function drawStars(dt)
  for _, s in ipairs(stars) do
    s.y = s.y + s.speed * 12 * dt
    if s.y >= screen.height then s.y, s.x = 0, Rnd(screen.width) end
    local level = 70 * s.speed
    Plot(s.x, s.y, level, level, level)
  end
end

-- One star in eight twinkles as a sprite, each at its own pace.
local function drawTwinkles(tiles, t)
  for i = 1, #stars, 8 do
    local s = stars[i]
    Sprite(tiles, s.x - 3, s.y - 3, STAR_TILE + math.floor(t * 6 + i) % 4)
  end
end

function sky.draw(tiles, t, dt)
  drawGround(t)
  drawStars(dt)
  drawTwinkles(tiles, t)
end

return sky
