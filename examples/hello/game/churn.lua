-- The demo's churn: while the demo runs, the game also keeps the whole
-- engine busy, so that a long unattended run (the soak test, `make soak`)
-- shows any leak or gap in the sound. Sounds (waves and an Ogg Vorbis hum
-- the game itself never plays) are loaded and freed again and again while
-- every channel from 4 up plays one; the tilesets and the map are loaded,
-- used and freed every second; the music is reloaded and restarted every
-- 15 s; and Lua's own garbage is collected every second, so memory that
-- grows is the engine's.
local ground = require("maps.ground")

local churn = {}

local FIRST_CHANNEL = 4  -- 0-3 are the music's
local SOUNDS = {"sfx/chime.wav", "sfx/blip.wav", "sfx/hum.ogg"}
local groups, playing = {}, {}  -- four groups of channels, each on its own sound
for ch = FIRST_CHANNEL, 47 do
  local g = ch % 4 + 1
  groups[g] = groups[g] or {}
  table.insert(groups[g], ch)
end
local counts = {sounds = 0, tilesets = 0, maps = 0, music = 0}
local turn, lastSound, lastSecond, lastMusic = 0, 0, 0, nil

-- A new looping sound for one group of channels, then the group's old one
-- is freed. (The game's own effects on channels 8 and 9 play until their
-- group's next turn.)
local function swapSound(g)
  local s = LoadSound(SOUNDS[turn % #SOUNDS + 1], true)
  counts.sounds = counts.sounds + 1
  for _, ch in ipairs(groups[g]) do
    PlaySound(ch, s, 0.02, (ch % 9) / 4 - 1, 8000 + ch * 500)
  end
  if playing[g] then DeleteSound(playing[g]) end
  playing[g] = s
  turn = turn + 1
end

-- Both tilesets and two maps (the ground's and a made one) loaded, used
-- and freed again.
local function swapTilesAndMaps()
  local tiles = LoadTileset("gfx/tiles.png", 8, 8)
  local groundTiles = LoadTileset(ground.tileset, ground.tileWidth, ground.tileHeight)
  local map = LoadMap(ground.layers[1].entry)
  local sum = 0
  for y = 0, MapHeight(map) - 1 do
    for x = 0, MapWidth(map) - 1 do sum = sum + GetTile(map, x, y) end
  end
  Sprite(tiles, 150, 110, 16 + sum % 4)
  Sprite(groundTiles, 140, 110, 1)
  local made = CreateMap(64, 64)
  SetTile(made, 63, 63, 1)
  DeleteMap(made)
  DeleteMap(map)
  DeleteTileset(groundTiles)
  DeleteTileset(tiles)
  counts.tilesets, counts.maps = counts.tilesets + 2, counts.maps + 2
end

-- Called once a frame with OsTicks().
function churn.update(now)
  lastMusic = lastMusic or now  -- the game started the music itself
  if now - lastSound >= 250 then
    lastSound = now
    swapSound(turn % 4 + 1)
  end
  if now - lastSecond >= 1000 then
    lastSecond = now
    swapTilesAndMaps()
    collectgarbage("collect")
  end
  if now - lastMusic >= 15000 then
    lastMusic = now
    LoadMusic("music/tune.trk")
    PlayMusic()
    counts.music = counts.music + 1
  end
end

function churn.report()
  print(string.format("churn: %d sounds, %d tilesets, %d maps, %d music restarts",
                      counts.sounds, counts.tilesets, counts.maps, counts.music))
end

return churn
