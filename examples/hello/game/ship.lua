-- The ship: steered with the arrow keys, or by the demo's cautious pilot.
-- Keys are read once per frame, after OsUpdate has delivered the events.
local screen = require("game.screen")

local ship = {x = screen.width / 2, y = screen.height - 20, facingLeft = false}
local SHIP_TILE = 8
local SPEED = 60  -- pixels a second

local function keepOnScreen()
  ship.x = math.max(4, math.min(screen.width - 5, ship.x))
  ship.y = math.max(12, math.min(screen.height - 6, ship.y))
end

function ship.steer(dt)
  local step = SPEED * dt
  if KeyDown(pelto.KEY_LEFT) then ship.x, ship.facingLeft = ship.x - step, true end
  if KeyDown(pelto.KEY_RIGHT) then ship.x, ship.facingLeft = ship.x + step, false end
  if KeyDown(pelto.KEY_UP) then ship.y = ship.y - step end
  if KeyDown(pelto.KEY_DOWN) then ship.y = ship.y + step end
  keepOnScreen()
end

-- Heads for the target, one axis at a time.
function ship.fly(target, dt)
  local step = SPEED * dt
  local dx, dy = target.x - ship.x, target.y - ship.y
  if math.abs(dx) > 1 then ship.x, ship.facingLeft = ship.x + step * (dx > 0 and 1 or -1), dx < 0 end
  if math.abs(dy) > 1 then ship.y = ship.y + step * (dy > 0 and 1 or -1) end
  keepOnScreen()
end

-- Sprites are placed by their top-left pixel; the ship is centred on its
-- position. The exhaust flickers ten times a second and the ship faces
-- the way it last moved.
function ship.draw(tiles, t)
  Sprite(tiles, ship.x - 4, ship.y - 4, SHIP_TILE + math.floor(t * 10) % 2, ship.facingLeft)
end

return ship
