-- pelto.text: text in the built-in 8x8 font, in any colour, at any whole
-- scale. pelto-tool adds this module and its font images to a game's
-- archive when the game requires it.
--
--   local text = require("pelto.text")
--   text.draw("SCORE 120", 4, 4)                       -- white, scale 1
--   text.draw("GAME OVER", 40, 50, 255, 80, 80, 255, 2) -- red, twice the size
--   local w, h = text.measure("GAME OVER", 2)           -- 144, 16
--
-- Every character is a cell of 8x8 pixels (times the scale) with the
-- spacing built in. "\n" starts a new line; characters outside ASCII
-- 32..126 show as a box. Colours are 0-255 and tint the white glyphs
-- through Sprite; alpha 255 is opaque.

local text = {}

text.CELL = 8  -- pixels per character, across and down, at scale 1

-- Scales 1-4 come from font images cut into tiles; larger scales draw each
-- glyph pixel as a rectangle from the glyph rows below.
local IMAGE_SCALES = 4
local GLYPH_ROWS = {--[[GLYPH_ROWS]]}  -- 8 bytes per character from 32, bit 7 leftmost; filled in by pelto-tool
local tilesets = {}

local function wholeScale(scale)
  scale = math.floor(tonumber(scale) or 1)
  if scale < 1 then scale = 1 end
  return scale
end

local function tilesetFor(scale)
  local slot = tilesets[scale]
  if not slot then
    local size = 8 * scale
    slot = LoadTileset("pelto/font8x8-" .. scale .. ".png", size, size)
    tilesets[scale] = slot
  end
  return slot
end

local function glyphIndex(byte)
  if byte < 32 or byte > 126 then return 95 end  -- the box
  return byte - 32
end

local function drawBig(index, x, y, scale, r, g, b, a)
  for row = 0, 7 do
    local bits = GLYPH_ROWS[index * 8 + row + 1]
    local column = 0
    while bits > 0 do
      if bits >= 128 then
        local left, top = x + column * scale, y + row * scale
        FillRect(left, top, left + scale - 1, top + scale - 1, r, g, b, a)
      end
      bits = (bits * 2) % 256
      column = column + 1
    end
  end
end

-- Draws s with its top-left corner at (x, y). Colour defaults to white,
-- scale to 1. Returns the x just after the end of the last line.
function text.draw(s, x, y, r, g, b, a, scale)
  s = tostring(s)
  x, y = tonumber(x) or 0, tonumber(y) or 0
  r, g, b, a = r or 255, g or 255, b or 255, a or 255
  scale = wholeScale(scale)
  local step = 8 * scale
  local slot = scale <= IMAGE_SCALES and tilesetFor(scale)
  local cx, cy = x, y
  for i = 1, #s do
    local byte = s:byte(i)
    if byte == 10 then
      cx, cy = x, cy + step
    else
      if byte ~= 32 then
        if slot then
          Sprite(slot, cx, cy, glyphIndex(byte), false, r, g, b, a)
        else
          drawBig(glyphIndex(byte), cx, cy, scale, r, g, b, a)
        end
      end
      cx = cx + step
    end
  end
  return cx
end

-- The size of s in pixels at a scale: the widest line, and the line count
-- times the cell height. The empty string measures 0, 0.
function text.measure(s, scale)
  s = tostring(s)
  if s == "" then return 0, 0 end
  scale = wholeScale(scale)
  local widest, lines = 0, 0
  for line in (s .. "\n"):gmatch("([^\n]*)\n") do
    if #line > widest then widest = #line end
    lines = lines + 1
  end
  return widest * 8 * scale, lines * 8 * scale
end

function text.width(s, scale)
  local w = text.measure(s, scale)
  return w
end

function text.height(s, scale)
  local _, h = text.measure(s, scale)
  return h
end

return text
