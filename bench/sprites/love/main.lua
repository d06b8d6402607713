-- The same scenes as bench/sprites/boot.lua, for LÖVE 11, on a 320x240
-- screen scaled by S, written as LÖVE games are. Options: --sprites=N,
-- --scale=S, --playfields (the 4-layer scrolling playfield scene instead of
-- sprites), --crt (the scene in a 320x240 canvas, then pelto's three-pass
-- CRT post-process), --canvas (the scene in a 320x240 canvas scaled S times
-- with nearest filtering, as a pixel-art game magnifies), --hold (frame 1
-- for 3 seconds, for the pixel comparison) and --calls (the cost of
-- love.graphics.draw per call, every quad off the screen).
-- Sprites and map cells are one draw call each; LÖVE gathers consecutive
-- draws of one image into a batch itself.
-- Prints "fps <frames per second>" after a 3-second measured run.
function love.run()
  local n, scale, playfields, crt, useCanvas, hold, calls = 1000, 1, false, false, false, false, false
  for _, a in ipairs(arg) do
    n = tonumber(a:match("^%-%-sprites=(%d+)$")) or n
    scale = tonumber(a:match("^%-%-scale=(%d+)$")) or scale
    if a == "--playfields" then playfields = true end
    if a == "--crt" then crt = true end
    if a == "--canvas" then useCanvas = true end
    if a == "--hold" then hold = true end
    if a == "--calls" then calls = true end
  end
  local W, H = 320, 240
  if calls and playfields then
    love.window.setMode(16, 16, {vsync = 0})  -- as pelto's: nothing filled
  else
    love.window.setMode(W * scale, H * scale, {vsync = 0})
  end
  love.window.setTitle("bench_sprites")
  love.graphics.setDefaultFilter("nearest", "nearest")
  -- The tileset as pelto decodes it (RGBA, top row first, premultiplied),
  -- drawn with the premultiplied blend below.
  local image = love.graphics.newImage(love.image.newImageData(64, 64, "rgba8", love.filesystem.read("tiles.rgba")))
  local quads = {}
  for t = 0, 15 do
    quads[t] = love.graphics.newQuad(t % 4 * 16, math.floor(t / 4) * 16, 16, 16, image:getDimensions())
  end
  love.graphics.setBlendMode("alpha", "premultiplied")

  -- The four 64x64 maps, cell for cell as boot.lua builds them: bit 15 is
  -- the horizontal flip, bit 14 the vertical one, 0 an empty cell.
  local SIZE, TILE = 64, 16
  local FLIPS = {0, 32768, 16384, 49152}
  local maps = {}
  for layer = 0, 3 do
    local cells = {}
    for y = 0, SIZE - 1 do
      for x = 0, SIZE - 1 do
        local h = (x * 31 + y * 17 + layer * 7) % 97
        local v = 0
        if h % (layer + 1) == 0 then
          v = 1 + h % 15 + (h % 3 == 0 and FLIPS[h % 4 + 1] or 0)
        end
        cells[x + y * SIZE] = v
      end
    end
    maps[layer] = cells
  end

  -- pelto's playfield drawing: the cells a (W + tile) x (H + tile) area sees
  -- from the scroll position, cells outside the map and empty ones skipped.
  local function drawLayer(cells, sx, sy)
    local col0, fineX = math.floor(sx / TILE), sx % TILE
    local row0, fineY = math.floor(sy / TILE), sy % TILE
    local areaW = math.min(W + TILE, SIZE * TILE)
    local areaH = math.min(H + TILE, SIZE * TILE)
    local row = row0
    for top = -fineY, -fineY + areaH - 1, TILE do
      if row >= SIZE then break end
      local col = col0
      for left = -fineX, -fineX + areaW - 1, TILE do
        if col >= SIZE then break end
        local v = cells[col + row * SIZE]
        local t = v % 16384
        if t ~= 0 then
          local hflip, vflip = v >= 32768, v % 32768 >= 16384
          love.graphics.draw(image, quads[t % 16],
                             hflip and left + TILE or left, vflip and top + TILE or top,
                             0, hflip and -1 or 1, vflip and -1 or 1)
        end
        col = col + 1
      end
      row = row + 1
    end
  end

  local function scene(f)
    if playfields then
      for layer = 0, 3 do
        local s = f * (layer + 1)
        drawLayer(maps[layer], s % 705, math.floor(s / 2) % 785)
      end
    else
      for i = 1, n do
        love.graphics.draw(image, quads[i % 16], (i * 37 + f) % 336 - 16, (i * 53 + f) % 256 - 16)
      end
    end
  end

  -- The CRT post-process as pelto runs it: the unmagnified frame, filtered
  -- linearly, drawn magnified in orange (alpha 1), then the 4x4 scanline
  -- mask (each texel half a virtual pixel, repeated, alpha x 42/255), then
  -- the frame in blue with alpha 0 (added) half a virtual pixel further left.
  local canvas, mask, maskQuad
  if useCanvas then
    canvas = love.graphics.newCanvas(W, H)
    canvas:setFilter("nearest", "nearest")
  end
  if crt then
    canvas = love.graphics.newCanvas(W, H)
    canvas:setFilter("linear", "linear")
    -- pelto's frame texture fades to transparent black past its edges.
    canvas:setWrap("clampzero", "clampzero")
    local alphas = {{0, 0, 0, 32}, {255, 255, 255, 255}, {0, 32, 0, 0}, {255, 255, 255, 255}}
    local data = love.image.newImageData(4, 4)
    for r = 0, 3 do
      -- Mask row 0 lies at the bottom of each repeat, image row 0 at the top.
      for c = 0, 3 do data:setPixel(c, 3 - r, 0, 0, 0, alphas[r + 1][c + 1] / 255) end
    end
    mask = love.graphics.newImage(data)
    mask:setFilter("linear", "linear")
    mask:setWrap("repeat", "repeat")
    maskQuad = love.graphics.newQuad(0, 0, W * 2, H * 2, 4, 4)
  end

  local function frame(f)
    love.event.pump()
    if crt then
      love.graphics.setCanvas(canvas)
      love.graphics.clear(0, 0, 0)
      scene(f)
      love.graphics.setCanvas()
      love.graphics.clear(0, 0, 0)
      love.graphics.setColor(255 / 255, 152 / 255, 53 / 255, 255 / 255)
      love.graphics.draw(canvas, 0, 0, 0, scale, scale)
      love.graphics.setColor(255 / 255, 255 / 255, 255 / 255, 42 / 255)
      love.graphics.draw(mask, maskQuad, 0, 0, 0, scale / 2, scale / 2)
      love.graphics.setColor(49 / 255, 152 / 255, 255 / 255, 0)
      love.graphics.draw(canvas, -math.floor(scale / 2), 0, 0, scale, scale)
      love.graphics.setColor(1, 1, 1, 1)
    elseif useCanvas then
      love.graphics.setCanvas(canvas)
      love.graphics.clear(0, 0, 0)
      scene(f)
      love.graphics.setCanvas()
      love.graphics.clear(0, 0, 0)
      love.graphics.draw(canvas, 0, 0, 0, scale, scale)
    else
      love.graphics.clear(0, 0, 0)
      love.graphics.push()
      love.graphics.scale(scale)
      scene(f)
      love.graphics.pop()
    end
    love.graphics.present()
  end

  if hold then
    return function()
      local start = love.timer.getTime()
      while love.timer.getTime() - start < 3 do frame(1) end
      return 0
    end
  end
  if calls then
    return function()
      local seconds, count = 0, 0
      for round = 1, 12 do
        love.event.pump()
        love.graphics.clear(0, 0, 0)
        local t0 = love.timer.getTime()
        if playfields then
          -- Into the 16x16 window, as pelto's playfields are timed.
          for k = 1, 400 do drawLayer(maps[k % 4], k, k) end
          count = count + 400
        else
          for i = 1, 50000 do love.graphics.draw(image, quads[i % 16], -40 - i % 8, i % 240) end
          count = count + 50000
        end
        love.graphics.flushBatch()
        if round > 2 then seconds = seconds + (love.timer.getTime() - t0) else count = 0 end
        love.graphics.present()
      end
      print(string.format("call_ns %.1f", seconds * 1e9 / count))
      return 0
    end
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
