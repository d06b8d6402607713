-- The example game's entry point. pelto runs boot.prg (this file, compiled
-- by pelto-tool) from the game's archives; when it returns, the engine ends.

local function banner(text)
  local line = string.rep("=", #text + 4)
  print(line)
  print("| " .. text .. " |")
  print(line)
end

banner("pelto says hello")
print(string.format("platform: %s, desktop %dx%d", pelto.platform, pelto.desktopWidth, pelto.desktopHeight))

-- Every command-line argument reaches the script, options included.
for i = 2, #pelto.args do
  print("argument " .. (i - 1) .. ": " .. pelto.args[i])
end

-- Key codes live in the pelto table.
print("the Escape key is code " .. pelto.KEY_ESC .. ", the space bar " .. pelto.KEY_SPACE)

-- A coroutine-driven countdown, standing in for a game loop for now.
local countdown = coroutine.wrap(function()
  for n = 3, 1, -1 do coroutine.yield(n) end
  return "lift-off"
end)
for _ = 1, 4 do print(countdown()) end
