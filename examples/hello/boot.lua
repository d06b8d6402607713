-- The example game's entry point. `pelto-tool build` compiles this file and
-- every module beside it into boot.prg; pelto runs it, and when it returns,
-- the engine ends.
--
-- "Star catcher": steer the ship with the arrow keys and catch the gems;
-- each catch adds to the score and plays a chime that climbs with the
-- score; every arrow key pressed blips from where the ship is. Music plays
-- under it all; M stops it and starts it again. Escape or closing the
-- window ends it. Started with "--demo", the ship steers itself, the music
-- stops and comes back once, and the game ends after a few seconds, so it
-- can run unattended.
--
--   game/screen.lua  the screen size and the display
--   game/sound.lua   sound effects and the music (music/tune.xm)
--   game/sky.lua     the ground map (maps/ground.tmx) and the star field
--   game/ship.lua    the ship, steered by keys or by the demo pilot
--   game/gem.lua     the gem to catch
--   game/hud.lua     the score, drawn with pelto.text
--   game/churn.lua   what the demo also does to keep the engine busy

local screen = require("game.screen")
local sound = require("game.sound")
local sky = require("game.sky")
local ship = require("game.ship")
local gem = require("game.gem")
local hud = require("game.hud")
local churn = require("game.churn")

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

screen.open()
Randomize(OsTicks())
sound.startMusic()
-- The tileset: 8x8 tiles; 8-9 the ship, 10-13 the turning gem, 16-19 a
-- twinkling star (1-4 are the ground's, which the map brings itself).
local tiles = LoadTileset("gfx/tiles.png", 8, 8)
sky.load()
gem.place()

local arrows = {pelto.KEY_LEFT, pelto.KEY_RIGHT, pelto.KEY_UP, pelto.KEY_DOWN}
local score = 0
local start = OsTicks()
local last = start
while not OsQuit() do
  OsUpdate()
  if not demo and KeyDown(pelto.KEY_ESC) then break end
  if not demo and KeyPressed(pelto.KEY_M) then sound.toggleMusic() end
  for _, key in ipairs(arrows) do
    if KeyPressed(key) then sound.blip(ship.x) end
  end
  local now = OsTicks()
  local dt = math.min((now - last) / 1000, 0.1)
  last = now
  if demo and now - start > demoSeconds * 1000 then break end
  if demo then churn.update(now) end
  -- The demo takes the music away for a second and a half, then back.
  if demo and sound.musicOn == (now - start > 2500 and now - start < 4000) then sound.toggleMusic() end

  if demo then ship.fly(gem, dt) else ship.steer(dt) end
  if gem.caughtBy(ship) then
    score = score + 1
    sound.chime(score, ship.x)
    gem.place()
  end

  local t = now / 1000
  Cls(8, 8, 24)
  sky.draw(tiles, t, dt)
  gem.draw(tiles, t)
  ship.draw(tiles, t)
  hud.draw(score)
  Flip()
end

CloseDisplay()
print("gems caught: " .. score)
if demo then churn.report() end
