-- The virtual screen: 160x120 pixels magnified 4 times, a 640x480 window.
local screen = {width = 160, height = 120, scale = 4}

function screen.open()
  OpenDisplay("pelto: star catcher", screen.width, screen.height, false,
              screen.width * screen.scale, screen.height * screen.scale)
end

return screen
