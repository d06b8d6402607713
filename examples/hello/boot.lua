-- The example game's entry point. pelto runs boot.prg (this file, compiled
-- by pelto-tool) from the game's archives; when it returns, the engine ends.
--
-- "Star catcher": steer the ship with the arrow keys and catch the gems;
-- each catch adds a pip to the score bar and a chime that climbs with the
-- score; every arrow key pressed blips from where the ship is (the sounds
-- are chime.wav and blip.wav beside this file). Music plays under it all;
-- M stops it and starts it again. Escape or closing the window ends it.
-- Started with "--demo", the ship steers itself, the music stops and comes
-- back once, and the game ends after a few seconds, so it can run unattended.

local WIDTH, HEIGHT = 160, 120

-- Every command-line argument reaches the script, options included.
-- "--demo-seconds=N" makes the demo last N seconds instead of six.
local demo, demoSeconds = false, 6
for i = 2, #pelto.args do
  if pelto.args[i] == "--demo" then demo = true end
  local seconds = string.match(pelto.args[i], "^%-%-demo%-seconds=(%d+)$")
  if seconds then demoSeconds = tonumber(seconds) end
end

print("pelto says hello: star catcher on " .. pelto.platform ..
      string.format(", desktop %dx%d", pelto.desktopWidth, pelto.desktopHeight))
print(demo and "demo mode: the ship flies itself" or "arrow keys steer, M stops or starts the music, Escape ends")

-- A 160x120 screen magnified 4 times: a 640x480 window.
OpenDisplay("pelto: star catcher", WIDTH, HEIGHT, false, WIDTH * 4, HEIGHT * 4)
Randomize(OsTicks())

-- Sound effects, loaded once; the game picks the channel of each itself.
-- Music channel i plays on mixer channel i, so the effects keep clear of
-- the music's four channels.
local chime = LoadSound("chime.wav")
local blip = LoadSound("blip.wav")
local CHIME_CHANNEL, BLIP_CHANNEL = 8, 9

-- The music (music.trk, made by scripts/make_example_music.py): a short loop
-- on channels 0-3, a little below full volume so the effects stand out.
local MUSIC_CHANNELS = 4
LoadMusic("music.trk")
SetMusicVolume(0.7)
PlayMusic()
local musicOn = true

-- StopMusic stops the sequencer only: a note that loops would sound on, so
-- the music's channels are stopped too. PlayMusic starts from the top.
local function toggleMusic()
  musicOn = not musicOn
  if musicOn then
    PlayMusic()
  else
    StopMusic()
    for ch = 0, MUSIC_CHANNELS - 1 do StopChannel(ch) end
  end
  print(musicOn and "music on" or "music off")
end

local arrows = {pelto.KEY_LEFT, pelto.KEY_RIGHT, pelto.KEY_UP, pelto.KEY_DOWN}

-- The tileset (tiles.tga, made by scripts/make_example_tiles.py): 8x8 tiles;
-- 1-4 ground, 8-9 the ship, 10-13 the turning gem, 16-19 a twinkling star.
local tiles = LoadTileset("tiles.tga", 8, 8)
local SHIP_TILE, GEM_TILE, STAR_TILE = 8, 10, 16

-- The ground: a map twice the screen each way, built cell by cell from the
-- four ground tiles with random flips, so the few tiles do not repeat
-- visibly. Cells of tile 0 are open sky where the star field shows. A
-- playfield pairs the map with the tileset and shows the part under the
-- scroll position.
local GROUND_W, GROUND_H = 40, 30
local ground = CreateMap(GROUND_W, GROUND_H)
for y = 0, GROUND_H - 1 do
  for x = 0, GROUND_W - 1 do
    local roll, tile = Rnd(100), 0
    if roll < 30 then tile = 1 elseif roll < 40 then tile = 2
    elseif roll < 43 then tile = 3 elseif roll < 50 then tile = 4 end
    local flips = math.floor(Rnd(4)) % 4  -- bit 0: left-right, bit 1: top-bottom
    SetTile(ground, x, y, tile + (flips % 2) * 32768 + math.floor(flips / 2) * 16384)
  end
end
local GROUND = 0
AssignTileset(GROUND, tiles)
AssignMap(GROUND, ground)

