-- Sound effects and music. The effects are loaded once and the game picks
-- the channel of each itself: music channel i plays on mixer channel i, so
-- the effects keep clear of the music's four channels.
local screen = require("game.screen")

local sound = {musicOn = false}

local chime = LoadSound("sfx/chime.wav")
local blip = LoadSound("sfx/blip.wav")
local CHIME_CHANNEL, BLIP_CHANNEL = 8, 9
local MUSIC_CHANNELS = 4

-- Sounds come from where the ship is: -1 at the left edge, +1 at the right.
local function panning(x)
  return x / screen.width * 2 - 1
end

-- The music (music/tune.xm, which the build converts to music/tune.trk): a
-- short loop on channels 0-3, a little below full volume so the effects
-- stand out.
function sound.startMusic()
  LoadMusic("music/tune.trk")
  SetMusicVolume(0.7)
  PlayMusic()
  sound.musicOn = true
end

-- StopMusic stops the sequencer only: a note that loops would sound on, so
-- the music's channels are stopped too. PlayMusic starts from the top.
function sound.toggleMusic()
  sound.musicOn = not sound.musicOn
  if sound.musicOn then
    PlayMusic()
  else
    StopMusic()
    for ch = 0, MUSIC_CHANNELS - 1 do StopChannel(ch) end
  end
  print(sound.musicOn and "music on" or "music off")
end

function sound.blip(x)
  PlaySound(BLIP_CHANNEL, blip, 0.5, panning(x))
end

-- A semitone higher for every gem, up to two octaves.
function sound.chime(score, x)
  local rate = math.floor(GetSoundDefaultRate(chime) * 2 ^ (math.min(score, 24) / 12))
  PlaySound(CHIME_CHANNEL, chime, 1.0, panning(x), rate)
end

return sound
