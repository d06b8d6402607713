-- The gem to catch: it turns, pulses, and moves on when caught.
local screen = require("game.screen")

local gem = {x = 0, y = 0}
local GEM_TILE = 10

function gem.place()
  gem.x = 8 + math.floor(Rnd(screen.width - 16))
  gem.y = 16 + math.floor(Rnd(screen.height - 40))
end

function gem.caughtBy(ship)
  return math.abs(ship.x - gem.x) < 5 and math.abs(ship.y - gem.y) < 5
end

-- A tint fading between full and two thirds, and a faint box around it.
function gem.draw(tiles, t)
  local glow = 170 + math.floor(85 * math.abs(math.sin(t * 4)))
  Sprite(tiles, gem.x - 4, gem.y - 4, GEM_TILE + math.floor(t * 8) % 4, false, glow, glow, glow, 255)
  Box(gem.x - 5, gem.y - 5, gem.x + 4, gem.y + 4, 128, 128, 128, 128)
end

return gem