-- The view drifts to and fro over the whole map; the playfield keeps it
-- inside the map by itself.
local function drawGround(t)
  local spanX, spanY = GROUND_W * TileWidth(tiles) - WIDTH, GROUND_H * TileHeight(tiles) - HEIGHT
  local scrollX = spanX * (0.5 + 0.5 * math.sin(t * 0.25))
  local scrollY = spanY * (0.5 + 0.5 * math.sin(t * 0.17))
  Playfield(GROUND, 0, 0, scrollX, scrollY, 150, 150, 170, 255)  -- dimmed so the sprites stand out
end

-- Sounds come from where the ship is: -1 at the left edge, +1 at the right.
local function panning(x)
  return x / WIDTH * 2 - 1
end

-- A slowly drifting star field, three layers deep.
local stars = {}
for i = 1, 60 do
  stars[i] = {x = Rnd(WIDTH), y = Rnd(HEIGHT), speed = 1 + i % 3}
end

local ship = {x = WIDTH / 2, y = HEIGHT - 20}
local gem = {}
local score = 0

local function placeGem()
  gem.x = 8 + math.floor(Rnd(WIDTH - 16))
  gem.y = 16 + math.floor(Rnd(HEIGHT - 40))
end
placeGem()

-- Keys are read once per frame, after OsUpdate has delivered the events.
local function steer(dt)
  local speed = 60 * dt
  if demo then
    -- Head for the gem, one axis at a time, like a cautious pilot.
    local dx, dy = gem.x - ship.x, gem.y - ship.y
    if math.abs(dx) > 1 then ship.x, facingLeft = ship.x + speed * (dx > 0 and 1 or -1), dx < 0 end
    if math.abs(dy) > 1 then ship.y = ship.y + speed * (dy > 0 and 1 or -1) end
    return
  end
  if KeyDown(pelto.KEY_LEFT) then ship.x, facingLeft = ship.x - speed, true end
  if KeyDown(pelto.KEY_RIGHT) then ship.x, facingLeft = ship.x + speed, false end
  if KeyDown(pelto.KEY_UP) then ship.y = ship.y - speed end
  if KeyDown(pelto.KEY_DOWN) then ship.y = ship.y + speed end
  ship.x = math.max(4, math.min(WIDTH - 5, ship.x))
  ship.y = math.max(12, math.min(HEIGHT - 6, ship.y))
end

local function drawStars(dt)
  for _, s in ipairs(stars) do
    s.y = s.y + s.speed * 12 * dt
    if s.y >= HEIGHT then s.y, s.x = 0, Rnd(WIDTH) end
    local level = 70 * s.speed
    Plot(s.x, s.y, level, level, level)
  end
end

-- Sprites are placed by their top-left pixel; the ship and gem tiles are
-- centred on their positions. The exhaust flickers ten times a second and
-- the ship faces the way it last moved.
local facingLeft = false
local function drawShip(x, y, t)
  Sprite(tiles, x - 4, y - 4, SHIP_TILE + math.floor(t * 10) % 2, facingLeft)
end

-- The gem turns and pulses: a tint fading between full and two thirds.
local function drawGem(x, y, t)
  local glow = 170 + math.floor(85 * math.abs(math.sin(t * 4)))
  Sprite(tiles, x - 4, y - 4, GEM_TILE + math.floor(t * 8) % 4, false, glow, glow, glow, 255)
  Box(x - 5, y - 5, x + 4, y + 4, 128, 128, 128, 128)
end

-- One star in eight twinkles as a sprite, each at its own pace.
local function drawTwinkles(t)
  for i = 1, #stars, 8 do
    local s = stars[i]
    Sprite(tiles, s.x - 3, s.y - 3, STAR_TILE + math.floor(t * 6 + i) % 4)
  end
end

local function drawScore()
  Box(0, 0, WIDTH - 1, HEIGHT - 1, 60, 60, 110)
  for i = 1, math.min(score, 30) do
    FillRect(2 + (i - 1) * 5, 3, 4 + (i - 1) * 5, 6, 255, 220, 60)
  end
end

