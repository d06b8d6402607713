-- The sprite benchmark scene for pelto: N sprites of 16x16 from one tileset
-- on a 320x240 screen, every one moving each frame. Options (passed through
-- to the script): --sprites=N, --scale=S (window S times the screen), and
-- --playfields, which draws the 4-layer scrolling playfield scene instead.
-- Prints "fps <frames per second>" after a 3-second measured run.
-- --hold draws frame 1 for 3 seconds instead (the runner grabs the window
-- to compare it with LÖVE's); --calls times the Lua calls alone and prints
-- "call_ns <nanoseconds per call>".
local n, scale, playfields, hold, calls = 1000, 1, false, false, false
for i = 2, #pelto.args do
  local a = pelto.args[i]
  n = tonumber(a:match("^%-%-sprites=(%d+)$")) or n
  scale = tonumber(a:match("^%-%-scale=(%d+)$")) or scale
  if a == "--playfields" then playfields = true end
  if a == "--hold" then hold = true end
  if a == "--calls" then calls = true end
end

local tiles = LoadTileset("tiles.tga", 16, 16)
-- Timing calls, a playfield is drawn into a 16x16 window (see below).
if calls and playfields then
  OpenDisplay("bench_sprites", 320, 240, false, 16, 16)
else
  OpenDisplay("bench_sprites", 320, 240, false, 320 * scale, 240 * scale)
end

-- Four 64x64 maps; layer 0 is full, layer k > 0 keeps one cell in k + 1
-- (the rest empty), and every third drawn cell is mirrored one way or both.
-- bench/sprites/love/main.lua builds the same cells with the same formula.
local SIZE = 64
local FLIPS = {0, 32768, 16384, 49152}
local function buildLayer(layer)
  local m = CreateMap(SIZE, SIZE)
  for y = 0, SIZE - 1 do
    for x = 0, SIZE - 1 do
      local h = (x * 31 + y * 17 + layer * 7) % 97
      if h % (layer + 1) == 0 then
        SetTile(m, x, y, 1 + h % 15 + (h % 3 == 0 and FLIPS[h % 4 + 1] or 0))
      end
    end
  end
  AssignMap(layer, m)
  AssignTileset(layer, tiles)
end
if playfields then
  for layer = 0, 3 do buildLayer(layer) end
end

local function frame(f)
  Cls(0, 0, 0)
  if playfields then
    -- Each layer scrolls at its own speed; the scroll stays inside the map
    -- (1024 - 320 by 1024 - 240 pixels) so no layer sticks at a clamp.
    for layer = 0, 3 do
      local s = f * (layer + 1)
      Playfield(layer, 0, 0, s % 705, math.floor(s / 2) % 785)
    end
  else
    for i = 1, n do
      Sprite(tiles, (i * 37 + f) % 336 - 16, (i * 53 + f) % 256 - 16, i % 16)
    end
  end
  Flip()
end

if hold then
  local start = OsTicks()
  while OsTicks() - start < 3000 and not OsQuit() do
    OsUpdate()
    frame(1)
  end
  CloseDisplay()
  return
end

-- The cost of a call from Lua, the drawing excluded: only the call, the
-- gathering and the renderer's rejection of vertices outside the window are
-- paid. Sprites lie off the screen. A playfield skips the cells outside the
-- virtual screen itself, so its layers are drawn on the virtual screen, in
-- a window too small to show it (LÖVE's layers go into a 16x16 window too):
-- every cell's quad is made and handed on, and none is filled.
if calls then
  local ticks, count = 0, 0
  for round = 1, 12 do
    OsUpdate()
    Cls(0, 0, 0)
    local t0 = OsTicks()
    if playfields then
      for k = 1, 400 do Playfield(k % 4, 0, 0, k, k) end
      count = count + 400
    else
      for i = 1, 50000 do Sprite(tiles, -40 - i % 8, i % 240, i % 16) end
      count = count + 50000
    end
    if round > 2 then ticks = ticks + (OsTicks() - t0) else count = 0 end
    Flip()
  end
  print(string.format("call_ns %.1f", ticks * 1e6 / count))
  CloseDisplay()
  return
end

for f = 1, 30 do
  OsUpdate()
  frame(f)
end
local start, frames = OsTicks(), 0
while OsTicks() - start < 3000 and not OsQuit() do
  OsUpdate()
  frames = frames + 1
  frame(frames)
end
print(string.format("fps %.1f", frames * 1000 / (OsTicks() - start)))
CloseDisplay()
