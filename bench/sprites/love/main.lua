-- The same scene as bench/sprites/boot.lua, for LÖVE 11: N sprites of 16x16
-- from one image, drawn with one draw call per sprite (LÖVE gathers
-- consecutive draws of one image itself), the 320x240 screen scaled by S.
-- Prints "fps <frames per second>" after a 3-second measured run.
function love.run()
  local n, scale = 1000, 1
  for _, a in ipairs(arg) do
    n = tonumber(a:match("^%-%-sprites=(%d+)$")) or n
    scale = tonumber(a:match("^%-%-scale=(%d+)$")) or scale
  end
  love.window.setMode(320 * scale, 240 * scale, {vsync = 0})
  love.graphics.setDefaultFilter("nearest", "nearest")
  local image = love.graphics.newImage("tiles.tga")
  local quads = {}
  for t = 0, 15 do
    quads[t] = love.graphics.newQuad(t % 4 * 16, math.floor(t / 4) * 16, 16, 16, image:getDimensions())
  end
  love.graphics.setBlendMode("alpha", "premultiplied")

  local function frame(f)
    love.event.pump()
    love.graphics.clear(0, 0, 0)
    love.graphics.push()
    love.graphics.scale(scale)
    for i = 1, n do
      love.graphics.draw(image, quads[i % 16], (i * 37 + f) % 336 - 16, (i * 53 + f) % 256 - 16)
    end
    love.graphics.pop()
    love.graphics.present()
  end

  return function()
    for f = 1, 30 do frame(f) end
    local start, frames = love.timer.getTime(), 0
    while love.timer.getTime() - start < 3 do
      frames = frames + 1
      frame(frames)
    end
    print(string.format("fps %.1f", frames / (love.timer.getTime() - start)))
    return 0
  end
end
