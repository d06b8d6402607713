-- The frame and the score, in the built-in font of pelto.text.
local screen = require("game.screen")
local text = require("pelto.text")

local hud = {}

function hud.draw(score)
  Box(0, 0, screen.width - 1, screen.height - 1, 60, 60, 110)
  local label = "GEMS " .. score
  -- A dark band behind the text keeps it readable over the stars.
  local w, h = text.measure(label)
  FillRect(2, 2, 3 + w, 3 + h, 8, 8, 24, 180)
  text.draw(label, 3, 3, 255, 220, 60)
end

return hud
