-- The sprite benchmark scene for pelto: N sprites of 16x16 from one tileset
-- on a 320x240 screen, every one moving each frame. Options (passed through
-- to the script): --sprites=N, --scale=S (window S times the screen).
-- Prints "fps <frames per second>" after a 3-second measured run.
local n, scale = 1000, 1
for i = 2, #pelto.args do
  local a = pelto.args[i]
  n = tonumber(a:match("^%-%-sprites=(%d+)$")) or n
  scale = tonumber(a:match("^%-%-scale=(%d+)$")) or scale
end

local tiles = LoadTileset("tiles.tga", 16, 16)
OpenDisplay("bench_sprites", 320, 240, false, 320 * scale, 240 * scale)

local function frame(f)
  Cls(0, 0, 0)
  for i = 1, n do
    Sprite(tiles, (i * 37 + f) % 336 - 16, (i * 53 + f) % 256 - 16, i % 16)
  end
  Flip()
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
