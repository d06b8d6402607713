-- The window is opened by main.lua once the size is known.
function love.conf(t)
  t.window = nil
  t.modules.audio = false
  t.modules.sound = false
end