-- ---- demo churn ----
-- While the demo runs, the game also keeps the whole engine busy, so that a
-- long unattended run (the soak test) shows any leak or audio gap: sounds
-- are loaded and freed again and again and every free channel plays one,
-- tilesets and maps (demo.map, a 12x10 map of the ground tiles) come and
-- go, the music is reloaded and restarted, and Lua's own garbage is
-- collected every second, so memory that grows is the engine's.
local Churn = (function()
  local M = {}
  local MUSIC_CHANNELS = 4
  local groups, sounds = {}, {}  -- four groups of effect channels, each on its own sound
  for ch = MUSIC_CHANNELS, 47 do
    local g = ch % 4 + 1
    groups[g] = groups[g] or {}
    table.insert(groups[g], ch)
  end
  local counts = {sounds = 0, tilesets = 0, maps = 0, music = 0}
  local step, lastSound, lastSecond, lastMusic = 0, 0, 0, 0

  -- A new looping sound for one group of channels, then the group's old
  -- sound is freed: every channel from 4 up stays busy. (The game's own
  -- effects on channels 8 and 9 play until their group's next turn.)
  local function swapSound(g)
    local sound = LoadSound(step % 2 == 0 and "chime.wav" or "blip.wav", true)
    counts.sounds = counts.sounds + 1
    for _, ch in ipairs(groups[g]) do
      PlaySound(ch, sound, 0.02, (ch % 9) / 4 - 1, 8000 + ch * 500)
    end
    if sounds[g] then DeleteSound(sounds[g]) end
    sounds[g] = sound
    step = step + 1
  end

  -- A tileset and a map loaded, used and freed again.
  local function swapTilesAndMap()
    local tiles = LoadTileset("tiles.tga", 8, 8)
    local map = LoadMap("demo.map")
    local sum = 0
    for y = 0, MapHeight(map) - 1 do
      for x = 0, MapWidth(map) - 1 do sum = sum + GetTile(map, x, y) end
    end
    Sprite(tiles, 150, 110, 1 + sum % 4)
    local made = CreateMap(64, 64)
    SetTile(made, 63, 63, 1)
    DeleteMap(made)
    DeleteMap(map)
    DeleteTileset(tiles)
    counts.tilesets, counts.maps = counts.tilesets + 1, counts.maps + 2
  end

  function M.update(now)
    if now - lastSound >= 250 then
      lastSound = now
      swapSound(step % 4 + 1)
    end
    if now - lastSecond >= 1000 then
      lastSecond = now
      swapTilesAndMap()
      collectgarbage("collect")
    end
    if now - lastMusic >= 15000 then
      lastMusic = now
      if counts.music > 0 then  -- the game loaded and started it the first time
        LoadMusic("music.trk")
        PlayMusic()
      end
      counts.music = counts.music + 1
    end
  end

  function M.report()
    print(string.format("churn: %d sounds, %d tilesets, %d maps, %d music restarts",
                        counts.sounds, counts.tilesets, counts.maps, counts.music - 1))
  end

  return M
end)()

local start = OsTicks()
local last = start
while not OsQuit() do
  OsUpdate()
  if not demo and KeyDown(pelto.KEY_ESC) then break end
  if not demo and KeyPressed(pelto.KEY_M) then toggleMusic() end
  for _, key in ipairs(arrows) do
    if KeyPressed(key) then PlaySound(BLIP_CHANNEL, blip, 0.5, panning(ship.x)) end
  end
  local now = OsTicks()
  local dt = math.min((now - last) / 1000, 0.1)
  last = now
  if demo and now - start > demoSeconds * 1000 then break end
  if demo then Churn.update(now) end
  -- The demo takes the music away for a second and a half, then back.
  if demo and musicOn == (now - start > 2500 and now - start < 4000) then toggleMusic() end

  steer(dt)
  if math.abs(ship.x - gem.x) < 5 and math.abs(ship.y - gem.y) < 5 then
    score = score + 1
    -- A semitone higher for every gem, up to two octaves.
    local rate = math.floor(GetSoundDefaultRate(chime) * 2 ^ (math.min(score, 24) / 12))
    PlaySound(CHIME_CHANNEL, chime, 1.0, panning(ship.x), rate)
    placeGem()
  end

  Cls(8, 8, 24)
  drawGround(now / 1000)
  drawStars(dt)
  drawTwinkles(now / 1000)
  drawGem(gem.x, gem.y, now / 1000)
  drawShip(ship.x, ship.y, now / 1000)
  drawScore()
  Flip()
end

CloseDisplay()
print("gems caught: " .. score)
if demo then Churn.report() end
